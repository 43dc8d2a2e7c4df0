// The console emulation: a parser for the escape sequences written to the
// console, a screen model they act on, and the rendering of every change
// on the terminal with standard sequences.
//
// The terminal's own screen is what the user sees; the model is what the
// interpreter knows of it (what it wrote itself).  Changes in place
// (erase, insert, delete, scroll, colours, cursor) are passed to the
// terminal as its own sequences, so they act on whatever is there; only
// a screen switch redraws from the model.  The line editor re-reads the
// terminal's size and cursor before every line.
#include "io/console.h"

#include <array>
#include <cstring>
#include <vector>

#include "io/fdio.h"
#include "platform/platform.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

bool console_utf8_text = false;

unsigned beep_frequency = 0;
unsigned beep_duration = 0;
bool key_click = false;

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr int kScreens = 4;
constexpr int kSlots = 16;

struct Slot {
  int column = 0;
  int row = 0;
};

struct Screen {
  std::vector<ConsoleCell> saved;  // contents while another screen shows
  bool used = false;
  int column = 0, row = 0;
  bool cursor_visible = true;
  int cursor_size = 25;
  unsigned char normal = 0x07, reverse = 0x70;
  bool reverse_on = false, bold_on = false, concealed = false, wrap = true;
  bool erase_normal = false;
  std::array<Slot, kSlots> slots{};
  std::array<unsigned char, kSlots> saved_normal{}, saved_reverse{};
};

struct Model {
  int width = 80, height = 25;
  std::vector<ConsoleCell> cells;
  int column = 0, row = 0;
  unsigned char attr = 0x07;
  unsigned char initial_attr = 0x07;
  std::array<Screen, kScreens> screens{};
  int current = 0;
  bool initialised = false;
  bool output_changed = false;  // colours, cursor or wrap differ from the start
  std::array<char, 160> title{};
};

Model m;

// Carry-over of a sequence cut off by the end of a write.
std::array<char, 512> carry;
int carry_len = 0;

// Parameters of the sequence being carried out.
constexpr int kMaxParams = 16;
struct Param {
  bool is_string = false;
  int value = 0;
  int offset = 0, length = 0;  // in the string area
};
std::array<Param, kMaxParams> params;
int param_count = 0;
std::array<char, 512> strings;

// Typed-back keys.
std::array<unsigned char, 1024> injected;
int injected_head = 0, injected_count = 0;

// Key macros.
struct Macro {
  int offset = 0, length = 0, capacity = 0;
};
std::array<Macro, kMacroKeys> macros;
std::array<char, 4096> macro_pool;
int macro_pool_used = 0;

void sink_default(int fd, const char* text, long n) { sys_write(fd | kRawWrite, text, n); }
ConsoleSink sink = sink_default;
int out_fd = 1;

void emit(const char* text, long n) {
  if (n > 0) sink(out_fd, text, n);
}
void emit(const char* text) { emit(text, static_cast<long>(std::strlen(text))); }

// Printed text: in the UTF-8 form of its code page 850 characters while
// the interpreter's own texts are written to a terminal that shows UTF-8.
void emit_text(const char* text, long n) {
  if (!console_utf8_text) {
    emit(text, n);
    return;
  }
  std::array<char, 768> out;
  long used = 0;
  for (long i = 0; i < n; ++i) {
    if (used + 3 > static_cast<long>(out.size())) {
      emit(out.data(), used);
      used = 0;
    }
    used += cp850_to_utf8(static_cast<unsigned char>(text[i]), out.data() + used);
  }
  emit(out.data(), used);
}

// "\e[" a ";" b final (b < 0: none; a < 0: none).
void emit_csi(int a, int b, char final) {
  char buf[32];
  int n = 0;
  buf[n++] = static_cast<char>(kEsc);
  buf[n++] = '[';
  if (a >= 0) n += format_unsigned(buf + n, static_cast<std::uint32_t>(a));
  if (b >= 0) {
    buf[n++] = ';';
    n += format_unsigned(buf + n, static_cast<std::uint32_t>(b));
  }
  buf[n++] = final;
  emit(buf, n);
}

ConsoleCell& cell(int c, int r) { return m.cells[static_cast<std::size_t>(r * m.width + c)]; }

int clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

Screen& screen() { return m.screens[static_cast<std::size_t>(m.current)]; }

