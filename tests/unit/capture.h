// Test helper: redirects a descriptor into a temporary file while it lives
// and hands back what was written.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace vek::testing_support {

class Capture {
 public:
  explicit Capture(int fd) : fd_(fd), file_(std::tmpfile()) {
    std::fflush(nullptr);
    saved_ = dup(fd_);
    dup2(fileno(file_), fd_);
  }
  ~Capture() {
    restore();
    std::fclose(file_);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::string text() {
    restore();
    std::string s;
    std::rewind(file_);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) s.append(buf, n);
    return s;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }
  int fd_;
  FILE* file_;
  int saved_ = -1;
};

}  // namespace vek::testing_support
