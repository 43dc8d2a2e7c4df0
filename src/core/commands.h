// The command table: every reserved word, builtin name and executable
// extension of the language, with its class, the index the language
// exposes, its attributes and its handler.  The entries themselves are
// listed with the builtins (builtins/table.cpp); lookup and dispatch read
// them through this interface.
#pragma once

#include <array>

namespace vek {

// Command classes.
inline constexpr int kClassBuiltin = 1;       // builtin with its own handler
inline constexpr int kClassCompound = 2;      // compound-command starter
inline constexpr int kClassHeader = 3;        // loop or case header word
inline constexpr int kClassClosing = 4;       // closing word
inline constexpr int kClassFunctionTime = 5;  // `function` and `time`
inline constexpr int kClassExecutor = 6;      // builtin inside the executor
inline constexpr int kClassExtension = 7;     // `in` and executable extensions

// Indexes of class 1, the builtins with their own handler.
namespace builtin_ix {
enum : int {
  kBracket, kDoubleBracket, kEcho, kPrint, kTest, kLet, kArray, kCat, kLine, kWc, kTee, kRel,
  kCrc, kTr, kCut, kGrep, kExpr, kRead, kReadl, kSeek, kCatv, kCd, kChdir, kSum, kBase, kList,
  kMove, kRemove, kCopy, kMkdirs, kFstat, kCtime, kSystime, kMktemp, kSortl, kPrints,
  kCount
};
}

// Indexes of class 6, the builtins inside the executor.  kSystemLine is no
// name: the executor uses it to hand a whole line to the system command
// interpreter.
namespace exec_ix {
enum : int {
  kColon, kTrue, kFalse, kInv, kPwd, kAlias, kUnalias, kSet, kUnset, kUnsetenv, kExport,
  kUnexport, kEval, kShift, kReadonly, kTimes, kUmask, kExec, kGoend, kBreak, kContinue,
  kReturn, kExit, kGoto, kDot, kMtime, kFsize, kFmode, kStime, kIfdef, kIfset, kIfenv, kConv,
  kEnv, kExtern, kSystem, kTrap, kFprint, kPrompt, kWhence, kType, kTypeset, kSleep, kLocal,
  kGlobal, kStatic, kVer, kAutor, kSane, kTz, kDirname, kBasename, kFullname, kCmpv,
  kLocalset, kFork, kWait, kKill, kLink, kNop,
  kSystemLine,
  kCount
};
}

// Indexes of class 2 (compound starters), 3 (headers), 4 (closing words),
// 5 and 7.
namespace compound_ix {
enum : int { kBrace, kWhile, kIf, kDoubleBrace, kUntil, kCount };
}
namespace header_ix {
enum : int { kCase, kFor, kFrom, kBy, kTo, kRepeat, kCount };
}
namespace closing_ix {
enum : int { kBrace, kDo, kDone, kThen, kElse, kElif, kFi, kEsac, kDoubleBrace, kCount };
}
namespace keyword_ix {
enum : int { kFunction, kTime };
}
namespace extension_ix {
enum : int { kExe, kCom, kBat, kVek, kCmd, kIn };
}

// What a builtin handler is given: its words (argv[argc] is null), the
// free argument area after them for nested commands, and the numeric
// operand (1, or the value of a first operand that starts with a digit).
struct BuiltinCall {
  int argc = 0;
  char** argv = nullptr;
  int end = 0;  // slot after the last word
  int pos = 0;  // first free byte of the word buffer
  int number = 1;
  const char* file = nullptr;  // the found file of `.`, `exec` and `extern`
};

// A class-1 handler returns the exit status, which the executor stores in
// $?.  A class-6 handler sets $? itself and returns 0 or a control code.
using BuiltinHandler = int (*)(const BuiltinCall& call);

// Adapts a handler of the plain form (word count, word list).
template <int (*F)(int, char**)>
int plain_handler(const BuiltinCall& call) {
  return F(call.argc, call.argv);
}

// Attribute bits of executor builtins.
inline constexpr unsigned kKeepStatus = 1;   // leaves $? as it is
inline constexpr unsigned kFileOperand = 2;  // the first operand names a file to run
inline constexpr unsigned kCountOperand = 4; // uses the numeric operand as a count

struct CommandEntry {
  const char* name;
  unsigned char cls;
  unsigned char index;
  unsigned char attributes;
  BuiltinHandler handler;  // classes 1 and 6; null for the others
};

inline constexpr int kCommandCount = 124;
// In stored order: [ { } : . then the names by first letter, then the
// extensions.
extern const std::array<CommandEntry, kCommandCount> command_table;
// The entry of index exec_ix::kSystemLine, which has no name.
extern const CommandEntry system_line_entry;

// Builds the lookup buckets and the per-class handler tables (start-up).
void build_command_table();
// Class in the low byte, index in the next byte; -1 if not a table word.
int lookup_command(const char* word);
inline int command_class(int looked_up) { return looked_up & 0xFF; }
inline int command_index(int looked_up) { return (looked_up >> 8) & 0xFF; }

// The entry of a class-1 or class-6 index.
const CommandEntry& builtin_entry(int index);
const CommandEntry& executor_entry(int index);

// The name of a class and index ("" when there is none).
const char* command_name(int cls, int index);

// Number of records in the command table (for tests).
int command_table_size();

}  // namespace vek
