// Simple-command execution: dispatch to builtins, functions and programs.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// Runs the command whose words occupy slots start..end-1: an executor
// builtin, a builtin with its own handler, a shell function, a line for
// the system command interpreter or an external program.  kind: -1
// plain, -9 background, 0 the word `function`, 1 the word `time`.
// Returns 0, an executor builtin's index, or a control code >= 256.
int execute_command(int kind, int end, int start, int pos);

// A drive change such as "C:", or a word of at least two upper-case
// letters: such commands go to the system command interpreter.
bool is_system_word(const char* w);

// Writes the trace line of an assignment under option x.
void trace_assignment(const char* name, int count, char** words);

// Function slots: body offset and length in the function file (length 0
// marks a free slot), and the end of the text written so far.
inline constexpr int kFunctionSlots = 8;
extern std::array<std::int64_t, kFunctionSlots> function_offset;
extern std::array<int, kFunctionSlots> function_length;
extern std::int64_t function_file_end;

// Calls the function whose record holds `slot`, with the given operands.
void call_function(const char* name, int slot, int argc, char** operands, int start, int pos);

// Runs the body in `slot` as a source with the given mode (function
// call, trap or eval) and the current or prepared parameters.
int run_body(const char* name, int slot, unsigned mode, int start, int pos);

}  // namespace vek
