// execute_command: decides whether a simple command is an executor
// builtin, a builtin with its own handler, a shell function, a line for
// the system command interpreter or an external program.
#include "core/exec.h"

#include "core/classes.h"
#include "core/commands.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/fdio.h"
#include "proc/process.h"
#include "proc/search.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

std::array<std::int64_t, kFunctionSlots> function_offset{};
std::array<int, kFunctionSlots> function_length{};
std::int64_t function_file_end = 0;

namespace {

void trace_words(int argc, char** words) {
  sys_write(2, "+ ");
  for (int i = 0; i < argc; ++i) {
    sys_write(2, words[i], static_cast<long>(str_len(words[i])));
    sys_write(2, i + 1 < argc ? " " : "\r\n");
  }
}

bool has_backslash(const char* w) {
  for (; *w; ++w)
    if (*w == '\\') return true;
  return false;
}

// Runs an executor builtin: the file-operand check, the $? reset and the
// numeric operand come first.  Returns the index or a control code.
int run_executor_builtin(const CommandEntry& e, int argc, char** words, int end, int pos) {
  if (skip_flags != 0) return e.index;
  const char* found = nullptr;
  if (e.attributes & kFileOperand) {
    // The file to run must be found; the builtin takes the path from the
    // search result.  exec without a file does nothing.
    const char* file = argc > 1 ? words[1] : "";
    if (file[0] != 0) found = search_command(true, file);
    if (found == nullptr && (file[0] != 0 || e.index != exec_ix::kExec)) {
      shell_error(VEK_ERR(kErrNotFound), file);
      return e.index;
    }
  }
  if (!(e.attributes & kKeepStatus)) last_status = 0;
  BuiltinCall call{argc, words, end, pos, 1, found};
  if (argc > 1 && is_digit(words[1][0])) {
    // A count that does not fit into 32 bits is refused rather than read
    // as some other number.
    if ((e.attributes & kCountOperand) && !parse_decimal_checked(words[1], &call.number)) {
      shell_error(VEK_ERR(kErrArguments), words[1]);
      return e.index;
    }
    call.number = parse_decimal(words[1]);
  }
  int r = e.handler(call);
  return r != 0 ? r : e.index;
}

// Option h: a command found along PATH is remembered as a tracked alias
// holding its path.
void track_command(const char* word, const char* path) {
  var_set(variable_scope(), word, VarValue::text(path), kAlias | kTracked);
}

}  // namespace

bool is_system_word(const char* w) {
  if (w[0] >= 'A' && w[0] <= 'Z' && w[1] == ':' && w[2] == 0) return true;
  int n = 0;
  for (; w[n]; ++n)
    if (w[n] < 'A' || w[n] > 'Z') return false;
  return n >= 2;
}

void trace_assignment(const char* name, int count, char** words) {
  sys_write(2, "+ ");
  sys_write(2, name, static_cast<long>(str_len(name)));
  sys_write(2, "=");
  for (int i = 0; i < count; ++i) {
    if (i > 0) sys_write(2, " ");
    sys_write(2, words[i], static_cast<long>(str_len(words[i])));
  }
  sys_write(2, "\r\n");
}

int run_body(const char* name, int slot, unsigned mode, int start, int pos) {
  copy_truncated(prepared.function_name, name);
  // The body is read from its offset (see fill_input): the descriptor is
  // neither moved nor asked.
  prepared.body_offset = function_offset[static_cast<std::size_t>(slot)];
  prepared.body_length = function_length[static_cast<std::size_t>(slot)];
  return run_source(nullptr, start, pos, mode);
}

void call_function(const char* name, int slot, int argc, char** operands, int start, int pos) {
  prepared.param_count = argc;
  prepared.params = operands;
  prepared.param0 = input.param0;
  // A return code ends the body here; $? is what return or the last
  // command set.
  run_body(name, slot, kModeBody | kModeParams, start, pos);
}

int execute_command(int kind, int end, int start, int pos) {
  arg_slots[static_cast<std::size_t>(end)] = nullptr;
  char** words = &arg_slots[static_cast<std::size_t>(start)];
  const int argc = end - start;
  if (opt('x') && skip_flags == 0 && argc > 0) trace_words(argc, words);

  if (kind == 0) return 0;  // the word `function` is ignored
  if (kind == 1) {
    // time: run the rest of the list and report the elapsed seconds.
    std::int64_t t0 = plat::time_now();
    CommandRecord rest{end, pos, 0};
    int r = run_list(rest);
    if (r < 256) push_back();
    if (skip_flags == 0) format_out(2, "%ld\r\n", static_cast<std::int32_t>(plat::time_now() - t0));
    return 0;
  }
  if (argc == 0) return 0;
  const char* word = words[0];

  const CommandEntry* executor = nullptr;
  if (!has_backslash(word) && kind == -1) {
    int found = lookup_command(word);
    int cls = found < 0 ? 0 : command_class(found);
    if (cls == kClassExecutor) {
      executor = &executor_entry(command_index(found));
    } else if (cls == kClassBuiltin) {
      if (skip_flags != 0) return 0;
      BuiltinCall call{argc, words, end, pos, 1};
      last_status = builtin_entry(command_index(found)).handler(call);
      return 0;
    } else {
      VarRecord* fn = name_check(word) ? store_find(variable_scope(), global_store, word, kFunc) : nullptr;
      if (fn != nullptr) {
        if (skip_flags != 0) return 0;
        int slot = fn->int_value();
        call_function(word, slot, argc - 1, words + 1, end + 1, pos);
        return 0;
      }
      if (is_system_word(word)) executor = &system_line_entry;
    }
  }
  if (executor == nullptr) {
    if (skip_flags != 0) return 0;
    // The slot after the words is free: an interpreter script's words
    // move up by one.
    auto track = opt('h') && !has_backslash(word) ? track_command : nullptr;
    if (run_command_file(argc, words, kind == -9, track) == ExternalResult::kDone) return 0;
    executor = &system_line_entry;
  }
  return run_executor_builtin(*executor, argc, words, end, pos);
}

}  // namespace vek
