#include "proc/directory.h"

#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/search.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

std::array<char, 260> current_directory{};

namespace {

bool has_drive(const char* p) {
  return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

}  // namespace

const char* refresh_current_directory() {
  sys_getcwd(current_directory.data(), static_cast<int>(current_directory.size()));
  return current_directory.data();
}

void make_absolute(std::array<char, 512>& result, const char* path) {
  std::array<char, 511> out{};
  const int size = static_cast<int>(out.size());
  if (has_drive(path)) {
    concat_strings_n(size, out.data(), {path});
  } else if (path[0] == '\\') {
    const char* cwd = refresh_current_directory();
    if (has_drive(cwd)) {
      const char drive[3] = {cwd[0], ':', 0};
      concat_strings_n(size, out.data(), {drive, path});
    } else {
      concat_strings_n(size, out.data(), {path});
    }
  } else {
    const char* rest = (path[0] == '.' && path[1] == '\\') ? path + 2 : path;
    concat_strings_n(size, out.data(), {refresh_current_directory(), "\\", rest});
  }
  concat_strings_n(static_cast<int>(result.size()), result.data(), {out.data()});
}

int change_directory(const char* path) {
  if (file_test('d', path) == 0) return 1;
  std::array<char, 512> target{};
  concat_strings_n(static_cast<int>(target.size()), target.data(), {path});
  path_normalize(target.data());
  // A bare drive prefix is the root of that drive; the platform selects
  // the drive along with the directory.
  if (has_drive(target.data()) && target[2] == 0) {
    target[2] = '\\';
    target[3] = 0;
  }
  return plat::change_dir(target.data()) ? 0 : 1;
}

}  // namespace vek
