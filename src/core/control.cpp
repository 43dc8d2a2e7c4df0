// Compound commands: if, while, until, for, the counting loop, case,
// { } and {{ }}.  Each handler reads its parts straight from the input
// through the command-list layer; a part that must not run is read with
// the handler's skip bit set, so that the end of every construct is
// always found.  A loop repeats by moving the reader back to the position
// it remembered: the body is neither copied nor parsed into anything.
#include "core/control.h"

#include <array>
#include <cstdint>

#include "core/classes.h"
#include "core/commands.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "core/nesting.h"
#include "core/shell.h"
#include "core/words.h"
#include "pattern/wildcard.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

constexpr int closing(int index) { return kClosingBase + index; }
bool is_closing_word(int r) { return r >= kClosingBase && r <= kClosingBase + closing_ix::kDoubleBrace; }
bool is_control(int r) { return r >= kGoend; }

bool is_word(const char* w, const char* text) { return w != nullptr && str_compare(w, text) == 0; }

// Whether a header is checked: when it runs, and also when its construct
// is read ahead to find its end (so that a bad header is reported before
// a missing closing word).
bool checks_header() { return (skip_flags & ~kSkipPreread) == 0; }

// The skip bits a construct owns: put back as they were on entry on every
// way out, so that a construct never disturbs the bits of another.
class OwnBits {
 public:
  explicit OwnBits(unsigned bits) : bits_(bits), saved_(skip_flags & bits) {}
  ~OwnBits() { skip_flags = (skip_flags & ~bits_) | saved_; }
  OwnBits(const OwnBits&) = delete;
  OwnBits& operator=(const OwnBits&) = delete;
  // Sets some of the bits (on) or puts them back as they were (off).
  void set(unsigned bits, bool on) const {
    skip_flags = on ? (skip_flags | bits) : ((skip_flags & ~bits) | (saved_ & bits));
  }

 private:
  unsigned bits_;
  unsigned saved_;
};

// Raises one of the running source's depth counters while it lives.
class Depth {
 public:
  explicit Depth(int& counter) : counter_(counter) { ++counter_; }
  ~Depth() { --counter_; }
  Depth(const Depth&) = delete;
  Depth& operator=(const Depth&) = delete;

 private:
  int& counter_;
};

void move_to(std::int64_t position) {
  if (input_position(position, false) < 0) fatal_error(VEK_ERR(kErrInternal), "input_position()");
}

// Runs command lists until something other than a separator ends them:
// a closing word, the end of the input, a control code, or the end of a
// substitution around the construct (which is then unclosed).  `area`
// gives the argument area for the commands and that terminator.
int run_part(const CommandRecord& area) {
  for (;;) {
    int r = run_list(area);
    if (r >= kEndOfInput || (area.terminator != 0 && r == area.terminator)) return r;
  }
}

// An if, case or brace group: break and goend make it read the rest of
// its text without running it and then hand the code on; continue and
// return leave it at once.
struct Construct {
  CommandRecord area;
  const OwnBits& own;
  unsigned leave_bit;  // set while the construct is being left
  bool counts_goend;   // if and case are the levels goend counts
  int pending = 0;     // the code to hand on at the end

  // Runs to the next closing word (or the end of the input) and returns
  // it, or a code to hand outward at once.
  int part() {
    for (;;) {
      int r = run_part(area);
      if (!is_control(r) || r == kContinue || r == kReturn) return r;
      receive(r);
    }
  }

  void receive(int r) {
    if (r == kGoend) {
      if (!counts_goend || --input.goend_count > 0) pending = kGoend;
    } else if (pending != kGoend) {
      pending = kBreak;
    }
    own.set(leave_bit, true);
  }

  int result() const { return pending != 0 ? pending : kCompoundDone; }
};

// How a part of a loop ended.
enum class LoopEnd { kClosed, kLeave, kNextRound };

struct Loop {
  CommandRecord area;
  const OwnBits& own;
  unsigned bit;
  int pending = 0;

  // Runs to the next closing word.  break and goend make the loop read
  // the rest of its body without running it; a continue that this loop
  // takes starts the next round; return and an outer continue leave it.
  int part(LoopEnd& how) {
    for (;;) {
      int r = run_part(area);
      how = LoopEnd::kClosed;
      if (!is_control(r)) return r;
      if (r == kReturn) {
        how = LoopEnd::kLeave;
        return r;
      }
      if (r == kContinue) {
        how = --input.continue_count > 0 ? LoopEnd::kLeave : LoopEnd::kNextRound;
        return r;
      }
      if (r == kGoend) {
        pending = kGoend;
      } else if (--input.break_count > 0 && pending != kGoend) {
        pending = kBreak;
      }
      own.set(bit, true);
    }
  }

