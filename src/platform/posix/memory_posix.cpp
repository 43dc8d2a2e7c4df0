// POSIX: how much memory the process can still obtain.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace vek::plat {

namespace {

// The value in kB of one "Name:   value kB" line of /proc/meminfo, or -1.
std::int64_t meminfo_field(const char* text, const char* name) {
  const char* p = std::strstr(text, name);
  if (p == nullptr) return -1;
  p += std::strlen(name);
  while (*p == ' ' || *p == '\t') ++p;
  std::int64_t v = 0;
  bool any = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    any = true;
  }
  return any ? v : -1;
}

}  // namespace

std::uint64_t memory_available() {
  // Linux tells what can be had without swapping (page cache included)
  // and what swap is left.
  int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[4096];
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n > 0) {
      text[n] = '\0';
      const std::int64_t avail = meminfo_field(text, "\nMemAvailable:");
      const std::int64_t swap = meminfo_field(text, "\nSwapFree:");
      if (avail >= 0) return static_cast<std::uint64_t>(avail + (swap > 0 ? swap : 0)) * 1024u;
    }
  }
#ifdef _SC_AVPHYS_PAGES
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0) return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
#endif
  return UINT64_MAX;
}

}  // namespace vek::plat
