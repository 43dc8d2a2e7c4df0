// The line editor and the history ring with its file.
#include "io/editor.h"

#include <array>
#include <cstring>

#include "io/console.h"
#include "io/fdio.h"
#include "pattern/wildcard.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

namespace {

constexpr int kMaxLine = 238;
constexpr int kRecord = 240;
constexpr int kRing = 128;

// Key codes of keys without a character: 256 + virtual-key code.
constexpr int kClear = 256 + 0x0C;
constexpr int kPgUp = 256 + 0x21;
constexpr int kPgDn = 256 + 0x22;
constexpr int kEnd = 256 + 0x23;
constexpr int kHome = 256 + 0x24;
constexpr int kLeft = 256 + 0x25;
constexpr int kUp = 256 + 0x26;
constexpr int kRight = 256 + 0x27;
constexpr int kDown = 256 + 0x28;
constexpr int kInsert = 256 + 0x2D;
constexpr int kDelete = 256 + 0x2E;
constexpr int kShiftTab = 416;
// Not a key: the process was suspended and has the terminal back.
constexpr int kResumed = 1000;

// History: the texts are kept in memory as well, so that the history
// works on when the file cannot be written.
struct History {
  std::array<std::array<char, kRecord>, kRing> text{};
  std::array<int, kRing> length{};
  int next = 0;
  int count = 0;
  long total = 0;
  int fd = -1;
  std::int64_t base = 0;
  bool based = false;
};
History hist;

enum class State { kUnused, kPrepared, kSuspended, kEnded };
State state = State::kUnused;
std::array<char, 260> history_dir{};

// The cursor as it was before the editor set its own (given back on
// suspend and at the end).
int saved_cursor_size = 25;
bool saved_cursor_visible = true;
bool cursor_set = false;

int pending_repeats = 0;
int repeat_code = 0;

int slot_of(int i) { return hist.total <= kRing ? i : (i + hist.next) % kRing; }

void write_record(int slot) {
  if (hist.fd < 0) return;
  std::array<char, kRecord> rec;
  rec.fill(' ');
  const int n = hist.length[static_cast<std::size_t>(slot)];
  std::memcpy(rec.data(), hist.text[static_cast<std::size_t>(slot)].data(), static_cast<std::size_t>(n));
  rec[static_cast<std::size_t>(n)] = '\n';
  rec[kRecord - 1] = '\n';
  // A failing write (full disk, a file made read-only) loses only the
  // file's copy; the session keeps its history.
  (void)plat::write_at(hist.fd, rec.data(), rec.size(), hist.base + static_cast<std::int64_t>(kRecord) * slot);
}

void store(int slot, const char* line, int n) {
  std::memcpy(hist.text[static_cast<std::size_t>(slot)].data(), line, static_cast<std::size_t>(n));
  hist.length[static_cast<std::size_t>(slot)] = n;
  write_record(slot);
}

void open_history() {
  if (hist.fd >= 0) return;
  std::array<char, 260> path{};
  const char* dir = history_dir[0] ? history_dir.data() : "\\";
  std::size_t n = 0;
  for (const char* p = dir; *p && n + 1 < path.size(); ++p) path[n++] = *p;
  static const char name[] = "\\vek_hist.txt";
  if (n + sizeof name > path.size()) return;
  std::memcpy(path.data() + n, name, sizeof name);
  collapse_backslashes(path.data());
  hist.fd = plat::open(path.data(), plat::kReadWrite | plat::kCreate | plat::kBinary);
  if (hist.fd < 0) return;
  plat::set_no_inherit(hist.fd);
  if (!hist.based) {
    const std::int64_t end = plat::lseek(hist.fd, 0, plat::kSeekEnd);
    hist.base = end > 0 ? end : 0;
    hist.based = true;
  }
}

void out(const char* text, long n) { sys_write(1, text, n); }
void out(const char* text) { out(text, static_cast<long>(std::strlen(text))); }
void bell() { out("\a", 1); }

char display(unsigned char c) {
  switch (c) {
    case '\t': return '^';
    case 0: case 7: case 8: case 10: case 13: case 0x1A: case 0x1B: case 0xFF: return '@';
    default: return static_cast<char>(c);
  }
}

// Byte typed with Alt: the code page 850 characters of the keyboard's
// letters, and the brackets that many keyboards only give with AltGr.
int alt_byte(int c) {
  struct Pair {
    char key;
    unsigned char byte;
  };
  static constexpr Pair table[] = {
      {'a', 0x84}, {'o', 0x94}, {'u', 0x81}, {'A', 0x8E}, {'O', 0x99}, {'U', 0x9A}, {'s', 0xE1},
      {'S', 0xF5}, {'P', 0xF4}, {':', 0xF9}, {'.', 0xFA}, {'x', 0x9E}, {'<', 0xAE}, {'>', 0xAF},
      {'#', 0xFE}, {'/', 0xF6}, {'+', 0xF1}, {'=', 0xCD}, {'-', 0xC4}, {'_', 0xF2}, {'y', 0xE6},
      {'d', 0x9B}, {'D', 0x9D}, {'2', 0xAB}, {'4', 0xAC}, {'1', 0xFB}, {'3', 0xFC}, {'@', 0xFD},
      {'0', 0xF8}, {'c', 0xB8}, {'r', 0xA9}, {'!', 0xAD}, {'?', 0xA8}, {'$', 0x9C}, {'h', '['},
      {'j', ']'},  {'k', '{'},  {'l', '}'},  {'t', '~'},  {'\'', '`'}, {'b', '\\'}, {'p', '|'},
      {'5', '%'},  {'"', 0xEF}, {'^', 0x7F},
  };
  for (const Pair& p : table)
    if (static_cast<unsigned char>(p.key) == c) return p.byte;
  return c;
}

// The editing state of one line.
struct Line {
  char* buf;
  int len = 0;
  int cur = 0;
  bool insert = false;
  bool swap = false;
  int highlighted = -1;
  int remembered = -1;
  int browse = 0;
  int page = 4;
};

// Cursor to offset k of the input: from the saved start, counting rows
// when the line wraps.
void go(int k) {
  int col = 0, row = 0;
  console_slot(0, col, row);
  const int w = console_width();
  const int at = col + k;
  const int down = at / w;
  char seq[32];
  out("\x1b[u");
  if (down > 0) out(seq, format_buf(seq, "\x1b[%dB", down));
  out(seq, format_buf(seq, "\x1b[%dG", at % w + 1));
}

void write_from(const Line& l, int k) {
  std::array<char, kMaxLine> shown;
  int n = 0;
  for (int i = k; i < l.len; ++i) shown[static_cast<std::size_t>(n++)] = display(static_cast<unsigned char>(l.buf[i]));
  out(shown.data(), n);
}

// Shows the line from offset k on and puts the cursor back.
void redraw_from(Line& l, int k) {
  if (l.highlighted >= k) l.highlighted = -1;
  go(k);
  write_from(l, k);
  out("\x1b[J");
  go(l.cur);
}

void unhighlight(Line& l) {
  if (l.highlighted < 0) return;
  const int h = l.highlighted;
  l.highlighted = -1;
  if (h < l.len) {
    go(h);
    const char c = display(static_cast<unsigned char>(l.buf[h]));
    out(&c, 1);
  }
  go(l.cur);
}

void highlight(Line& l) {
  const bool want = l.cur < l.len && l.insert == l.swap;
  if (l.highlighted >= 0 && (!want || l.highlighted != l.cur)) unhighlight(l);
  if (want && l.highlighted != l.cur) {
    out("\x1b[7m");
    const char c = display(static_cast<unsigned char>(l.buf[l.cur]));
    out(&c, 1);
    out("\x1b[0m");
    l.highlighted = l.cur;
    go(l.cur);
  }
}

void set_line(Line& l, const char* text, int n, int cursor) {
  std::memcpy(l.buf, text, static_cast<std::size_t>(n));
  l.len = n;
  l.cur = cursor;
  l.highlighted = -1;
  go(0);
  write_from(l, 0);
  out("\x1b[J");
  go(l.cur);
}

void clear_line(Line& l) { set_line(l, "", 0, 0); }

void fetch(Line& l) {
  if (l.browse >= hist.count) {
    clear_line(l);
    return;
  }
  const int s = slot_of(l.browse);
  const int n = hist.length[static_cast<std::size_t>(s)];
  const int cursor = l.remembered >= 0 && l.remembered <= n ? l.remembered : n;
  set_line(l, hist.text[static_cast<std::size_t>(s)].data(), n, cursor);
}

void put_char(Line& l, int c) {
  if (l.len >= kMaxLine && (l.insert || l.cur == l.len)) {
    bell();
    return;
  }
  if (l.insert || l.cur == l.len) {
    std::memmove(l.buf + l.cur + 1, l.buf + l.cur, static_cast<std::size_t>(l.len - l.cur));
    l.buf[l.cur] = static_cast<char>(c);
    ++l.len;
    if (l.highlighted >= l.cur) l.highlighted = -1;
    ++l.cur;
    if (l.cur == l.len) {
      const char d = display(static_cast<unsigned char>(c));
      out(&d, 1);
    } else {
      redraw_from(l, l.cur - 1);
    }
  } else {
    l.buf[l.cur] = static_cast<char>(c);
    if (l.highlighted == l.cur) l.highlighted = -1;
    const char d = display(static_cast<unsigned char>(c));
    out(&d, 1);
    ++l.cur;
  }
  // A character written to the last column moves on to the next row.
  go(l.cur);
}

void delete_at_cursor(Line& l) {
  std::memmove(l.buf + l.cur, l.buf + l.cur + 1, static_cast<std::size_t>(l.len - l.cur - 1));
  --l.len;
  redraw_from(l, l.cur);
}

void backspace(Line& l) {
  if (l.len == 0) return;
  if (l.cur > 0) --l.cur;
  l.len = l.cur;
  if (l.highlighted >= l.cur) l.highlighted = -1;
  go(l.cur);
  out("\x1b[J");
}

// Searches for the newest entry the line names (",prefix" or "?text");
// loads it, or clears the line.
void search(Line& l) {
  const std::string_view rest(l.buf + 1, static_cast<std::size_t>(l.len - 1));
  std::array<unsigned char, pattern_buffer_size(kMaxLine + 2)> compiled;
  bool pattern = l.buf[0] == '?';
  if (pattern) {
    std::array<char, kMaxLine + 3> text;
    text[0] = '*';
    std::memcpy(text.data() + 1, rest.data(), rest.size());
    text[rest.size() + 1] = '*';
    if (pattern_compile(compiled, std::string_view(text.data(), rest.size() + 2), escape_char) != pattern_ok) {
      clear_line(l);
      return;
    }
  }
  for (int i = hist.count - 1; i >= 0; --i) {
    const int s = slot_of(i);
    const std::string_view entry(hist.text[static_cast<std::size_t>(s)].data(),
                                 static_cast<std::size_t>(hist.length[static_cast<std::size_t>(s)]));
    const bool hit = pattern ? pattern_match(entry, compiled.data(), escape_char) == 0
                             : entry.substr(0, rest.size()) == rest;
    if (hit) {
      l.browse = i;
      set_line(l, entry.data(), static_cast<int>(entry.size()), static_cast<int>(entry.size()));
      return;
    }
  }
  clear_line(l);
}

int finish(Line& l) {
  unhighlight(l);
  go(l.len);
  out("\r\n");
  l.buf[l.len] = '\r';
  l.buf[l.len + 1] = '\n';
  return l.len + 2;
}

struct RawMode {
  bool on;
  RawMode() : on(plat::console_raw(true)) {}
  ~RawMode() {
    if (on) plat::console_raw(false);
  }
};

}  // namespace

