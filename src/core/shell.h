// Process-wide interpreter state shared by every subsystem.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// Shell options: one flag per option character below '{'.
inline constexpr int kOptionCount = 123;
extern std::array<unsigned char, kOptionCount> shell_options;
inline bool opt(char c) { return shell_options[static_cast<unsigned char>(c)] != 0; }
inline void set_opt(char c, bool on) { shell_options[static_cast<unsigned char>(c)] = on ? 1 : 0; }

// The escape character: '%' by default, '\' while option B is set.
extern unsigned char escape_char;

// $? and the other numbers kept outside the variable store.
extern int last_status;        // $?
extern int aux_result;         // $.
extern int glob_name_count;    // $]
extern int last_arg_count;     // $}
extern int background_pid;     // $$ and $!
extern int command_counter;    // $:

// Skip flags: while any bit is set, text is read but not executed.
extern unsigned skip_flags;
inline constexpr unsigned kSkipList = 0x001;     // rest of list after && / ||
inline constexpr unsigned kSkipBranch = 0x002;   // untaken branch
inline constexpr unsigned kSkipLoop = 0x020;
inline constexpr unsigned kSkipAndOr = 0x040;    // command after &|
inline constexpr unsigned kSkipCase = 0x080;
inline constexpr unsigned kSkipLabel = 0x100;
inline constexpr unsigned kSkipGoend = 0x400;
inline constexpr unsigned kSkipNoExec = 0x2000;  // option n

// Prompt logic: line count of the current command and the in-prompt flag.
extern int command_line_count;
extern int in_prompt;

// Start time in calendar seconds (base of times and the time report).
extern std::int64_t start_time;

// The full path of the interpreter program (for scripts run by it).
extern std::array<char, 260> program_path;

// Control codes passed outward by constructs.
inline constexpr int kEndOfInput = 255;
inline constexpr int kCompoundDone = 10;
inline constexpr int kAndOr = 511;         // &|
inline constexpr int kClosingBase = 512;   // 512 + index of a closing word
inline constexpr int kGoend = 0x400;
inline constexpr int kBreak = 0x800;
inline constexpr int kContinue = 0x1000;
inline constexpr int kReturn = 0x2000;

}  // namespace vek
