// Descriptor I/O: checked wrappers around the platform calls, the central
// write operation and the program's own formatter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "platform/platform.h"

namespace vek {

// Bit 30 of a descriptor argument of sys_write: bypass console processing.
inline constexpr int kRawWrite = 0x40000000;

// Every failure is reported as error 16 with the call's name.
long sys_read(int fd, void* buf, long len);
long sys_write(int fd, const void* buf, long len);
std::int64_t sys_lseek(int fd, std::int64_t off, int whence);
int sys_close(int fd);
int sys_dup2(int from, int to);
int sys_ftruncate(int fd, std::int64_t size);
bool sys_getcwd(char* buf, int size);
int sys_dup(int fd);
bool sys_isatty(int fd);
// Normalises the path in place and opens it.  Exclusive creation fails
// quietly (sets $? and returns -1); other failures are error 9.
int sys_open(char* path, int flags);

inline long sys_write(int fd, std::string_view s) {
  return sys_write(fd, s.data(), static_cast<long>(s.size()));
}
// Writes a text of the interpreter's own (a message in code page 850).
// On a terminal that shows UTF-8 its characters are shown as such; files
// and pipes get the bytes as they are.
long sys_write_message(int fd, const char* text, long len);
inline long sys_write_message(int fd, std::string_view s) {
  return sys_write_message(fd, s.data(), static_cast<long>(s.size()));
}
// Writes a text that may be the user's as well as the interpreter's (the
// object of a message): UTF-8 text as it is, anything else as a message.
long sys_write_text(int fd, std::string_view text);

// While one lives, a write that fails is dropped instead of reported: for
// the last words of a process whose terminal may be gone (the signal
// line, "input not_a_tty"), where a report would fail as well and turn
// the end of the session into an endless return to the prompt.
class WriteFailuresDropped {
 public:
  WriteFailuresDropped();
  ~WriteFailuresDropped();
  WriteFailuresDropped(const WriteFailuresDropped&) = delete;
  WriteFailuresDropped& operator=(const WriteFailuresDropped&) = delete;

 private:
  bool before_;
};
// Whether descriptor fd is a console, asked by every write to 0..9.  The
// answer for 0..9 is kept until the descriptor changes: sys_dup2,
// sys_close and sys_open forget it themselves; code that changes one of
// these descriptors with the platform calls directly says so with
// descriptor_changed (-1: all of them).
bool is_console(int fd);
void descriptor_changed(int fd);
// The cached answer itself (-1 unknown, 0 no, 1 yes), for code that moves
// a descriptor onto 0..9 and back and knows what it refers to.
int console_known(int fd);
void set_console_known(int fd, int state);

// Writes the NUL-terminated string to descriptor 1.
void put_string(const char* s);

// One formatter argument: a 32-bit number or a string.
struct FmtArg {
  enum Kind { kNum, kStr } kind;
  std::int32_t num;
  const char* str;
  FmtArg(const char* s) : kind(kStr), num(0), str(s) {}
  FmtArg(char* s) : kind(kStr), num(0), str(s) {}
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  FmtArg(T v) : kind(kNum), num(static_cast<std::int32_t>(v)), str(nullptr) {}
};

// format_out knows %d, %i, %u and %s (with up to two ignored l's); any
// other character after % is written literally.  Descriptor form writes
// each piece with sys_write; returns the number of bytes produced.
int format_out_v(int fd, const char* fmt, const FmtArg* args, int nargs);
// Buffer form: stores the result and a NUL; returns its length.
int format_buf_v(char* dst, const char* fmt, const FmtArg* args, int nargs);

template <typename... A>
int format_out(int fd, const char* fmt, A... a) {
  const FmtArg args[] = {FmtArg(a)..., FmtArg(static_cast<const char*>(nullptr))};
  return format_out_v(fd, fmt, args, static_cast<int>(sizeof...(A)));
}
template <typename... A>
int format_buf(char* dst, const char* fmt, A... a) {
  const FmtArg args[] = {FmtArg(a)..., FmtArg(static_cast<const char*>(nullptr))};
  return format_buf_v(dst, fmt, args, static_cast<int>(sizeof...(A)));
}

// Line reader over one shared 4096-byte buffer.  A null buf, negative fd
// or negative len discards the buffered data.
int read_line_buffered(int fd, char* buf, int len);

}  // namespace vek
