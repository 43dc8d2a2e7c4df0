// let: each argument is an arithmetic expression (several may be
// separated by `;`); the exit status says whether the last value is
// non-zero.
#include "builtins/builtins.h"
#include "session/input.h"
#include "support/state.h"
#include "vars/arith.h"

namespace vek {

int bi_let(int argc, char** argv) {
  if (argc < 2) return 1;
  const VarScope scope = variable_scope();
  std::int32_t last = 0;
  for (int i = 1; i < argc; ++i) {
    TextSource text(argv[i]);
    const ArithResult r = arith_evaluate(text.source(), scope, ArithText::kArgument);
    // An error that continued abandons the command with its status.
    if (!r.ok) return last_status;
    last = r.value;
  }
  return last != 0 ? 0 : 1;
}

}  // namespace vek
