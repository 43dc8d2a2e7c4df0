// grep: select the lines of files, or of standard input, that match a
// regular expression or contain a fixed string.
//
//   grep [-options ...] pattern [file ...]
//
// Input is read in large blocks and split into pieces (a line, or 8191
// bytes of a longer one) in place; nothing is allocated per line.
//
// Three things keep it fast on big files, none of which changes a result:
// - When every matching line must contain a known byte string (the fixed
//   string, or a run of plain characters of the regular expression) or a
//   byte of a known set (an item every match consumes), the block is
//   searched for that, and only the lines holding it are tested; where
//   finding it already decides the match, no line is tested at all.
// - A regular expression of up to 64 positions without back-references is
//   tested on a line in one pass (LineNfa), which costs the same for every
//   pattern; the engine's backtracking is left for the others.
// - With case ignored, the block is upper-cased once into a second buffer,
//   which is what the tests see; what is written comes from the first.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/search.h"
#include "io/fdio.h"
#include "pattern/regex.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
unsigned char to_upper(unsigned char c) { return is_lower(c) ? static_cast<unsigned char>(c - ('a' - 'A')) : c; }

// About how many of a million bytes of text are this byte; used to pick
// what a search looks for.  Upper-case letters count a twentieth of
// their lower-case form.
double byte_share(unsigned char c) {
  static constexpr std::array<double, 26> kLetters = {
      63000, 12000, 22000, 30000, 95000, 18000, 16000, 45000, 55000, 1000, 6000, 32000, 20000,
      55000, 60000, 16000, 800,   48000, 50000, 68000, 22000, 8000,  15000, 1500,  14000, 600};
  if (c >= 'a' && c <= 'z') return kLetters[static_cast<std::size_t>(c - 'a')];
  if (c >= 'A' && c <= 'Z') return kLetters[static_cast<std::size_t>(c - 'A')] / 20;
  if (c == ' ') return 170000;
  if (c == '\n') return 15000;
  if (c >= '0' && c <= '9') return 5000;
  if (c == '.' || c == ',' || c == '\t' || c == '-' || c == '\r') return 5000;
  if (c == 0) return 10;
  if (c < 32 || c >= 127) return 100;
  return 1000;
}

// ---------------------------------------------------------------- buffers

constexpr std::size_t kBlock = std::size_t{1} << 20;
std::array<char, kBlock> block;        // the input as read
std::array<char, kBlock> block_upper;  // its upper-cased copy (case ignored)
// The regular-expression program; it stays for the next grep, which
// repeats it when its pattern is empty.
std::array<unsigned char, 4095> program;
// The program matched when case is ignored: a copy with its literals
// upper-cased, so that the program kept above stays as compiled.
std::array<unsigned char, 4095> program_upper;
std::array<char, 4096> fixed_pattern;   // a fixed string, with its length
std::array<char, 256> required;         // the literal the block is searched for
ByteSet required_set;                   // or the bytes it is searched for
ByteSet start_set;                      // the bytes a match can begin with
LineNfa line_nfa;                       // the line test, where it can be had
std::array<char, 4096> saved_line;      // option L: the last selected line
std::array<char, 65536> out_buffer;     // output, written when full and after each file

constexpr const char* kBadPattern = "grep: Fehlerhafter Regul\x84rer Ausdruck: ";
constexpr const char* kOpenFailed = "grep: Datei\x94" "ffnen fehlgeschlagen: ";

// Output to descriptor 1 through out_buffer.
class Output {
 public:
  void put(std::string_view s) {
    if (s.size() > out_buffer.size() - len_) {
      flush();
      if (s.size() >= out_buffer.size()) {
        sys_write(1, s.data(), static_cast<long>(s.size()));
        return;
      }
    }
    std::memcpy(out_buffer.data() + len_, s.data(), s.size());
    len_ += s.size();
  }
  void put_number(std::uint64_t v) {
    std::array<char, 24> digits;
    std::size_t k = digits.size();
    do {
      digits[--k] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    put(std::string_view(digits.data() + k, digits.size() - k));
  }
  void flush() {
    if (len_ != 0) sys_write(1, out_buffer.data(), static_cast<long>(len_));
    len_ = 0;
  }

 private:
  std::size_t len_ = 0;
};

// Writes "MESSAGE'ARGUMENT'" (or the message alone) and CR LF to
// descriptor 2 and ends the command with $? 2 through error 0.
[[noreturn]] void grep_fail(Output& out, const char* message, const char* argument) {
  out.flush();
  sys_write_message(2, message);
  if (argument != nullptr) {
    sys_write(2, "'");
    sys_write_text(2, argument);
    sys_write(2, "'");
  }
  sys_write(2, "\r\n");
  last_status = 2;
  fatal_error(VEK_ERR(kErrObjectOnly));
}

// ---------------------------------------------------------------- search

class Searcher {
 public:
  Searcher(const GrepOptions& opts, Output& out, bool several)
      : o_(opts), out_(out), several_names_(several && !opts.no_names) {
    need_numbers_ = o_.numbers && !o_.count && !o_.names && !o_.quiet;
  }