  int result() const { return pending != 0 ? pending : kCompoundDone; }
};

// ---------------------------------------------------------------- if

int compound_if(const CommandRecord& area) {
  NestingGuard level;
  const OwnBits own(kSkipBranch | kSkipLeave);
  const Depth depth(input.cond_depth);
  Construct c{area, own, kSkipLeave, true};
  bool taken = false;
  for (;;) {
    int r = c.part();
    if (is_control(r)) return r;
    if (r != closing(closing_ix::kThen)) fatal_error(VEK_ERR(kErrSyntax), "vermisse then");
    bool runs = false;
    if (skip_flags == 0) {
      if (last_status != 0) {
        own.set(kSkipBranch, true);
      } else {
        last_status = 0;
        runs = true;
      }
    }
    r = c.part();
    if (is_control(r)) return r;
    if (runs) taken = true;
    own.set(kSkipBranch, taken);
    if (r == closing(closing_ix::kElif)) continue;
    if (r == closing(closing_ix::kElse)) {
      r = c.part();
      if (is_control(r)) return r;
    }
    if (r != closing(closing_ix::kFi)) fatal_error(VEK_ERR(kErrSyntax), "vermisse fi");
    return c.result();
  }
}

// ---------------------------------------------------------------- while, until

int compound_loop(bool until, const CommandRecord& area) {
  NestingGuard level;
  const OwnBits own(kSkipWhile);
  const std::int64_t top = input_position(0, true);
  const HoldText hold(top);
  const Depth depth(input.loop_depth);
  Loop loop{area, own, kSkipWhile};
  for (;;) {
    LoopEnd how;
    int r = loop.part(how);
    if (how == LoopEnd::kLeave) return r;
    if (how == LoopEnd::kNextRound) {
      move_to(top);
      continue;
    }
    if (r != closing(closing_ix::kDo)) fatal_error(VEK_ERR(kErrSyntax), "vermisse do");
    if (skip_flags == 0) {
      if ((last_status == 0) != until) last_status = 0;
      else own.set(kSkipWhile, true);
    }
    r = loop.part(how);
    if (how == LoopEnd::kLeave) return r;
    if (how == LoopEnd::kClosed) {
      if (r != closing(closing_ix::kDone)) fatal_error(VEK_ERR(kErrSyntax), "vermisse done");
      if (skip_flags != 0) return loop.result();
    }
    move_to(top);
  }
}

// ---------------------------------------------------------------- for

// Skips blanks, line ends and comment lines (before `do`, before a
// pattern list).
void skip_blank_lines() {
  for (;;) {
    int c = next_char();
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A) continue;
    if (c == '#') {
      do {
        c = next_char();
      } while (c != '\n' && c != kEof);
      if (c == kEof) push_back();
      continue;
    }
    push_back();
    return;
  }
}

// The next command after a for or counting-loop header must be `do`
// (blank and comment lines may come first).  It is read without running.
void expect_do(const CommandRecord& area) {
  skip_blank_lines();
  const unsigned saved = skip_flags;
  skip_flags |= kSkipFor;
  const int r = run_list(area);
  skip_flags = saved;
  if (r != closing(closing_ix::kDo)) fatal_error(VEK_ERR(kErrSyntax), "vermisse do");
}

constexpr const char* kForUsage = "for [n] name(n) [in wort];";
constexpr const char* kRepeatUsage = "[for name] [from a] [by n] [to b] repeat;";

bool dash_or_name(const char* w) { return w != nullptr && (is_word(w, "-") || name_check(w)); }

// The parts of a for header.
struct ForHeader {
  char** names = nullptr;
  int name_count = 1;
  bool counted = false;  // the "for n names" form, which sets __ARGS__
  char** values = nullptr;
  int value_count = 0;
};

