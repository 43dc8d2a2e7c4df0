// The console on POSIX: the terminal's modes, key events decoded from its
// input bytes, its size and cursor.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix/keydecode.h"
#include "platform/posix/posix_internal.h"

namespace vek::plat {

int pending_signal();

namespace {

// The terminal settings found when the interpreter first changed them
// (put back on the way out), and the line mode the editor returns to
// (their echo follows the console input mode).
struct termios g_found;
struct termios g_saved;
volatile int g_saved_valid = 0;
volatile int g_changed = 0;
// The raw settings while a line is read, and whether the process was
// given the terminal back after a suspension since the last key read.
struct termios g_raw_settings;
volatile sig_atomic_t g_resumed = 0;
bool g_raw = false;

// Key bytes read but not yet decoded.
unsigned char g_keys[256];
std::size_t g_key_count = 0;

bool save_once() {
  if (g_saved_valid) return true;
  if (::tcgetattr(0, &g_saved) != 0) return false;
  g_found = g_saved;
  g_saved_valid = 1;
  return true;
}

void drop_keys(std::size_t n) {
  if (n >= g_key_count) {
    g_key_count = 0;
    return;
  }
  std::memmove(g_keys, g_keys + n, g_key_count - n);
  g_key_count -= n;
}

// Reads more key bytes: waits at most timeout_ms (-1: without limit).
// 1 when bytes came, 0 on time-out, -2 at end of input, -1 when a signal
// to act on arrived.
int fill_keys(int timeout_ms) {
  if (g_key_count >= sizeof g_keys) return 1;
  for (;;) {
    struct pollfd pfd{0, POLLIN, 0};
    int r = ::poll(&pfd, 1, timeout_ms);
    if (r < 0) {
      if (errno == EINTR) {
        if (pending_signal() != 0) return -1;
        if (g_resumed) return -3;
        continue;
      }
      return -2;
    }
    if (r == 0) return 0;
    long got = ::read(0, g_keys + g_key_count, sizeof g_keys - g_key_count);
    if (got < 0 && errno == EINTR) {
      if (pending_signal() != 0) return -1;
      continue;
    }
    if (got <= 0) return -2;
    g_key_count += static_cast<std::size_t>(got);
    return 1;
  }
}

int output_fd() { return ::isatty(1) ? 1 : 2; }

}  // namespace

namespace posix {
// For the fault handler: back to the saved settings (tcsetattr may be
// called from a signal handler).
void restore_terminal_from_handler() {
  if (g_saved_valid && g_changed) ::tcsetattr(0, TCSANOW, &g_found);
}

namespace {
// Suspension (Ctrl-Z while a program runs, or a stop signal sent to the
// interpreter): the terminal gets its line mode back before the process
// stops, and the raw mode of a line being read comes back when it
// continues; the editor then shows the line again.
void on_suspend(int) {
  const int saved_errno = errno;
  const bool raw = g_raw && g_saved_valid;
  if (raw) ::tcsetattr(0, TCSANOW, &g_saved);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  sigemptyset(&dfl.sa_mask);
  dfl.sa_handler = SIG_DFL;
  struct sigaction mine;
  ::sigaction(SIGTSTP, &dfl, &mine);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  ::raise(SIGTSTP);  // the process stops here until it is continued
  ::sigprocmask(SIG_BLOCK, &stop, nullptr);
  ::sigaction(SIGTSTP, &mine, nullptr);
  if (raw) {
    ::tcsetattr(0, TCSANOW, &g_raw_settings);
    g_resumed = 1;
  }
  errno = saved_errno;
}
}  // namespace

void install_suspend_handler() {
  struct sigaction was;
  // A stop signal that the interpreter's parent ignores stays ignored.
  if (::sigaction(SIGTSTP, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) return;
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_suspend;
  sa.sa_flags = 0;  // a key read is interrupted, so the line is shown again
  ::sigaction(SIGTSTP, &sa, nullptr);
}
}  // namespace posix

bool console_terminal() { return true; }

bool console_raw(bool on) {
  if (on == g_raw) return true;
  if (!::isatty(0) || !save_once()) return false;
  if (on) {
    struct termios t = g_saved;
    t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
    t.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR | ISTRIP));
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    g_changed = 1;
    g_raw_settings = t;
    if (::tcsetattr(0, TCSANOW, &t) != 0) return false;
  } else {
    struct termios t;
    if (::tcgetattr(0, &t) == 0) {
      // Back to line mode, keeping the echo setting of the input mode.
      t.c_lflag = g_saved.c_lflag;
      t.c_iflag = g_saved.c_iflag;
      t.c_cc[VMIN] = g_saved.c_cc[VMIN];
      t.c_cc[VTIME] = g_saved.c_cc[VTIME];
      ::tcsetattr(0, TCSANOW, &t);
    }
  }
  g_raw = on;
  return true;
}

