// The interpreter's regular-expression engine, used by grep and expr.
//
// A pattern is compiled into a byte program in a buffer owned by the
// caller; the program is then matched against subject strings by a
// backtracking matcher that finds the leftmost match (greedy repetition)
// and the spans of up to nine groups.  See docs/patterns.md for the
// pattern syntax.
//
// Bounded work.  Plain backtracking takes exponential time on stacked
// repetitions ("a*a*a*a*b" against a run of "a"): the same rest of the
// program is tried again and again at the same subject position.  The
// matcher therefore remembers, for the duration of one match() call,
// which (repeated item, subject position) continuations have failed, and
// does not try them again.  A continuation's outcome can only depend on
// the subject, the back-off limit (both fixed during one call) and on the
// group spans read by back-references further on.  Where a later
// back-reference reads a group start or end recorded before the
// continuation, the continuation's memo is tied to those positions and
// forgotten when one of them changes; what is recorded inside the
// continuation is part of what it does.  Repetition counts never outlive
// an item, so they are no part of the state.  Only
// failures are remembered, and trying a continuation that is known to
// fail would fail again with no effect on the groups of the match found
// later, so every result (match, start, end, group spans) is the one
// plain backtracking gives.  See Regex::memo_max_bits for the size bound.
//
// Program format: a sequence of operations, each an opcode byte followed
// by its operands, ended by rx_end and one trailer byte (see
// regex_trailer_*).  Repeatable items carry their repetition in the
// opcode: base + rx_star is zero or more, base + rx_interval is followed,
// after the item's own operands, by the minimum and the maximum count
// (maximum 255 = no upper limit).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vek {

// Opcodes, with their operands in the comments.
enum RegexOp : unsigned char {
  rx_group_open = 2,     // group number 0..8
  rx_literal = 4,        // the byte
  rx_any = 8,            // -
  rx_class = 12,         // 32-byte bitmap, bit b%8 of byte b/8 per member b
  rx_end_anchor = 20,    // -
  rx_end = 22,           // - (then the trailer byte)
  rx_group_close = 24,   // group number 0..8
  rx_backref = 36,       // group number 0..8
  rx_negate = 44,        // - ; always directly followed by a class escape
  rx_word_start = 48,    // -
  rx_word_end = 52,      // -
  rx_letter = 56,        // -  A-Z a-z
  rx_lower = 60,         // -  a-z
  rx_upper = 64,         // -  A-Z
  rx_digit = 68,         // -  0-9
  rx_word_char = 72,     // -  letters, digits, "_"
};

inline constexpr unsigned char rx_star = 1;      // added to a base opcode
inline constexpr unsigned char rx_interval = 3;  // added to a base opcode
inline constexpr unsigned char rx_unlimited = 255;

// Trailer byte after rx_end: the group count and the anchored flag, so
// that an empty pattern can reuse the program with both.
inline constexpr unsigned char regex_trailer_anchored = 0x80;
inline constexpr unsigned char regex_trailer_groups = 0x0F;

// Compile error numbers (last_error()).
enum RegexError : int {
  rx_err_none = 0,
  rx_err_interval_too_big = 11,     // interval number above 255
  rx_err_interval_no_number = 16,   // a digit was needed
  rx_err_backref_open_group = 25,   // back-reference to a group not closed yet
  rx_err_escape_line_end = 36,      // escape character before LF or CR
  rx_err_nothing_compiled = 41,     // empty pattern, nothing compiled before
  rx_err_group_unbalanced = 42,     // close without open, or left open
  rx_err_too_many_groups = 43,      // more than 9 groups
  rx_err_interval_three_numbers = 44,
  rx_err_interval_not_closed = 45,
  rx_err_interval_max_below_min = 46,
  rx_err_list_not_closed = 49,
  rx_err_buffer_too_small = 50,
};

