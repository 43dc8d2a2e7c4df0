// String, number and path helpers.  None of them allocates; all work on
// caller-supplied, NUL-terminated byte strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "platform/platform.h"

namespace vek {

// Copies the sources one after another into dst and terminates it;
// returns the resulting length.  No bound.  A null dst returns 0.
int concat_strings(char* dst, std::initializer_list<const char*> sources);

// The same into a buffer of `size` bytes.  When the sources do not fit
// (more than size-1 characters) the copy stops at the end of the buffer
// and error 26 "Ziel-Puffer" is reported (which abandons the command).
int concat_strings_n(int size, char* dst, std::initializer_list<const char*> sources);

// Decimal conversion; never reports an error (see the tests for the rules).
std::int32_t parse_decimal(const char* s);
// The same where the number serves as a width, count or limit: false
// when its digits do not fit into 32 bits with their sign (where
// parse_decimal would wrap), else true with the value in *value.
bool parse_decimal_checked(const char* s, std::int32_t* value);
// 0 when s is an optional sign and at most 10 significant digits; else the
// first offending character, or 1 for an empty string or a lone sign.
int is_decimal_word(const char* s);
// Reads at most 3 decimal digits; stores how many were read.
int parse_small_decimal(int* count, const char* s);
int format_unsigned(char* buf, std::uint32_t value);
int format_signed(char* buf, std::int32_t value);
// 64-bit values in decimal (file sizes, positions, counts), NUL-ended;
// buf takes at least 21 bytes.  Return the length.
int format_u64(char* buf, std::uint64_t value);
int format_i64(char* buf, std::int64_t value);

// Integer words: "digits" or "base#digits" (base 2..36 or 256).  `base`
// may be null; when it points at a value above 0 that base is used, and a
// base written in the word is stored back through it.  Malformed words
// report error 24 with the remaining text and yield 0.
std::int32_t parse_integer(int* base, const char* s);
// Writes value in base (below 1 means 10; 256 stores the four bytes).
int format_integer(char* buf, int base, std::int32_t value);

int upcase_string(char* s);
void slash_to_backslash(char* s);
int collapse_backslashes(char* s);
// "/" to "\", collapsed backslashes (not for network paths); a
// drive-relative path is error 19.
void path_normalize(char* path);

// 1 when the word holds ? * or [ that is first or not preceded by the
// escape character.
int has_unescaped_pattern_char(const char* word);

// Case-insensitive lookup in the process environment; value or null.
const char* env_lookup(const char* name);

// File status of a path.  A bare drive prefix ("X:" or "X:\\") is the root
// of that drive (on POSIX, where a drive prefix names the root of the one
// file system, the root itself).  The status's device field tells the drive
// or file system the file is on.  Returns 0, or -1 when the path has no
// status.
int stat_on_drive(const char* path, plat::FileInfo& status);

// Running 32-bit CRC of the crc builtin; null data resets the register.
std::uint32_t crc_update(const void* data, std::size_t len);

// Command texts handed to a child interpreter carry blank, tab, CR and LF
// as the bytes 0x1C..0x1F; these convert one byte each way.
inline char blank_to_control(char c) {
  switch (c) {
    case ' ': return '\x1c';
    case '\t': return '\x1d';
    case '\r': return '\x1e';
    case '\n': return '\x1f';
    default: return c;
  }
}
inline char control_to_blank(char c) {
  switch (c) {
    case '\x1c': return ' ';
    case '\x1d': return '\t';
    case '\x1e': return '\r';
    case '\x1f': return '\n';
    default: return c;
  }
}

// Copies a NUL-terminated string into a fixed buffer, cutting it at
// `limit` characters (at most the buffer's size - 1); returns the length.
template <std::size_t N>
std::size_t copy_truncated(std::array<char, N>& dst, const char* src, std::size_t limit = N - 1) {
  if (limit > N - 1) limit = N - 1;
  std::size_t n = 0;
  while (src[n] && n < limit) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
  return n;
}

// Byte helpers with unsigned comparison.
inline std::size_t str_len(const char* s) {
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}
int str_compare(const char* a, const char* b);

}  // namespace vek
