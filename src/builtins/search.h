// The parts of grep and expr that work without the command line: the
// operator word and the substitution of expr, the option words, the line
// pieces and the literal search of grep.  The handlers (bi_grep, bi_expr)
// are declared in builtins.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pattern/regex.h"

namespace vek {

// ---------------------------------------------------------------- expr

// The operator word: ":" (to descriptor 1), "::" (exit status only) or
// ":name" (into the variable), each optionally after "=" (ignore case).
struct ExprOperator {
  enum class Target { kOutput, kNowhere, kVariable };
  Target target = Target::kOutput;
  bool fold = false;
  const char* name = nullptr;  // kVariable: the variable's name
};
// False for a malformed word or an invalid variable name.
bool parse_expr_operator(const char* word, ExprOperator& op);

// Outcome of a substitution.
enum class SubstStatus { kOk, kOverflow, kBadGroup };

// What a substitution works on.  `subject` is the text whose bytes go into
// the result; `text` is what the engine matches (the subject itself, or
// its upper-cased copy), of the same length.  The engine holds the first
// match in `text` when expr_substitute is called.
struct SubstJob {
  std::string_view subject;
  std::string_view text;
  const char* replacement = "";
  bool global = false;   // "+" in the flags word: every match
  bool literal = false;  // "=" in the flags word: no "&", no escapes
  unsigned char esc = '%';
};

// Builds the subject with the match (or, global, every match) replaced
// into out[0 .. capacity): the result and a NUL, its length in *length.
// kOverflow when the result and its NUL do not fit; kBadGroup when the
// replacement names a group beyond the pattern's groups.  Leaves the
// engine's back-off limit cleared.
SubstStatus expr_substitute(Regex& rx, const SubstJob& job, char* out, std::size_t capacity,
                            std::size_t* length);

// ---------------------------------------------------------------- grep

// A line is read in pieces: each ends after a line feed or after this many
// bytes.  Each piece counts as one line; of a longer piece only the first
// kGrepLineCut bytes are matched and written.
inline constexpr std::size_t kGrepPieceMax = 8191;
inline constexpr std::size_t kGrepLineCut = 4095;

struct GrepOptions {
  bool count = false;      // c: the number of selected lines per file
  bool no_names = false;   // h: never a file name before a line
  bool names = false;      // l: the names of files with a selected line
  bool numbers = false;    // n: the line number before a line
  bool silent = false;     // s: skip files that cannot be opened
  bool invert = false;     // v: select the lines that do not match
  bool fold = false;       // i, y: ignore the case of ASCII letters
  bool fixed = false;      // F: the pattern is a fixed string (x implies it)
  bool exact = false;      // x: the line is the pattern
  bool within = false;     // S: with F, the line occurs within the pattern
  bool last = false;       // L: only the last selected line of each file
  bool quiet = false;      // 1, q: write nothing
  std::int32_t max = -1;   // m: selected lines per file, -1 unlimited
};

// Reads the leading option words of argv[1..argc); returns the index of
// the pattern argument, or argc when there is none.
int parse_grep_options(int argc, char** argv, GrepOptions& opts);

// End of the piece at the start of `data` (an offset into it), or
// std::string_view::npos when the piece may go on beyond `data` (no line
// feed in it, fewer than kGrepPieceMax bytes, and more input may follow).
std::size_t grep_piece_end(std::string_view data, bool at_end);

// The line without a final LF or CR LF.
std::string_view without_line_end(std::string_view line);

// The tests of a fixed-string pattern against a piece (cut as matched).
enum class FixedTest {
  kContains,  // F: the piece contains the pattern
  kExact,     // x: the piece without its line end is the pattern
  kWithin,    // F with S: the piece without its line end is not empty
              // and occurs within the pattern
};
bool fixed_test(FixedTest test, std::string_view piece, std::string_view pattern);

// Search for a byte string: memchr for its rarest byte (by the usual
// frequency of bytes in text), then a comparison of the whole string.
class LiteralFinder {
 public:
  void set(std::string_view needle);
  std::string_view needle() const { return needle_; }
  // Offset of the first occurrence in `hay`, or npos.  An empty needle is
  // found at 0.
  std::size_t find(std::string_view hay) const;

