#include "support/state.h"

namespace vek {

std::array<unsigned char, kOptionCount> shell_options{};
unsigned char escape_char = kDefaultEscape;
int last_status = 0;
std::int64_t start_time = 0;
unsigned skip_flags = 0;
std::int32_t timezone_offset = 0;

void reset_shared_state() {
  shell_options.fill(0);
  escape_char = kDefaultEscape;
  last_status = 0;
  start_time = 0;
  skip_flags = 0;
  timezone_offset = 0;
}

}  // namespace vek
