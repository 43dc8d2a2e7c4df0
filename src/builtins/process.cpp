// Builtins that start other programs or act on the descriptors: the line
// for the system command interpreter, system, exec, fork, wait and sane.
#include <array>

#include "builtins/builtins.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/process.h"
#include "proc/redirect.h"
#include "proc/search.h"
#include "session/diag.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

namespace {

// Joins the words from `first` on with single blanks, in place (each word
// follows the one before it in the word buffer); returns the line.
char* join_in_place(const BuiltinCall& call, int first) {
  for (int i = first + 1; i < call.argc; ++i) call.argv[i][-1] = ' ';
  return call.argv[first];
}

void run_line(char* line) {
  int r = run_via_system(line);
  if (r >= 0) last_status = r;
}

}  // namespace

// A drive change, an upper-case word or a batch file: the whole line goes
// to the system command interpreter.
int bi_system_line(const BuiltinCall& call) {
  run_line(join_in_place(call, 0));
  return 0;
}

// system words...: the words joined with blanks go to the system command
// interpreter.
int bi_system(const BuiltinCall& call) {
  if (call.argc < 2) return 0;
  run_line(join_in_place(call, 1));
  return 0;
}

// exec program [args]: the program (found by the executor) replaces the
// interpreter after the exit clean-up.
int bi_exec(const BuiltinCall& call) {
  if (call.argc < 2) return 0;
  // The executor found the program a moment ago; it may be gone since.
  const char* found = search_command(true, call.argv[1]);
  if (found == nullptr) fatal_error(VEK_ERR(kErrNotFound), call.argv[1]);
  std::array<char, 512> path{};
  concat_strings_n(static_cast<int>(path.size()), path.data(), {found});
  if (file_test('X', path.data()) == 0) fatal_error(VEK_ERR(kErrNotExecutable), path.data());
  session_cleanup(CleanupMode::kBeforeExec);
  plat::exec_program(path.data(), call.argv + 1);
  shell_error(VEK_ERR(kErrExec), path.data());
  return 0;
}

// fork text...: each non-empty text runs in a child interpreter that is
// not waited for.
int bi_fork(const BuiltinCall& call) {
  for (int i = 1; i < call.argc; ++i)
    if (call.argv[i][0] != 0) start_interpreter(call.argv[i]);
  return 0;
}

// wait [id...]: waits for the children started in the background.
int bi_wait(const BuiltinCall& call) {
  wait_for_children(call.argc - 1, call.argv + 1);
  return 0;
}

// sane [q]: undoes every redirection and resets the pipe files, listing
// what it does unless the first operand begins with q.
int bi_sane(const BuiltinCall& call) {
  bool quiet = call.argc > 1 && call.argv[1][0] == 'q';
  reset_redirections(quiet ? ResetMode::kQuiet : ResetMode::kVerbose);
  return 0;
}

}  // namespace vek
