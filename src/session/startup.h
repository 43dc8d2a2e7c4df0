// Start-up, invocation options and settings.
#pragma once

#include <array>

#include "proc/search.h"

namespace vek {

// The text that follows -c (null when there is none).
extern const char* command_string;
extern std::array<char, 16> terminal_name;

// Parses option words (shared with set); returns the number of words
// left after the options, 0 after an error.
int parse_options(int count, char** words, bool from_set);

// Where load_settings takes its values from: all settings from the
// process environment (start-up), or PATH, CDPATH and HOME from the
// shell's own variables (after the profile).
enum class SettingsSource { kEnvironment, kShellVariables };
// Returns 1 if the shell variable PATH exists (kShellVariables), else 0.
int load_settings(SettingsSource source);

// Puts the interpreter into its start state: the shared state, the class
// and command tables, the variable store, the input state, the special
// variables, the function slots and the diagnostics.  Opens no file and
// reads no environment; start-up and the unit tests begin with it.
void reset_interpreter();

// Program entry: returns the process exit status.
int vek_main(int argc, char** argv);

}  // namespace vek
