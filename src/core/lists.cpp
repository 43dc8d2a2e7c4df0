// The four nested loops that turn input text into executed commands:
// run_source, run_list, run_pipeline and collect_command.
#include "core/lists.h"

#include <climits>
#include <optional>

#include "core/classes.h"
#include "core/commands.h"
#include "core/exec.h"
#include "core/hooks.h"
#include "core/nesting.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/fdio.h"
#include "proc/pipes.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/subscript.h"
#include "vars/varstore.h"

namespace vek {

std::array<char*, kArgSlots> arg_slots{};
std::array<char, kWordBufferSize> word_buf{};

namespace {

// Prepares the reader state of a new source.
void begin_source(const char* name, unsigned mode, unsigned char* buffer, HoldArea* hold,
                  std::array<VarRecord, kLocalRecords>& locals, const InputState& outer) {
  bool body = (mode & kModeBody) != 0;
  input.fd = -1;
  input.position_unknown = true;
  input.read_limit = 0;
  input.redirection_count = 0;
  input.loop_depth = input.break_count = input.continue_count = 0;
  input.cond_depth = input.goend_count = 0;
  input.global_counter = 0;
  input.labels = {};
  input.pending_label[0] = 0;
  input.mode = mode;
  input.body_offset = 0;
  input.fill_position = 0;
  input.loop_hold = input.label_hold = -1;
  input.hold_area = hold;
  input.string_text = nullptr;
  input.string_length = 0;
  if (body) {
    input.fd = func_read_fd;
    input.function_name = prepared.function_name;
    input.body_offset = prepared.body_offset;
    input.fill_position = prepared.body_offset;
    input.position_unknown = false;
    input.read_limit = prepared.body_length;
  }
  if (mode & (kModeBody | kModeParams)) {
    input.param_count = prepared.param_count;
    input.param0 = prepared.param0;
    input.params = prepared.params;
  }
  local_store_open(input.local_store, locals, outer.local_store);
  if (body && !(outer.mode & kModeBody)) input.caller_store = &outer.local_store;
  else if (!body) input.caller_store = nullptr;
  input.buf = buffer;
  input.rp = input.end = buffer;
  if (name != nullptr) {
    copy_truncated(input.script_name, name);
    std::array<char, 260> path{};
    concat_strings_n(static_cast<int>(path.size()), path.data(), {name});
    input.fd = sys_open(path.data(), plat::kRead | plat::kBinary);
    if (input.fd < 10) {
      // A closed standard descriptor would have been taken, where a user
      // redirection could replace the script under the reader.
      const int high = plat::dup_high(input.fd);
      plat::close(input.fd);
      input.fd = high;
      if (high < 0) fatal_error(VEK_ERR(kErrSystem), "dup()");
    }
    input.mode |= kModeFile;
  } else if (mode & kModeString) {
    input.string_text = prepared.text;
    input.string_length = prepared.text_length;
    input.position_unknown = false;
  } else if (mode & kModeConsole) {
    input.fd = 0;
  } else if (!body) {
    input.fd = 0;
  }
}

// After a compound command: a list operator or terminator ends the
// (empty) command, anything else starts the next word.  Returns the
// character to hand outward, or -1 to go on reading words.
int after_compound(const CommandRecord& cmd, WordScan& ws, CollectResult* result) {
  int c;
  do {
    c = next_char();
  } while (word_blank_chars[static_cast<unsigned char>(c)]);
  if (list_operator_chars[static_cast<unsigned char>(c)]) {
    result->end = ws.idx;
    result->start = cmd.start;
    result->pos = ws.pos;
    return c;
  }
  if (terminator_chars[static_cast<unsigned char>(c)] || (cmd.terminator != 0 && c == cmd.terminator)) return c;
  push_back();
  return -1;
}

}  // namespace

int run_source(const char* name, int start, int pos, unsigned mode) {
  NestingGuard level;
  const InputState saved = input;
  std::array<unsigned char, kInputBufferSize> buffer;
  std::array<VarRecord, kLocalRecords> locals;
  HoldArea hold;  // stays empty unless a loop spans a refill of a pipe or the console
  struct Restore {
    const InputState& saved;
    ~Restore() {
      if ((input.mode & kModeFile) && input.fd >= 0) plat::close(input.fd);
      input = saved;
    }
  } restore{saved};

  const bool console = name == nullptr && (mode & kModeConsole);
  begin_source(name, mode, buffer.data(), &hold, locals, saved);
  const unsigned entry_skip = skip_flags;
  // Only an interactive source starts again after an error: only it
  // keeps a copy of its fresh state (the record is large, and this runs
  // for every function call).
  std::optional<InputState> fresh;
  if (console) fresh = input;
  CommandRecord cmd{start, pos, 0};
  int r = kEndOfInput;
  for (;;) {
    try {
      for (;;) {
        command_line_count = 0;
        r = run_list(cmd);
        if (console) ++command_counter;
        // Option t ends the session's main input after one list; nested
        // sources (functions, prompts) still run to their end.
        if (opt('t') && (mode & kModeSession)) break;
        if (r < kEndOfInput) continue;
        if (!console) break;
        if ((r >= kEndOfInput && r <= kClosingBase + 8) || ((mode & kModePrompt) && r == kReturn)) {
          if (r == kEndOfInput && (opt('I') || opt('P'))) {
            sys_write(2, "Benutze  exit\r\n");
            --command_counter;
            continue;
          }
          break;
        }
      }
      break;
    } catch (const TopLevelAbort&) {
      // An interactive source starts again with a fresh buffer.
      if (!console) throw;
      if ((input.mode & kModeFile) && input.fd >= 0 && input.fd != fresh->fd) plat::close(input.fd);
      locals.fill(VarRecord{});
      input = *fresh;
      input.rp = input.end = input.buf;
      skip_flags = 0;
    } catch (const GotoRestart&) {
      // The label search moved the reader: go on from there, outside
      // every construct that was running.
      input.loop_depth = input.break_count = input.continue_count = 0;
      input.cond_depth = input.goend_count = 0;
      input.loop_hold = -1;
      skip_flags = entry_skip;
    }
  }
  if (input.pending_label[0] != 0) {
    const std::array<char, kLabelNameMax + 1> label = input.pending_label;
    input.pending_label[0] = 0;
    skip_flags &= ~kSkipLabel;
    fatal_error(VEK_ERR(kErrLabel), label.data());
  }
  if (r >= kClosingBase && r <= kClosingBase + 8) fatal_error(VEK_ERR(kErrSyntax), "Beginn der Syntax-Einheit fehlt");
  return r;
}

int run_list(const CommandRecord& cmd) {
  const unsigned remembered = skip_flags;
  long pairing = 0;
  int r;
  for (;;) {
    r = run_pipeline(cmd);
    if (r >= kEndOfInput || r == cmd.terminator) {
      if (r != kAndOr) break;
      --pairing;
    } else if (r != '&' && r != '|') {
      break;
    }
    if (r == kAndOr) {
      // After &|: skip the next command when the one before succeeded.
      if (skip_flags == 0 && last_status == 0) {
        skip_flags |= kSkipAndOr;
        pairing = LONG_MAX;
      }
      continue;
    }
    if (pairing != 0) {
      // The operator after an &| pair decides by which side ran.
      if (!(skip_flags & kSkipList)) {
        bool fits = (r == '&') == (pairing > 0);
        if (!fits) skip_flags |= kSkipList;
      }
      pairing = 0;
      skip_flags = (skip_flags & ~kSkipAndOr) | (remembered & kSkipAndOr);
      continue;
    }
    if (skip_flags == 0) {
      bool ok = last_status == 0;
      if ((r == '&' && !ok) || (r == '|' && ok)) skip_flags |= kSkipList;
    }
  }
  skip_flags = (skip_flags & ~(kSkipList | kSkipAndOr)) | (remembered & (kSkipList | kSkipAndOr));
  return r;
}

namespace {

int run_stages(const CommandRecord& cmd, PipelineRun& pipe);

}  // namespace

int run_pipeline(const CommandRecord& cmd) {
  PipelineRun pipe;
  int r;
  try {
    r = run_stages(cmd, pipe);
  } catch (const GotoRestart&) {
    // The label search goes on in this source: the pipe files go back.
    // (An abort leaves them to the reset of the abort path.)
    pipe_finish(pipe);
    throw;
  }
  pipe_finish(pipe);
  return r;
}

namespace {

int run_stages(const CommandRecord& cmd, PipelineRun& pipe) {
  bool after_bar = false;
  for (;;) {
    CollectResult res;
    int r = collect_command(cmd, &res);
    // "cmd |" with nothing after it up to the end of the input.
    if (r == kEndOfInput && after_bar) fatal_error(VEK_ERR(kErrSyntax), "(|& &) Kommando erwartet");
    if (r >= kEndOfInput || (r != '&' && r != '|')) return r;
    after_bar = r == '|';
    int c = next_char();
    int kind = -1;
    bool last = false;
    if (c == r) {
      last = true;  // && or ||
    } else if (r == '&' && c == '|') {
      last = true;
      r = kAndOr;
    } else {
      if (c != '!' && !(c >= '1' && c <= '9')) push_back();
      if (c == '&' || c == kEof) fatal_error(VEK_ERR(kErrSyntax), "(|& &) Kommando erwartet");
      if (r == '&') {
        kind = -9;
        r = ';';
        last = true;
      } else if (skip_flags == 0) {
        pipe_stage_output(pipe, c);
      }
    }
    if (skip_flags == 0 && res.end > res.start) {
      if (!in_prompt) last_arg_count = res.end - res.start - 1;
      int x = execute_command(kind, res.end, res.start, res.pos);
      if (x >= 256) r = x;
      // The stage's output goes back before its own redirections are
      // undone: they were applied first.
      pipe_stage_done(pipe);
      if (input.redirection_count > 0) undo_redirections();
    } else if (input.redirection_count > 0) {
      // Redirections without a command word stay in force.
      pipe_stage_done(pipe);
      keep_redirections();
    }
    if (last || r >= 256) return r;
    if (skip_flags == 0) pipe_next_stage(pipe);
  }
}

}  // namespace

namespace {

// Reads the words of one simple command.  Each step returns kKeepReading
// or the code to hand outward.
class Collector {
 public:
  static constexpr int kKeepReading = -1;

