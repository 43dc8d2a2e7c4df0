#include "io/textmode.h"

#include <array>

#include "io/fdio.h"
#include "platform/platform.h"

namespace vek {

long TextModeReader::read(char* buf, long len) {
  if (len < 2) return -1;
  for (;;) {
    // A CR kept back from the last read goes first.
    long start = 0;
    if (cr_held_) buf[start++] = '\r';
    const long r = plat::read(fd_, buf + start, static_cast<std::size_t>(len - start));
    if (r < 0) return -1;
    if (r == 0) {
      // At the end a kept-back CR is data of its own.
      cr_held_ = false;
      return start;
    }
    long n = start + r;
    // A CR at the very end may be the first half of CR LF.
    cr_held_ = buf[n - 1] == '\r';
    if (cr_held_) --n;
    long out = 0;
    for (long i = 0; i < n; ++i) {
      if (buf[i] == '\r' && i + 1 < n && buf[i + 1] == '\n') continue;
      buf[out++] = buf[i];
    }
    // A read that brought only a kept-back CR must not look like the end.
    if (out > 0) return out;
  }
}

long text_mode_write(int fd, const char* buf, long len) {
  std::array<char, 8192> stage;
  std::size_t n = 0;
  for (long i = 0; i < len; ++i) {
    if (n + 2 > stage.size()) {
      sys_write(fd, stage.data(), static_cast<long>(n));
      n = 0;
    }
    if (buf[i] == '\n') stage[n++] = '\r';
    stage[n++] = buf[i];
  }
  if (n > 0) sys_write(fd, stage.data(), static_cast<long>(n));
  return len;
}

}  // namespace vek
