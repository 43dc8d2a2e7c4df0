// Builtins that start other programs: the line for the system command
// interpreter.
#include "builtins/builtins.h"
#include "core/shell.h"
#include "support/errors.h"

namespace vek {

// A drive change or an upper-case word: the whole line, joined with
// single blanks, goes to the system command interpreter, which the
// process layer starts.  Until it is there the line cannot run.
int bi_system_line(const BuiltinCall& call) {
  for (int i = 1; i < call.argc; ++i) call.argv[i][-1] = ' ';
  last_status = 1;
  shell_error(VEK_ERR(kErrNotFound), call.argv[0]);
  return 0;
}

}  // namespace vek