  Collector(const CommandRecord& cmd, CollectResult* result) : cmd_(cmd), result_(result) {
    ws_.idx = cmd.start;
    ws_.pos = cmd.pos;
    ws_.first_word_index = cmd.start;
    ws_.terminator = cmd.terminator;
    ws_.table = &first_word_table;
  }

  int run() {
    for (;;) {
      int c = read_words();
      if (!at_terminator_) return c;
      at_terminator_ = false;
      if (header_ >= 0) {
        int x = finish_header();
        if (x != kKeepReading) return x;
        continue;
      }
      return execute(c);
    }
  }

 private:
  const CommandRecord& cmd_;
  CollectResult* result_;
  WordScan ws_;
  int header_ = -1;  // pending loop or case header handler
  bool in_test_ = false;
  bool at_terminator_ = false;
  bool compound_ran_ = false;  // a construct was read: no blanks to skip

  // Scans words until the command ends: returns the list operator or
  // control code to hand outward, or the terminator (with
  // at_terminator_ set), or kKeepReading after a compound command.
  int read_words() {
    for (;;) {
      check_signal();
      const int word_index = ws_.idx;
      const int word_pos = ws_.pos;
      const int assigns_before = ws_.assignments;
      scan_word(ws_);
      int x = kKeepReading;
      if (ws_.assignments != assigns_before) {
        assignment(word_index, word_pos);
      } else if (ws_.idx > word_index && word_index == cmd_.start && !in_test_) {
        x = first_word(word_index, word_pos);
        if (x != kKeepReading) return x;
        if (compound_ran_) {
          compound_ran_ = false;
          continue;
        }
      } else if (ws_.idx > word_index) {
        x = later_word();
        if (x != kKeepReading) return x;
        if (compound_ran_) {
          compound_ran_ = false;
          continue;
        }
      }
      x = between_words();
      if (x != kKeepReading) return x;
    }
  }

