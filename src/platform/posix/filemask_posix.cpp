// The file-creation mask on POSIX.
#include <sys/stat.h>

#include "platform/platform.h"

namespace vek::plat {

unsigned file_mask() {
  // umask can only be read by setting it: put the old value back at once.
  const mode_t old = ::umask(0);
  ::umask(old);
  return static_cast<unsigned>(old) & 0777u;
}

void set_file_mask(unsigned mask) { ::umask(static_cast<mode_t>(mask & 0777u)); }

}  // namespace vek::plat
