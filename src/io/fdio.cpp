#include "io/fdio.h"

#include <array>

#include "io/console.h"
#include "support/codepage.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

long sys_read(int fd, void* buf, long len) {
  if (len == 0) return 0;
  long r = plat::read(fd, buf, static_cast<std::size_t>(len));
  // A read interrupted by a signal to act on: act on it now.
  if (r < 0) check_signal();
  if (r < 0 || r > len) fatal_error(VEK_ERR(kErrSystem), "read()");
  return r;
}

namespace {

// Cached console answers for descriptors 0..9: -1 unknown, 0 no, 1 yes.
std::array<signed char, 10> console_cache{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// Set while a failed write is being reported.  A write that fails then
// (standard error closed or broken as well) is dropped: reporting it would
// fail again, without end.
bool reporting_write_failure = false;

[[noreturn]] void write_failed(const char* what) {
  struct Mark {
    bool before = reporting_write_failure;
    Mark() { reporting_write_failure = true; }
    ~Mark() { reporting_write_failure = before; }
  } mark;
  fatal_error(VEK_ERR(kErrSystem), what);
}

long raw_write(int fd, const char* buf, long len) {
  long done = 0;
  int attempt = 0;
  while (done < len) {
    long r = plat::write(fd, buf + done, static_cast<std::size_t>(len - done));
    if (r == plat::kBrokenPipe) end_on_broken_pipe();
    if (r < 0 || r > len - done) {
      if (reporting_write_failure) return len;
      write_failed("write()");
    }
    done += r;
    if (done >= len) break;
    if (++attempt >= 3) {
      if (reporting_write_failure) return len;
      write_failed("write() < soll");
    }
    plat::sleep_ms(attempt == 1 ? 1000 : 2000);
  }
  if (attempt > 0) format_out(2, "vek: write(): reparierter Fehlschlag.");
  return done;
}

}  // namespace

WriteFailuresDropped::WriteFailuresDropped() : before_(reporting_write_failure) { reporting_write_failure = true; }
WriteFailuresDropped::~WriteFailuresDropped() { reporting_write_failure = before_; }

bool is_console(int fd) {
  if (fd < 0 || fd >= 10) return plat::isatty(fd);
  auto& c = console_cache[static_cast<std::size_t>(fd)];
  if (c < 0) c = plat::isatty(fd) ? 1 : 0;
  return c != 0;
}

int console_known(int fd) { return fd >= 0 && fd < 10 ? console_cache[static_cast<std::size_t>(fd)] : -1; }

void set_console_known(int fd, int state) {
  if (fd >= 0 && fd < 10) console_cache[static_cast<std::size_t>(fd)] = static_cast<signed char>(state);
}

void descriptor_changed(int fd) {
  if (fd < 0) {
    console_cache.fill(-1);
  } else if (fd < 10) {
    console_cache[static_cast<std::size_t>(fd)] = -1;
  }
}

long sys_write(int fd, const void* buf, long len) {
  const char* p = static_cast<const char*>(buf);
  if (len <= 0) return 0;
  if (fd & kRawWrite) return raw_write(fd & ~kRawWrite, p, len);
  if (opt('S') && fd < 10 && is_console(fd)) {
    // Console output goes through the escape emulation where it drives
    // the console; elsewhere the bytes go to the console unchanged.
    if (plat::console_terminal()) return console_write(fd, p, len);
    raw_write(fd, p, len);
    return len;
  }
  console_reset_state();
  return raw_write(fd, p, len);
}

long sys_write_message(int fd, const char* text, long len) {
  if (len <= 0) return 0;
  bool high = false;
  for (long i = 0; i < len && !high; ++i) high = static_cast<unsigned char>(text[i]) >= 0x80;
  if (!high || fd < 0 || fd >= 10 || !is_console(fd) || !plat::terminal_shows_utf8()) return sys_write(fd, text, len);
  if (opt('S') && plat::console_terminal()) {
    struct Utf8 {
      Utf8() { console_utf8_text = true; }
      ~Utf8() { console_utf8_text = false; }
    } utf8;
    return console_write(fd, text, len);
  }
  std::array<char, 768> out;
  long used = 0;
  for (long i = 0; i < len; ++i) {
    if (used + 3 > static_cast<long>(out.size())) {
      raw_write(fd, out.data(), used);
      used = 0;
    }
    used += cp850_to_utf8(static_cast<unsigned char>(text[i]), out.data() + used);
  }
  raw_write(fd, out.data(), used);
  return len;
}

long sys_write_text(int fd, std::string_view text) {
  if (!is_utf8_text(text)) return sys_write_message(fd, text.data(), static_cast<long>(text.size()));
  return sys_write(fd, text);
}

std::int64_t sys_lseek(int fd, std::int64_t off, int whence) {
  std::int64_t r = plat::lseek(fd, off, whence);
  if (r < 0) fatal_error(VEK_ERR(kErrSystem), "lseek()");
  return r;
}

int sys_close(int fd) {
  if (fd < 0) return 0;
  descriptor_changed(fd);
  int r = plat::close(fd);
  if (r < 0) fatal_error(VEK_ERR(kErrSystem), "close()");
  return r;
}

int sys_dup2(int from, int to) {
  descriptor_changed(to);
  int r = plat::dup2(from, to);
  if (r < 0) fatal_error(VEK_ERR(kErrSystem), "dup2()");
  return r;
}

int sys_ftruncate(int fd, std::int64_t size) {
  int r = plat::ftruncate(fd, size);
  if (r != 0) fatal_error(VEK_ERR(kErrSystem), "ftruncate()");
  return r;
}

bool sys_getcwd(char* buf, int size) {
  if (!plat::getcwd(buf, static_cast<std::size_t>(size))) fatal_error(VEK_ERR(kErrSystem), "getcwd()");
  // The root of a drive comes back as the bare drive.
  if (buf[0] && buf[1] == ':' && buf[2] == '\\' && buf[3] == 0) buf[2] = 0;
  return true;
}

int sys_dup(int fd) { return plat::dup(fd); }

bool sys_isatty(int fd) { return plat::isatty(fd); }

int sys_open(char* path, int flags) {
  path_normalize(path);
  int fd = plat::open(path, flags);
  descriptor_changed(fd);
  if (flags & plat::kExclusive) {
    last_status = fd < 0 ? 1 : 0;
    return fd;
  }
  if (fd < 0) fatal_error(VEK_ERR(kErrOpen), path);
  return fd;
}

void put_string(const char* s) { sys_write(1, s, static_cast<long>(str_len(s))); }

namespace {

// Shared engine of both formatter forms.  Emits pieces through `sink`.
template <typename Sink>
int format_engine(const char* fmt, const FmtArg* args, int nargs, Sink sink) {
  if (fmt == nullptr || *fmt == 0) return 0;
  std::array<char, 64> stage;
  int staged = 0;
  int total = 0;
  int next = 0;
  auto flush = [&]() {
    if (staged > 0) {
      sink(stage.data(), staged);
      total += staged;
      staged = 0;
    }
  };
  auto stage_char = [&](char c) {
    if (staged == static_cast<int>(stage.size())) flush();
    stage[static_cast<std::size_t>(staged++)] = c;
  };
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      stage_char(*p);
      continue;
    }
    const char* q = p + 1;
    int ells = 0;
    while (*q == 'l' && ells < 2) {
      ++q;
      ++ells;
    }
    char c = *q;
    if (c == 0) break;  // a % at the very end is dropped
    p = q;
    if (c == 'd' || c == 'i' || c == 'u') {
      std::int32_t v = next < nargs ? args[next].num : 0;
      if (next < nargs && args[next].kind == FmtArg::kStr) v = 0;
      ++next;
      char num[16];
      int n = c == 'u' ? format_unsigned(num, static_cast<std::uint32_t>(v)) : format_signed(num, v);
      for (int i = 0; i < n; ++i) stage_char(num[i]);
      flush();
    } else if (c == 's') {
      const char* s = next < nargs ? args[next].str : nullptr;
      if (next < nargs && args[next].kind == FmtArg::kNum) s = nullptr;
      ++next;
      if (s == nullptr) s = "(null)";
      flush();
      int n = static_cast<int>(str_len(s));
      if (n > 0) {
        sink(s, n);
        total += n;
      }
    } else {
      stage_char(c);
    }
  }
  flush();
  return total;
}

}  // namespace

