// Interpreter state of the core: the special parameters kept outside the
// variable store, the prompt logic and the control codes that constructs
// pass outward.  The state every layer reads lives in support/state.h.
#pragma once

#include <array>
#include <cstdint>

#include "proc/process.h"
#include "support/state.h"

namespace vek {

// The special parameters kept outside the variable store.
extern int aux_result;         // $.
extern int glob_name_count;    // $]
extern int last_arg_count;     // $}
extern int command_counter;    // $:

// Prompt logic: line count of the current command and the in-prompt flag.
extern int command_line_count;
extern int in_prompt;

// Control codes passed outward by constructs.
inline constexpr int kEndOfInput = 255;
inline constexpr int kCompoundDone = 10;
inline constexpr int kAndOr = 511;         // &|
inline constexpr int kClosingBase = 512;   // 512 + index of a closing word
inline constexpr int kGoend = 0x400;
inline constexpr int kBreak = 0x800;
inline constexpr int kContinue = 0x1000;
inline constexpr int kReturn = 0x2000;

// Puts the values above into their start state.
void reset_core_state();

}  // namespace vek
