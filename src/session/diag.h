// Diagnostics: the error table, the message line, the abort path and the
// exit clean-up.  The reporting calls themselves are declared with the
// error numbers in support/errors.h.
#pragma once

#include "support/errors.h"

namespace vek {

// Whether error `number` may continue under shell option C.
bool error_is_continuable(int number);

// Clears the abort guards and the clean-up mark.
void diag_init();

// The exit clean-up and its start-up half.
enum class CleanupMode {
  kStartup,     // install the signal handlers
  kExit,        // normal end or fatal abort: close and delete the internal files
  kBeforeExec,  // the same, before another program replaces the interpreter
};
void session_cleanup(CleanupMode mode);

// Set while the command being executed was ended by a line feed, so
// that messages name the line the command stands on.
extern bool command_ended_by_lf;

// Set while the profile runs: an error there ends only the profile.
extern bool profile_running;

// Runs trap n if defined (returns 1 if a body ran).
int run_trap(int n, int start_index, int buffer_pos);

}  // namespace vek
