// String, number and path helpers shared by the whole interpreter.

#include "support/strings.h"

#include <array>
#include <cstdint>

#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"

namespace vek {

namespace {

constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr unsigned char to_upper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 0x20) : c;
}
constexpr bool is_blank(unsigned char c) { return c == ' ' || c == '\t'; }

inline unsigned char byte_at(const char* s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

// Value of digit d at decimal place p (p = 0 for units), wrapped to 32
// bits: a ten-digit number is summed from this table without multiplying.
constexpr auto kPlaceValues = [] {
  std::array<std::array<std::uint32_t, 10>, 10> t{};
  std::uint32_t place = 1;
  for (int p = 0; p < 10; ++p) {
    for (std::uint32_t d = 0; d < 10; ++d) t[p][d] = d * place;
    place *= 10;
  }
  return t;
}();

constexpr std::array<std::uint32_t, 10> kPowersOfTen = {
    1000000000u, 100000000u, 10000000u, 1000000u, 100000u,
    10000u,      1000u,      100u,      10u,      1u};

// Digit value of c in bases up to 36, or 99 for a non-digit.
constexpr int digit_value(unsigned char c) {
  if (is_digit(c)) return c - '0';
  if (is_letter(c)) return (c | 0x20) - 'a' + 10;
  return 99;
}

constexpr bool valid_base(int base) { return (base >= 2 && base <= 36) || base == 256; }

// Reports error 24 with `rest` as object; yields 0 for the caller to
// return when the error continues.
std::int32_t arithmetic_error(const char* rest) {
  shell_error(VEK_ERR(kErrArithmetic), rest);
  return 0;
}

constexpr std::uint32_t kCrcStart = 0xC704DA7Bu;
constexpr std::uint32_t kCrcPolynomial = 0x04C11DB7u;

// The register is shifted left (top bit out) while the bytes are fed from
// their lowest bit up.  Feeding byte b that way equals feeding its
// bit-reversed value top bit first, which the usual byte table handles.
constexpr auto kCrcTable = [] {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ kCrcPolynomial : r << 1;
    t[i] = r;
  }
  return t;
}();

constexpr auto kBitReversed = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (int k = 0; k < 8; ++k)
      if (i & (1u << k)) r |= 0x80u >> k;
    t[i] = static_cast<unsigned char>(r);
  }
  return t;
}();

std::uint32_t crc_register = kCrcStart;

}  // namespace

// ---------------------------------------------------------------- concatenation

// The sources must not overlap the destination, except that the first one
// may be the destination itself (the usual "append to what is there").
int concat_strings(char* dst, std::initializer_list<const char*> sources) {
  if (dst == nullptr) return 0;
  if (sources.size() == 0) return static_cast<int>(str_len(dst));
  std::size_t n = 0;
  for (const char* src : sources) {
    if (src == nullptr) continue;
    for (std::size_t i = 0; src[i]; ++i) dst[n++] = src[i];
  }
  dst[n] = '\0';
  return static_cast<int>(n);
}

int concat_strings_n(int size, char* dst, std::initializer_list<const char*> sources) {
  if (size <= 0 || dst == nullptr) return 0;
  const std::size_t cap = static_cast<std::size_t>(size) - 1;  // room for text
  if (sources.size() == 0) {
    std::size_t n = 0;
    while (n < cap && dst[n]) ++n;
    return static_cast<int>(n);
  }
  std::size_t n = 0;
  for (const char* src : sources) {
    if (src == nullptr) continue;
    for (std::size_t i = 0; src[i]; ++i) {
      if (n == cap) {
        // Keep the buffer a valid string even though the command is
        // abandoned: nothing may later read past its end.
        dst[n] = '\0';
        shell_error(VEK_ERR(kErrLimit), "Ziel-Puffer");
        return static_cast<int>(n);
      }
      dst[n++] = src[i];
    }
  }
  dst[n] = '\0';
  return static_cast<int>(n);
}

// ---------------------------------------------------------------- decimal

std::int32_t parse_decimal(const char* s) {
  std::size_t i = 0;
  bool negative = false;
  if (byte_at(s, 0) <= '0') {
    if (s[0] == '\0' || s[1] == '\0') return 0;
    while (is_blank(byte_at(s, i))) ++i;
    if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
    while (s[i] == '0') ++i;
  }
  std::size_t count = 0;
  while (count < 10 && is_digit(byte_at(s, i + count))) ++count;
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < count; ++k)
    value += kPlaceValues[count - 1 - k][byte_at(s, i + k) - '0'];
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

