// The arithmetic evaluator behind `let`, `$((...))` and `((...))`: 32-bit
// integers that wrap, evaluated while the text is read, with two fixed
// stacks and no allocation.
#pragma once

#include <cstdint>

#include "vars/charsource.h"
#include "vars/varstore.h"

namespace vek {

// Skip bit held while the unused branch of a conditional `?:` is read:
// nothing is looked up, computed or assigned there.
inline constexpr unsigned kSkipArithmetic = 0x800;

// Fixed limits of one evaluation.
inline constexpr int kArithValues = 24;     // value stack entries
inline constexpr int kArithOperators = 24;  // operator stack entries
inline constexpr int kArithNameArea = 212;  // bytes for the names of stacked values
inline constexpr int kArithNumberText = 38; // characters of one number

// What the text is: one argument of `let`, which ends at its NUL, or the
// input after `((` / `$((`, which ends with the closing `))` (read too).
enum class ArithText { kArgument, kInput };

struct ArithResult {
  std::int32_t value = 0;
  int base = 0;     // output base selected by an empty `b#`; 0 for none
  bool ok = false;  // false: a continued error abandoned the expression
};

// Evaluates the expressions of one source (several are separated by `;`;
// the last value counts).  Errors are reported as error 24 (22 for an
// unset variable under option u); when such an error continues, the rest
// of an input expression is passed over up to its `))` and the result
// is not ok.  While skip flags are set the text is only read.
ArithResult arith_evaluate(CharSource& src, const VarScope& scope, ArithText kind);

}  // namespace vek
