// What the byte filters (cat, wc, tee, rel, crc, tr, cut, sum, base,
// sortl) share: opening the files they name without a report, reading
// without a report, and a block buffer for their output.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "io/fdio.h"
#include "io/textmode.h"

namespace vek {

// The filters read and write plain copies in blocks of this size (large
// blocks keep the number of system calls per megabyte low).  The one
// block they share is filter_block(): no filter runs inside another.
inline constexpr std::size_t kFilterBlock = 65536;
char* filter_block();

// Opens a file operand for reading; -1 when it cannot be opened (nothing
// is reported: each filter decides what that means).  The path is
// normalised in place, as for every open.
int open_operand(char* path);

// Reads up to len bytes from fd.  Returns the number read, 0 at the end
// and also after a read error (which sets *failed when it is given).  A
// signal that interrupted the read is acted on.
long read_quiet(int fd, char* buf, long len, bool* failed = nullptr);

// One input of a filter: a descriptor read in binary, or in text mode
// (CR LF becomes LF).  Closes a descriptor it opened.
class FilterInput {
 public:
  FilterInput() = default;
  FilterInput(const FilterInput&) = delete;
  FilterInput& operator=(const FilterInput&) = delete;
  ~FilterInput() { close(); }

  // Standard input (descriptor 0, binary).
  void use_stdin() {
    close();
    fd_ = 0;
    owned_ = false;
    text_ = false;
  }
  // Opens a file operand; false when it cannot be opened.
  bool open(char* path, bool text);
  void close();
  // As read_quiet.
  long read(char* buf, long len, bool* failed = nullptr);
  int fd() const { return fd_; }
  bool text() const { return text_; }

 private:
  int fd_ = -1;
  bool owned_ = false;
  bool text_ = false;
  TextModeReader text_reader_{-1};
};

// Output collected in a block of N bytes and written whenever it is full
// and at flush.
template <std::size_t N>
class BlockOut {
 public:
  explicit BlockOut(int fd) : fd_(fd) {}
  BlockOut(const BlockOut&) = delete;
  BlockOut& operator=(const BlockOut&) = delete;

  void put(char c) {
    if (len_ == N) flush();
    buf_[len_++] = c;
  }
  void put(const char* p, std::size_t n) {
    while (n > 0) {
      if (len_ == N) flush();
      const std::size_t k = std::min(n, N - len_);
      std::copy_n(p, k, buf_.data() + len_);
      len_ += k;
      p += k;
      n -= k;
    }
  }
  void put(std::string_view s) { put(s.data(), s.size()); }
  // Room for at least n more bytes without a write in between.
  void reserve(std::size_t n) {
    if (N - len_ < n) flush();
  }
  void flush() {
    if (len_ != 0) sys_write(fd_, buf_.data(), static_cast<long>(len_));
    len_ = 0;
  }
  bool empty() const { return len_ == 0; }
  std::size_t size() const { return len_; }
  const char* data() const { return buf_.data(); }

 private:
  int fd_;
  std::size_t len_ = 0;
  std::array<char, N> buf_;
};

}  // namespace vek