ForHeader read_for_header(char** w, int count) {
  ForHeader h;
  int first_name = 1;
  int in_at = 2;
  if (count > 3 && is_digit(w[1][0])) {
    h.counted = true;
    h.name_count = parse_decimal(w[1]);
    if (h.name_count <= 0) h.name_count = 1;
    first_name = 2;
    in_at = h.name_count + 2;
  }
  if (checks_header()) {
    const bool bad = count < 2 || !dash_or_name(w[first_name]) || h.name_count + 3 >= 33 ||
                     first_name + h.name_count > count || (count > in_at && !is_word(w[in_at], "in"));
    if (bad) fatal_error(VEK_ERR(kErrArguments), kForUsage);
    for (int i = 1; i < h.name_count; ++i) {
      const char* name = w[first_name + i];
      if (!dash_or_name(name)) fatal_error(VEK_ERR(kErrBadName), name);
    }
  }
  h.names = w + first_name;
  if (count <= in_at) {
    // No `in`: the positional parameters, as they are when the loop starts.
    h.values = input.params;
    h.value_count = input.param_count;
  } else {
    h.values = w + in_at + 1;
    h.value_count = count - in_at - 1;
  }
  return h;
}

// Sets the loop's names from the values at `next`; returns how many
// values the round takes.
int assign_for_values(const ForHeader& h, int next) {
  const VarScope scope = variable_scope();
  if (!h.counted) {
    if (!is_word(h.names[0], "-")) var_set(scope, h.names[0], VarValue::text(h.values[next]));
    return 1;
  }
  const int left = h.value_count - next;
  const int m = left < h.name_count ? left : h.name_count;
  char digits[16];
  format_signed(digits, m);
  store_set(scope, global_store, "__ARGS__", VarValue::text(digits));
  for (int i = 0; i < h.name_count; ++i) {
    const char* name = h.names[i];
    if (is_word(name, "-")) continue;
    var_set(scope, name, VarValue::text(i < m ? h.values[next + i] : ""));
  }
  return m;
}

int header_for(char** words, int count, const CommandRecord& area) {
  NestingGuard level;
  const OwnBits own(kSkipFor);
  const ForHeader h = read_for_header(words, count);
  expect_do(area);
  const std::int64_t top = input_position(0, true);
  const HoldText hold(top);
  const Depth depth(input.loop_depth);
  Loop loop{area, own, kSkipFor};
  int next = 0;
  for (;;) {
    int step = 1;
    if (next >= h.value_count) own.set(kSkipFor, true);
    else if (skip_flags == 0) step = assign_for_values(h, next);
    LoopEnd how;
    int r = loop.part(how);
    if (how == LoopEnd::kLeave) return r;
    if (how == LoopEnd::kClosed) {
      if (r != closing(closing_ix::kDone)) fatal_error(VEK_ERR(kErrSyntax), "vermisse done");
      if (skip_flags != 0) return loop.result();
    }
    next += step;
    // After a continue the body's end has not been read yet: a last round
    // in skip mode finds it.
    if (how == LoopEnd::kClosed && next >= h.value_count) return loop.result();
    move_to(top);
  }
}

// ---------------------------------------------------------------- counting loop

struct Counting {
  const char* name = nullptr;
  std::int64_t value = 1;
  std::int64_t step = 1;
  std::int64_t limit = 0;
  bool has_limit = false;
};

bool read_number(const char* w, std::int64_t& out) {
  if (w == nullptr || is_decimal_word(w) != 0) return false;
  out = parse_decimal(w);
  return true;
}

// [for name] [from a] [by n] [to b] repeat: each keyword at most once and
// in this order.
bool read_counting_header(char** w, int count, Counting& c) {
  static constexpr const char* kKeywords[] = {"for", "from", "by", "to", "repeat"};
  if (count >= 10) return false;
  int next_rank = 0;
  for (int i = 0; i < count;) {
    int rank = -1;
    for (int k = 0; k < 5; ++k)
      if (is_word(w[i], kKeywords[k])) rank = k;
    if (rank < next_rank) return false;
    if (rank == 4) return i == count - 1;
    if (i + 1 >= count) return false;
    const char* operand = w[i + 1];
    bool ok = true;
    switch (rank) {
      case 0:
        ok = name_check(operand);
        c.name = operand;
        break;
      case 1: ok = read_number(operand, c.value); break;
      case 2: ok = read_number(operand, c.step); break;
      default:
        ok = read_number(operand, c.limit);
        c.has_limit = true;
        break;
    }
    if (!ok) return false;
    next_rank = rank + 1;
    i += 2;
  }
  return false;
}