void line_editor_history_dir(const char* directory) {
  std::size_t n = 0;
  for (; directory[n] && n + 1 < history_dir.size(); ++n) history_dir[n] = directory[n];
  history_dir[n] = 0;
}

void line_editor_control(char mode) {
  if (mode == 'p') {
    if (state == State::kPrepared) return;
    if (state != State::kSuspended) {
      if (!plat::isatty(0)) fatal_error(VEK_ERR(kErrOpen), "CONIN$");
      if (!plat::isatty(1)) fatal_error(VEK_ERR(kErrOpen), "CONOUT$");
    }
    open_history();
    if (plat::console_terminal() && opt('S')) {
      // A small visible cursor (14 % of the cell) while lines are edited.
      console_cursor_shape(saved_cursor_size, saved_cursor_visible);
      console_set_cursor_shape(1, 14, true);
      cursor_set = true;
    }
    state = State::kPrepared;
    return;
  }
  if (state == State::kUnused) return;
  if (cursor_set) {
    cursor_set = false;
    console_set_cursor_shape(1, saved_cursor_size, saved_cursor_visible);
  }
  if (hist.fd >= 0) {
    plat::close(hist.fd);
    hist.fd = -1;
  }
  plat::console_raw(false);
  state = mode == 'e' ? State::kEnded : State::kSuspended;
}

