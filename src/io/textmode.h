// Text mode for files that a builtin opens itself (cat -T, cut -T,
// tee -T): the file is opened in binary and the line ends are translated
// here, the way a text-mode descriptor does it: CR LF becomes LF when
// read, LF becomes CR LF when written.  Descriptors that were not opened
// in text mode are read and written unchanged.
#pragma once

namespace vek {

// Reads a descriptor and hands out its bytes with every CR LF turned into
// LF.  A CR at the end of one read is kept back until the next read shows
// whether LF follows.
class TextModeReader {
 public:
  explicit TextModeReader(int fd) : fd_(fd) {}
  // Like a read of at most len bytes (len of 2 or more): the number of
  // bytes stored, 0 at the end of the data, -1 on a read error.
  long read(char* buf, long len);

 private:
  int fd_;
  bool cr_held_ = false;
};

// Writes len bytes to fd with every LF written as CR LF (through
// sys_write); returns len.
long text_mode_write(int fd, const char* buf, long len);

}  // namespace vek
