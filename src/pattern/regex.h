// The interpreter's regular-expression engine, used by grep and expr.
//
// A pattern is compiled into a byte program in a buffer owned by the
// caller; the program is then matched against subject strings by a
// backtracking matcher that finds the leftmost match (greedy repetition)
// and the spans of up to nine groups.  See docs/patterns.md for the
// pattern syntax.
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
#include <string_view>

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
  // Allocates nothing; recursion depth is bounded by the number of
  // repeated items in the program, not by the subject length.
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

 private:
  bool run(std::size_t pc, std::size_t pos);
  std::size_t item_length(unsigned char base, std::size_t operand,
                          std::size_t pos, bool negated) const;
  bool repeat(unsigned char base, std::size_t operand, std::size_t next,
              std::size_t pos, std::size_t min, std::size_t max,
              bool negated);

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