int read_key() {
  if (pending_repeats > 0) {
    --pending_repeats;
    return repeat_code;
  }
  for (;;) {
    int code = 0;
    if (next_injected_key(code)) return code;
    plat::KeyEvent ev;
    const int r = plat::console_read_key(ev);
    if (r == 2) return kResumed;
    if (r < 0) {
      check_signal();
      continue;
    }
    if (r == 0) return 26;  // the console is gone: end of input
    if (key_click) plat::console_beep(5000, 10);
    if (ev.ch < 0) {
      if (ev.vk >= 0x70 && ev.vk <= 0x7B) {
        code = 256 + (ev.vk - 0x70) + (ev.shift ? 12 : 0) + (ev.ctrl ? 24 : 0) + (ev.alt ? 48 : 0);
        const char* text = nullptr;
        const int n = macro_text(code, text);
        if (n > 0) {
          inject_keys(text, n);
          continue;
        }
      } else {
        code = 256 + ev.vk;
      }
    } else {
      code = ev.ch;
      if (ev.alt && !ev.ctrl) {
        const char* text = nullptr;
        const int n = macro_text(code, text);
        if (n > 0) {
          inject_keys(text, n);
          continue;
        }
        code = alt_byte(code);
      }
      if (code == 9 && ev.shift) code = kShiftTab;
    }
    pending_repeats = ev.repeat > 1 ? ev.repeat - 1 : 0;
    repeat_code = code;
    return code;
  }
}

