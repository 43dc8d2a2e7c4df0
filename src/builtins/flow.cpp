// Status and flow builtins of the executor: `:`, true, kill, link and nop
// (nothing to do), false [n], inv, exit, the control codes (break,
// continue, goend, return, goto), the text runners (eval, `.`, trap,
// prompt, extern) and shift and fprint.
#include <array>

#include "builtins/builtins.h"
#include "core/control.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

int bi_nothing(const BuiltinCall& /*call*/) { return 0; }

// false [n]: $? becomes n (1 without an operand).
int bi_false(const BuiltinCall& call) {
  last_status = call.number;
  return 0;
}

int bi_inv(const BuiltinCall& /*call*/) {
  last_status = last_status == 0 ? 1 : 0;
  return 0;
}

// exit [-P] [n]: ends the process (under option P only when forced).
int bi_exit(const BuiltinCall& call) {
  int i = 1;
  bool forced = false;
  if (i < call.argc && str_compare(call.argv[i], "-P") == 0) {
    forced = true;
    ++i;
  }
  if (opt('P') && !(forced && call.argc - i <= 1)) {
    skip_flags = 0;
    reset_redirections(ResetMode::kQuiet);
    if (input.mode & kModeConsole) sys_write(2, "Benutze  exit -P [n]\r\n");
    throw TopLevelAbort{};
  }
  int status = i < call.argc ? parse_decimal(call.argv[i]) : last_status;
  run_trap(0, call.end, call.pos);
  session_cleanup(CleanupMode::kExit);
  throw ProcessExit{status};
}

int bi_break(const BuiltinCall& call) { return request_break(call.number); }
int bi_continue(const BuiltinCall& call) { return request_continue(call.number); }
int bi_goend(const BuiltinCall& call) { return request_goend(call.number); }

// return [n]: ends the function body, eval text, `.` script, script or
// nested prompt session.  Typed at the interactive prompt it is ignored.
int bi_return(const BuiltinCall& call) {
  if ((input.mode & kModeConsole) && !(input.mode & kModePrompt)) return 0;
  if (call.argc > 1) last_status = call.number & 255;
  return kReturn;
}

int bi_goto(const BuiltinCall& call) {
  goto_label(call.argc > 1 ? call.argv[1] : "");
  return 0;
}

// shift [n]: drops the first min(n, count) positional parameters.
int bi_shift(const BuiltinCall& call) {
  int n = call.number;
  if (n < 0) n = 0;
  if (n > input.param_count) n = input.param_count;
  if (input.params != nullptr) input.params += n;
  input.param_count -= n;
  return 0;
}

int bi_eval(const BuiltinCall& call) {
  run_eval(call.argc - 1, call.argv + 1, call.end + 1, call.pos);
  return 0;
}

// . file [args]: the file runs as a source of its own, with the operands
// after it as positional parameters ($0 unchanged).
int bi_dot(const BuiltinCall& call) {
  std::array<char, 260> path{};
  copy_truncated(path, call.file != nullptr ? call.file : call.argv[1]);
  prepared.param_count = call.argc > 2 ? call.argc - 2 : 0;
  prepared.params = call.argv + 2;
  prepared.param0 = input.param0;
  run_source(path.data(), call.end + 1, call.pos, kModeDot | kModeParams);
  return 0;
}

// extern cmd [args]: runs cmd as an external program even where a builtin
// or function has its name.
int bi_extern(const BuiltinCall& call) {
  std::array<char, 512> program{};
  copy_truncated(program, call.file != nullptr ? call.file : call.argv[1]);
  last_status = run_external(program.data(), call.argv + 1, false);
  return 0;
}

// trap: without operands lists the functions; trap text n ... defines
// traps 0 (exit), 1 (error) and 2 (signal); 3 to 99 are accepted and
// ignored.
int bi_trap(const BuiltinCall& call) {
  if (call.argc == 1) {
    list_store(variable_scope(), ListWhich::kGlobal, kFunc, ListStyle::kValues);
    return 0;
  }
  if (call.argc < 3) fatal_error(VEK_ERR(kErrSyntax), "trap-Args");
  for (int i = 2; i < call.argc; ++i) {
    const char* w = call.argv[i];
    int digits = 0;
    int n = parse_small_decimal(&digits, w);
    if (digits == 0 || w[digits] != 0 || n > 99) fatal_error(VEK_ERR(kErrSyntax), "trap: Signal-Arg");
    if (n <= 2) define_trap(n, call.argv[1]);
  }
  return 0;
}

// fprint [+prefix] name ...: writes the text of functions.
int bi_fprint(const BuiltinCall& call) {
  int i = 1;
  const char* prefix = nullptr;
  if (i < call.argc && call.argv[i][0] == '+') prefix = call.argv[i++] + 1;
  for (; i < call.argc; ++i) {
    const char* name = call.argv[i];
    if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
    VarRecord* fn = store_find(variable_scope(), global_store, name, kFunc);
    if (fn == nullptr) {
      ++last_status;
      continue;
    }
    print_function_text(fn->int_value(), prefix);
  }
  return 0;
}

// prompt: a nested interactive session on the console; end of input, a
// closing word or return ends it.
int bi_prompt(const BuiltinCall& call) {
  struct Restore {
    int counter = command_counter;
    bool editor = opt('E');
    ~Restore() {
      command_counter = counter;
      set_opt('E', editor);
    }
  } restore;
  command_counter = 0;
  run_source(nullptr, call.end + 1, call.pos, kModeConsole | kModePrompt);
  return 0;
}

}  // namespace vek