struct RegexSpan {
  std::size_t start = 0;  // offsets into the last subject
  std::size_t end = 0;
  bool valid = false;     // the group took part in the last match
};

class Regex {
 public:
  static constexpr int max_groups = 9;

  // Compiles `pattern` (ended by its first NUL byte, if any) into
  // [buf_begin, buf_end) with `esc` as the escape character.  Returns the
  // pointer just past the program, or nullptr with last_error() set.  An
  // empty pattern compiles nothing: when the buffer holds a program
  // compiled before, that program is reused (with its anchoring and group
  // count) and buf_begin is returned; otherwise error 41.  The program
  // stays in use for match() until the next compile.
  unsigned char* compile(std::string_view pattern, unsigned char* buf_begin,
                         unsigned char* buf_end, unsigned char esc);

  // 1 when the program matches somewhere in the NUL-terminated subject,
  // else 0.  The string_view form ends the subject at its first NUL byte.
  // Recursion depth is bounded by the number of repeated items in the
  // program, not by the subject length.  The only memory used is the
  // memo table, which belongs to this object and is reused: it grows
  // (up to memo_max_bits) only when a match needs a larger one than any
  // match before.
  int match(const char* subject);
  int match(std::string_view subject);
  // The same, but a match may start only at `from` or later: the search
  // goes on in the same subject, so "^" still means its position 0 and
  // word starts and ends still see the bytes before `from`.
  int match_from(std::string_view subject, std::size_t from);

  int last_error() const { return last_error_; }
  bool anchored() const { return anchored_; }
  int group_count() const { return group_count_; }
  const unsigned char* program() const { return program_; }

  // Offsets into the subject of the last successful match (both 0 after a
  // failed one).
  std::size_t match_start() const { return match_start_; }
  std::size_t match_end() const { return match_end_; }
  // Group n, counted from 1 as in the back-references.
  RegexSpan group(int n) const;
  // The subject of the last match.
  const char* subject() const { return subject_; }

  // While set, no star or interval item may end at this position of the
  // subject (an item whose back-off reaches it fails), so an empty match
  // right where the previous one ended is impossible in a global
  // substitution.  compile() clears it; nullptr clears it too.
  void set_backoff_limit(const char* pos) { backoff_limit_ = pos; }
  const char* backoff_limit() const { return backoff_limit_; }

  // Size of the memo table in bits: one bit per (memoised repeated item,
  // subject position from 0 to the subject's end).  2^24 bits (2 MiB)
  // hold every program that fits a 4095-byte program buffer (at most
  // 4093 repeated items) against every subject of up to 4095 bytes, and
  // 64 repeated items against a subject of 256 KiB.  When a match needs
  // more, every k-th memoised item gets a row of bits, with k as small as
  // fits, and the others remember one interval of positions where they
  // failed.  The rows keep the work polynomial in the subject length
  // (with a degree that grows with k); the intervals catch what stacked
  // repetitions over a run of matching bytes fail on (a contiguous stretch
  // of positions), so those stay fast even without any row (subjects of
  // 2^24 bytes and more).
  static constexpr std::size_t memo_max_bits = std::size_t{1} << 24;

  // The memo is on by default.  Switching it off gives the same results
  // with plain backtracking; tests compare the two, and lower the table's
  // size to reach the fallback with small subjects.
  void set_memoize(bool on) { memoize_ = on; }
  void set_memo_bits(std::size_t bits) { memo_bits_limit_ = bits < memo_max_bits ? bits : memo_max_bits; }
  // Entries into the program (the first try at each start position and
  // each continuation tried after a repeated item) during the last
  // match(): a measure of its work that tests can bound.
  std::size_t steps() const { return steps_; }

