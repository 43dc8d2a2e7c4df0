// Wildcard patterns ("?", "*", "[...]") as used by file-name generation,
// case branches, [[ ]] and the history search.  A pattern is compiled once
// into a compact byte form and then matched against whole strings.
//
// Compiled form (NUL-terminated; sets may hold 0 count bytes inside):
//   ordinary byte       itself
//   esc, b              the escape character and the byte after it; for b
//                       in "*?[" or b == esc the pair stands for b, for any
//                       other b for the two bytes esc and b
//   "?" ... "*"         a run of "*" and "?" becomes its "?"s followed by
//                       one "*" if the run held one, so "*" is never
//                       followed directly by "?" or "*"
//   "[", N1, N1 bytes, N2, N2 (low, high) pairs
//                       a set: single members, then inclusive ranges; a
//                       negated set is stored as its complement; byte 0 is
//                       never a member
//
// Matching has no backtracking: once the literal run after a "*" has
// matched up to the next "*" or "?", that "*" is committed to where it
// stopped ("*a?c" does not match "aXbaYc").
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vek {

// Results of pattern_compile.
enum PatternStatus : int {
  pattern_ok = 0,
  pattern_unclosed_set = 2,    // "[" without a closing "]"
  pattern_backward_range = 3,  // a range whose high end is below its low end
  pattern_buffer_full = 4,     // the compiled form does not fit the buffer
};

// Largest compiled set: members alternating in pairs with gaps give 85
// ranges (2 bytes each) plus the 3 framing bytes.
inline constexpr std::size_t pattern_max_set_size = 173;

// A buffer of this many bytes always holds the compiled form of a pattern
// of n bytes (every set is at least 3 pattern bytes long, every other byte
// compiles to at most 2 bytes, plus the terminating NUL).
constexpr std::size_t pattern_buffer_size(std::size_t n) {
  return n * ((pattern_max_set_size + 2) / 3) + 1;
}

// Compiles `pattern` (which ends at its first NUL byte, if any) into `out`
// and terminates it with NUL.  `esc` is the interpreter's escape character
// ('%' or '\\'); it must not be NUL, "*", "?" or "[".  An escape
// character at the very end of the pattern stands for itself.  Inside a
// set the escape character is an ordinary member.  Nothing is written past
// out.size(); on pattern_buffer_full the contents of `out` are undefined.
int pattern_compile(std::span<unsigned char> out, std::string_view pattern,
                    unsigned char esc);

// 0 when the whole of `subject` matches the compiled pattern, 1 otherwise.
// Byte-exact, case-sensitive.  `compiled` must come from pattern_compile
// with the same escape character.  Allocates nothing.
int pattern_match(std::string_view subject, const unsigned char* compiled,
                  unsigned char esc);

}  // namespace vek