  // The test of a piece: the compiled program, or a fixed string.
  void use_regex(Regex& rx) { rx_ = &rx; }
  void use_nfa(const LineNfa& nfa) { nfa_ = &nfa; }
  void use_fixed(FixedTest test, std::string_view pattern) {
    fixed_ = true;
    test_ = test;
    fixed_text_ = pattern;
    contains_.set(pattern);
  }
  // The bytes a match can begin with; a piece is tried from the first
  // of them on (the program must not be anchored).
  void use_start_bytes(const ByteSet& set) { start_bytes_ = &set; }
  // What every matching piece contains: a byte string, or a byte of a
  // set.  The lines without it are not tested.
  void use_prefilter(std::string_view literal) {
    prefilter_ = !literal.empty();
    finder_.set(literal);
  }
  // The literal searched for is the whole test: a piece matches when the
  // literal's first occurrence lies within its cut (and, for a regular
  // expression, before any NUL byte, where the engine's subject ends).
  void use_hit_decides(bool nul_ends) {
    hit_decides_ = true;
    hit_nul_ends_ = nul_ends;
  }
  void use_prefilter(const ByteSet& set) {
    prefilter_ = true;
    prefilter_set_ = &set;
  }

  // Searches one open file; `name` is null for standard input.
  void search(int fd, const char* name);
  bool any_selected() const { return total_ != 0; }

 private:
  std::string_view text(std::size_t from, std::size_t to) const {
    const char* base = o_.fold ? block_upper.data() : block.data();
    return std::string_view(base + from, to - from);
  }
  bool matches(std::string_view piece) const {
    if (!fixed_) {
      if (nfa_ != nullptr) return nfa_->matches(piece);
      if (start_bytes_ == nullptr) return rx_->match(piece) != 0;
      const std::size_t k = start_bytes_->find(piece);
      return k != npos && rx_->match_from(piece, k) != 0;
    }
    if (test_ == FixedTest::kContains)
      return fixed_text_.size() <= piece.size() && contains_.find(piece) != npos;
    return fixed_test(test_, piece, fixed_text_);
  }
  bool fill();
  void scan();
  void scan_for_literal(std::size_t limit);
  void plain_region(std::size_t to);
  void test_piece(std::size_t end);
  void take_hit_piece(std::size_t end, std::size_t at);
  void select(std::size_t start, std::size_t end);
  void put_prefix(std::uint64_t number);
  void write_line(std::size_t start, std::size_t len);
  void end_of_file();

  const GrepOptions& o_;
  Output& out_;
  const bool several_names_;
  bool need_numbers_ = false;
  Regex* rx_ = nullptr;
  const LineNfa* nfa_ = nullptr;
  bool fixed_ = false;
  FixedTest test_ = FixedTest::kContains;
  std::string_view fixed_text_;
  LiteralFinder contains_;
  const ByteSet* start_bytes_ = nullptr;
  bool prefilter_ = false;
  LiteralFinder finder_;
  const ByteSet* prefilter_set_ = nullptr;
  bool hit_decides_ = false;
  bool hit_nul_ends_ = false;
  std::uint64_t total_ = 0;