int counting_loop(char** words, int count, const CommandRecord& area) {
  NestingGuard level;
  const OwnBits own(kSkipFor);
  Counting c;
  if (!read_counting_header(words, count, c) && checks_header()) fatal_error(VEK_ERR(kErrArguments), kRepeatUsage);
  expect_do(area);
  const std::int64_t top = input_position(0, true);
  const HoldText hold(top);
  const Depth depth(input.loop_depth);
  Loop loop{area, own, kSkipFor};
  for (;;) {
    if (c.has_limit && (c.step >= 0 ? c.value > c.limit : c.value < c.limit)) {
      own.set(kSkipFor, true);
    } else if (skip_flags == 0 && c.name != nullptr) {
      const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(c.value));
      var_set(variable_scope(), c.name, VarValue::integer(v));
    }
    LoopEnd how;
    int r = loop.part(how);
    if (how == LoopEnd::kLeave) return r;
    if (how == LoopEnd::kClosed) {
      if (r != closing(closing_ix::kDone)) fatal_error(VEK_ERR(kErrSyntax), "vermisse done");
      if (skip_flags != 0) return loop.result();
    }
    c.value += c.step;
    move_to(top);
  }
}

// ---------------------------------------------------------------- case

constexpr int kPatternListMax = 127;
constexpr const char* kPatternListError = "case:  pattern, esac)";

// The pattern list of one branch, its patterns separated by NUL bytes.
struct PatternList {
  std::array<char, kPatternListMax + 1> text{};
  int n = 0;
  void put(int c) {
    if (n >= kPatternListMax) fatal_error(VEK_ERR(kErrSyntax), kPatternListError);
    text[static_cast<std::size_t>(n++)] = static_cast<char>(c);
  }
  bool is_esac() const { return n == 4 && text[0] == 'e' && text[1] == 's' && text[2] == 'a' && text[3] == 'c'; }
};

// What may follow the word esac: a blank, a line end, a list operator,
// or the end of a substitution around the case.
bool ends_esac(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A || c == ';' || c == '&' || c == '|' ||
         c == ')' || c == '`' || c == kEof;
}

