// Directory builtins: pwd, cd and chdir.
#include <array>

#include "builtins/builtins.h"
#include "io/fdio.h"
#include "proc/directory.h"
#include "proc/search.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

void set_global(const char* name, const char* value) {
  store_set(variable_scope(), global_store, name, VarValue::text(value));
}

// Paths that are changed to as they are, without CDPATH: absolute ones,
// those with a drive, and those beginning with "." or "..".
bool direct_only(const char* p) {
  if (p[0] == '\\') return true;
  if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') return true;
  if (p[0] == '.' && (p[1] == 0 || p[1] == '\\')) return true;
  return p[0] == '.' && p[1] == '.' && (p[2] == 0 || p[2] == '\\');
}

}  // namespace

// pwd: writes the current directory and stores it in PWD.
int bi_pwd(const BuiltinCall& /*call*/) {
  const char* cwd = refresh_current_directory();
  set_global("PWD", cwd);
  format_out(1, "%s\r\n", cwd);
  return 0;
}

// cd [directory] (also chdir): HOME without an operand, OLDPWD for "-",
// else the directory as given and then along CDPATH.  Sets OLDPWD and PWD.
int bi_cd(int argc, char** argv) {
  if (argc > 2) fatal_error(VEK_ERR(kErrArguments), "cd/chdir");
  std::array<char, 512> target{};
  bool changed = true;
  const char* before = refresh_current_directory();
  std::array<char, 260> old{};
  copy_truncated(old, before);
  if (argc < 2) {
    concat_strings_n(static_cast<int>(target.size()), target.data(), {home_directory.data()});
  } else {
    concat_strings_n(static_cast<int>(target.size()), target.data(), {argv[1]});
    path_normalize(target.data());
  }
  if (target[0] == '-' && target[1] == 0) {
    // The previous directory; none recorded: nothing to change.
    VarRecord* r = var_find(variable_scope(), "OLDPWD");
    if (r != nullptr) concat_strings_n(static_cast<int>(target.size()), target.data(), {r->value()});
    else target[0] = 0;
  }
  if (target[0] != 0) {
    changed = change_directory(target.data()) == 0;
    if (!changed && !direct_only(target.data())) {
      std::array<char, 512> candidate{};
      changed = for_each_entry(cd_search_list, [&](const char* entry) {
        concat_strings_n(static_cast<int>(candidate.size()), candidate.data(), {entry, "\\", target.data()});
        collapse_backslashes(candidate.data());
        return change_directory(candidate.data()) == 0;
      });
    }
    if (!changed) shell_error(VEK_ERR(kErrNoDirectory), target.data());
  }
  set_global("OLDPWD", old.data());
  set_global("PWD", refresh_current_directory());
  return changed ? 0 : 1;
}

}  // namespace vek