bool parse_decimal_checked(const char* s, std::int32_t* value) {
  std::size_t i = 0;
  while (is_blank(byte_at(s, i))) ++i;
  bool negative = false;
  if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
  while (s[i] == '0') ++i;
  std::uint64_t v = 0;
  for (; is_digit(byte_at(s, i)); ++i) {
    v = v * 10 + (byte_at(s, i) - '0');
    if (v > 0x80000000u) return false;
  }
  if (!negative && v > 0x7FFFFFFFu) return false;
  *value = parse_decimal(s);
  return true;
}

int is_decimal_word(const char* s) {
  std::size_t i = 0;
  if (s[0] == '-' || s[0] == '+') ++i;
  if (s[i] == '\0') return 1;
  while (s[i] == '0') ++i;
  int significant = 0;
  for (; s[i]; ++i) {
    const unsigned char c = byte_at(s, i);
    if (!is_digit(c) || ++significant > 10) return c;
  }
  return 0;
}

int parse_small_decimal(int* count, const char* s) {
  int n = 0;
  int value = 0;
  while (n < 3 && is_digit(byte_at(s, n))) {
    value = value * 10 + (s[n] - '0');
    ++n;
  }
  if (count != nullptr) *count = n;
  return value;
}

int format_unsigned(char* buf, std::uint32_t value) {
  int n = 0;
  for (std::size_t place = 0; place < kPowersOfTen.size(); ++place) {
    const std::uint32_t unit = kPowersOfTen[place];
    char digit = '0';
    while (value >= unit) {
      value -= unit;
      ++digit;
    }
    // Leading zeros are dropped; the units place is always written.
    if (n > 0 || digit != '0' || place + 1 == kPowersOfTen.size()) buf[n++] = digit;
  }
  buf[n] = '\0';
  return n;
}

int format_signed(char* buf, std::int32_t value) {
  if (value >= 0) return format_unsigned(buf, static_cast<std::uint32_t>(value));
  buf[0] = '-';
  return 1 + format_unsigned(buf + 1, 0u - static_cast<std::uint32_t>(value));
}

// ---------------------------------------------------------------- base#digits

