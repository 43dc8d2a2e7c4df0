// Builtins whose layers are still to come report "not available" (error
// 31) with their name.  Each definition here goes away when its builtin
// family gets its own source; bi_unavailable stands for every executor
// builtin not built yet.
#include "builtins/builtins.h"
#include "support/errors.h"

namespace vek {

namespace {
int unavailable(char** argv) {
  shell_error(VEK_ERR(kErrUnavailable), argv[0]);
  return 1;
}
}  // namespace

int bi_unavailable(const BuiltinCall& call) {
  unavailable(call.argv);
  return 0;
}

int bi_list(int, char** argv) { return unavailable(argv); }
int bi_move(int, char** argv) { return unavailable(argv); }
int bi_remove(int, char** argv) { return unavailable(argv); }
int bi_copy(int, char** argv) { return unavailable(argv); }
int bi_mkdirs(int, char** argv) { return unavailable(argv); }
int bi_fstat(int, char** argv) { return unavailable(argv); }
int bi_ctime(int, char** argv) { return unavailable(argv); }
int bi_systime(int, char** argv) { return unavailable(argv); }
int bi_mktemp(int, char** argv) { return unavailable(argv); }

}  // namespace vek
