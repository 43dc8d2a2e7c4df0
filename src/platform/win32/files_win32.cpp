// Win32: descriptor duplicates above the user's range, descriptor status,
// link-aware existence and the current directory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/platform.h"

namespace vek::plat {

// The runtime has no positioned transfer: move, transfer, move back.
long read_at(int fd, void* buf, std::size_t len, std::int64_t offset) {
  const std::int64_t here = ::_lseeki64(fd, 0, SEEK_CUR);
  if (here < 0 || ::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  const long r = ::_read(fd, buf, static_cast<unsigned>(len));
  ::_lseeki64(fd, here, SEEK_SET);
  return r;
}

long write_at(int fd, const void* buf, std::size_t len, std::int64_t offset) {
  const std::int64_t here = ::_lseeki64(fd, 0, SEEK_CUR);
  if (here < 0 || ::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  const long r = ::_write(fd, buf, static_cast<unsigned>(len));
  ::_lseeki64(fd, here, SEEK_SET);
  return r;
}

int dup_high(int fd) {
  // The runtime hands out the lowest free descriptor: take and give back
  // the low ones until one of 10 or above comes.
  int low[10];
  int nlow = 0;
  int r = ::_dup(fd);
  while (r >= 0 && r < 10 && nlow < 10) {
    low[nlow++] = r;
    r = ::_dup(fd);
  }
  for (int i = 0; i < nlow; ++i) ::_close(low[i]);
  if (r >= 0 && r < 10) {
    ::_close(r);
    return -1;
  }
  if (r >= 0) set_no_inherit(r);
  return r;
}

bool same_file(int a, int b) {
  BY_HANDLE_FILE_INFORMATION ia;
  BY_HANDLE_FILE_INFORMATION ib;
  HANDLE ha = reinterpret_cast<HANDLE>(::_get_osfhandle(a));
  HANDLE hb = reinterpret_cast<HANDLE>(::_get_osfhandle(b));
  if (ha == INVALID_HANDLE_VALUE || hb == INVALID_HANDLE_VALUE) return false;
  if (!::GetFileInformationByHandle(ha, &ia) || !::GetFileInformationByHandle(hb, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

bool descriptor_status(int fd, unsigned& mode, std::int64_t& size) {
  struct _stat64 st;
  if (::_fstat64(fd, &st) != 0) return false;
  mode = static_cast<unsigned>(st.st_mode);
  size = static_cast<std::int64_t>(st.st_size);
  return true;
}

bool path_exists(const char* path) {
  char host[1024];
  if (!host_path(path, host, sizeof host)) return false;
  return ::GetFileAttributesA(host) != INVALID_FILE_ATTRIBUTES;
}

bool change_dir(const char* path) {
  char host[1024];
  if (!host_path(path, host, sizeof host)) return false;
  return ::SetCurrentDirectoryA(host) != 0;
}

}  // namespace vek::plat