  // name=value: the value is the next word, several fields joined.
  void assignment(int word_index, int word_pos) {
    const char* name = &word_buf[static_cast<std::size_t>(word_pos)];
    ws_.idx = word_index;  // the name takes no slot
    const int value_index = ws_.idx;
    const ClassTable* saved_table = ws_.table;
    ws_.table = &argument_table;
    scan_word(ws_);
    ws_.table = saved_table;
    int count = ws_.idx - value_index;
    if (skip_flags == 0) {
      ElementName element;
      name = element_name_of_word(variable_scope(), name, element);  // a[i]=value
      if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
      char** words = &arg_slots[static_cast<std::size_t>(value_index)];
      if (opt('x')) trace_assignment(name, count, words);
      VarRecord* rec = var_set(variable_scope(), name, VarValue::joined(count, words));
      if (rec != nullptr) special_assign(name, rec->value());
    }
    ws_.idx = word_index;
    ws_.pos = word_pos;
  }

  // The first word of the command: `[[`, a compound starter, a header, a
  // closing word, `function`/`time`, or an alias.
  int first_word(int word_index, int word_pos) {
    char* word = arg_slots[static_cast<std::size_t>(word_index)];
    int found = lookup_command(word);
    int cls = found < 0 ? 0 : command_class(found);
    int index = found < 0 ? 0 : command_index(found);
    if (cls == kClassBuiltin && index == builtin_ix::kDoubleBracket) {
      in_test_ = true;
      ws_.table = &test_table;
    } else if (cls == kClassCompound) {
      ws_.idx = word_index;
      ws_.pos = word_pos;
      int x = run_compound(index, ws_.idx, ws_.pos, cmd_.terminator);
      if (x >= 256) return x;
      compound_ran_ = true;
      return after_compound(cmd_, ws_, result_);
    } else if (cls == kClassHeader) {
      header_ = index;
    } else if (cls == kClassClosing) {
      return kClosingBase + index;
    } else if (cls == kClassFunctionTime) {
      ws_.idx = word_index;
      ws_.pos = word_pos;
      execute_command(index, ws_.idx, ws_.idx, ws_.pos);
      compound_ran_ = true;
      return kKeepReading;
    } else if (skip_flags == 0) {
      VarRecord* alias = var_find(variable_scope(), word, kAlias);
      if (alias != nullptr && alias->value_size() > 0) {
        ws_.idx = word_index;
        ws_.pos = word_pos;
        split_alias_value(ws_, alias);
      }
    }
    if (ws_.idx > word_index) ws_.table = in_test_ ? &test_table : &argument_table;
    return kKeepReading;
  }

