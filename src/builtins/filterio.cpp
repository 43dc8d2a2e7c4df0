#include "builtins/filterio.h"

#include <array>

#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

namespace {
std::array<char, kFilterBlock> shared_block;
}  // namespace

char* filter_block() { return shared_block.data(); }

int open_operand(char* path) {
  path_normalize(path);
  return plat::open(path, plat::kRead | plat::kBinary);
}

long read_quiet(int fd, char* buf, long len, bool* failed) {
  if (len <= 0) return 0;
  const long r = plat::read(fd, buf, static_cast<std::size_t>(len));
  // A long run through a large input is a safe point for signals.
  check_signal();
  if (r < 0 || r > len) {
    if (failed != nullptr) *failed = true;
    return 0;
  }
  return r;
}

bool FilterInput::open(char* path, bool text) {
  close();
  fd_ = open_operand(path);
  if (fd_ < 0) return false;
  owned_ = true;
  text_ = text;
  text_reader_ = TextModeReader(fd_);
  return true;
}

void FilterInput::close() {
  if (owned_ && fd_ >= 0) plat::close(fd_);
  fd_ = -1;
  owned_ = false;
  text_ = false;
}

long FilterInput::read(char* buf, long len, bool* failed) {
  if (!text_) return read_quiet(fd_, buf, len, failed);
  const long r = text_reader_.read(buf, len);
  check_signal();
  if (r < 0) {
    if (failed != nullptr) *failed = true;
    return 0;
  }
  return r;
}

}  // namespace vek