 private:
  std::string_view needle_;
  std::size_t rare_ = 0;  // index of the byte memchr looks for
};

// Search for any byte of a set: memchr when the set has one byte, else a
// table lookup per byte.
class ByteSet {
 public:
  void clear();
  void add(unsigned char b);
  bool has(unsigned char b) const { return member_[b] != 0; }
  int size() const { return size_; }
  // Offset of the first member byte in `hay`, or npos.
  std::size_t find(std::string_view hay) const;

 private:
  std::array<unsigned char, 256> member_{};
  int size_ = 0;
  unsigned char only_ = 0;  // the member when there is one
};

// The bytes a match of the compiled program can begin with (the first
// byte it consumes), for a program that cannot match the empty text and
// does not begin with a back-reference; false (the set left undefined) for any
// other.  A match can then start only at a position holding one of them.
bool regex_first_bytes(const unsigned char* program, ByteSet& set);

// The set of a single-byte item that every match must consume (not
// repeated, or an interval of at least one), the one cheapest to search
// for; false when the program has none.
bool regex_required_set(const unsigned char* program, ByteSet& set);

// Whether a line holds a match of a compiled program, decided in one pass
// over the line with the program's positions as bits of a word (a
// simulation of all ways of matching at once): linear in the line's
// length whatever the pattern.  Takes programs of at most 64 positions
// (an interval counts as its copies) without back-references; the answer
// is the engine's: a match exists somewhere in the line up to its first
// NUL byte.
class LineNfa {
 public:
  // False when the program is beyond it (the engine must be used).
  bool build(const Regex& rx);
  bool ready() const { return ready_; }
  bool matches(std::string_view line) const;

 private:
  std::array<std::uint64_t, 256> takes_{};  // positions each byte may fill
  std::uint64_t repeat_ = 0;      // starred positions: may take more bytes
  std::uint64_t optional_ = 0;    // positions that may be skipped
  std::uint64_t word_start_ = 0;  // positions that are word starts / ends
  std::uint64_t word_end_ = 0;
  std::uint64_t last_ = 0;
  ByteSet first_;             // the bytes a match can begin with
  bool skip_ = false;         // first_ is worth searching for
  // The positions that take no byte where the bytes around are word
  // bytes or not (index: 2 for before, 1 for after), and whether two of
  // them follow each other.
  std::array<std::uint64_t, 4> free_{};
  std::array<bool, 4> chains_{};
  int positions_ = 0;
  bool anchored_ = false;
  bool end_anchor_ = false;
  bool ready_ = false;
};

// A rough cost, per million bytes of text, of searching for a byte of the
// set or for the literal: every position found costs a test of its line
// (about twenty times a false hit of the literal search, which costs one
// comparison).  Used to choose what to search for.
double search_cost(const ByteSet& set);
double search_cost(std::string_view literal);

// A run of plain literal bytes that every match of the compiled program
// must contain (group marks inside the run do not break it), the one
// cheapest to search for (search_cost), copied into out (at most
// `capacity` bytes); returns its length, 0 when the program has none.
std::size_t regex_required_literal(const unsigned char* program, char* out, std::size_t capacity);

// What begins a program that, apart from group marks, is a run of
// literals or one single-byte item, followed only by items that may
// repeat zero times: such a program matches exactly where that run or a
// byte of that item occurs.  kNone for every other program (*length 0);
// else *length is the number of literals, or 1.
enum class RegexLead { kNone, kLiterals, kOneByte };
RegexLead regex_decisive_lead(const unsigned char* program, std::size_t* length);

}  // namespace vek
