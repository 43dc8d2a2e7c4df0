// Child processes: external programs, the system command interpreter,
// child interpreters for ( ) groups and fork, background commands and
// waiting for them.
#pragma once

#include <array>

namespace vek {

// Process id of the last command started in the background ($! and $$).
extern int background_pid;
// The full path of the interpreter program (for scripts it runs itself
// and for child interpreters).
extern std::array<char, 260> program_path;

// Puts the state above into its start state.
void reset_process_state();

// Starts `program` (a path; it must pass the file test X, else error 7)
// with the words argv (argv[0] first, null-terminated).  Waits for it and
// returns its exit code, or with no_wait records it as the last
// background process and returns $? unchanged.  A start that fails is
// error 8 (silent with VEK_W98 set: the result is then -1).
int run_external(const char* program, char** argv, bool no_wait);

// Runs a command line through the system command interpreter ($COMSPEC,
// else the platform's) and returns its exit code; when it cannot be
// started, $? is 1 after error 6 with the line, and the result is -1.
int run_via_system(const char* line);

// ( ... ): runs the group text (blanks already encoded as 0x1C..0x1F) in
// a child interpreter and waits for it; its exit code becomes $?.
void run_group(char* text);

// Starts a child interpreter for `text` without waiting (fork); the text
// is encoded in place.
void start_interpreter(char* text);

// How the executor goes on with a command word that is not a builtin or
// function.
enum class ExternalResult {
  kDone,        // started (or reported): $? is set
  kSystemLine,  // a batch file: the whole line goes to the system interpreter
};
// Searches the command word words[0] along PATH and starts what it finds:
// programs directly, interpreter scripts (.VEK, "#!") under their
// interpreter.  A found file is first handed to `track` when that is given
// (tracked aliases).  words must have room for argc + 2 entries.
ExternalResult run_command_file(int argc, char** words, bool background,
                                void (*track)(const char* word, const char* path));

// wait [id ...]: collects background children until the listed ones (all
// without ids) have ended.  The id words are marked as their children end.
void wait_for_children(int count, char** ids);

}  // namespace vek
