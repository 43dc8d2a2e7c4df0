// Regular-expression compiler and backtracking matcher.  See regex.h for
// the program format and docs/patterns.md for the syntax.
#include "pattern/regex.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <span>

namespace vek {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool is_letter(unsigned char c) { return is_upper(c) || is_lower(c); }
bool is_word(unsigned char c) { return is_letter(c) || is_digit(c) || c == '_'; }

unsigned char class_escape_op(unsigned char letter) {
  switch (letter) {
    case 'A': return rx_letter;
    case 'L': return rx_lower;
    case 'U': return rx_upper;
    case 'D': return rx_digit;
    case 'W': return rx_word_char;
    default: return 0;
  }
}

// Operand bytes of a repeatable item's base opcode, or -1.
int base_operand_size(unsigned char base) {
  switch (base) {
    case rx_literal:
    case rx_backref: return 1;
    case rx_class: return 32;
    case rx_any:
    case rx_letter:
    case rx_lower:
    case rx_upper:
    case rx_digit:
    case rx_word_char: return 0;
    default: return -1;
  }
}

class Compiler {
 public:
  Compiler(std::string_view pattern, std::span<unsigned char> buf, unsigned char esc)
      : pat_(pattern), buf_(buf), esc_(esc) {}

  // Returns the program size (trailer included), or 0 with error() set.
  std::size_t run();
  int error() const { return error_; }
  bool anchored() const { return anchored_; }
  int groups() const { return groups_; }

 private:
  bool fail(int e) {
    error_ = e;
    return false;
  }
  bool room(std::size_t k) const { return out_ + k <= buf_.size(); }
  // Starts a new item of `size` bytes; `repeatable` says whether a
  // following "*" or interval may apply to it.
  bool item(std::size_t size, bool repeatable) {
    if (!room(size)) return fail(rx_err_buffer_too_small);
    last_item_ = repeatable ? out_ : npos;
    return true;
  }
  // Callers check room() first; the test here only guards the buffer.
  bool emit(unsigned char b) {
    if (out_ < buf_.size()) buf_[out_++] = b;
    return true;
  }
  bool literal(unsigned char b) { return item(2, true) && emit(rx_literal) && emit(b); }
  bool simple(unsigned char op, bool repeatable) { return item(1, repeatable) && emit(op); }
  bool list();
  bool escape();
  bool interval();
  bool number(std::size_t& value);

