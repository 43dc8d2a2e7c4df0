// POSIX: directory listing for file-name generation.
#include <dirent.h>

#include "platform/platform.h"

namespace vek::plat {

namespace {
struct DirCloser {
  DIR* d;
  ~DirCloser() { ::closedir(d); }
};
}  // namespace

bool list_directory(const char* path, DirVisitor visit, void* context) {
  char host[4096];
  if (!host_path(path, host, sizeof host)) return false;
  DIR* d = ::opendir(host);
  if (d == nullptr) return false;
  DirCloser closer{d};
  while (const dirent* e = ::readdir(d)) {
    if (!visit(context, e->d_name)) break;
  }
  return true;
}

bool names_ignore_case() { return false; }

}  // namespace vek::plat