int console_read_key(KeyEvent& ev) {
  for (;;) {
    if (g_key_count > 0) {
      std::size_t used = posix::decode_key(g_keys, g_key_count, false, ev);
      if (used == 0) {
        // The start of a sequence: its rest follows at once, a lone
        // Escape key does not.
        int r = fill_keys(60);
        if (r == -1) return -1;
        if (r == 1) continue;
        used = posix::decode_key(g_keys, g_key_count, true, ev);
      }
      drop_keys(used);
      if (ev.ch < 0 && ev.vk == 0) continue;
      // The terminal's end-of-input key is the console's Ctrl-Z.
      if (ev.ch >= 0 && !ev.alt && g_saved_valid && g_saved.c_cc[VEOF] != 0 &&
          ev.ch == static_cast<unsigned char>(g_saved.c_cc[VEOF]))
        ev.ch = 26;
      return 1;
    }
    int r = fill_keys(-1);
    if (r == -1) return -1;
    if (r == -2) return 0;
    if (r == -3) {
      g_resumed = 0;
      return 2;
    }
  }
}

void console_input_mode(int mode) {
  if (!::isatty(0) || !save_once()) return;
  struct termios t;
  if (::tcgetattr(0, &t) != 0) return;
  if (mode == 3) {
    t.c_lflag &= static_cast<tcflag_t>(~ECHO);
    g_saved.c_lflag &= static_cast<tcflag_t>(~ECHO);
  } else {
    t.c_lflag |= ECHO;
    g_saved.c_lflag |= ECHO;
  }
  g_changed = 1;
  ::tcsetattr(0, TCSANOW, &t);
}

void console_flush_input() {
  g_key_count = 0;
  if (::isatty(0)) ::tcflush(0, TCIFLUSH);
}

bool console_size(int& columns, int& rows) {
  struct winsize ws;
  for (int fd : {1, 2, 0}) {
    if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
      columns = ws.ws_col;
      rows = ws.ws_row;
      return true;
    }
  }
  return false;
}

bool console_cursor(int& column, int& row) {
  if (!g_raw) return false;
  static const char ask[] = "\x1b[6n";
  if (::write(output_fd(), ask, sizeof ask - 1) != static_cast<long>(sizeof ask - 1)) return false;
  for (int waits = 0; waits < 10;) {
    // Look for ESC [ row ; col R among the bytes that came.
    for (std::size_t i = 0; i < g_key_count; ++i) {
      if (g_keys[i] != 0x1B || i + 1 >= g_key_count || g_keys[i + 1] != '[') continue;
      int a = 0, b = 0;
      std::size_t j = i + 2;
      bool semi = false, digits = false;
      for (; j < g_key_count; ++j) {
        unsigned char c = g_keys[j];
        if (c >= '0' && c <= '9') {
          int& v = semi ? b : a;
          if (v < 100000) v = v * 10 + (c - '0');
          digits = true;
        } else if (c == ';' && !semi) {
          semi = true;
        } else {
          break;
        }
      }
      if (j < g_key_count && g_keys[j] == 'R' && semi && digits && a > 0 && b > 0) {
        std::memmove(g_keys + i, g_keys + j + 1, g_key_count - (j + 1));
        g_key_count -= (j + 1 - i);
        row = a - 1;
        column = b - 1;
        return true;
      }
    }
    int r = fill_keys(30);
    if (r < 0) return false;
    if (r == 0) ++waits;
  }
  return false;
}

bool terminal_shows_utf8() {
  // The character set is that of the locale: the first of LC_ALL,
  // LC_CTYPE and LANG that is set decides.
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    locale = std::getenv(name);
    if (locale != nullptr && *locale != 0) break;
    locale = nullptr;
  }
  if (locale == nullptr) return false;
  const char* dot = std::strchr(locale, '.');
  if (dot == nullptr) return false;
  char set[8] = {0};
  std::size_t n = 0;
  for (const char* p = dot + 1; *p && *p != '@' && n + 1 < sizeof set; ++p) {
    if (*p != '-') set[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  return std::strcmp(set, "utf8") == 0;
}

void console_beep(unsigned, unsigned) {
  static const char bel = 7;
  (void)!::write(output_fd(), &bel, 1);
}

void console_restore() {
  if (g_saved_valid && g_changed) ::tcsetattr(0, TCSANOW, &g_found);
  g_raw = false;
}

}  // namespace vek::plat