int edit_line(char* buffer, int size) {
  if (size <= kRecord) return -1;
  line_editor_control('p');
  RawMode raw;
  console_sync();
  out("\x1b[s");
  Line l;
  l.buf = buffer;
  l.browse = hist.count;
  l.page = hist.count < 32 ? 4 : hist.count / 8;
  for (;;) {
    highlight(l);
    int key = read_key();
    if (key == 22) {  // Ctrl-V: the next key literally, or a decimal code
      key = read_key();
      if (key == kInsert) {
        l.swap = !l.swap;
        continue;
      }
      if (key >= '0' && key <= '9') {
        int value = key - '0';
        for (int digits = 1; digits < 3; ++digits) {
          const int k = read_key();
          if (k < '0' || k > '9') break;
          value = value * 10 + (k - '0');
        }
        if (value > 255) bell();
        else put_char(l, value);
        continue;
      }
      if (key < 256) put_char(l, key);
      else bell();
      continue;
    }
    switch (key) {
      case '\r': case '\n':
        if (l.len <= 1) {
          if (l.len == 1) history_record(l.buf, 1);
          return finish(l);
        }
        if (l.buf[0] == ',' || l.buf[0] == '?') {
          search(l);
          continue;
        }
        history_record(l.buf, l.len);
        return finish(l);
      case 3:
        unhighlight(l);
        out("\r\n");
        session_abort(2 * 256 + 2);
      case 26:
        unhighlight(l);
        go(l.len);
        out("\r\n");
        return 0;
      case 27: clear_line(l); continue;
      case kResumed:
        // Other programs used the terminal meanwhile: the line is shown
        // again from the start of a row.
        l.highlighted = -1;
        console_sync();
        if (console_column() != 0) out("\r\n");
        out("\x1b[s");
        write_from(l, 0);
        go(l.cur);
        continue;
      case 8: backspace(l); continue;
      case kDelete: case kClear:
        if (l.cur < l.len) delete_at_cursor(l);
        else backspace(l);
        continue;
      case kShiftTab:
        if (l.cur < l.len) delete_at_cursor(l);
        continue;
      case kLeft:
        if (l.cur > 0) go(--l.cur);
        l.remembered = l.cur;
        continue;
      case kRight:
        if (l.cur < l.len) go(++l.cur);
        l.remembered = l.cur;
        continue;
      case kHome:
        l.cur = 0;
        go(0);
        continue;
      case kEnd:
        l.cur = l.len;
        go(l.cur);
        l.remembered = -1;
        continue;
      case kInsert: l.insert = !l.insert; continue;
      case kUp: case kPgUp:
        if (l.browse <= 0) {
          bell();
          continue;
        }
        l.browse = key == kUp ? l.browse - 1 : (l.browse > l.page ? l.browse - l.page : 0);
        fetch(l);
        continue;
      case kDown: case kPgDn:
        if (l.browse >= hist.count) {
          bell();
          continue;
        }
        l.browse = key == kDown ? l.browse + 1 : (l.browse + l.page < hist.count ? l.browse + l.page : hist.count);
        fetch(l);
        continue;
      default:
        if (key < 256) put_char(l, key);
        else bell();
        continue;
    }
  }
}

