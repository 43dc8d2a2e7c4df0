// Traps: shell functions named trap_F_0 (exit), trap_F_1 (error abort)
// and trap_F_2 (signal abort).
#include <array>

#include "core/exec.h"
#include "io/fdio.h"
#include "session/diag.h"
#include "session/input.h"
#include "vars/varstore.h"

namespace vek {

namespace {
bool trap_running = false;
}

int run_trap(int n, int start_index, int buffer_pos) {
  if (n < 0 || n > 9) return 0;
  char name[] = "trap_F_0";
  name[7] = static_cast<char>('0' + n);
  VarRecord* rec = store_find(variable_scope(), global_store, name, kFunc);
  if (rec == nullptr) return 0;
  if (trap_running) {
    sys_write(2, "vek: Rekursiver oder zweiter trap!\r\n");
    return 0;
  }
  struct Mark {
    Mark() { trap_running = true; }
    ~Mark() { trap_running = false; }
  } mark;
  int slot = rec->int_value();
  if (slot < 0 || slot >= kFunctionSlots) return 0;
  prepared.param_count = input.param_count;
  prepared.params = input.params;
  prepared.param0 = input.param0;
  run_body(name, slot, kModeBody | kModeParams | kModeTrap, start_index + 1, buffer_pos);
  return 1;
}

}  // namespace vek