  // The file being searched.
  int fd_ = -1;
  const char* name_ = nullptr;
  std::size_t fill_ = 0;  // bytes in the block
  std::size_t pos_ = 0;   // start of the first piece not yet taken
  bool eof_ = false;
  bool stop_ = false;
  std::uint64_t line_ = 0;
  std::uint64_t selected_ = 0;
  bool saved_ = false;
  std::size_t saved_len_ = 0;
  std::uint64_t saved_number_ = 0;
};

// Moves what is left of the block to its start and reads more; false at
// the end of the input.
bool Searcher::fill() {
  const std::size_t rest = fill_ - pos_;
  if (pos_ != 0 && rest != 0) {
    std::memmove(block.data(), block.data() + pos_, rest);
    if (o_.fold) std::memmove(block_upper.data(), block_upper.data() + pos_, rest);
  }
  fill_ = rest;
  pos_ = 0;
  const long r = plat::read(fd_, block.data() + fill_, block.size() - fill_);
  if (r < 0) {
    // An interrupted read acts on its signal; other failures end the
    // command, with what was found so far written.
    out_.flush();
    check_signal();
    fatal_error(VEK_ERR(kErrSystem), "read()");
  }
  // Between blocks is a safe point for an interrupt.
  if (plat::pending_signal() != 0) {
    out_.flush();
    check_signal();
  }
  if (r == 0) {
    eof_ = true;
    return false;
  }
  if (o_.fold) {
    const auto* src = reinterpret_cast<const unsigned char*>(block.data() + fill_);
    auto* dst = reinterpret_cast<unsigned char*>(block_upper.data() + fill_);
    for (long i = 0; i < r; ++i) dst[i] = to_upper(src[i]);
  }
  fill_ += static_cast<std::size_t>(r);
  return true;
}

void Searcher::search(int fd, const char* name) {
  fd_ = fd;
  name_ = name;
  fill_ = pos_ = 0;
  eof_ = stop_ = saved_ = false;
  line_ = selected_ = 0;
  while (!stop_) {
    const bool more = fill();
    scan();
    if (!more) break;
  }
  // Standard input that is left early is put back to just after the last
  // line taken, where it can be (a file), for whatever reads it next.
  if (stop_ && name == nullptr && fill_ > pos_)
    plat::lseek(fd, -static_cast<std::int64_t>(fill_ - pos_), plat::kSeekCur);
  end_of_file();
}

// Takes every complete piece of the block.
void Searcher::scan() {
  if (prefilter_ && !stop_) {
    // Complete lines end at the last line feed of the block (at the end
    // of the input, everything is complete).
    std::size_t limit = fill_;
    if (!eof_) {
      while (limit > pos_ && block[limit - 1] != '\n') --limit;
    }
    if (limit > pos_) scan_for_literal(limit);
  }
  // Without a literal to look for, every piece is tested; with one, what
  // is left are the complete pieces of a line longer than a piece.
  while (!stop_) {
    const std::size_t len = grep_piece_end(std::string_view(block.data() + pos_, fill_ - pos_), eof_);
    if (len == npos || len == 0) return;
    test_piece(pos_ + len);
  }
}

// Takes the pieces in [pos_, limit), which ends after a line feed or at
// the end of the input: the lines without the literal need no test.
void Searcher::scan_for_literal(std::size_t limit) {
  while (!stop_ && pos_ < limit) {
    const std::string_view rest = text(pos_, limit);
    const std::size_t hit = prefilter_set_ != nullptr ? prefilter_set_->find(rest) : finder_.find(rest);
    if (hit == npos) {
      plain_region(limit);
      return;
    }
    const std::size_t at = pos_ + hit;
    std::size_t line_start = at;
    while (line_start > pos_ && block[line_start - 1] != '\n') --line_start;
    plain_region(line_start);
    // The pieces of this line up to the one holding the hit; the line
    // ends before `limit`, so every piece is complete.
    while (!stop_) {
      const std::size_t start = pos_;
      const std::size_t end = start + grep_piece_end(std::string_view(block.data() + start, limit - start), true);
      if (end > at) {
        if (hit_decides_)
          take_hit_piece(end, at);
        else
          test_piece(end);
        break;
      }
      ++line_;
      pos_ = end;
      if (o_.invert) select(start, end);
    }
  }
}

// The pieces in [pos_, to) do not match.
void Searcher::plain_region(std::size_t to) {
  if (!o_.invert && !need_numbers_) {
    pos_ = to;
    return;
  }
  while (!stop_ && pos_ < to) {
    const std::size_t start = pos_;
    const std::size_t end = start + grep_piece_end(std::string_view(block.data() + start, to - start), true);
    ++line_;
    pos_ = end;
    if (o_.invert) select(start, end);
  }
}

// Tests the piece [pos_, end) and takes it.
void Searcher::test_piece(std::size_t end) {
  const std::size_t start = pos_;
  const std::size_t len = std::min(end - start, kGrepLineCut);
  ++line_;
  pos_ = end;
  if (matches(text(start, start + len)) != o_.invert) select(start, end);
}

// Takes the piece [pos_, end) whose first occurrence of the literal is at
// `at`, when that alone decides.
void Searcher::take_hit_piece(std::size_t end, std::size_t at) {
  const std::size_t start = pos_;
  const std::size_t len = std::min(end - start, kGrepLineCut);
  const std::size_t hit_len = prefilter_set_ != nullptr ? 1 : finder_.needle().size();
  bool hit = at + hit_len <= start + len;
  if (hit && hit_nul_ends_ && std::memchr(block.data() + start, 0, at - start) != nullptr) hit = false;
  ++line_;
  pos_ = end;
  if (hit != o_.invert) select(start, end);
}

// A selected piece [start, end); pos_ is already behind it.
void Searcher::select(std::size_t start, std::size_t end) {
  ++selected_;
  ++total_;
  if (o_.names || o_.max == 0 || o_.quiet) {
    stop_ = true;
    return;
  }
  const std::size_t len = std::min(end - start, kGrepLineCut);
  if (o_.count) {
    // nothing for the line itself
  } else if (o_.last) {
    std::memcpy(saved_line.data(), block.data() + start, len);
    saved_len_ = len;
    saved_number_ = line_;
    saved_ = true;
  } else {
    write_line(start, len);
  }
  if (o_.max > 0 && selected_ >= static_cast<std::uint64_t>(o_.max)) stop_ = true;
}

// The file name (of several), the line number (n), and ":" after them.
void Searcher::put_prefix(std::uint64_t number) {
  if (several_names_) out_.put(name_);
  if (o_.numbers) {
    if (several_names_) out_.put(":");
    out_.put_number(number);
  }
  if (several_names_ || o_.numbers) out_.put(":");
}

void Searcher::write_line(std::size_t start, std::size_t len) {
  put_prefix(line_);
  out_.put(std::string_view(block.data() + start, len));
}

void Searcher::end_of_file() {
  if (o_.quiet || (selected_ == 0 && !o_.count)) return;
  if (o_.names) {
    // Standard input has no name to write.
    if (name_ != nullptr) {
      out_.put(name_);
      out_.put("\r\n");
    }
  } else if (o_.count) {
    if (several_names_) {
      out_.put(name_);
      out_.put(":");
    }
    out_.put_number(selected_);
    out_.put("\r\n");
  } else if (o_.last && saved_) {
    put_prefix(saved_number_);
    out_.put(std::string_view(saved_line.data(), saved_len_));
  }
}

}  // namespace