// The terminal colours of a console attribute; the attribute found at the
// start is the terminal's own default colours.
void emit_attr(unsigned char a) {
  if (a == m.initial_attr) {
    emit("\x1b[0m");
    return;
  }
  static const int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // console bits to ANSI
  const int fg = (a & 0x08 ? 90 : 30) + ansi[a & 7];
  const int bg = (a & 0x80 ? 100 : 40) + ansi[(a >> 4) & 7];
  char buf[24];
  int n = 0;
  buf[n++] = static_cast<char>(kEsc);
  buf[n++] = '[';
  buf[n++] = '0';
  buf[n++] = ';';
  n += format_unsigned(buf + n, static_cast<std::uint32_t>(fg));
  buf[n++] = ';';
  n += format_unsigned(buf + n, static_cast<std::uint32_t>(bg));
  buf[n++] = 'm';
  emit(buf, n);
}

void set_attr(unsigned char a) {
  m.attr = a;
  m.output_changed = true;
  emit_attr(a);
}

void move_cursor(int c, int r) {
  m.column = clamp(c, 0, m.width - 1);
  m.row = clamp(r, 0, m.height - 1);
  emit_csi(m.row + 1, m.column + 1, 'H');
}

unsigned char fill_attr() { return screen().erase_normal ? screen().normal : m.attr; }

// Erasing on the terminal uses its current background: the fill
// attribute goes first when it differs.
template <typename F>
void with_fill_attr(F f) {
  const unsigned char fa = fill_attr();
  if (fa != m.attr) emit_attr(fa);
  f();
  if (fa != m.attr) emit_attr(m.attr);
}

void fill_cells(int from, int count, unsigned char a) {
  const int total = m.width * m.height;
  for (int i = from; i < from + count && i < total; ++i)
    if (i >= 0) m.cells[static_cast<std::size_t>(i)] = ConsoleCell{' ', a};
}

// Moves rows [top, height) of the model by `by` rows (positive: up),
// blank rows entering.  Saved cursor positions move with the text.
void scroll_model(int top, int by, unsigned char a) {
  if (by == 0) return;
  const int rows = m.height - top;
  if (by >= rows || -by >= rows) {
    fill_cells(top * m.width, rows * m.width, a);
    return;
  }
  auto w = static_cast<std::size_t>(m.width);
  if (by > 0) {
    for (int r = top; r < m.height - by; ++r)
      std::memcpy(&m.cells[r * w], &m.cells[(r + by) * w], w * sizeof(ConsoleCell));
    fill_cells((m.height - by) * m.width, by * m.width, a);
  } else {
    const int d = -by;
    for (int r = m.height - 1; r >= top + d; --r)
      std::memcpy(&m.cells[r * w], &m.cells[(r - d) * w], w * sizeof(ConsoleCell));
    fill_cells(top * m.width, d * m.width, a);
  }
}

// Text written to the bottom row went past it: the screen moved up, and
// the saved positions with it.
void scroll_for_output() {
  scroll_model(0, 1, m.attr);
  for (Slot& s : screen().slots)
    if (s.row > 0) --s.row;
}

void initialise() {
  if (m.initialised) return;
  m.initialised = true;
  for (Screen& s : m.screens) {
    s.normal = m.attr;
    s.reverse = static_cast<unsigned char>(((m.attr & 0x0F) << 4) | (m.attr >> 4));
  }
  screen().used = true;
  // A terminal's title cannot be read back: the program's name stands
  // for the title found.
  format_buf(m.title.data(), "%s     -- Screen 1 --", "vek");
  emit("\x1b]2;");
  emit(m.title.data());
  emit("\x07");
}

void set_title(int number) {
  format_buf(m.title.data(), "%s     -- Screen %d --", "vek", number);
  emit("\x1b]2;");
  emit(m.title.data());
  emit("\x07");
}

// Plain bytes: the model follows what the terminal does with them.
void put_text(const char* p, long n) {
  long run = 0;
  for (long i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    switch (c) {
      case '\r': m.column = 0; break;
      case '\n':
        if (m.row == m.height - 1) scroll_for_output();
        else ++m.row;
        break;
      case 8:
        if (m.column > 0) --m.column;
        break;
      case 7: break;
      case '\t':
        m.column = (m.column / 8 + 1) * 8;
        if (m.column >= m.width) m.column = m.width - 1;
        break;
      default:
        cell(m.column, m.row) = ConsoleCell{c, m.attr};
        if (m.column < m.width - 1) {
          ++m.column;
        } else if (screen().wrap) {
          // The console goes to the next row at once; the terminal waits
          // for the next character.  A line break makes them agree.
          emit_text(p + run, i + 1 - run);
          run = i + 1;
          emit("\r\n");
          m.column = 0;
          if (m.row == m.height - 1) scroll_for_output();
          else ++m.row;
        }
        break;
    }
  }
  emit_text(p + run, n - run);
}

