// Interpreter-wide state that every layer reads: the shell options, the
// escape character, the skip flags, $? and the start time.  This is the
// bottom of the interpreter: it includes nothing of the project.
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
inline constexpr unsigned char kDefaultEscape = '%';
extern unsigned char escape_char;

// $?: the exit status of the last command.
extern int last_status;

// Start time in calendar seconds (base of times, SECONDS and the time
// report).
extern std::int64_t start_time;

// Skip flags: while any bit is set, text is read but not executed.  Each
// construct owns its bits and puts them back as they were when it ends.
extern unsigned skip_flags;
inline constexpr unsigned kSkipList = 0x001;          // rest of list after && / ||
inline constexpr unsigned kSkipBranch = 0x002;        // if: branch not taken
inline constexpr unsigned kSkipWhile = 0x004;         // while/until: condition failed or loop left
inline constexpr unsigned kSkipFor = 0x008;           // for/counting loop: no more values or loop left
inline constexpr unsigned kSkipCase = 0x010;          // case: branch not selected
inline constexpr unsigned kSkipBrace = 0x020;         // { } left after break/goend
inline constexpr unsigned kSkipAndOr = 0x040;         // command after &|
inline constexpr unsigned kSkipLabel = 0x080;         // goto searching forward for its label
inline constexpr unsigned kSkipBlock = 0x100;         // {{ }} left after break/goend
inline constexpr unsigned kSkipOperatorWord = 0x200;  // unused word of ${name-word}
inline constexpr unsigned kSkipLeave = 0x400;         // if/case left after break/goend
inline constexpr unsigned kSkipNoExec = 0x2000;       // option n
inline constexpr unsigned kSkipPreread = 0x4000;      // compound read ahead to find its end

// Time-zone offset in seconds set by `tz` (0 at start); the date
// builtins subtract it from the system clock.
extern std::int32_t timezone_offset;

// Puts the values above into their start state.
void reset_shared_state();

}  // namespace vek