// Reads a pattern list up to its ')', without any expansion.  Returns
// false at the word esac, which ends the case.
bool read_pattern_list(PatternList& list) {
  skip_blank_lines();
  list.n = 0;
  bool escaped = false;
  const int esc = escape_char;
  for (;;) {
    int c = next_char();
    if (!escaped && list.is_esac() && ends_esac(c)) {
      push_back();
      return false;
    }
    if (c == kEof) fatal_error(VEK_ERR(kErrSyntax), kPatternListError);
    if (c == ')') break;
    if (c == esc) {
      int d = next_char();
      if (d == '\n') continue;
      if (d == '\r') {
        if (next_char() != '\n') push_back();
        continue;
      }
      if (d == kEof) fatal_error(VEK_ERR(kErrSyntax), kPatternListError);
      escaped = true;
      if (d == esc || d == ')' || d == '|' || d == '#' || d == ' ' || d == '\t') {
        list.put(d);
      } else {
        list.put(esc);
        list.put(d);
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    list.put(c == '|' ? 0 : c);
  }
  list.text[static_cast<std::size_t>(list.n)] = 0;
  return true;
}

bool matches_any(const PatternList& list, const char* subject) {
  static std::array<unsigned char, pattern_buffer_size(kPatternListMax)> compiled;
  const std::string_view word(subject);
  int i = 0;
  for (;;) {
    const char* p = list.text.data() + i;
    const std::string_view pattern(p);
    if (pattern_compile(compiled, pattern, escape_char) != pattern_ok) fatal_error(VEK_ERR(kErrPattern));
    if (pattern_match(word, compiled.data(), escape_char) == 0) return true;
    i += static_cast<int>(pattern.size()) + 1;
    if (i > list.n) return false;
  }
}

// Runs the commands of a branch up to ";;" or ";,".  Returns ';' or ',',
// or a code to hand outward at once.
int run_branch(Construct& c) {
  for (;;) {
    int r = run_list(c.area);
    bool after_semicolon = r == ';';
    if (is_control(r)) {
      if (r == kContinue || r == kReturn) return r;
      c.receive(r);
      // The command that sent the code may have been ended by the ';'
      // that starts the branch's end.
      after_semicolon = input.rp > input.buf && input.rp[-1] == ';';
    } else if (is_closing_word(r)) {
      fatal_error(VEK_ERR(kErrSyntax), "case: Falsches Schl\x81sselwort");
    } else if (r >= kEndOfInput || (c.area.terminator != 0 && r == c.area.terminator)) {
      fatal_error(VEK_ERR(kErrSyntax), "case: vermisse ;; ;, ");
    }
    if (after_semicolon) {
      int d = next_char();
      if (d == ';' || d == ',') return d;
      push_back();
    }
  }
}

int header_case(char** w, int count, const CommandRecord& area) {
  NestingGuard level;
  const OwnBits own(kSkipCase | kSkipLeave);
  const bool form = (count == 3 && is_word(w[2], "in")) || (count == 2 && is_word(w[1], "in"));
  if (!form && checks_header()) fatal_error(VEK_ERR(kErrArguments), "case wort in;");
  const char* subject = count == 3 ? w[1] : "";
  const Depth depth(input.cond_depth);
  Construct c{area, own, kSkipLeave, true};
  bool selecting = true;  // no selected branch has ended with ;; yet
  bool fall = false;      // the branch before ran and ended with ;,
  PatternList list;
  while (read_pattern_list(list)) {
    bool selected = fall;
    if (!selected && selecting && (skip_flags & ~kSkipCase) == 0) selected = matches_any(list, subject);
    own.set(kSkipCase, !selected);
    int r = run_branch(c);
    if (is_control(r)) return r;
    fall = selected && r == ',';
    if (selected && r == ';') selecting = false;
  }
  return c.result();
}

// ---------------------------------------------------------------- { } and {{ }}

// A {{ }} block is a scope of its own: a fresh table of local records and
// the `global` counter at 0, both put back when it ends.
class BlockScope {
 public:
  explicit BlockScope(std::array<VarRecord, kLocalRecords>& records)
      : store_(input.local_store), counter_(input.global_counter) {
    local_store_open(input.local_store, records, store_);
    input.global_counter = 0;
  }
  ~BlockScope() {
    input.local_store = store_;
    input.global_counter = counter_;
  }
  BlockScope(const BlockScope&) = delete;
  BlockScope& operator=(const BlockScope&) = delete;

 private:
  VarStore store_;
  int counter_;
};

int run_brace_group(const CommandRecord& area, unsigned bit, int closing_index, const char* missing) {
  const OwnBits own(bit);
  Construct c{area, own, bit, false};
  int r = c.part();
  if (is_control(r)) return r;
  if (r != closing(closing_index)) fatal_error(VEK_ERR(kErrSyntax), missing);
  return c.result();
}

int compound_brace(const CommandRecord& area) {
  NestingGuard level;
  return run_brace_group(area, kSkipBrace, closing_ix::kBrace, "vermisse  ;} ");
}

int compound_block(const CommandRecord& area) {
  NestingGuard level;
  std::array<VarRecord, kLocalRecords> records;
  const BlockScope scope(records);
  return run_brace_group(area, kSkipBlock, closing_ix::kDoubleBrace, "vermisse  ;}} ");
}

}  // namespace

int run_compound(int index, int idx, int pos, int terminator) {
  const CommandRecord area{idx, pos, terminator};
  switch (index) {
    case compound_ix::kBrace: return compound_brace(area);
    case compound_ix::kDoubleBrace: return compound_block(area);
    case compound_ix::kWhile: return compound_loop(false, area);
    case compound_ix::kUntil: return compound_loop(true, area);
    case compound_ix::kIf: return compound_if(area);
    default: fatal_error(VEK_ERR(kErrInternal), "sw_dflt:compound()");
  }
}

int run_header(int index, int end, int start, int pos, int terminator) {
  // The header's words stay where they are; the body's commands use the
  // area after them.
  arg_slots[static_cast<std::size_t>(end)] = nullptr;
  char** w = &arg_slots[static_cast<std::size_t>(start)];
  const int count = end - start;
  const CommandRecord area{end + 1, pos, terminator};
  if (index == header_ix::kCase) return header_case(w, count, area);
  if (index == header_ix::kFor) {
    const bool counting = count < 10 && is_word(w[count - 1], "repeat") && !(count > 2 && is_word(w[2], "in"));
    if (!counting) return header_for(w, count, area);
  }
  return counting_loop(w, count, area);
}

int request_break(int n) {
  if (n > input.loop_depth) fatal_error(VEK_ERR(kErrLoop), "break|continue|goend [n]");
  if (n < 1) return 0;
  input.break_count = n;
  return kBreak;
}

int request_continue(int n) {
  if (n > input.loop_depth) fatal_error(VEK_ERR(kErrLoop), "break|continue|goend [n]");
  if (n < 1) return 0;
  input.continue_count = n;
  return kContinue;
}

int request_goend(int n) {
  if (n > input.cond_depth) fatal_error(VEK_ERR(kErrLoop), "break|continue|goend [n]");
  if (n < 1) return 0;
  input.goend_count = n;
  return kGoend;
}

}  // namespace vek
