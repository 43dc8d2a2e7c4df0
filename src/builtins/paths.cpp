// Path builtins: dirname, basename and fullname.  Paths are taken in the
// interpreter's form; "/" counts as "\".
#include <array>

#include "builtins/builtins.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

constexpr int kPathMax = 512;

bool has_drive(const char* p) {
  return (((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z') && p[1] == ':');
}

}  // namespace

// dirname path: the path without its last component.
int bi_dirname(const BuiltinCall& call) {
  if (call.argc < 2 || call.argv[1][0] == 0) {
    last_status = 1;
    return 0;
  }
  std::array<char, kPathMax> path{};
  concat_strings_n(kPathMax, path.data(), {call.argv[1]});
  slash_to_backslash(path.data());
  const bool rooted = path[0] == '\\';
  std::size_t n = str_len(path.data());
  while (n > 0 && path[n - 1] == '\\') --n;
  while (n > 0 && path[n - 1] != '\\') --n;
  while (n > 0 && path[n - 1] == '\\') --n;
  path[n] = 0;
  format_out(1, "%s\r\n", n > 0 ? path.data() : (rooted ? "\\" : "."));
  return 0;
}

// basename path: the part after the last "\".
int bi_basename(const BuiltinCall& call) {
  if (call.argc < 2 || call.argv[1][0] == 0) {
    last_status = 1;
    return 0;
  }
  const char* p = call.argv[1];
  const char* last = p;
  for (; *p != 0; ++p)
    if (*p == '\\' || *p == '/') last = p + 1;
  format_out(1, "%s\r\n", last);
  return 0;
}

// fullname [-v var] path ...: each path made absolute (".." stays).
int bi_fullname(const BuiltinCall& call) {
  int i = 1;
  const char* variable = nullptr;
  if (i < call.argc && str_compare(call.argv[i], "-v") == 0) {
    if (i + 1 >= call.argc) {
      last_status = 2;
      return 0;
    }
    variable = call.argv[i + 1];
    if (!name_check(variable)) fatal_error(VEK_ERR(kErrBadName), variable);
    i += 2;
  }
  for (; i < call.argc; ++i) {
    std::array<char, kPathMax> given{};
    concat_strings_n(kPathMax, given.data(), {call.argv[i]});
    slash_to_backslash(given.data());
    std::array<char, kPathMax> full{};
    if (given[0] == '\\' || has_drive(given.data())) {
      full = given;
    } else {
      std::array<char, 260> cwd{};
      sys_getcwd(cwd.data(), static_cast<int>(cwd.size()));
      const char* rest = given.data();
      if (rest[0] == '.' && rest[1] == 0) rest = "";
      else if (rest[0] == '.' && rest[1] == '\\') rest += 2;
      concat_strings_n(kPathMax, full.data(), {cwd.data(), "\\", rest});
    }
    collapse_backslashes(full.data());
    if (variable != nullptr) var_set(variable_scope(), variable, VarValue::text(full.data()));
    else format_out(1, "%s\r\n", full.data());
  }
  return 0;
}

}  // namespace vek