  std::string_view pat_;
  std::span<unsigned char> buf_;
  unsigned char esc_;
  std::size_t i_ = 0;    // pattern position
  std::size_t out_ = 0;  // program position
  std::size_t last_item_ = npos;  // repeatable item a "*" may apply to
  int error_ = 0;
  bool anchored_ = false;
  int groups_ = 0;  // opened so far
  std::array<unsigned char, Regex::max_groups> open_{};  // stack of open groups
  int open_count_ = 0;
  std::array<bool, Regex::max_groups> closed_{};
};

std::size_t Compiler::run() {
  if (!pat_.empty() && pat_[0] == '^') {
    anchored_ = true;
    ++i_;
  }
  while (i_ < pat_.size()) {
    auto c = static_cast<unsigned char>(pat_[i_]);
    bool ok;
    if (c == esc_) {
      ok = escape();
    } else if (c == '*') {
      ++i_;
      if (last_item_ != npos) {
        buf_[last_item_] += rx_star;
        // A repeated item takes no further repetition: a second "*"
        // has nothing to repeat and is literal, like a leading one.
        last_item_ = npos;
        ok = true;
      } else {
        ok = literal('*');
      }
    } else if (c == '$' && i_ + 1 == pat_.size()) {
      ++i_;
      ok = simple(rx_end_anchor, false);
    } else if (c == '.') {
      ++i_;
      ok = simple(rx_any, true);
    } else if (c == '[') {
      ++i_;
      ok = list();
    } else {
      ++i_;
      ok = literal(c);
    }
    if (!ok) return 0;
  }
  if (!room(2)) {
    fail(rx_err_buffer_too_small);
    return 0;
  }
  if (open_count_ > 0) {
    fail(rx_err_group_unbalanced);
    return 0;
  }
  emit(rx_end);
  emit(static_cast<unsigned char>(groups_ | (anchored_ ? regex_trailer_anchored : 0)));
  return out_;
}

bool Compiler::list() {
  if (!item(33, true)) return false;
  std::array<unsigned char, 32> bits{};
  auto add = [&bits](unsigned char b) { bits[b / 8] |= static_cast<unsigned char>(1u << (b % 8)); };
  bool negated = false;
  if (i_ < pat_.size() && pat_[i_] == '^') {
    negated = true;
    ++i_;
  }
  bool first = true;
  int prev = -1;  // last member or range end: the start of a following "-"
  for (;;) {
    if (i_ >= pat_.size()) return fail(rx_err_list_not_closed);
    auto c = static_cast<unsigned char>(pat_[i_]);
    if (c == ']' && !first) {
      ++i_;
      break;
    }
    first = false;
    if (c == '-' && prev >= 0) {
      if (i_ + 1 >= pat_.size()) return fail(rx_err_list_not_closed);
      auto end = static_cast<unsigned char>(pat_[i_ + 1]);
      i_ += 2;
      if (end == ']') {  // "-" before "]" is a member
        add('-');
        break;
      }
      // A range written backwards adds only its end byte.
      for (int b = end > prev ? prev : end; b <= end; ++b) add(static_cast<unsigned char>(b));
      prev = end;
      continue;
    }
    if (c == esc_ && i_ + 1 < pat_.size()) {
      unsigned char mapped = 0;
      switch (auto d = static_cast<unsigned char>(pat_[i_ + 1])) {
        case 't': mapped = 9; break;
        case 'n': mapped = 10; break;
        case 'r': mapped = 13; break;
        case 'z': mapped = 26; break;
        default: mapped = d == esc_ ? esc_ : 0; break;
      }
      if (mapped != 0) {
        add(mapped);
        prev = mapped;
        i_ += 2;
        continue;
      }
      // Before any other byte the escape character is itself a member
      // and the next byte is read normally.
    }
    add(c);
    prev = c;
    ++i_;
  }
  if (negated)
    for (auto& b : bits) b = static_cast<unsigned char>(~b);
  bits[0] &= 0xFE;  // byte 0 never matches
  emit(rx_class);
  for (auto b : bits) emit(b);
  return true;
}

bool Compiler::escape() {
  if (i_ + 1 >= pat_.size()) {  // trailing escape character: itself
    ++i_;
    return literal(esc_);
  }
  auto d = static_cast<unsigned char>(pat_[i_ + 1]);
  i_ += 2;
  switch (d) {
    case '(':
      if (groups_ >= Regex::max_groups) return fail(rx_err_too_many_groups);
      if (!item(2, false)) return false;
      emit(rx_group_open);
      emit(static_cast<unsigned char>(groups_));
      open_[open_count_++] = static_cast<unsigned char>(groups_++);
      return true;
    case ')': {
      if (open_count_ == 0) return fail(rx_err_group_unbalanced);
      if (!item(2, false)) return false;
      unsigned char g = open_[--open_count_];
      closed_[g] = true;
      return emit(rx_group_close) && emit(g);
    }
    case '1': case '2': case '3': case '4': case '5':
    case '6': case '7': case '8': case '9': {
      int g = d - '1';
      if (g >= groups_ || !closed_[g]) return fail(rx_err_backref_open_group);
      return item(2, true) && emit(rx_backref) && emit(static_cast<unsigned char>(g));
    }
    case '{':
      if (last_item_ == npos) return literal('{');
      return interval();
    case '<': return simple(rx_word_start, false);
    case '>': return simple(rx_word_end, false);
    case 'A': case 'L': case 'U': case 'D': case 'W':
      return simple(class_escape_op(d), true);
    case '!':
      // Negation applies to a directly following class escape only;
      // anywhere else the escaped "!" is a literal "!".
      if (i_ + 1 < pat_.size() && static_cast<unsigned char>(pat_[i_]) == esc_ &&
          class_escape_op(static_cast<unsigned char>(pat_[i_ + 1])) != 0)
        return simple(rx_negate, false);
      return literal('!');
    case 'n': return literal(10);
    case 'r': return literal(13);
    case 't': return literal(9);
    case 'z': return literal(26);
    case '\n':
    case '\r': return fail(rx_err_escape_line_end);
    default: return literal(d);
  }
}

// One decimal number of an interval, at most 255.
bool Compiler::number(std::size_t& value) {
  if (i_ >= pat_.size()) return fail(rx_err_interval_not_closed);
  if (!is_digit(static_cast<unsigned char>(pat_[i_]))) return fail(rx_err_interval_no_number);
  value = 0;
  while (i_ < pat_.size() && is_digit(static_cast<unsigned char>(pat_[i_]))) {
    value = value * 10 + static_cast<std::size_t>(pat_[i_] - '0');
    if (value > 255) return fail(rx_err_interval_too_big);
    ++i_;
  }
  return true;
}

// After esc "{": "m", "m," or "m,n", closed by "}" or esc "}".
bool Compiler::interval() {
  std::size_t min = 0, max = 0;
  if (!number(min)) return false;
  max = min;
  auto at = [this](std::size_t k) -> int {
    return i_ + k < pat_.size() ? static_cast<unsigned char>(pat_[i_ + k]) : -1;
  };
  if (at(0) == ',') {
    ++i_;
    if (at(0) == '}' || at(0) == esc_) {
      max = rx_unlimited;
    } else if (at(0) == ',') {
      return fail(rx_err_interval_three_numbers);
    } else if (!number(max)) {
      return false;
    }
    if (at(0) == ',') return fail(rx_err_interval_three_numbers);
  }
  if (at(0) == '}') {
    i_ += 1;
  } else if (at(0) == esc_ && at(1) == '}') {
    i_ += 2;
  } else {
    return fail(rx_err_interval_not_closed);
  }
  if (max < min) return fail(rx_err_interval_max_below_min);
  if (!room(2)) return fail(rx_err_buffer_too_small);
  buf_[last_item_] += rx_interval;
  last_item_ = npos;
  emit(static_cast<unsigned char>(min));
  emit(static_cast<unsigned char>(max));
  return true;
}

// Position of the end operation of a well-formed program at the start of
// `buf`, or npos.  A program left in a buffer is checked this way before
// it is reused, so that a buffer that held something else is refused
// rather than run.
std::size_t program_end(std::span<const unsigned char> buf) {
  if (buf.empty() || buf[0] == 0) return npos;
  std::size_t end = 0;
  while (end < buf.size() && buf[end] != rx_end) {
    int size = regex_operand_size(buf[end]);
    if (size < 0) return npos;
    end += 1 + static_cast<std::size_t>(size);
  }
  if (end + 1 >= buf.size()) return npos;  // no room for the trailer
  int groups = buf[end + 1] & regex_trailer_groups;
  if (groups > Regex::max_groups) return npos;
  for (std::size_t pc = 0; pc < end; pc += 1 + static_cast<std::size_t>(regex_operand_size(buf[pc]))) {
    unsigned char op = buf[pc];
    bool numbered = op == rx_group_open || op == rx_group_close || (op & ~3) == rx_backref;
    if (numbered && buf[pc + 1] >= groups) return npos;
  }
  return end;
}

}  // namespace

