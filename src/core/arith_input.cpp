// ((...)) and $((...)): the arithmetic evaluator reading straight from the
// input, behind the scanner's hook.
#include "core/hooks.h"
#include "core/input_source.h"
#include "session/input.h"
#include "vars/arith.h"

namespace vek {

namespace {

int refill_from_input(CharSource&) { return fill_input(); }

CharSource input_source{&input.rp, &input.end, refill_from_input};

}  // namespace

CharSource& input_char_source() { return input_source; }

bool arithmetic_evaluate(std::int32_t& value, int& base) {
  const ArithResult r = arith_evaluate(input_source, variable_scope(), ArithText::kInput);
  value = r.value;
  base = r.base;
  return r.ok;
}

}  // namespace vek