void report(int a, int b) {
  char buf[32];
  int n = format_buf(buf, "%d %d\r", a, b);
  inject_keys(buf, n);
}

// Cells of the whole screen as text rows for the clipboard, sent with the
// terminal's clipboard sequence (base64).
void copy_to_clipboard() {
  static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<char> text;
  for (int r = 0; r < m.height; ++r) {
    int end = m.width;
    while (end > 0 && cell(end - 1, r).ch < 33) --end;
    for (int c = 0; c < end; ++c) text.push_back(static_cast<char>(cell(c, r).ch));
    text.push_back('\r');
    text.push_back('\n');
  }
  std::vector<char> out{'\x1b', ']', '5', '2', ';', 'c', ';'};
  for (std::size_t i = 0; i < text.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(text[i]) << 16;
    if (i + 1 < text.size()) v |= static_cast<unsigned char>(text[i + 1]) << 8;
    if (i + 2 < text.size()) v |= static_cast<unsigned char>(text[i + 2]);
    out.push_back(b64[(v >> 18) & 63]);
    out.push_back(b64[(v >> 12) & 63]);
    out.push_back(i + 1 < text.size() ? b64[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < text.size() ? b64[v & 63] : '=');
  }
  out.push_back('\x07');
  emit(out.data(), static_cast<long>(out.size()));
}

void emit_cursor_shape(const Screen& s) {
  emit(s.cursor_visible ? "\x1b[?25h" : "\x1b[?25l");
  // Small cursors are underlines, large ones blocks.
  emit(s.cursor_size >= 50 ? "\x1b[2 q" : "\x1b[4 q");
}

void redraw() {
  emit("\x1b[H");
  unsigned char a = 0;
  bool first = true;
  for (int r = 0; r < m.height; ++r) {
    emit_csi(r + 1, 1, 'H');
    for (int c = 0; c < m.width; ++c) {
      const ConsoleCell& x = cell(c, r);
      if (first || x.attr != a) {
        emit_attr(x.attr);
        a = x.attr;
        first = false;
      }
      emit(reinterpret_cast<const char*>(&x.ch), 1);
    }
  }
  emit_attr(m.attr);
  emit_csi(m.row + 1, m.column + 1, 'H');
}

void switch_screen(int target) {
  if (target < 0 || target >= kScreens || target == m.current) return;
  Screen& from = screen();
  from.saved = m.cells;
  from.column = m.column;
  from.row = m.row;
  Screen& to = m.screens[static_cast<std::size_t>(target)];
  if (!to.used) {
    const auto keep_normal = to.normal, keep_reverse = to.reverse;
    to = Screen{};
    to.normal = keep_normal;
    to.reverse = keep_reverse;
    to.used = true;
    to.saved.assign(m.cells.size(), ConsoleCell{' ', m.initial_attr});
  }
  if (to.saved.size() != m.cells.size()) to.saved.resize(m.cells.size(), ConsoleCell{' ', m.initial_attr});
  m.cells = to.saved;
  to.saved.clear();
  m.current = target;
  m.attr = to.reverse_on ? to.reverse : to.normal;
  m.column = clamp(to.column, 0, m.width - 1);
  m.row = clamp(to.row, 0, m.height - 1);
  if (to.concealed != from.concealed) plat::console_input_mode(to.concealed ? 3 : 7);
  if (to.wrap != from.wrap) emit(to.wrap ? "\x1b[?7h" : "\x1b[?7l");
  emit_cursor_shape(to);
  m.output_changed = true;
  redraw();
  set_title(target + 1);
}

int param(int i, int dflt) { return i < param_count && !params[static_cast<std::size_t>(i)].is_string ? params[static_cast<std::size_t>(i)].value : dflt; }

// Key named by a macro key parameter, or -1.
int macro_key(const Param& p) {
  if (!p.is_string) return p.value >= 0 && p.value < kMacroKeys ? p.value : -1;
  const char* s = strings.data() + p.offset;
  const int n = p.length;
  if (n == 1) return static_cast<unsigned char>(s[0]);
  if (n > 15 || n == 0) return -1;
  if (n == 2 && (s[0] == 'a' || s[0] == 'A') && !(s[1] == 'f' || s[1] == 'F')) return static_cast<unsigned char>(s[1]);
  bool shift = false, ctrl = false, alt = false;
  int i = 0;
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == 's' || c == 'S') shift = true;
    else if (c == 'c' || c == 'C') ctrl = true;
    else if (c == 'a' || c == 'A') alt = true;
    else if (c == ':' || c == ';') continue;
    else break;
  }
  if (i >= n || (s[i] != 'F' && s[i] != 'f')) return -1;
  int num = 0, digits = 0;
  for (++i; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    num = num * 10 + (s[i] - '0');
    ++digits;
  }
  if (digits == 0 || num < 1 || num > 12) return -1;
  int code = 256 + num - 1 + (shift ? 12 : 0);
  if (ctrl) code += 24;
  if (alt) code += 48;
  return code;
}