int regex_operand_size(unsigned char opcode) {
  switch (opcode) {
    case rx_group_open:
    case rx_group_close: return 1;
    case rx_end_anchor:
    case rx_end:
    case rx_negate:
    case rx_word_start:
    case rx_word_end: return 0;
    default: break;
  }
  int rep = opcode & 3;
  int size = base_operand_size(static_cast<unsigned char>(opcode & ~3));
  if (size < 0 || rep == 2) return -1;
  return size + (rep == rx_interval ? 2 : 0);
}

void regex_fold_literals_upper(unsigned char* program) {
  for (std::size_t pc = 0; program[pc] != rx_end;) {
    int size = regex_operand_size(program[pc]);
    if (size < 0) return;
    if ((program[pc] & ~3) == rx_literal && is_lower(program[pc + 1])) program[pc + 1] -= 'a' - 'A';
    pc += 1 + static_cast<std::size_t>(size);
  }
}

Regex& regex_engine() {
  static Regex engine;
  return engine;
}

unsigned char* Regex::compile(std::string_view pattern, unsigned char* buf_begin,
                              unsigned char* buf_end, unsigned char esc) {
  last_error_ = 0;
  match_start_ = match_end_ = 0;
  group_count_ = 0;
  anchored_ = false;
  backoff_limit_ = nullptr;
  program_ = nullptr;
  std::span<unsigned char> buf(buf_begin, buf_end < buf_begin ? buf_begin : buf_end);
  pattern = pattern.substr(0, pattern.find('\0'));

  if (pattern.empty()) {
    // Reuse the program left in the buffer, with its anchoring and groups.
    std::size_t end = program_end(buf);
    if (end == npos) {
      last_error_ = rx_err_nothing_compiled;
      return nullptr;
    }
    anchored_ = (buf[end + 1] & regex_trailer_anchored) != 0;
    group_count_ = buf[end + 1] & regex_trailer_groups;
    program_ = buf_begin;
    analyse_program();
    return buf_begin;
  }

  Compiler c(pattern, buf, esc);
  std::size_t size = c.run();
  if (size == 0) {
    last_error_ = c.error();
    return nullptr;
  }
  anchored_ = c.anchored();
  group_count_ = c.groups();
  program_ = buf_begin;
  analyse_program();
  return buf_begin + size;
}