  // A later word: `]]` ends a test expression; the word `in` ends the
  // header of a case (`case word in` or `case in`), whose handler then
  // reads the branches itself, so that a whole case fits on one line.
  int later_word() {
    const char* w = arg_slots[static_cast<std::size_t>(ws_.idx - 1)];
    if (in_test_) {
      if (w[0] == ']' && w[1] == ']' && w[2] == 0) {
        in_test_ = false;
        ws_.table = &argument_table;
      }
    } else if (ws_.table == &first_word_table) {
      ws_.table = &argument_table;
    }
    const int count = ws_.idx - cmd_.start;
    if (header_ == header_ix::kCase && (count == 2 || count == 3) && w[0] == 'i' && w[1] == 'n' && w[2] == 0) {
      int x = finish_header();
      if (x == kKeepReading) compound_ran_ = true;
      return x;
    }
    return kKeepReading;
  }

  // Between words: a list operator ends the command outward, a terminator
  // ends it here; anything else starts the next word.
  int between_words() {
    int c;
    do {
      c = next_char();
    } while (word_blank_chars[static_cast<unsigned char>(c)]);
    if (in_test_ && c != kEof && test_table[static_cast<unsigned char>(c)] == 0) {
      push_back();
      return kKeepReading;
    }
    if (list_operator_chars[static_cast<unsigned char>(c)]) {
      result_->end = ws_.idx;
      result_->start = cmd_.start;
      result_->pos = ws_.pos;
      return c;
    }
    if (terminator_chars[static_cast<unsigned char>(c)] || (cmd_.terminator != 0 && c == cmd_.terminator)) {
      at_terminator_ = true;
      return c;
    }
    push_back();
    return kKeepReading;
  }

  // At the terminator of a loop or case header: the handler reads the
  // whole construct; reading goes on after it.
  int finish_header() {
    int count = ws_.idx - cmd_.start;
    if (!in_prompt && count > 0) last_arg_count = count - 1;
    int x = run_header(header_, ws_.idx, cmd_.start, ws_.pos, cmd_.terminator);
    if (x >= 256) return x;
    header_ = -1;
    ws_.idx = cmd_.start;
    ws_.pos = cmd_.pos;
    ws_.table = &first_word_table;
    return after_compound(cmd_, ws_, result_);
  }

  // At the terminator of a simple command: run it.
  int execute(int c) {
    int count = ws_.idx - cmd_.start;
    if (!in_prompt && count > 0) last_arg_count = count - 1;
    if (skip_flags == 0 && count == 0 && input.redirection_count > 0) keep_redirections();
    if (skip_flags != 0 || count == 0) return c;
    command_ended_by_lf = (c == '\n');
    int x = execute_command(-1, ws_.idx, cmd_.start, ws_.pos);
    if (input.redirection_count > 0) undo_redirections();
    return x >= 256 ? x : c;
  }
};

}  // namespace

int collect_command(const CommandRecord& cmd, CollectResult* result) {
  int c;
  do {
    c = next_char();
  } while (leading_blank_chars[static_cast<unsigned char>(c)]);
  if (c == ';') return c;
  if (c == '&' || c == '|') fatal_error(VEK_ERR(kErrSyntax), "\"|&\": Kommando erwartet");
  if (c == kEof) return c;
  if (cmd.terminator != 0 && c == cmd.terminator) return c;
  push_back();
  command_ended_by_lf = false;
  Collector collector(cmd, result);
  return collector.run();
}

}  // namespace vek
