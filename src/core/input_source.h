// The input reader as a character source: the arithmetic evaluator and
// the subscript reader read the reader's buffer in place, refilling it
// through fill_input as the scanner does.
#pragma once

#include "vars/charsource.h"

namespace vek {

CharSource& input_char_source();

}  // namespace vek
