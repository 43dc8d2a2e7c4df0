// The working parts of the byte filters that can be tried on their own:
// the visible form of a byte (cat -v), the counts of wc, the strings of
// tr, the lists of cut and the format words of base.  The builtins
// themselves are declared in builtins.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vek::filters {

// ---------------------------------------------------------------- cat

// Option letters of cat that change the visible form.
inline constexpr unsigned kCatNul = 0x01;      // n: NUL as \0
inline constexpr unsigned kCatTabs = 0x02;     // t: tab ^I, form feed ^L
inline constexpr unsigned kCatDollar = 0x04;   // e: $ before LF
inline constexpr unsigned kCatHigh = 0x08;     // m: every byte >= 127 as \value

// Stores the visible form of byte b into out (at most 5 bytes); returns
// its length.
std::size_t cat_visible(unsigned char b, unsigned flags, char* out);

// ---------------------------------------------------------------- wc

struct WcCounts {
  std::uint64_t lines = 0;
  std::uint64_t words = 0;
  std::uint64_t bytes = 0;
  std::uint64_t longest_line = 0;  // its LF included
  std::uint64_t longest_word = 0;
  unsigned distinct = 0;           // distinct byte values
};

// Counts one input fed in pieces.  Words are runs of bytes that are not
// marked in the separator table.
class WcCounter {
 public:
  explicit WcCounter(const std::array<unsigned char, 256>& separators) : sep_(separators) {}
  void feed(const char* p, std::size_t n);
  // Counts only lines and bytes (for wc without words and maxima): the
  // other counts stay 0.  Not to be mixed with feed on one input.
  void feed_lines(const char* p, std::size_t n);
  // The counts after the last piece.
  WcCounts finish();

 private:
  const std::array<unsigned char, 256>& sep_;
  WcCounts c_;
  std::uint64_t line_ = 0;
  std::uint64_t word_ = 0;
  std::array<unsigned char, 256> seen_{};
};

// ---------------------------------------------------------------- tr

inline constexpr std::size_t kTrStringMax = 256;

struct TrString {
  std::array<unsigned char, kTrStringMax> bytes{};
  std::size_t len = 0;
};

enum class TrParse { kOk, kSyntax, kTooLong };

// Expands one tr string (escapes, ranges, repeats).
TrParse tr_expand(const char* spec, TrString& out);

// ---------------------------------------------------------------- cut

inline constexpr int kCutMaxItems = 128;
inline constexpr std::int32_t kCutOpenEnd = 2147483647;

struct CutRange {
  std::int32_t from;
  std::int32_t to;
};

struct CutList {
  std::array<CutRange, kCutMaxItems> ranges{};
  int count = 0;
};

enum class CutParse { kOk, kBad, kTooMany };

// Reads a list of N, N-M, -M and N- items and normalises it: sorted by
// start, contained ranges dropped, overlapping and adjacent ones merged.
CutParse cut_parse_list(const char* text, CutList& out);

// ---------------------------------------------------------------- base

// One side (input or output) of a base conversion.
struct BaseSide {
  int base = 0;          // 0: none given
  bool hash = false;     // base#digits notation
  int unit = 1;          // bytes per binary value: 1, 2 or 4
  bool big_endian = false;
  bool unit_given = false;
  int fd = -1;           // -1: the default descriptor
};

struct BaseSpec {
  BaseSide in;
  BaseSide out;
  const char* in_var = nullptr;
  const char* out_var = nullptr;
};

// Reads the arguments of base (without the command name); false when one
// of them does not parse, or there are too many.
bool base_parse(int argc, char* const* argv, BaseSpec& spec);

}  // namespace vek::filters