void history_record(const char* line, int length) {
  if (length <= 0) return;
  if (length > kMaxLine) length = kMaxLine;
  for (int i = 0; i < hist.count; ++i) {
    const int s = slot_of(i);
    if (hist.length[static_cast<std::size_t>(s)] != length ||
        std::memcmp(hist.text[static_cast<std::size_t>(s)].data(), line, static_cast<std::size_t>(length)) != 0)
      continue;
    // Known: it moves to the newest place, the later entries one back.
    for (int j = i; j + 1 < hist.count; ++j) {
      const int from = slot_of(j + 1);
      store(slot_of(j), hist.text[static_cast<std::size_t>(from)].data(), hist.length[static_cast<std::size_t>(from)]);
    }
    store(slot_of(hist.count - 1), line, length);
    return;
  }
  store(hist.next, line, length);
  if (hist.count < kRing) ++hist.count;
  hist.next = (hist.next + 1) % kRing;
  ++hist.total;
}

int history_count() { return hist.count; }

int history_entry(int i, char* out_text) {
  if (i < 0 || i >= hist.count) return 0;
  const int s = slot_of(i);
  const int n = hist.length[static_cast<std::size_t>(s)];
  std::memcpy(out_text, hist.text[static_cast<std::size_t>(s)].data(), static_cast<std::size_t>(n));
  return n;
}

void line_editor_reset() {
  if (hist.fd >= 0) plat::close(hist.fd);
  hist = History{};
  state = State::kUnused;
  pending_repeats = 0;
}

}  // namespace vek
