// The error-raising interface shared by every layer: the error numbers,
// the error code with its source line, the reporting calls and the
// non-local returns.  The session defines the calls (diagnostics and the
// abort path); lower layers only declare what they raise.
#pragma once

namespace vek {

// Error numbers of the error table.
enum Err : int {
  kErrObjectOnly = 0,
  kErrInternal = 1,
  kErrUnknownOption = 2,
  kErrOptionCombination = 3,
  kErrOptionO = 4,
  kErrOptionC = 5,
  kErrNotFound = 6,
  kErrNotExecutable = 7,
  kErrExec = 8,
  kErrOpen = 9,
  kErrTooManyTemp = 10,
  kErrFileExists = 11,
  kErrBadName = 12,
  kErrNameLength = 13,
  kErrGlobalStore = 14,
  kErrRedirection = 15,
  kErrSystem = 16,
  kErrSyntax = 17,
  kErrLoop = 18,
  kErrArguments = 19,
  kErrPattern = 20,
  kErrNoDirectory = 21,
  kErrUnset = 22,
  kErrFunctionDef = 23,
  kErrArithmetic = 24,
  kErrReadOnly = 25,
  kErrLimit = 26,
  kErrLabel = 27,
  kErrStack = 28,
  kErrLocalStore = 29,
  kErrMemory = 30,
  kErrUnavailable = 31,
};

// An error code carries the error number in its low 16 bits and the line
// of the interpreter source that raised it in its high 16 bits (shown
// under shell option _).
constexpr int error_code(int number, int line) { return number | (line << 16); }
#define VEK_ERR(n) ::vek::error_code((n), __LINE__)

// Reports an error.  Returns only when the error is continuable under
// shell option C in a non-interactive file, function or eval source;
// otherwise aborts through session_abort.
void shell_error(int code, const char* object = nullptr);

// For errors that never continue: reports and does not return.
[[noreturn]] void fatal_error(int code, const char* object = nullptr);

// The single way out for errors and signals.  code = signal * 256 + trap.
[[noreturn]] void session_abort(int code);

// Acts on a recorded signal at a safe point (aborts if one is pending).
void check_signal();

// A write went into a pipe whose reader is gone: the interpreter ends
// quietly through the exit clean-up, as a program that the pipe's end
// stopped.
[[noreturn]] void end_on_broken_pipe();

// Non-local returns.  Each is caught where its recovery point is armed.
struct TopLevelAbort {};             // back to the session loop / prompt
struct ProcessExit { int status; };  // end the process after clean-up
struct GotoRestart {};               // label search moved the reader

}  // namespace vek