// ---------------------------------------------------------------- helpers

int parse_grep_options(int argc, char** argv, GrepOptions& o) {
  o = GrepOptions{};
  int i = 1;
  while (i < argc && argv[i][0] == '-') {
    bool pattern_next = false;
    for (const char* p = argv[i] + 1; *p != '\0'; ++p) {
      switch (*p) {
        case 'c': o.count = true; break;
        case 'h': o.no_names = true; break;
        case 'l': o.names = true; break;
        case 'n': o.numbers = true; break;
        case 's': o.silent = true; break;
        case 'v': o.invert = true; break;
        case 'e': pattern_next = true; break;
        case 'i':
        case 'y': o.fold = true; break;
        case 'F': o.fixed = true; break;
        case 'x': o.exact = o.fixed = true; break;
        case 'S': o.within = true; break;
        case 'L': o.last = true; break;
        case '1':
        case 'q': o.quiet = true; break;
        case 'm': {
          // Digits after m are its count (1 without); a count beyond 32
          // bits stays at the largest one.
          std::int64_t v = 0;
          bool digits = false;
          while (p[1] >= '0' && p[1] <= '9') {
            v = std::min<std::int64_t>(v * 10 + (p[1] - '0'), INT32_MAX);
            digits = true;
            ++p;
          }
          o.max = digits ? static_cast<std::int32_t>(v) : 1;
          break;
        }
        default: break;  // V and unknown letters
      }
    }
    ++i;
    if (pattern_next) break;
  }
  return i;
}

std::size_t grep_piece_end(std::string_view data, bool at_end) {
  const std::size_t span = std::min(data.size(), kGrepPieceMax);
  if (span != 0) {
    const void* lf = std::memchr(data.data(), '\n', span);
    if (lf != nullptr) return static_cast<std::size_t>(static_cast<const char*>(lf) - data.data()) + 1;
  }
  if (span == kGrepPieceMax || (at_end && span != 0)) return span;
  return npos;
}

std::string_view without_line_end(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return line;
}

bool fixed_test(FixedTest test, std::string_view piece, std::string_view pattern) {
  switch (test) {
    case FixedTest::kContains: return pattern.size() <= piece.size() && piece.find(pattern) != npos;
    case FixedTest::kExact: return without_line_end(piece) == pattern;
    case FixedTest::kWithin: {
      const std::string_view line = without_line_end(piece);
      return !line.empty() && line.size() <= pattern.size() && pattern.find(line) != npos;
    }
  }
  return false;
}

void LiteralFinder::set(std::string_view needle) {
  needle_ = needle;
  rare_ = 0;
  for (std::size_t k = 1; k < needle.size(); ++k)
    if (byte_share(static_cast<unsigned char>(needle[k])) < byte_share(static_cast<unsigned char>(needle[rare_])))
      rare_ = k;
}

std::size_t LiteralFinder::find(std::string_view hay) const {
  const std::size_t n = needle_.size();
  if (n == 0) return 0;
  if (hay.size() < n) return npos;
  const char c = needle_[rare_];
  // The rare byte can stand only where the whole needle fits around it.
  const char* p = hay.data() + rare_;
  const char* const last = hay.data() + (hay.size() - n) + rare_;  // inclusive
  while (p <= last) {
    const void* q = std::memchr(p, c, static_cast<std::size_t>(last - p) + 1);
    if (q == nullptr) return npos;
    const char* start = static_cast<const char*>(q) - rare_;
    if (start[0] == needle_[0] && start[n - 1] == needle_[n - 1] &&
        (n <= 2 || std::memcmp(start + 1, needle_.data() + 1, n - 2) == 0))
      return static_cast<std::size_t>(start - hay.data());
    p = static_cast<const char*>(q) + 1;
  }
  return npos;
}