void define_macros() {
  for (int i = 0; i + 1 < param_count; i += 2) {
    const int key = macro_key(params[static_cast<std::size_t>(i)]);
    if (key < 0) continue;
    const Param& t = params[static_cast<std::size_t>(i) + 1];
    char one;
    const char* text;
    int len;
    if (t.is_string) {
      text = strings.data() + t.offset;
      len = t.length;
    } else {
      if (t.value < 0 || t.value > 255) continue;
      one = static_cast<char>(t.value);
      text = &one;
      len = 1;
    }
    Macro& mac = macros[static_cast<std::size_t>(key)];
    if (len == 0) {
      mac.length = 0;
      continue;
    }
    if (mac.capacity >= len) {
      std::memcpy(macro_pool.data() + mac.offset, text, static_cast<std::size_t>(len));
      mac.length = len;
    } else if (static_cast<int>(macro_pool.size()) - macro_pool_used > len) {
      std::memcpy(macro_pool.data() + macro_pool_used, text, static_cast<std::size_t>(len));
      mac = Macro{macro_pool_used, len, len};
      macro_pool_used += len;
    }
  }
}

void attributes() {
  Screen& s = screen();
  const int count = param_count == 0 ? 1 : param_count;
  for (int i = 0; i < count; ++i) {
    const int v = param(i, 0);
    unsigned char a = m.attr;
    switch (v) {
      case 0:
        if (s.concealed) {
          plat::console_input_mode(7);
          plat::console_flush_input();
        }
        if (s.bold_on) a = static_cast<unsigned char>(a & ~(s.reverse_on ? 0x80 : 0x08));
        if (s.reverse_on) a = s.normal;
        s.concealed = s.bold_on = s.reverse_on = false;
        break;
      case 1:
        a = static_cast<unsigned char>(a | (s.reverse_on ? 0x80 : 0x08));
        s.bold_on = true;
        break;
      case 7:
        a = s.reverse;
        s.reverse_on = true;
        break;
      case 8:
        plat::console_input_mode(3);
        plat::console_flush_input();
        s.concealed = true;
        break;
      default:
        if (v >= 30 && v <= 37) {
          const int c = v - 30;
          const int bits = ((c & 1) ? 4 : 0) | ((c & 2) ? 2 : 0) | ((c & 4) ? 1 : 0);
          a = static_cast<unsigned char>((a & 0xF8) | bits);
        } else if (v >= 40 && v <= 47) {
          const int c = v - 40;
          const int bits = ((c & 1) ? 0x40 : 0) | ((c & 2) ? 0x20 : 0) | ((c & 4) ? 0x10 : 0);
          a = static_cast<unsigned char>((a & 0x8F) | bits);
        }
        break;
    }
    set_attr(a);
    if (s.reverse_on) s.reverse = a;
    else s.normal = a;
  }
}