 private:
  bool run(std::size_t pc, std::size_t pos, std::size_t item);
  std::size_t item_length(unsigned char base, std::size_t operand,
                          std::size_t pos, bool negated) const;
  bool repeat(unsigned char base, std::size_t operand, std::size_t next,
              std::size_t pos, std::size_t min, std::size_t max,
              bool negated, std::size_t item);
  std::size_t run_length(unsigned char base, std::size_t operand, std::size_t pos,
                         std::size_t max, bool negated, std::size_t item);
  bool continue_after(std::size_t item, std::size_t next, std::size_t pos);
  std::size_t last_untried(std::size_t item, std::size_t end, std::size_t lowest);
  void analyse_program();
  void start_memo();
  bool memoised(std::size_t item);
  std::uint64_t item_stamp(std::size_t item) const;
  bool known_failure(std::size_t item, std::size_t pos, std::uint64_t stamp) const;
  void remember_failure(std::size_t item, std::size_t pos, std::uint64_t stamp);

  static constexpr std::size_t unset = static_cast<std::size_t>(-1);

  int last_error_ = 0;
  bool anchored_ = false;
  int group_count_ = 0;
  const unsigned char* program_ = nullptr;
  const char* subject_ = nullptr;
  std::string_view text_;
  const char* backoff_limit_ = nullptr;
  std::size_t search_from_ = 0;  // lowest start position (match_from)
  std::size_t match_start_ = 0;
  std::size_t match_end_ = 0;
  std::size_t end_reached_ = 0;
  std::array<std::size_t, max_groups> group_start_{};
  std::array<std::size_t, max_groups> group_end_{};
  std::size_t steps_ = 0;
  bool memoize_ = true;
  std::size_t memo_bits_limit_ = memo_max_bits;

  // From compile(): for each repeated item of the program, in program
  // order, what the continuation after it reads that is set before it:
  // bit n for the start of group index n, bit max_groups + n for its end.
  std::vector<std::uint32_t> item_reads_;
  // Scratch of analyse_program(), kept for its capacity.
  struct BackRef {
    std::size_t pc, start_set, end_set;
    unsigned char group;
  };
  std::vector<BackRef> backrefs_;
  std::vector<std::size_t> item_next_;

  // Per repeated item, the last run of its one-byte item found to end at
  // a mismatch: positions [from, to) match, `to` does not.  Valid in the
  // match() call numbered `serial`.
  struct RunCache {
    std::uint64_t serial = 0;
    std::size_t from = 0, to = 0;
  };
  std::vector<RunCache> run_cache_;
  std::uint64_t match_serial_ = 0;
  std::size_t limit_at_ = unset;  // back-off limit as a position, or unset

  // Per match() call, set up on first use.  The continuation after a
  // repeated item either has a row of bits in memo_bits_ (bit row *
  // memo_cols_ + position set: it fails there) or, when the table is too
  // small for all, one interval of positions known to fail.  What an item
  // holds is valid while the sum of the change counts of the starts and
  // ends it reads equals its stamp (counts only grow, so an equal sum
  // means nothing changed).
  struct ItemMemo {
    std::uint64_t stamp = 0;
    std::size_t row = unset;     // bit row, or unset: the interval below
    std::size_t lo = 1, hi = 0;  // known failures lo..hi; empty if lo > hi
  };
  enum class MemoState : unsigned char { unused, on, off };
  MemoState memo_state_ = MemoState::unused;
  std::size_t memo_cols_ = 0;
  std::vector<std::uint64_t> memo_bits_;
  std::vector<ItemMemo> item_memo_;
  std::array<std::uint64_t, 2 * max_groups> changes_{};  // starts, then ends
};

// The interpreter's one engine (not reentrant).
Regex& regex_engine();

// Changes the operand of every literal-byte operation (single, star and
// interval forms) from a-z to A-Z, for case-insensitive matching against
// an upper-cased subject.  Classes and class escapes are left alone.
void regex_fold_literals_upper(unsigned char* program);

// Size of the operands of the operation at program[0], or -1 for a byte
// that is not an opcode.  For walking a program.
int regex_operand_size(unsigned char opcode);

}  // namespace vek
