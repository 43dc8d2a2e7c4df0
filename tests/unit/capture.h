// Test helpers: a descriptor redirected into a temporary file while it
// lives, handing back what was written; a temporary file with given bytes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

// A file in the temporary directory with the given bytes, removed again.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    char name[] = "/tmp/vek-test-XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    if (!bytes.empty()) {
      EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    close(fd);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::string read() const {
    std::string s;
    if (FILE* f = std::fopen(path_.c_str(), "rb")) {
      char buf[4096];
      for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
      std::fclose(f);
    }
    return s;
  }

 private:
  std::string path_;
};

}  // namespace vek::testing_support
