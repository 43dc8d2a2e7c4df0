#include "core/shell.h"

namespace vek {

std::array<unsigned char, kOptionCount> shell_options{};
unsigned char escape_char = '%';
int last_status = 0;
int aux_result = -1;
int glob_name_count = 0;
int last_arg_count = 0;
int background_pid = 0;
int command_counter = 0;
unsigned skip_flags = 0;
int command_line_count = 0;
int in_prompt = 0;
std::int64_t start_time = 0;
std::array<char, 260> program_path{};

}  // namespace vek