void run_normal(char final) {
  Screen& s = screen();
  const int n1 = param(0, 1);
  switch (final) {
    case 'A': move_cursor(m.column, m.row - n1); break;
    case 'B': move_cursor(m.column, m.row + n1); break;
    case 'C': move_cursor(m.column + n1, m.row); break;
    case 'D': move_cursor(m.column - n1, m.row); break;
    case 'E': move_cursor(0, m.row + n1); break;
    case 'F': move_cursor(0, m.row - n1); break;
    case 'H': case 'f': move_cursor(param(1, 1) - 1, n1 - 1); break;
    case 'G': move_cursor(n1 - 1, m.row); break;
    case '`': move_cursor(n1 - 2, m.row); break;
    case 'd': move_cursor(m.column, n1 - 1); break;
    case 'P': case '@': {
      const int n = clamp(n1, 0, m.width - m.column);
      auto* row = &cell(0, m.row);
      const int rest = m.width - m.column - n;
      if (final == 'P') {
        std::memmove(row + m.column, row + m.column + n, static_cast<std::size_t>(rest) * sizeof(ConsoleCell));
        for (int c = m.width - n; c < m.width; ++c) row[c] = ConsoleCell{' ', fill_attr()};
      } else {
        std::memmove(row + m.column + n, row + m.column, static_cast<std::size_t>(rest) * sizeof(ConsoleCell));
        for (int c = m.column; c < m.column + n; ++c) row[c] = ConsoleCell{' ', fill_attr()};
      }
      if (n > 0) with_fill_attr([&] { emit_csi(n, -1, final); });
      break;
    }
    case 'M': case 'L': {
      const int n = clamp(n1, 0, m.height - m.row);
      if (n == 0) break;
      scroll_model(m.row, final == 'M' ? n : -n, fill_attr());
      with_fill_attr([&] { emit_csi(n, -1, final); });
      break;
    }
    case 'X': {
      const int n = clamp(n1, 0, m.width - m.column);
      fill_cells(m.row * m.width + m.column, n, fill_attr());
      if (n > 0) with_fill_attr([&] { emit_csi(n, -1, 'X'); });
      break;
    }
    case 'J': {
      const int n = param(0, 0);
      const int here = m.row * m.width + m.column;
      if (n == 0) {
        fill_cells(here, m.width * m.height - here, fill_attr());
        with_fill_attr([] { emit("\x1b[J"); });
      } else if (n == 1) {
        fill_cells(0, here, fill_attr());
        with_fill_attr([] { emit("\x1b[1J"); });
      } else if (n == 2 || n == 3) {
        fill_cells(0, m.width * m.height, fill_attr());
        with_fill_attr([] { emit("\x1b[2J"); });
        move_cursor(0, 0);
      }
      break;
    }
    case 'K': {
      const int n = param(0, 0);
      const int start = m.row * m.width;
      if (n == 0) {
        fill_cells(start + m.column, m.width - m.column, fill_attr());
        with_fill_attr([] { emit("\x1b[K"); });
      } else if (n == 1) {
        fill_cells(start, m.column, fill_attr());
        with_fill_attr([] { emit("\x1b[1K"); });
      } else if (n == 2) {
        fill_cells(start, m.width, fill_attr());
        with_fill_attr([] { emit("\x1b[2K"); });
      }
      break;
    }
    case 'S': case 'T': {
      if (n1 <= 0) break;
      // The window is the whole buffer: the contents move.
      scroll_model(0, final == 'S' ? n1 : -n1, fill_attr());
      with_fill_attr([&] { emit_csi(n1, -1, final); });
      break;
    }
    case 'm': attributes(); break;
    case 'n': report(m.row + 1, m.column + 1); break;
    case 's': case 'u': {
      if (param_count >= 2) {
        const int k = param(0, 0), slot = param(1, 0);
        if (slot < 0 || slot >= kSlots) break;
        auto& sn = s.saved_normal[static_cast<std::size_t>(slot)];
        auto& sr = s.saved_reverse[static_cast<std::size_t>(slot)];
        if (final == 's') {
          if (k == 0 || k == 1) sn = s.normal;
          if (k == 0 || k == 2) sr = s.reverse;
        } else {
          if (k == 1 || (k == 0 && !s.reverse_on)) {
            s.normal = sn;
            if (!s.reverse_on) set_attr(sn);
          } else if (k == 2 || k == 0) {
            s.reverse = sr;
            if (s.reverse_on) set_attr(sr);
          }
        }
        break;
      }
      const int slot = param(0, 0);
      if (slot < 0 || slot >= kSlots) break;
      Slot& sl = s.slots[static_cast<std::size_t>(slot)];
      if (final == 's') sl = Slot{m.column, m.row};
      else move_cursor(sl.column, sl.row);
      break;
    }
    case 'p': define_macros(); break;
    case 'i':
      if (param(0, 1) == 2) copy_to_clipboard();
      break;
    case 'k': key_click = param(0, 0) == 0; break;
    case 'z': {
      const int n = param(0, 0);
      if (n >= 0 && n <= 4) switch_screen(n == 0 ? 0 : n - 1);
      break;
    }
    default: break;  // Z, h, l: accepted
  }
}