void ByteSet::clear() {
  member_.fill(0);
  size_ = 0;
}

void ByteSet::add(unsigned char b) {
  if (member_[b] != 0) return;
  member_[b] = 1;
  only_ = b;
  ++size_;
}

std::size_t ByteSet::find(std::string_view hay) const {
  if (size_ == 0) return npos;
  if (size_ == 1) {
    const void* q = std::memchr(hay.data(), only_, hay.size());
    return q == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(q) - hay.data());
  }
  const auto* p = reinterpret_cast<const unsigned char*>(hay.data());
  const std::size_t n = hay.size();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    if (member_[p[i]] | member_[p[i + 1]] | member_[p[i + 2]] | member_[p[i + 3]]) break;
  }
  for (; i < n; ++i)
    if (member_[p[i]] != 0) return i;
  return npos;
}

namespace {

// Whether the one-byte item with base opcode `base` (operands at `operand`)
// takes byte c (1..255), before a negation.
bool item_takes(unsigned char base, const unsigned char* operand, unsigned char c) {
  const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z', digit = c >= '0' && c <= '9';
  switch (base) {
    case rx_literal: return c == operand[0];
    case rx_any: return true;
    case rx_class: return ((operand[c / 8] >> (c % 8)) & 1) != 0;
    case rx_letter: return upper || lower;
    case rx_lower: return lower;
    case rx_upper: return upper;
    case rx_digit: return digit;
    case rx_word_char: return upper || lower || digit || c == '_';
    default: return false;
  }
}

// One operation of a program, as the analyses see it.
struct ProgramItem {
  unsigned char op = 0;      // with its repetition bits
  unsigned char base = 0;    // without them
  int rep = 0;               // 0, rx_star or rx_interval
  bool negated = false;      // a class escape after rx_negate
  const unsigned char* operand = nullptr;
  unsigned min = 1, max = 1;  // repetitions (max 255 = no limit)
  std::size_t next = 0;      // pc of the following operation
  bool one_byte() const {
    switch (base) {
      case rx_literal: case rx_any: case rx_class: case rx_letter:
      case rx_lower: case rx_upper: case rx_digit: case rx_word_char: return true;
      default: return false;
    }
  }
  bool takes(unsigned char c) const { return c != 0 && item_takes(base, operand, c) != negated; }
  void add_to(ByteSet& set) const {
    for (int b = 1; b < 256; ++b)
      if (takes(static_cast<unsigned char>(b))) set.add(static_cast<unsigned char>(b));
  }
};

// Reads the operation at pc; false for a byte that is no opcode.
bool read_item(const unsigned char* prog, std::size_t pc, ProgramItem& it) {
  it = ProgramItem{};
  unsigned char op = prog[pc];
  if (op == rx_negate) {
    it.negated = true;
    op = prog[++pc];
  }
  const int size = regex_operand_size(op);
  if (size < 0) return false;
  it.op = op;
  it.rep = op & 3;
  it.base = it.rep == 0 ? op : static_cast<unsigned char>(op & ~3);
  // Opcodes that are not repeatable keep their low bits (group marks).
  if (!it.one_byte() && it.base != rx_backref) {
    it.base = op;
    it.rep = 0;
  }
  it.operand = prog + pc + 1;
  it.next = pc + 1 + static_cast<std::size_t>(size);
  if (it.rep == rx_star) {
    it.min = 0;
    it.max = rx_unlimited;
  } else if (it.rep == rx_interval) {
    it.min = prog[it.next - 2];
    it.max = prog[it.next - 1];
  }
  return true;
}

}  // namespace

bool regex_first_bytes(const unsigned char* prog, ByteSet& set) {
  set.clear();
  ProgramItem it;
  for (std::size_t pc = 0; read_item(prog, pc, it); pc = it.next) {
    switch (it.base) {
      case rx_end: return false;  // the empty text matches
      case rx_group_open:
      case rx_group_close:
      case rx_word_start:
      case rx_word_end:
      case rx_end_anchor: continue;  // consume nothing
      default: break;
    }
    if (!it.one_byte()) return false;  // a back-reference
    it.add_to(set);
    // A single item, or an interval of at least one, must consume its
    // byte here; a star or an interval from 0 may let what follows begin.
    if (it.min >= 1) return true;
  }
  return false;
}

