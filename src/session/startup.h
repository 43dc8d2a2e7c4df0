// Start-up, invocation options and settings.
#pragma once

#include <array>

namespace vek {

// The text that follows -c (null when there is none).
extern const char* command_string;
// Set while the profile runs: an error there ends only the profile.
extern bool profile_running;

extern std::array<char, 512> command_search_list;
extern std::array<char, 512> cd_search_list;
extern std::array<char, 16> terminal_name;

// Parses option words (shared with set); returns the number of words
// left after the options, 0 after an error.
int parse_options(int count, char** words, bool from_set);

// Mode 0: all settings from the process environment.  Mode 'p': PATH,
// CDPATH and HOME from the shell's variables; returns 1 if PATH exists.
int load_settings(char mode);

// Program entry: returns the process exit status.
int vek_main(int argc, char** argv);

}  // namespace vek