void run_private(char final) {
  Screen& s = screen();
  switch (final) {
    case 'B': {
      if (param_count != 2) break;
      const int f = param(0, 0), d = param(1, 0);
      if (f >= 1 && f <= 36) break;
      if (f < 0 || f > 32767) break;
      if (f != 0 && d > 0) {
        beep_frequency = static_cast<unsigned>(f);
        beep_duration = static_cast<unsigned>(d);
      } else {
        beep_frequency = beep_duration = 0;
      }
      break;
    }
    case 'C':
      if (param_count == 0) {
        if (!s.cursor_visible) report(16, 0);
        else report(15 - (s.cursor_size == 1 ? 0 : s.cursor_size * 15 / 100), 15);
        break;
      } else {
        const int st = param(0, 0), en = param(1, 15);
        if (st > 15 || en < st) {
          s.cursor_visible = false;
        } else {
          s.cursor_visible = true;
          s.cursor_size = (en - st) * 100 / 15;
          if (s.cursor_size < 1) s.cursor_size = 1;
        }
        m.output_changed = true;
        emit_cursor_shape(s);
      }
      break;
    case 'F': case 'G': case 'H': case 'I': {
      const int v = param(0, 0);
      if (v < 0 || v > 15) break;
      const bool rev = final == 'H' || final == 'I';
      unsigned char& a = rev ? s.reverse : s.normal;
      if (final == 'F' || final == 'H') a = static_cast<unsigned char>((a & 0xF0) | v);
      else a = static_cast<unsigned char>((a & 0x0F) | (v << 4));
      if (rev == s.reverse_on) set_attr(a);
      break;
    }
    case 'L': {
      const int v = param(0, 0);
      if (v == 0 || v == 1) s.erase_normal = v == 1;
      break;
    }
    case 'M': {
      const unsigned char a = param(0, 0) == 1 ? s.reverse : s.normal;
      report(a & 0x0F, a >> 4);
      break;
    }
    case 'h': case 'l':
      if (param(0, 0) == 7) {
        s.wrap = final == 'h';
        m.output_changed = true;
        emit(s.wrap ? "\x1b[?7h" : "\x1b[?7l");
      }
      break;
    default: break;  // A, J, K: accepted
  }
}

enum class Parse { kIncomplete, kInvalid, kValid };

// Parses the sequence at b[0..n) (b[0] is ESC).  On kValid `used` is its
// length and `final`/`priv` describe it.
Parse parse(const char* b, long n, long& used, char& final, bool& priv, bool& keydef) {
  keydef = false;
  priv = false;
  param_count = 0;
  if (n < 2) return Parse::kIncomplete;
  if (b[1] == 'Q') {
    keydef = true;
    if (n < 3) return Parse::kIncomplete;
    const auto key = static_cast<unsigned char>(b[2]);
    if (key < '0' || key > 0x8F) return Parse::kInvalid;
    if (n < 4) return Parse::kIncomplete;
    const auto delim = static_cast<unsigned char>(b[3]);
    if (delim == 0 || delim == 0xFF) return Parse::kInvalid;
    for (long i = 4; i < n; ++i) {
      if (static_cast<unsigned char>(b[i]) == delim) {
        used = i + 1;
        return Parse::kValid;
      }
      if (i - 4 >= 512) fatal_error(VEK_ERR(kErrLimit), "ansi: escQFn\"...");
    }
    return Parse::kIncomplete;
  }
  if (b[1] != '[') return Parse::kInvalid;
  long i = 2;
  if (i >= n) return Parse::kIncomplete;
  if (b[i] == '=') {
    priv = true;
    ++i;
  }
  int string_used = 0;
  bool has_string = false;
  for (;;) {
    if (i >= n) return Parse::kIncomplete;
    Param p;
    bool present = false;
    const char c = b[i];
    if ((c == '"' || c == '\'') && !priv) {
      const char q = c;
      p.is_string = true;
      p.offset = string_used;
      ++i;
      for (;;) {
        if (i >= n) return Parse::kIncomplete;
        char x = b[i];
        if (x == q) {
          if (i + 1 >= n) return Parse::kIncomplete;
          if (b[i + 1] != q) {
            ++i;
            break;
          }
          ++i;  // doubled quote: the quote itself
        } else if (x == '\n' && (param_count % 2) == 1) {
          x = '\r';
        }
        if (string_used >= static_cast<int>(strings.size())) fatal_error(VEK_ERR(kErrLimit), "ansi: esc[\"...\"");
        strings[static_cast<std::size_t>(string_used++)] = x;
        ++i;
      }
      p.length = string_used - p.offset;
      present = has_string = true;
    } else {
      while (i < n && b[i] >= '0' && b[i] <= '9') {
        if (p.value < 100000000) p.value = p.value * 10 + (b[i] - '0');
        ++i;
        present = true;
      }
      if (i >= n) return Parse::kIncomplete;
    }
    const char d = b[i];
    if (d == ';' || present) {
      if (param_count >= kMaxParams) fatal_error(VEK_ERR(kErrLimit), "ansi: esc[#;#;#");
      params[static_cast<std::size_t>(param_count++)] = p;
    }
    if (d == ';') {
      ++i;
      continue;
    }
    final = d;
    used = i + 1;
    break;
  }
  const char* finals = priv ? "ABCFGHIJKLMhl" : "ABCDEFHf`GdPMXJK@LSTZmnsupihlkz";
  if (final == 0 || std::strchr(finals, final) == nullptr) return Parse::kInvalid;
  if (has_string && (final != 'p' || param_count < 2 || param_count % 2 != 0)) return Parse::kInvalid;
  return Parse::kValid;
}