bool regex_required_set(const unsigned char* prog, ByteSet& set) {
  ByteSet candidate;
  bool found = false;
  double best = 0;
  ProgramItem it;
  for (std::size_t pc = 0; read_item(prog, pc, it) && it.base != rx_end; pc = it.next) {
    if (!it.one_byte() || it.min == 0) continue;
    candidate.clear();
    it.add_to(candidate);
    const double cost = search_cost(candidate);
    if (!found || cost < best) {
      set = candidate;
      best = cost;
      found = true;
    }
  }
  return found;
}

// ---------------------------------------------------------------- LineNfa

bool LineNfa::build(const Regex& rx) {
  *this = LineNfa{};
  anchored_ = rx.anchored();
  const unsigned char* prog = rx.program();
  int n = 0;  // positions so far
  auto add = [&](const ProgramItem& it, bool repeat, bool optional) {
    if (n >= 64) return false;
    const std::uint64_t bit = std::uint64_t{1} << n++;
    for (int b = 1; b < 256; ++b)
      if (it.takes(static_cast<unsigned char>(b))) takes_[static_cast<std::size_t>(b)] |= bit;
    if (repeat) repeat_ |= bit;
    if (optional) optional_ |= bit;
    return true;
  };
  ProgramItem it;
  for (std::size_t pc = 0;; pc = it.next) {
    if (!read_item(prog, pc, it)) return false;
    if (it.base == rx_end) break;
    if (end_anchor_) return false;  // nothing may follow "$"
    switch (it.base) {
      case rx_group_open:
      case rx_group_close: continue;
      case rx_end_anchor: end_anchor_ = true; continue;
      case rx_word_start:
      case rx_word_end:
        if (n >= 64) return false;
        (it.base == rx_word_start ? word_start_ : word_end_) |= std::uint64_t{1} << n++;
        continue;
      default: break;
    }
    if (!it.one_byte()) return false;  // back-references need the engine
    // An interval is its minimum of single copies, then one starred copy
    // (no upper limit) or its further optional copies.
    for (unsigned k = 0; k < it.min; ++k)
      if (!add(it, false, false)) return false;
    if (it.max == rx_unlimited) {
      if (!add(it, true, true)) return false;
    } else {
      for (unsigned k = it.min; k < it.max; ++k)
        if (!add(it, false, true)) return false;
    }
  }
  positions_ = n;
  last_ = n == 0 ? 0 : std::uint64_t{1} << (n - 1);
  // The positions that take no byte, by whether a word byte comes before
  // (2) and after (1) the place; without two of them in a row, one step
  // finds all that follow from the positions reached.
  for (std::size_t here = 0; here < 4; ++here) {
    std::uint64_t free = optional_;
    if (here == 1) free |= word_start_;
    if (here == 2) free |= word_end_;
    free_[here] = free;
    chains_[here] = (free & (free << 1)) != 0;
  }
  if (!anchored_ && regex_first_bytes(prog, first_) && first_.size() < 192) skip_ = true;
  ready_ = true;
  return true;
}

namespace {

// Word bytes (letters, digits, "_") for the word starts and ends.
constexpr std::array<bool, 256> kWordByte = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<std::size_t>(c)] =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  return t;
}();

}  // namespace

bool LineNfa::matches(std::string_view s) const {
  // The engine's subject ends at the first NUL byte.
  if (const void* z = std::memchr(s.data(), 0, s.size()))
    s = s.substr(0, static_cast<std::size_t>(static_cast<const char*>(z) - s.data()));
  const std::size_t len = s.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
  auto at_end = [&](std::size_t p) {
    if (p >= len) return true;
    const unsigned char c = bytes[p];
    return c == 26 || (c == '\n' && p + 1 == len) || (c == '\r' && p + 2 == len && bytes[p + 1] == '\n');
  };
  if (positions_ == 0) return !end_anchor_ || !anchored_ || at_end(0);
  const bool assertions = (word_start_ | word_end_) != 0;
  std::uint64_t d = 0;      // bit i: the first i+1 positions matched up to here
  bool after_word = false;  // the byte before p is a word byte
  for (std::size_t p = 0;; ++p) {
    if (d == 0 && skip_ && (p == len || !first_.has(bytes[p]))) {
      // Nothing under way: no match begins before the next byte that
      // can begin one.
      const std::size_t k = first_.find(s.substr(p));
      if (k == npos) return false;
      if (k != 0) {
        p += k;
        after_word = kWordByte[bytes[p - 1]];
      }
    }
    const std::uint64_t start = !anchored_ || p == 0 ? 1 : 0;
    // The positions that take no byte here: skipped optional copies, and
    // the word starts and ends that hold between the bytes p-1 and p.
    const bool before_word = assertions && p < len && kWordByte[bytes[p]];
    const int here = (after_word ? 2 : 0) | (before_word ? 1 : 0);
    const std::uint64_t free = free_[static_cast<std::size_t>(here)];
    if (free != 0) {
      for (;;) {
        const std::uint64_t more = ((d << 1) | start) & free & ~d;
        d |= more;
        if (more == 0 || !chains_[static_cast<std::size_t>(here)]) break;
      }
    }
    if ((d & last_) != 0 && (!end_anchor_ || at_end(p))) return true;
    if (p == len || (d == 0 && anchored_ && p > 0)) return false;
    const std::uint64_t b = takes_[bytes[p]];
    d = (((d << 1) | start) & b) | (d & repeat_ & b);
    after_word = before_word;
  }
}

