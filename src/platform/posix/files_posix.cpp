// POSIX: descriptor duplicates above the user's range, descriptor status,
// link-aware existence and the current directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

namespace vek::plat {

long read_at(int fd, void* buf, std::size_t len, std::int64_t offset) {
  ssize_t r;
  do {
    r = ::pread(fd, buf, len, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

long write_at(int fd, const void* buf, std::size_t len, std::int64_t offset) {
  ssize_t r;
  do {
    r = ::pwrite(fd, buf, len, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  return static_cast<long>(r);
}

int dup_high(int fd) {
  int r = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  if (r >= 0) posix::copy_text_mode(fd, r);
  return r;
}

bool same_file(int a, int b) {
  struct stat sa;
  struct stat sb;
  if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool descriptor_status(int fd, unsigned& mode, std::int64_t& size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  mode = static_cast<unsigned>(st.st_mode);
  size = static_cast<std::int64_t>(st.st_size);
  return true;
}

bool path_exists(const char* path) {
  char host[4096];
  struct stat st;
  return host_path(path, host, sizeof host) && ::lstat(host, &st) == 0;
}

bool change_dir(const char* path) {
  char host[4096];
  return host_path(path, host, sizeof host) && ::chdir(host) == 0;
}

}  // namespace vek::plat
