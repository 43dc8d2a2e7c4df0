// The console emulation: escape sequences written to the console are
// carried out on a screen model (cells with attributes, cursor, four
// screens) and rendered on the terminal with standard sequences; reports
// and key macros go into a queue of typed-back keys that the line editor
// reads before the keyboard.
#pragma once

#include <cstdint>

namespace vek {

// One character cell: a code page 850 byte and a console attribute
// (foreground bits 0-3: blue 1, green 2, red 4, intensity 8; background
// in bits 4-7).
struct ConsoleCell {
  unsigned char ch = ' ';
  unsigned char attr = 0x07;
};

// Where the rendered output goes (the terminal on descriptor fd, written
// raw); the unit tests catch it.
using ConsoleSink = void (*)(int fd, const char* text, long n);
void console_set_sink(ConsoleSink sink);

// Set while the interpreter's own texts (messages) are written to a
// terminal that shows UTF-8: their printed characters go out in UTF-8;
// the cells keep the code page 850 bytes.
extern bool console_utf8_text;

// The whole console path of a write to descriptor fd: plain text, BEL and
// escape sequences.  Returns n.
long console_write(int fd, const char* text, long n);
// Parses and carries out the sequences at text (an ESC, or the rest of a
// sequence cut off by the previous write); returns the bytes consumed.
long ansi_interpret(int fd, const char* text, long n);
// Whether a sequence cut off by the end of a write is pending.
bool console_in_sequence();
// Forgets a cut-off sequence (output went elsewhere).
void console_reset_state();

// Size and cursor of the terminal read afresh (the window may have been
// resized, other programs may have written).
void console_sync();
// Puts the terminal's output state back as found (colours, cursor shape
// and visibility, line wrap, echo) and releases the saved screens.
void console_end();
// Back to the state at start, with a screen of the given size (tests and
// the interpreter's reset).
void console_model_reset(int width, int height);

// The model, for the line editor and the tests.
int console_width();
int console_height();
int console_column();
int console_row();
unsigned char console_attribute();
ConsoleCell console_cell(int column, int row);
int console_screen_number();
// The saved cursor position of slot n (0-15).
void console_slot(int n, int& column, int& row);
// The cursor: its size in percent of a cell (1-100) and whether it is
// shown; setting it shows the change on the terminal of descriptor fd.
void console_cursor_shape(int& size, bool& visible);
void console_set_cursor_shape(int fd, int size, bool visible);
// The title last set.
const char* console_title();

// Typed-back keys (reports, macros): injected in front of the keyboard.
// inject_keys discards typed-ahead input first.
void inject_keys(const char* text, int n);
// The next injected key; false when there is none.
bool next_injected_key(int& code);

// Key macros (key codes 0-351) and the pool they live in.
inline constexpr int kMacroKeys = 352;
int macro_text(int key, const char*& text);

// Beep tone for BEL bytes (0: BEL is written as it is) and key click.
extern unsigned beep_frequency;
extern unsigned beep_duration;
extern bool key_click;

}  // namespace vek