// Finds for each repeated item which recorded positions the continuation
// after it depends on.  The continuation at pc `next` reads group spans
// only in the back-references at or after `next`; such a reference reads
// the start set by the last opening of its group before it and the end
// set by the last closing before it.  One that lies at or after `next` is
// set inside the continuation and is part of what it does; one that lies
// before it (or is missing) is read as it stands when the continuation is
// entered, so the continuation's memo holds only while it is unchanged.
void Regex::analyse_program() {
  item_reads_.clear();
  backrefs_.clear();
  item_next_.clear();
  run_cache_.clear();
  if (program_ == nullptr) return;
  std::array<std::size_t, max_groups> open_at, close_at;
  open_at.fill(npos);
  close_at.fill(npos);
  for (std::size_t pc = 0; program_[pc] != rx_end;) {
    unsigned char op = program_[pc];
    int size = regex_operand_size(op);
    if (size < 0) break;  // not produced by the compiler, refused on reuse
    std::size_t next = pc + 1 + static_cast<std::size_t>(size);
    if (op == rx_group_open) {
      open_at[program_[pc + 1] % max_groups] = pc;
    } else if (op == rx_group_close) {
      close_at[program_[pc + 1] % max_groups] = pc;
    } else {
      if ((op & ~3) == rx_backref) {
        unsigned char g = program_[pc + 1] % max_groups;
        backrefs_.push_back({pc, open_at[g], close_at[g], g});
      }
      if ((op & 3) == rx_star || (op & 3) == rx_interval) item_next_.push_back(next);
    }
    pc = next;
  }
  run_cache_.assign(item_next_.size(), RunCache{});
  for (std::size_t next : item_next_) {
    std::uint32_t reads = 0;
    for (const BackRef& r : backrefs_) {
      if (r.pc < next) continue;
      if (r.start_set == npos || r.start_set < next) reads |= std::uint32_t{1} << r.group;
      if (r.end_set == npos || r.end_set < next) reads |= std::uint32_t{1} << (max_groups + r.group);
    }
    item_reads_.push_back(reads);
  }
}

RegexSpan Regex::group(int n) const {
  if (n < 1 || n > group_count_) return {};
  auto k = static_cast<std::size_t>(n - 1);
  if (group_start_[k] == unset || group_end_[k] == unset || group_end_[k] < group_start_[k]) return {};
  return {group_start_[k], group_end_[k], true};
}

int Regex::match(const char* subject) { return match(std::string_view(subject)); }

int Regex::match_from(std::string_view subject, std::size_t from) {
  search_from_ = from;
  int found = match(subject);
  search_from_ = 0;
  return found;
}

int Regex::match(std::string_view subject) {
  text_ = subject.substr(0, subject.find('\0'));
  subject_ = text_.data();
  group_start_.fill(unset);
  group_end_.fill(unset);
  changes_.fill(0);
  match_start_ = match_end_ = 0;
  steps_ = 0;
  memo_state_ = MemoState::unused;
  ++match_serial_;
  // The back-off limit as a subject position (it may lie elsewhere).
  std::less<const char*> before;
  limit_at_ = npos;
  if (backoff_limit_ != nullptr && !before(backoff_limit_, subject_) &&
      !before(subject_ + text_.size(), backoff_limit_))
    limit_at_ = static_cast<std::size_t>(backoff_limit_ - subject_);
  if (program_ == nullptr) return 0;

  auto found = [this](std::size_t pos) {
    match_start_ = pos;
    match_end_ = end_reached_;
    return 1;
  };
  // Group openings consume nothing; when a literal follows them, only the
  // positions holding it can start a match.
  std::size_t lead = 0;
  while (program_[lead] == rx_group_open) lead += 2;
  if (anchored_) {
    if (search_from_ == 0 && run(0, 0, 0)) return found(0);
  } else if (program_[lead] == rx_literal) {
    auto first = static_cast<char>(program_[lead + 1]);
    for (std::size_t pos = text_.find(first, search_from_); pos != std::string_view::npos;
         pos = text_.find(first, pos + 1))
      if (run(0, pos, 0)) return found(pos);
  } else {
    for (std::size_t pos = search_from_; pos <= text_.size(); ++pos)
      if (run(0, pos, 0)) return found(pos);
  }
  group_start_.fill(unset);
  group_end_.fill(unset);
  return 0;
}

