// The file-creation mask on Win32: the C runtime's mask, which decides
// whether a newly created file is read-only.
#include <io.h>
#include <sys/stat.h>

#include "platform/platform.h"

namespace vek::plat {

unsigned file_mask() {
  const int old = ::_umask(0);
  ::_umask(old);
  return static_cast<unsigned>(old) & 0777u;
}

void set_file_mask(unsigned mask) { ::_umask(static_cast<int>(mask & 0777u)); }

}  // namespace vek::plat
