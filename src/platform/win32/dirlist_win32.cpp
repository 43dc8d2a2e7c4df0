// Win32: directory listing for file-name generation.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace vek::plat {

namespace {
struct FindCloser {
  HANDLE h;
  ~FindCloser() { ::FindClose(h); }
};
}  // namespace

bool list_directory(const char* path, DirVisitor visit, void* context) {
  // The search pattern is the directory followed by "\*".
  char host[1024];
  if (!host_path(path, host, sizeof host - 3)) return false;
  std::size_t n = std::strlen(host);
  if (n > 0 && host[n - 1] != '\\' && host[n - 1] != ':') host[n++] = '\\';
  host[n++] = '*';
  host[n] = 0;
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA(host, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindCloser closer{h};
  do {
    if (!visit(context, data.cFileName)) break;
  } while (::FindNextFileA(h, &data));
  return true;
}

bool names_ignore_case() { return true; }

}  // namespace vek::plat
