#include "core/shell.h"

namespace vek {

int aux_result = -1;
int glob_name_count = 0;
int last_arg_count = 0;
int background_pid = 0;
int command_counter = 0;
int command_line_count = 0;
int in_prompt = 0;
std::array<char, 260> program_path{};

void reset_core_state() {
  aux_result = -1;
  glob_name_count = 0;
  last_arg_count = 0;
  background_pid = 0;
  command_counter = 0;
  command_line_count = 0;
  in_prompt = 0;
  program_path.fill(0);
}

}  // namespace vek
