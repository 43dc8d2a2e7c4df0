#include "vars/special.h"

#include <cstdint>

#include "platform/platform.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

std::array<char, 128> ifs_text{};
std::array<unsigned char, 256> ifs_table{};

namespace {

std::uint32_t random_seed = 1;
std::int64_t seconds_base = 0;

int draw_random() {
  random_seed = random_seed * 22695477u + 1u;
  return static_cast<int>((random_seed >> 16) & 0x7FFF);
}

void set_ifs(const char* text) {
  const std::size_t n = copy_truncated(ifs_text, text);
  ifs_table.fill(0);
  for (std::size_t i = 0; i < n; ++i) ifs_table[static_cast<unsigned char>(ifs_text[i])] = 1;
}

bool same(const char* a, const char* b) { return str_compare(a, b) == 0; }

}  // namespace

void special_init() {
  set_ifs("\t \r\n");
  random_seed = 1;
  seconds_base = start_time;
}

void special_read(const VarScope& scope, const char* name) {
  if (name[0] == 'R' && same(name, "RANDOM")) {
    var_set_number(scope, "RANDOM", draw_random());
  } else if (name[0] == 'S' && same(name, "SECONDS")) {
    var_set_number(scope, "SECONDS", static_cast<std::int32_t>(plat::time_now() - seconds_base));
  }
}

void special_assign(const char* name, const char* value) {
  if (same(name, "RANDOM")) {
    random_seed = static_cast<std::uint32_t>(parse_decimal(value));
    draw_random();
  } else if (same(name, "SECONDS")) {
    seconds_base = plat::time_now() + parse_decimal(value);
  } else if (same(name, "IFS")) {
    set_ifs(value);
  }
}

}  // namespace vek