// Carries out one sequence at b; returns kIncomplete/kInvalid or kValid
// with `used`.
Parse one_sequence(const char* b, long n, long& used) {
  char final = 0;
  bool priv = false, keydef = false;
  const Parse r = parse(b, n, used, final, priv, keydef);
  if (r != Parse::kValid) return r;
  if (keydef) return r;
  initialise();
  if (priv) run_private(final);
  else run_normal(final);
  return r;
}

}  // namespace

void console_set_sink(ConsoleSink s) { sink = s != nullptr ? s : sink_default; }

bool console_in_sequence() { return carry_len > 0; }

void console_reset_state() { carry_len = 0; }

long ansi_interpret(int fd, const char* text, long n) {
  out_fd = fd;
  long pos = 0;
  while (pos < n) {
    if (carry_len > 0) {
      // The sequence cut off before, followed by the new bytes.
      std::array<char, 1024> joined;
      const long take = std::min<long>(n - pos, static_cast<long>(joined.size()) - carry_len);
      std::memcpy(joined.data(), carry.data(), static_cast<std::size_t>(carry_len));
      std::memcpy(joined.data() + carry_len, text + pos, static_cast<std::size_t>(take));
      long used = 0;
      const int had = carry_len;
      Parse r;
      try {
        r = one_sequence(joined.data(), had + take, used);
      } catch (...) {
        carry_len = 0;
        throw;
      }
      if (r == Parse::kIncomplete) {
        if (had + take > 511) {
          carry_len = 0;
          fatal_error(VEK_ERR(kErrLimit), "ansi: esc...");
        }
        std::memcpy(carry.data() + had, text + pos, static_cast<std::size_t>(take));
        carry_len = had + static_cast<int>(take);
        return n;
      }
      carry_len = 0;
      if (r == Parse::kInvalid) return pos;  // the carried bytes are dropped
      pos += used - had;
    } else {
      if (static_cast<unsigned char>(text[pos]) != kEsc) break;
      long used = 0;
      const Parse r = one_sequence(text + pos, n - pos, used);
      if (r == Parse::kIncomplete) {
        if (n - pos > 511) fatal_error(VEK_ERR(kErrLimit), "ansi: esc...");
        std::memcpy(carry.data(), text + pos, static_cast<std::size_t>(n - pos));
        carry_len = static_cast<int>(n - pos);
        return n;
      }
      if (r == Parse::kInvalid) return pos + 1;  // only the ESC is dropped
      pos += used;
    }
    if (pos < n && static_cast<unsigned char>(text[pos]) != kEsc) break;
  }
  return pos;
}

long console_write(int fd, const char* text, long n) {
  out_fd = fd;
  if (m.cells.empty()) console_model_reset(0, 0);
  long pos = 0;
  while (pos < n) {
    if (carry_len == 0) {
      long run = pos;
      while (run < n && text[run] != static_cast<char>(kEsc) && !(beep_frequency != 0 && text[run] == 7)) ++run;
      put_text(text + pos, run - pos);
      pos = run;
      if (pos >= n) break;
      if (text[pos] == 7) {
        plat::console_beep(beep_frequency, beep_duration);
        ++pos;
        continue;
      }
    }
    const long used = ansi_interpret(fd, text + pos, n - pos);
    pos += used;
    if (used == 0 && carry_len == 0) {
      // Nothing consumed (the carried bytes were invalid): go on with
      // the new data as text.
      continue;
    }
  }
  return n;
}