namespace {
constexpr double kTestCost = 20;  // a line test against a false hit
}  // namespace

double search_cost(const ByteSet& set) {
  double sum = 0;
  for (int b = 0; b < 256; ++b)
    if (set.has(static_cast<unsigned char>(b))) sum += byte_share(static_cast<unsigned char>(b));
  return sum * kTestCost;
}

double search_cost(std::string_view literal) {
  if (literal.empty()) return 1e6 * kTestCost;
  double rarest = 1e6;
  double all = 1e6;  // expected occurrences of the whole literal
  for (char c : literal) {
    const double share = byte_share(static_cast<unsigned char>(c));
    rarest = std::min(rarest, share);
    all *= share / 1e6;
  }
  return rarest + all * kTestCost;
}

std::size_t regex_required_literal(const unsigned char* prog, char* out, std::size_t capacity) {
  std::size_t best_at = 0, best_len = 0;  // in the program: first op, literals
  double best_cost = 0;
  std::size_t run_at = 0, run_len = 0;
  // Copies the run from `at` (at most `capacity` literals) into out.
  auto copy_run = [&](std::size_t at, std::size_t len) {
    std::size_t n = 0;
    for (std::size_t pc = at; n < len && n < capacity; pc += 1 + static_cast<std::size_t>(regex_operand_size(prog[pc])))
      if (prog[pc] == rx_literal) out[n++] = static_cast<char>(prog[pc + 1]);
    return n;
  };
  auto end_run = [&]() {
    if (run_len == 0) return;
    const double cost = search_cost(std::string_view(out, copy_run(run_at, run_len)));
    if (best_len == 0 || cost < best_cost) {
      best_cost = cost;
      best_at = run_at;
      best_len = run_len;
    }
    run_len = 0;
  };
  for (std::size_t pc = 0; prog[pc] != rx_end;) {
    const unsigned char op = prog[pc];
    const int size = regex_operand_size(op);
    if (size < 0) break;
    if (op == rx_literal) {
      if (run_len == 0) run_at = pc;
      ++run_len;
    } else if (op != rx_group_open && op != rx_group_close) {
      end_run();
    }
    pc += 1 + static_cast<std::size_t>(size);
  }
  end_run();
  return best_len == 0 ? 0 : copy_run(best_at, best_len);
}

RegexLead regex_decisive_lead(const unsigned char* prog, std::size_t* length) {
  *length = 0;
  std::size_t pc = 0;
  auto skip_marks = [&]() {
    while (prog[pc] == rx_group_open || prog[pc] == rx_group_close) pc += 2;
  };
  skip_marks();
  RegexLead lead = RegexLead::kNone;
  std::size_t n = 0;
  while (prog[pc] == rx_literal) {
    ++n;
    pc += 2;
    skip_marks();
  }
  if (n != 0) {
    lead = RegexLead::kLiterals;
  } else {
    unsigned char op = prog[pc];
    std::size_t at = pc;
    if (op == rx_negate) op = prog[++at];
    switch (op) {
      case rx_any: case rx_class: case rx_letter: case rx_lower:
      case rx_upper: case rx_digit: case rx_word_char: break;
      default: return RegexLead::kNone;
    }
    lead = RegexLead::kOneByte;
    n = 1;
    pc = at + 1 + static_cast<std::size_t>(regex_operand_size(op));
  }
  // Everything after the lead must be able to match the empty text.
  for (; prog[pc] != rx_end;) {
    unsigned char op = prog[pc];
    if (op == rx_group_open || op == rx_group_close) {
      pc += 2;
      continue;
    }
    std::size_t at = pc;
    if (op == rx_negate) op = prog[++at];
    const int size = regex_operand_size(op);
    if (size < 0 || (op & ~3) == rx_backref) return RegexLead::kNone;
    const std::size_t next = at + 1 + static_cast<std::size_t>(size);
    const int rep = op & 3;
    if (!(rep == rx_star || (rep == rx_interval && prog[next - 2] == 0))) return RegexLead::kNone;
    pc = next;
  }
  *length = n;
  return lead;
}

// ---------------------------------------------------------------- grep

