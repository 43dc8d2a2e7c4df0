// Status and flow builtins of the executor: `:`, true, kill, link and nop
// (nothing to do), false [n], inv and exit.
#include "builtins/builtins.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"

namespace vek {

int bi_nothing(const BuiltinCall& /*call*/) { return 0; }

// false [n]: $? becomes n (1 without an operand).
int bi_false(const BuiltinCall& call) {
  last_status = call.number;
  return 0;
}

int bi_inv(const BuiltinCall& /*call*/) {
  last_status = last_status == 0 ? 1 : 0;
  return 0;
}

// exit [-P] [n]: ends the process (under option P only when forced).
int bi_exit(const BuiltinCall& call) {
  int i = 1;
  bool forced = false;
  if (i < call.argc && str_compare(call.argv[i], "-P") == 0) {
    forced = true;
    ++i;
  }
  if (opt('P') && !(forced && call.argc - i <= 1)) {
    skip_flags = 0;
    reset_redirections(ResetMode::kQuiet);
    if (input.mode & kModeConsole) sys_write(2, "Benutze  exit -P [n]\r\n");
    throw TopLevelAbort{};
  }
  int status = i < call.argc ? parse_decimal(call.argv[i]) : last_status;
  run_trap(0, 0, 0);
  session_cleanup(CleanupMode::kExit);
  throw ProcessExit{status};
}

}  // namespace vek