// Subject bytes matched by one occurrence of the item at `operand` (its
// base opcode `base`) at `pos`, or npos.  The end of the subject (and so
// byte 0) never matches.
std::size_t Regex::item_length(unsigned char base, std::size_t operand, std::size_t pos,
                               bool negated) const {
  if (base == rx_backref) {
    unsigned char g = program_[operand];
    std::size_t start = group_start_[g], end = group_end_[g];
    if (start == unset || end == unset || end < start) return npos;
    std::size_t len = end - start;
    if (text_.size() - pos < len) return npos;
    return text_.compare(pos, len, text_, start, len) == 0 ? len : npos;
  }
  if (pos >= text_.size()) return npos;
  auto c = static_cast<unsigned char>(text_[pos]);
  bool hit;
  switch (base) {
    case rx_literal: return c == program_[operand] ? 1 : npos;
    case rx_any: return 1;
    case rx_class: return (program_[operand + c / 8] >> (c % 8)) & 1 ? 1 : npos;
    case rx_letter: hit = is_letter(c); break;
    case rx_lower: hit = is_lower(c); break;
    case rx_upper: hit = is_upper(c); break;
    case rx_digit: hit = is_digit(c); break;
    case rx_word_char: hit = is_word(c); break;
    default: return npos;
  }
  return hit != negated ? 1 : npos;
}

// A starred or interval item at `pos`: takes at least `min` and then as
// many more occurrences as possible (up to `max`), then tries the rest of
// the program from the longest run back down to `min` occurrences.
// `item` is the item's number among the repeated items of the program.
bool Regex::repeat(unsigned char base, std::size_t operand, std::size_t next, std::size_t pos,
                   std::size_t min, std::size_t max, bool negated, std::size_t item) {
  std::size_t step = 1;
  if (base == rx_backref) {
    unsigned char g = program_[operand];
    if (group_start_[g] == unset || group_end_[g] == unset || group_end_[g] < group_start_[g])
      return false;
    step = group_end_[g] - group_start_[g];
  }
  std::size_t count = 0;
  std::size_t end = pos;
  if (step == 0) {
    // Copies of an empty group text: any number of them matches the empty
    // text, so the item matches it once and never loops.
    count = min;
  } else if (base == rx_backref) {
    for (; count < min; ++count, end += step)
      if (item_length(base, operand, end, negated) == npos) return false;
    for (; count < max; ++count, end += step)
      if (item_length(base, operand, end, negated) == npos) break;
  } else {
    count = run_length(base, operand, pos, max, negated, item);
    if (count < min) return false;
    end = pos + count;
  }
  const std::size_t lowest = end - (count - min) * step;  // where backing off stops
  // When a literal follows, only the positions holding it are worth trying.
  const bool literal_next = program_[next] == rx_literal;
  const char literal = literal_next ? static_cast<char>(program_[next + 1]) : 0;
  auto worth = [&](std::size_t at) { return !literal_next || (at < text_.size() && text_[at] == literal); };
  for (;;) {
    if (step == 1) {
      // Ends known to fail or not worth trying are passed over at once;
      // the back-off limit still counts at each of them.
      std::size_t to_try = end;
      for (;;) {
        to_try = last_untried(item, to_try, lowest);
        if (to_try == npos || worth(to_try)) break;
        to_try = to_try == lowest ? npos : text_.rfind(literal, to_try - 1);
        if (to_try == npos || to_try < lowest) {
          to_try = npos;
          break;
        }
      }
      std::size_t passed = to_try == npos ? lowest : to_try;
      if (limit_at_ != npos && passed <= limit_at_ && limit_at_ <= end) return false;
      if (to_try == npos) return false;
      count -= end - to_try;
      end = to_try;
    } else if (end == limit_at_) {
      return false;
    }
    if (worth(end) && continue_after(item, next, end)) return true;
    if (count == min || step == 0) return false;
    --count;
    end -= step;
  }
}