std::int32_t parse_integer(int* base_io, const char* s) {
  std::size_t i = 0;
  while (is_blank(byte_at(s, i))) ++i;
  const char* const word = s + i;

  bool negative = false;
  int base = 0;
  if (base_io != nullptr && *base_io > 0) {
    base = *base_io;
    if (!valid_base(base)) return arithmetic_error(word);
  } else {
    if (s[i] == '-' || s[i] == '+') negative = s[i++] == '-';
    const std::size_t run = i;
    // The base is accumulated with saturation so that a long digit run
    // cannot wrap into a valid base.
    int written = 0;
    while (is_digit(byte_at(s, i))) {
      if (written <= 256) written = written * 10 + (s[i] - '0');
      ++i;
    }
    if (s[i] == '\0') {
      // Plain decimal word.
      std::size_t d = run;
      while (s[d] == '0') ++d;
      const std::uint32_t v = static_cast<std::uint32_t>(parse_decimal(s + d));
      return static_cast<std::int32_t>(negative ? 0u - v : v);
    }
    if (s[i] != '#') return arithmetic_error(s + i);
    if (!valid_base(written)) return arithmetic_error(s + run);
    base = written;
    if (base_io != nullptr) *base_io = base;
    ++i;  // '#'
  }

  if (s[i] == '-' || s[i] == '+') negative = negative != (s[i++] == '-');

  std::uint32_t value = 0;
  if (base == 256) {
    // Exactly four bytes, most significant first.  An empty digit part is
    // 0; a shorter one is malformed (never read past the terminator).
    if (s[i] != '\0') {
      for (int k = 0; k < 4; ++k) {
        if (s[i] == '\0') return arithmetic_error(s + i - k);
        value = (value << 8) | byte_at(s, i);
        ++i;
      }
    }
  } else {
    while (s[i] == '0') ++i;
    if (base == 10) {
      const std::uint32_t v = static_cast<std::uint32_t>(parse_decimal(s + i));
      return static_cast<std::int32_t>(negative ? 0u - v : v);
    }
    const std::uint32_t b = static_cast<std::uint32_t>(base);
    for (int d; (d = digit_value(byte_at(s, i))) < base; ++i) value = value * b + static_cast<std::uint32_t>(d);
  }
  if (s[i] != '\0') return arithmetic_error(s + i);
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

int format_integer(char* buf, int base, std::int32_t value) {
  if (base < 1) base = 10;
  if (base == 10) return format_signed(buf, value);
  auto u = static_cast<std::uint32_t>(value);
  if (base == 256) {
    for (int k = 0; k < 4; ++k) buf[k] = static_cast<char>((u >> (24 - 8 * k)) & 0xFFu);
    buf[4] = '\0';
    return 4;
  }
  if (!valid_base(base)) {
    buf[0] = '\0';
    shell_error(VEK_ERR(kErrArithmetic), "Basis");
    return 0;
  }
  std::array<char, 32> rev{};  // base 2 needs the most: 32 digits
  int n = 0;
  const auto b = static_cast<std::uint32_t>(base);
  do {
    const std::uint32_t d = u % b;
    rev[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
    u /= b;
  } while (u != 0);
  for (int k = 0; k < n; ++k) buf[k] = rev[n - 1 - k];
  buf[n] = '\0';
  return n;
}

// ---------------------------------------------------------------- characters and paths

int upcase_string(char* s) {
  std::size_t n = 0;
  for (; s[n]; ++n) s[n] = static_cast<char>(to_upper(byte_at(s, n)));
  return static_cast<int>(n);
}

void slash_to_backslash(char* s) {
  for (; *s; ++s)
    if (*s == '/') *s = '\\';
}

int collapse_backslashes(char* s) {
  std::size_t out = 0;
  for (std::size_t in = 0; s[in]; ++in) {
    if (s[in] == '\\' && out > 0 && s[out - 1] == '\\') continue;
    s[out++] = s[in];
  }
  if (out > 1 && s[out - 1] == '\\') --out;
  s[out] = '\0';
  return static_cast<int>(out);
}

void path_normalize(char* path) {
  slash_to_backslash(path);
  const bool drive = is_letter(byte_at(path, 0)) && path[1] == ':';
  const char* rest = drive ? path + 2 : path;
  const bool network = rest[0] == '\\' && rest[1] == '\\' && rest[2] != '\0';
  if (!network) collapse_backslashes(path);
  if (drive && path[2] != '\0' && path[2] != '\\')
    shell_error(VEK_ERR(kErrArguments), path);
}

int has_unescaped_pattern_char(const char* word) {
  for (std::size_t i = 0; word[i]; ++i) {
    const char c = word[i];
    if ((c == '?' || c == '*' || c == '[') && (i == 0 || byte_at(word, i - 1) != escape_char))
      return 1;
  }
  return 0;
}

// ---------------------------------------------------------------- environment

const char* env_lookup(const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  for (std::size_t i = 0; name[i]; ++i)
    if (name[i] == '=' || byte_at(name, i) < '!') return nullptr;
  const char* const* env = plat::environment();
  if (env == nullptr) return nullptr;
  for (; *env != nullptr; ++env) {
    const char* entry = *env;
    std::size_t i = 0;
    while (name[i] && to_upper(byte_at(name, i)) == to_upper(byte_at(entry, i))) ++i;
    if (name[i] == '\0' && entry[i] == '=') return entry + i + 1;
  }
  return nullptr;
}

// ---------------------------------------------------------------- crc

std::uint32_t crc_update(const void* data, std::size_t len) {
  if (data == nullptr) return crc_register = kCrcStart;
  const auto* p = static_cast<const unsigned char*>(data);
  std::uint32_t r = crc_register;
  for (std::size_t k = 0; k < len; ++k) r = (r << 8) ^ kCrcTable[(r >> 24) ^ kBitReversed[p[k]]];
  return crc_register = r;
}

// ---------------------------------------------------------------- bytes

int str_compare(const char* a, const char* b) {
  std::size_t i = 0;
  while (a[i] && a[i] == b[i]) ++i;
  return static_cast<int>(byte_at(a, i)) - static_cast<int>(byte_at(b, i));
}

int stat_on_drive(const char* path, plat::FileInfo& status) {
  const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
  if (drive && (path[2] == 0 || (path[2] == '\\' && path[3] == 0))) {
    const char root[] = {path[0], ':', '\\', 0};
    status = plat::stat_path(root);
  } else {
    status = plat::stat_path(path);
  }
  return status.exists ? 0 : -1;
}

}  // namespace vek