int format_out_v(int fd, const char* fmt, const FmtArg* args, int nargs) {
  return format_engine(fmt, args, nargs, [fd](const char* s, int n) { sys_write(fd, s, n); });
}

int format_buf_v(char* dst, const char* fmt, const FmtArg* args, int nargs) {
  if (dst == nullptr) return 0;
  int pos = 0;
  format_engine(fmt, args, nargs, [&](const char* s, int n) {
    for (int i = 0; i < n; ++i) dst[pos++] = s[i];
  });
  dst[pos] = 0;
  return pos;
}

namespace {
std::array<char, 4096> line_buf;
int line_pos = 0;
int line_end = 0;
}  // namespace

int read_line_buffered(int fd, char* buf, int len) {
  if (buf == nullptr || fd < 0 || len < 0) {
    line_pos = line_end = 0;
    return 0;
  }
  int n = 0;
  while (n < len) {
    if (line_pos >= line_end) {
      long r = plat::read(fd, line_buf.data(), line_buf.size());
      if (r <= 0) {
        line_pos = line_end = 0;
        break;
      }
      line_pos = 0;
      line_end = static_cast<int>(r);
    }
    char c = line_buf[static_cast<std::size_t>(line_pos++)];
    buf[n++] = c;
    if (c == '\n') break;
  }
  return n;
}

}  // namespace vek