void console_model_reset(int width, int height) {
  if (width <= 0 || height <= 0) {
    width = 80;
    height = 25;
    plat::console_size(width, height);
  }
  const unsigned char attr = 0x07;
  m = Model{};
  m.width = width;
  m.height = height;
  m.attr = m.initial_attr = attr;
  m.cells.assign(static_cast<std::size_t>(width * height), ConsoleCell{' ', attr});
  carry_len = 0;
  injected_count = injected_head = 0;
  macros.fill(Macro{});
  macro_pool_used = 0;
  beep_frequency = beep_duration = 0;
  key_click = false;
}

void console_sync() {
  if (m.cells.empty()) console_model_reset(0, 0);
  int w = m.width, h = m.height;
  if (plat::console_size(w, h) && (w != m.width || h != m.height)) {
    std::vector<ConsoleCell> fresh(static_cast<std::size_t>(w * h), ConsoleCell{' ', m.attr});
    for (int r = 0; r < h && r < m.height; ++r)
      for (int c = 0; c < w && c < m.width; ++c)
        fresh[static_cast<std::size_t>(r * w + c)] = cell(c, r);
    m.cells.swap(fresh);
    m.width = w;
    m.height = h;
    for (Screen& s : m.screens) s.saved.clear();
    for (Slot& sl : screen().slots) {
      sl.column = clamp(sl.column, 0, w - 1);
      sl.row = clamp(sl.row, 0, h - 1);
    }
  }
  int c = 0, r = 0;
  if (plat::console_cursor(c, r)) {
    m.column = clamp(c, 0, m.width - 1);
    m.row = clamp(r, 0, m.height - 1);
  } else {
    m.column = clamp(m.column, 0, m.width - 1);
    m.row = clamp(m.row, 0, m.height - 1);
  }
}

void console_end() {
  carry_len = 0;
  if (m.initialised && m.output_changed) {
    const Screen& s = screen();
    if (s.concealed) plat::console_input_mode(7);
    emit("\x1b[0m\x1b[?25h\x1b[0 q\x1b[?7h");
  }
  for (Screen& s : m.screens) {
    s.saved.clear();
    s.saved.shrink_to_fit();
  }
  m.output_changed = false;
}

int console_width() { return m.width; }

void console_cursor_shape(int& size, bool& visible) {
  if (m.cells.empty()) console_model_reset(0, 0);
  const Screen& s = screen();
  size = s.cursor_size;
  visible = s.cursor_visible;
}

void console_set_cursor_shape(int fd, int size, bool visible) {
  if (m.cells.empty()) console_model_reset(0, 0);
  Screen& s = screen();
  if (s.cursor_size == size && s.cursor_visible == visible) return;
  s.cursor_size = size;
  s.cursor_visible = visible;
  m.output_changed = true;
  out_fd = fd;
  emit_cursor_shape(s);
}
int console_height() { return m.height; }
int console_column() { return m.column; }
int console_row() { return m.row; }
unsigned char console_attribute() { return m.attr; }
ConsoleCell console_cell(int column, int row) {
  if (column < 0 || row < 0 || column >= m.width || row >= m.height) return ConsoleCell{};
  return cell(column, row);
}
int console_screen_number() { return m.current + 1; }
void console_slot(int n, int& column, int& row) {
  const Slot& s = screen().slots[static_cast<std::size_t>(clamp(n, 0, kSlots - 1))];
  column = s.column;
  row = s.row;
}
const char* console_title() { return m.title.data(); }

void inject_keys(const char* text, int n) {
  plat::console_flush_input();
  injected_head = 0;
  injected_count = 0;
  for (int i = 0; i < n && i < static_cast<int>(injected.size()); ++i)
    injected[static_cast<std::size_t>(injected_count++)] = static_cast<unsigned char>(text[i]);
}

bool next_injected_key(int& code) {
  if (injected_count == 0) return false;
  code = injected[static_cast<std::size_t>(injected_head++)];
  if (--injected_count == 0) injected_head = 0;
  return true;
}

int macro_text(int key, const char*& text) {
  if (key < 0 || key >= kMacroKeys) return 0;
  const Macro& mac = macros[static_cast<std::size_t>(key)];
  text = macro_pool.data() + mac.offset;
  return mac.length;
}

}  // namespace vek