// Number of consecutive occurrences, at most `max`, of the one-byte item
// number `item` from `pos`.  A run found to end at a mismatch (or at the
// end of the subject) is remembered: a later call for the same item that
// starts inside it, or runs into it, ends at the same place.
std::size_t Regex::run_length(unsigned char base, std::size_t operand, std::size_t pos,
                              std::size_t max, bool negated, std::size_t item) {
  RunCache* cache = memoize_ && item < run_cache_.size() ? &run_cache_[item] : nullptr;
  bool known = cache != nullptr && cache->serial == match_serial_;
  if (known && cache->from <= pos && pos <= cache->to) return std::min(cache->to - pos, max);
  std::size_t count = 0;
  for (; count < max; ++count) {
    if (known && pos + count == cache->from) {
      cache->from = pos;
      return std::min(cache->to - pos, max);
    }
    if (item_length(base, operand, pos + count, negated) == npos) break;
  }
  if (cache != nullptr && count < max) *cache = {match_serial_, pos, pos + count};
  return count;
}

// Sets up the memo for this match() call (see regex.h): bit rows for as
// many repeated items as the table holds, spread evenly; the other items
// keep one interval of known failures.
void Regex::start_memo() {
  memo_state_ = MemoState::off;
  const std::size_t items = item_reads_.size();
  if (items == 0) return;
  memo_cols_ = text_.size() + 1;
  const std::size_t fit = memo_cols_ <= memo_bits_limit_ ? memo_bits_limit_ / memo_cols_ : 0;
  const std::size_t every = fit == 0 ? 0 : (items + fit - 1) / fit;
  const std::size_t rows = every == 0 ? 0 : (items + every - 1) / every;
  const std::size_t words = (rows * memo_cols_ + 63) / 64;
  if (memo_bits_.size() < words) memo_bits_.resize(words);
  std::fill_n(memo_bits_.begin(), words, 0);
  item_memo_.resize(items);
  for (std::size_t item = 0; item < items; ++item)
    item_memo_[item] = {0, every != 0 && item % every == 0 ? item / every : npos, 1, 0};
  memo_state_ = MemoState::on;
}

// Whether the continuation after repeated item `item` is memoised in this
// match() call.
bool Regex::memoised(std::size_t item) {
  if (!memoize_ || item >= item_reads_.size()) return false;
  if (memo_state_ == MemoState::unused) start_memo();
  return memo_state_ == MemoState::on;
}

// Sum of the change counts of the starts and ends the item's continuation
// reads as they stand when it is entered.
std::uint64_t Regex::item_stamp(std::size_t item) const {
  std::uint64_t sum = 0;
  std::uint32_t reads = item_reads_[item];
  for (std::size_t k = 0; reads != 0; ++k, reads >>= 1)
    if (reads & 1) sum += changes_[k];
  return sum;
}

bool Regex::known_failure(std::size_t item, std::size_t pos, std::uint64_t stamp) const {
  const ItemMemo& m = item_memo_[item];
  if (m.stamp != stamp) return false;
  if (m.row == npos) return m.lo <= pos && pos <= m.hi;
  std::size_t bit = m.row * memo_cols_ + pos;
  return (memo_bits_[bit / 64] >> (bit % 64) & 1) != 0;
}

void Regex::remember_failure(std::size_t item, std::size_t pos, std::uint64_t stamp) {
  ItemMemo& m = item_memo_[item];
  if (m.stamp != stamp) {
    // What the item holds was found with other group spans: forget it.
    m.stamp = stamp;
    m.lo = 1;
    m.hi = 0;
    if (m.row != npos) {
      std::size_t first = m.row * memo_cols_;
      std::size_t last = first + memo_cols_;  // exclusive
      for (std::size_t b = first; b < last;) {
        if (b % 64 == 0 && last - b >= 64) {
          memo_bits_[b / 64] = 0;
          b += 64;
        } else {
          memo_bits_[b / 64] &= ~(std::uint64_t{1} << (b % 64));
          ++b;
        }
      }
    }
  }
  if (m.row != npos) {
    std::size_t bit = m.row * memo_cols_ + pos;
    memo_bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  } else if (m.lo > m.hi || pos + 1 < m.lo || pos > m.hi + 1) {
    m.lo = m.hi = pos;  // not next to the interval: the newest failure wins
  } else {
    m.lo = std::min(m.lo, pos);
    m.hi = std::max(m.hi, pos);
  }
}