namespace {

// The test and the search of a compiled program.
void prepare_regex(Searcher& searcher, Regex& rx) {
  const unsigned char* prog = rx.program();
  if (line_nfa.build(rx))
    searcher.use_nfa(line_nfa);
  else
    searcher.use_regex(rx);
  // For the engine: a match can begin only at one of its first bytes (a
  // set that holds nearly every byte would find one everywhere).
  if (!line_nfa.ready() && !rx.anchored() && regex_first_bytes(prog, start_set) && start_set.size() < 192)
    searcher.use_start_bytes(start_set);

  // What to search the block for: a literal run, or the bytes of an item
  // every match consumes, whichever is cheaper.
  const std::size_t literal_len = regex_required_literal(prog, required.data(), required.size());
  const std::string_view literal(required.data(), literal_len);
  const bool use_set = regex_required_set(prog, required_set) && required_set.size() < 192 &&
                       (literal_len == 0 || search_cost(required_set) < search_cost(literal));
  if (use_set)
    searcher.use_prefilter(required_set);
  else
    searcher.use_prefilter(literal);

  // A program that is a literal run or one byte item, followed by nothing
  // that must consume anything, matches wherever the search finds what it
  // looks for (that item is then the only one every match consumes).
  if (rx.anchored()) return;
  std::size_t lead_len = 0;
  const RegexLead lead = regex_decisive_lead(prog, &lead_len);
  if (use_set ? lead != RegexLead::kNone && lead_len == 1
              : lead == RegexLead::kLiterals && lead_len == literal_len)
    searcher.use_hit_decides(true);
}

}  // namespace

int bi_grep(int argc, char** argv) {
  Output out;
  GrepOptions o;
  const int pattern_at = parse_grep_options(argc, argv, o);
  if (pattern_at >= argc) grep_fail(out, "grep: Fehlendes Suchmuster-Argument.", nullptr);
  const char* pattern = argv[pattern_at];
  const int first_file = pattern_at + 1;
  const int files = argc - first_file;

  // The pieces are read from here; a reader that buffered input before
  // must not hold any of it.
  read_line_buffered(-1, nullptr, -1);

  Searcher searcher(o, out, files > 1);
  if (o.fixed) {
    std::size_t len = str_len(pattern);
    if (len >= fixed_pattern.size()) fatal_error(VEK_ERR(kErrLimit), "Ziel-Puffer");
    std::memcpy(fixed_pattern.data(), pattern, len);
    std::string_view text(fixed_pattern.data(), len);
    if (o.exact) text = without_line_end(text);
    if (o.fold)
      for (std::size_t k = 0; k < text.size(); ++k)
        fixed_pattern[k] = static_cast<char>(to_upper(static_cast<unsigned char>(fixed_pattern[k])));
    const FixedTest test = o.exact ? FixedTest::kExact : o.within ? FixedTest::kWithin : FixedTest::kContains;
    searcher.use_fixed(test, text);
    if (test != FixedTest::kWithin) {
      const std::size_t n = std::min(text.size(), required.size());
      std::memcpy(required.data(), text.data(), n);
      searcher.use_prefilter(std::string_view(required.data(), n));
      if (test == FixedTest::kContains && n == text.size()) searcher.use_hit_decides(false);
    }
  } else {
    Regex& rx = regex_engine();
    unsigned char* begin = program.data();
    if (rx.compile(pattern, begin, begin + program.size(), escape_char) == nullptr) {
      // Whatever the failed compile left in the buffer is no program to
      // repeat for an empty pattern.
      program[0] = 0;
      grep_fail(out, kBadPattern, pattern);
    }
    if (o.fold) {
      program_upper = program;
      unsigned char* copy = program_upper.data();
      rx.compile("", copy, copy + program_upper.size(), escape_char);
      regex_fold_literals_upper(copy);
    }
    prepare_regex(searcher, rx);
  }

  bool open_failed = false;
  if (files == 0) {
    // Standard input, unless it is the console.
    if (sys_isatty(0)) return 1;
    searcher.search(0, nullptr);
  }
  for (int k = first_file; k < argc; ++k) {
    char* path = argv[k];
    path_normalize(path);
    // A directory is no file to search (it cannot be opened as one on
    // every system).
    int fd = plat::stat_path(path).is_dir ? -1 : plat::open(path, plat::kRead | plat::kBinary);
    if (fd < 0) {
      if (!o.silent) grep_fail(out, kOpenFailed, path);
      open_failed = true;
      continue;
    }
    try {
      searcher.search(fd, path);
    } catch (...) {
      plat::close(fd);
      throw;
    }
    sys_close(fd);
    out.flush();
  }
  out.flush();
  if (open_failed) return 2;
  return searcher.any_selected() ? 0 : 1;
}

}  // namespace vek
