// The four nested loops that turn input text into executed commands:
// run_source, run_list, run_pipeline and collect_command.
#include "core/lists.h"

#include <array>
#include <climits>
#include <cstdint>
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
#include "proc/redirect.h"
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

// What the compound commands remember about the text: for a compound
// command that starts at a position, the position after its closing word
// when redirections or a pipe follow it there, or that nothing of the
// kind follows.  An if or case in a loop body is then read once per
// round, not twice.  The entries of a source are told apart by its text
// serial; bodies in the function file share serial 0 and are forgotten
// whenever that file is written.
constexpr std::int64_t kNothingFollows = -1;
constexpr std::int64_t kNotKnown = -2;

struct TailEntry {
  std::uint64_t serial = 0;
  std::int64_t start = -1;
  std::int64_t tail = kNotKnown;
};

constexpr int kTailBits = 6;
std::array<TailEntry, std::size_t{1} << kTailBits> tail_entries;
std::uint64_t text_serials = 0;

TailEntry& tail_entry(std::int64_t start) {
  const std::uint64_t key = static_cast<std::uint64_t>(start) ^ (input.text_serial << 24);
  return tail_entries[static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kTailBits))];
}

std::int64_t known_tail(std::int64_t start) {
  const TailEntry& e = tail_entry(start);
  return (e.serial == input.text_serial && e.start == start) ? e.tail : kNotKnown;
}

void remember_tail(std::int64_t start, std::int64_t tail) { tail_entry(start) = TailEntry{input.text_serial, start, tail}; }

void move_to(std::int64_t position) {
  if (input_position(position, false) < 0) fatal_error(VEK_ERR(kErrInternal), "input_position()");
}

// Sets a skip bit while it lives.
class SkipBit {
 public:
  explicit SkipBit(unsigned bit) : bit_(bit), saved_(skip_flags & bit) { skip_flags |= bit; }
  ~SkipBit() { skip_flags = (skip_flags & ~bit_) | saved_; }
  SkipBit(const SkipBit&) = delete;
  SkipBit& operator=(const SkipBit&) = delete;

 private:
  unsigned bit_;
  unsigned saved_;
};

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
  input.text_serial = body ? 0 : ++text_serials;
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

