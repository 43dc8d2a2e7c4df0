// The builtins that live inside the executor because they act on the
// interpreter's own state.
#pragma once

namespace vek {

// Index used internally to hand a whole command line to the system
// command interpreter.
inline constexpr int kSystemLine = 60;

// Runs executor builtin `index` for the command words[0..argc-1] (which
// end in slot `end`).  Returns the index or a control code.
int run_executor_builtin(int index, int argc, char** words, int end, int pos);

}  // namespace vek
