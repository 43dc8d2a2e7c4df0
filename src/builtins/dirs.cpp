// Directory builtins: pwd.
#include <array>

#include "builtins/builtins.h"
#include "io/fdio.h"
#include "session/input.h"
#include "vars/varstore.h"

namespace vek {

// pwd: writes the current directory and stores it in PWD.
int bi_pwd(const BuiltinCall& /*call*/) {
  std::array<char, 260> cwd{};
  sys_getcwd(cwd.data(), static_cast<int>(cwd.size()));
  store_set(variable_scope(), global_store, "PWD", VarValue::text(cwd.data()));
  format_out(1, "%s\r\n", cwd.data());
  return 0;
}

}  // namespace vek