void forget_body_positions() {
  for (TailEntry& e : tail_entries)
    if (e.serial == 0) e = TailEntry{};
}

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
      input.text_serial = ++text_serials;  // positions count from the start again
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
    res.pipe = &pipe;
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
      } else if (skip_flags == 0 && !res.output_ready) {
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
    if (res.control >= 256) r = res.control;
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
      const int terminator = cmd_.terminator;
      return compound([=] { return run_compound(index, word_index, word_pos, terminator); }, word_index, word_pos);
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
    const int index = header_;
    const int end = ws_.idx;
    const int start = cmd_.start;
    const int pos = ws_.pos;
    const int terminator = cmd_.terminator;
    header_ = -1;
    ws_.idx = cmd_.start;
    ws_.pos = cmd_.pos;
    ws_.table = &first_word_table;
    // The header's words stay in their slots; the body uses those after.
    return compound([=] { return run_header(index, end, start, pos, terminator); }, end + 1, pos);
  }

  // A compound command at the start of a command.  Unless it is only
  // being read, it is first read to its end without running anything, to
  // see what follows its closing word: redirections there (and those
  // before its first word) are in force for the whole construct and are
  // undone after it, and a "|" there makes it a pipeline stage.  Only then
  // does it run, from the text it just read.  `run` runs the construct
  // from the current position; idx and pos give the argument area after
  // the command's words.
  template <class Run>
  int compound(const Run& run, int idx, int pos) {
    if (skip_flags != 0) {
      const int x = run();
      if (x >= 256) return x;
      compound_ran_ = true;
      return after_compound(cmd_, ws_, result_);
    }
    const std::int64_t start = input_position(0, true);
    const HoldText hold(start);
    std::int64_t tail = known_tail(start);
    if (tail == kNotKnown) {
      {
        const SkipBit ahead(kSkipPreread);
        run();
        tail = look_at_tail(idx, pos);
      }
      remember_tail(start, tail);
      move_to(start);
    }
    int pipe_char = -1;
    std::int64_t resume = -1;
    if (tail != kNothingFollows) {
      move_to(tail);
      pipe_char = apply_tail(idx, pos);
      resume = input_position(0, true);
      move_to(start);
    }
    int x;
    if (tail == kNothingFollows && input.redirection_count == 0) {
      x = run();
    } else {
      PipelineRun* pipe = pipe_char >= 0 ? result_->pipe : nullptr;
      const int base = redirection_depth() - input.redirection_count;
      input.redirection_count = 0;
      if (pipe != nullptr) {
        pipe_stage_output(*pipe, pipe_char);
        result_->output_ready = true;
      }
      try {
        x = run();
      } catch (const GotoRestart&) {
        compound_done(pipe, base);
        throw;
      }
      compound_done(pipe, base);
    }
    if (resume >= 0) move_to(resume);
    compound_ran_ = true;
    const int c = after_compound(cmd_, ws_, result_);
    if (x < 256) return c;
    // break, continue, goend or return left the construct: the list
    // operator after it is read (the pipeline loop hands the code on),
    // any other text is left to the construct around, as after a simple
    // command.
    if (c >= 0 && list_operator_chars[static_cast<unsigned char>(c)]) {
      result_->control = x;
      return c;
    }
    return x;
  }

  // After a compound command with its own redirections or pipe: the
  // pipe's output goes back first (it was set up last), then every
  // redirection made since the construct's own, which a command standing
  // alone inside it may have left.
  static void compound_done(PipelineRun* pipe, int base) {
    if (pipe != nullptr) pipe_stage_done(*pipe);
    const int n = redirection_depth() - base;
    if (n > 0) undo_last_redirections(n);
    input.redirection_count = 0;
  }

  // What ends the text after a compound command's closing word.
  bool ends_tail(int c) const {
    return c == '#' || c == '&' || terminator_chars[static_cast<unsigned char>(c)] ||
           (cmd_.terminator != 0 && c == cmd_.terminator);
  }

  // Whether the next word is a redirection: letters, a digit, then < or >.
  static bool at_redirection() {
    const std::int64_t here = input_position(0, true);
    int c = next_char();
    while ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = next_char();
    if (c >= '0' && c <= '9') c = next_char();
    move_to(here);
    return c == '<' || c == '>';
  }

  WordScan tail_scan(int idx, int pos) const {
    WordScan ws;
    ws.idx = ws.first_word_index = idx;
    ws.pos = pos;
    ws.terminator = cmd_.terminator;
    ws.table = &argument_table;
    return ws;
  }

  static int skip_word_blanks() {
    int c;
    do {
      c = next_char();
    } while (word_blank_chars[static_cast<unsigned char>(c)]);
    return c;
  }

  // Right after the closing word, while nothing runs: the position there
  // when only redirections and a list operator, a terminator or a pipe
  // follow (a pipe alone is enough), else kNothingFollows.
  std::int64_t look_at_tail(int idx, int pos) const {
    const std::int64_t tail = input_position(0, true);
    bool redirected = false;
    for (;;) {
      const int c = skip_word_blanks();
      if (c == '|') {
        const int d = next_char();
        if (d == '|') return redirected ? tail : kNothingFollows;
        if (d == '&' || d == kEof) fatal_error(VEK_ERR(kErrSyntax), "(|& &) Kommando erwartet");
        return tail;
      }
      if (ends_tail(c)) return redirected ? tail : kNothingFollows;
      push_back();
      if (!at_redirection()) return kNothingFollows;
      redirected = true;
      WordScan ws = tail_scan(idx, pos);
      scan_word(ws);
      if (ws.idx != idx) return kNothingFollows;
    }
  }

  // Applies the redirections after the closing word and stops before the
  // operator or terminator that follows them.  Returns the character after
  // a "|" that follows, or -1.
  int apply_tail(int idx, int pos) const {
    for (;;) {
      int c = skip_word_blanks();
      push_back();
      if (c == '|') {
        const std::int64_t here = input_position(0, true);
        next_char();
        const int d = next_char();
        move_to(here);
        return d == '|' ? -1 : d;
      }
      if (ends_tail(c) || !at_redirection()) return -1;
      WordScan ws = tail_scan(idx, pos);
      scan_word(ws);
    }
  }

  // At the terminator of a simple command: run it.
  int execute(int c) {
    int count = ws_.idx - cmd_.start;
    if (!in_prompt && count > 0) last_arg_count = count - 1;
    if (skip_flags == 0 && count == 0 && input.redirection_count > 0) keep_redirections();
    // Also a command read ahead without running: a construct that misses
    // its closing word is reported on the line of its last command, as
    // when it runs.
    if (count > 0 && (skip_flags == 0 || (skip_flags & kSkipPreread))) command_ended_by_lf = (c == '\n');
    if (skip_flags != 0 || count == 0) return c;
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
