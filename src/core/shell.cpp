#include "core/shell.h"

namespace vek {

int aux_result = -1;
int glob_name_count = 0;
int last_arg_count = 0;
int command_counter = 0;
int command_line_count = 0;
int in_prompt = 0;

void reset_core_state() {
  aux_result = -1;
  glob_name_count = 0;
  last_arg_count = 0;
  command_counter = 0;
  command_line_count = 0;
  in_prompt = 0;
  reset_process_state();
}

}  // namespace vek