// The largest position in [lowest, end] at which the continuation after
// `item` is not known to fail, or npos.
std::size_t Regex::last_untried(std::size_t item, std::size_t end, std::size_t lowest) {
  if (!memoised(item)) return end;
  const ItemMemo& m = item_memo_[item];
  if (m.stamp != item_stamp(item)) return end;
  if (m.row == npos) {
    if (end < m.lo || end > m.hi) return end;
    return m.lo > lowest ? m.lo - 1 : npos;
  }
  const std::size_t base = m.row * memo_cols_;
  for (std::size_t at = end;;) {
    std::size_t bit = base + at;
    // Clear bits (untried positions) at or below `at` within its word,
    // moved up so that the one of `at` is the top bit.
    std::uint64_t open = ~memo_bits_[bit / 64] << (63 - bit % 64);
    if (open != 0) {
      auto back = static_cast<std::size_t>(std::countl_zero(open));  // `at` - found
      return back <= at - lowest ? at - back : npos;
    }
    std::size_t seen = bit % 64 + 1;
    if (at - lowest < seen) return npos;
    at -= seen;
  }
}

// Tries the rest of the program at `next` (just after repeated item
// number `item`) from subject position `pos`, skipping it when it is
// known to fail and remembering when it does.
bool Regex::continue_after(std::size_t item, std::size_t next, std::size_t pos) {
  if (!memoised(item)) return run(next, pos, item + 1);
  std::uint64_t stamp = item_stamp(item);
  if (known_failure(item, pos, stamp)) return false;
  if (run(next, pos, item + 1)) return true;
  // A failure is remembered for the group spans it was found with; if the
  // continuation changed them itself (only possible in a program that
  // sets a group twice), there is nothing to remember.
  if (item_stamp(item) == stamp) remember_failure(item, pos, stamp);
  return false;
}

bool Regex::run(std::size_t pc, std::size_t pos, std::size_t item) {
  ++steps_;
  auto byte_at = [this](std::size_t p) -> unsigned char {
    return p < text_.size() ? static_cast<unsigned char>(text_[p]) : 0;
  };
  for (;;) {
    unsigned char op = program_[pc];
    bool negated = false;
    if (op == rx_negate) {
      negated = true;
      op = program_[++pc];
    }
    switch (op) {
      case rx_end:
        end_reached_ = pos;
        return true;
      case rx_group_open:
      case rx_group_close: {
        unsigned char g = program_[pc + 1];
        bool open = op == rx_group_open;
        std::size_t& at = open ? group_start_[g] : group_end_[g];
        if (at != pos) {
          at = pos;
          ++changes_[open ? g : max_groups + g];
        }
        pc += 2;
        continue;
      }
      case rx_end_anchor: {
        unsigned char c = byte_at(pos);
        bool at_end = pos >= text_.size() || c == 26 || (c == '\n' && pos + 1 == text_.size()) ||
                      (c == '\r' && pos + 2 == text_.size() && text_[pos + 1] == '\n');
        if (!at_end) return false;
        ++pc;
        continue;
      }
      case rx_word_start:
        if (!is_word(byte_at(pos)) || (pos > 0 && is_word(byte_at(pos - 1)))) return false;
        ++pc;
        continue;
      case rx_word_end:
        if (is_word(byte_at(pos)) || pos == 0 || !is_word(byte_at(pos - 1))) return false;
        ++pc;
        continue;
      default: break;
    }
    auto base = static_cast<unsigned char>(op & ~3);
    int size = base_operand_size(base);
    if (size < 0) return false;
    std::size_t operand = pc + 1;
    std::size_t next = operand + static_cast<std::size_t>(size);
    switch (op & 3) {
      case 0: {
        std::size_t len = item_length(base, operand, pos, negated);
        if (len == npos) return false;
        pos += len;
        pc = next;
        continue;
      }
      case rx_star:
        return repeat(base, operand, next, pos, 0, npos, negated, item);
      case rx_interval: {
        std::size_t min = program_[next];
        std::size_t max = program_[next + 1] == rx_unlimited ? npos : program_[next + 1];
        return repeat(base, operand, next + 2, pos, min, max, negated, item);
      }
      default: return false;
    }
  }
}

}  // namespace vek
