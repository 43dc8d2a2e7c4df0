// Shared between the POSIX platform sources only.
#pragma once

namespace vek::plat::posix {

// Text mode of descriptors opened with kText (LF <-> CR LF translation).
// The table follows the descriptor through dup, dup2 and close.
bool text_mode(int fd);
void set_text_mode(int fd, bool on);
void copy_text_mode(int from, int to);

}  // namespace vek::plat::posix

namespace vek::plat::posix {
// Puts the terminal settings back (async-signal-safe; the fault handler).
void restore_terminal_from_handler();
// Catches the stop signal: the terminal's line mode while stopped.
void install_suspend_handler();
}  // namespace vek::plat::posix
