// String, number and path helpers shared by the whole interpreter.

#include "support/strings.h"

#include <array>
#include <cstdint>

// Carry-less multiplication for the CRC where the processor has it.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && defined(__SIZEOF_INT128__)
#include <immintrin.h>
#define VEK_CRC_CLMUL 1
#else
#define VEK_CRC_CLMUL 0
#endif

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
// their lowest bit up.  Mirrored bit for bit, that is the register shifted
// right with the mirrored polynomial and the bytes fed as they are, which
// tables handle eight bytes at a time: table k gives the effect of one
// byte followed by k zero bytes.
constexpr std::uint32_t mirror32(std::uint32_t v) {
  std::uint32_t r = 0;
  for (int k = 0; k < 32; ++k)
    if (v & (1u << k)) r |= 0x80000000u >> k;
  return r;
}

constexpr auto kCrcTables = [] {
  std::array<std::array<std::uint32_t, 256>, 8> t{};
  const std::uint32_t poly = mirror32(kCrcPolynomial);
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1u) ? (r >> 1) ^ poly : r >> 1;
    t[0][i] = r;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
  return t;
}();

#if VEK_CRC_CLMUL
// Folding 16 bytes at a time with carry-less multiplication.  In the
// mirrored form a fold multiplies by x^k mod P (mirrored, shifted up one
// place); the last 64 bits are reduced with mu = x^64 / P (Barrett).
constexpr std::uint64_t crc_x_power_mod(int k) {
  std::uint64_t r = 1;
  for (int i = 0; i < k; ++i) {
    r <<= 1;
    if (r & 0x100000000u) r ^= 0x100000000u | kCrcPolynomial;
  }
  return static_cast<std::uint64_t>(mirror32(static_cast<std::uint32_t>(r))) << 1;
}
constexpr std::uint64_t crc_mu() {
  // floor(x^64 / P), 33 bits, mirrored.
  std::uint64_t q = 0;
  unsigned __int128 a = static_cast<unsigned __int128>(1) << 64;
  const unsigned __int128 poly = (static_cast<unsigned __int128>(1) << 32) | kCrcPolynomial;
  for (int s = 32; s >= 0; --s) {
    if ((a >> (32 + s)) & 1) {
      a ^= poly << s;
      q |= static_cast<std::uint64_t>(1) << s;
    }
  }
  std::uint64_t r = 0;
  for (int i = 0; i < 33; ++i)
    if (q & (static_cast<std::uint64_t>(1) << i)) r |= static_cast<std::uint64_t>(1) << (32 - i);
  return r;
}
constexpr std::uint64_t kFold4[2] = {crc_x_power_mod(4 * 128 + 32), crc_x_power_mod(4 * 128 - 32)};
constexpr std::uint64_t kFold1[2] = {crc_x_power_mod(128 + 32), crc_x_power_mod(128 - 32)};
constexpr std::uint64_t kFold64 = crc_x_power_mod(64);
constexpr std::uint64_t kBarrett[2] = {(static_cast<std::uint64_t>(mirror32(kCrcPolynomial)) << 1) | 1u, crc_mu()};

bool crc_clmul_usable() {
  static const bool usable = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return usable;
}

#define VEK_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

VEK_CLMUL_TARGET inline __m128i clmul_load(const unsigned char* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}
VEK_CLMUL_TARGET inline __m128i clmul_constants(const std::uint64_t* k) {
  return _mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0]));
}
// x carried 16 bytes further (multiplied by the constants in k) and
// added to the data there.
VEK_CLMUL_TARGET inline __m128i clmul_fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The mirrored register r after len bytes (len at least 64, a multiple
// of 16).
VEK_CLMUL_TARGET std::uint32_t crc_fold(const unsigned char* p, std::size_t len, std::uint32_t r) {
  __m128i x1 = _mm_xor_si128(clmul_load(p), _mm_cvtsi32_si128(static_cast<int>(r)));
  __m128i x2 = clmul_load(p + 16);
  __m128i x3 = clmul_load(p + 32);
  __m128i x4 = clmul_load(p + 48);
  p += 64;
  len -= 64;
  __m128i k = clmul_constants(kFold4);
  for (; len >= 64; p += 64, len -= 64) {
    x1 = clmul_fold(x1, k, clmul_load(p));
    x2 = clmul_fold(x2, k, clmul_load(p + 16));
    x3 = clmul_fold(x3, k, clmul_load(p + 32));
    x4 = clmul_fold(x4, k, clmul_load(p + 48));
  }
  k = clmul_constants(kFold1);
  x1 = clmul_fold(x1, k, x2);
  x1 = clmul_fold(x1, k, x3);
  x1 = clmul_fold(x1, k, x4);
  for (; len >= 16; p += 16, len -= 16) x1 = clmul_fold(x1, k, clmul_load(p));
  // 128 bits to 64, then to 32.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
  const __m128i k5 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), _mm_srli_si128(x1, 4));
  const __m128i b = clmul_constants(kBarrett);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), b, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), b, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}
#endif

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

int format_u64(char* buf, std::uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  int len = 0;
  while (n > 0) buf[len++] = digits[--n];
  buf[len] = 0;
  return len;
}

int format_i64(char* buf, std::int64_t value) {
  if (value >= 0) return format_u64(buf, static_cast<std::uint64_t>(value));
  buf[0] = '-';
  return 1 + format_u64(buf + 1, 0 - static_cast<std::uint64_t>(value));
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
  const auto& t = kCrcTables;
  std::uint32_t r = mirror32(crc_register);
#if VEK_CRC_CLMUL
  if (len >= 64 && crc_clmul_usable()) {
    const std::size_t n = len & ~static_cast<std::size_t>(15);
    r = crc_fold(p, n, r);
    p += n;
    len -= n;
  }
#endif
  auto word = [](const unsigned char* q) {
    return static_cast<std::uint32_t>(q[0]) | static_cast<std::uint32_t>(q[1]) << 8 |
           static_cast<std::uint32_t>(q[2]) << 16 | static_cast<std::uint32_t>(q[3]) << 24;
  };
  for (; len >= 8; len -= 8, p += 8) {
    const std::uint32_t a = r ^ word(p);
    const std::uint32_t b = word(p + 4);
    r = t[7][a & 0xFFu] ^ t[6][(a >> 8) & 0xFFu] ^ t[5][(a >> 16) & 0xFFu] ^ t[4][a >> 24] ^
        t[3][b & 0xFFu] ^ t[2][(b >> 8) & 0xFFu] ^ t[1][(b >> 16) & 0xFFu] ^ t[0][b >> 24];
  }
  for (; len > 0; --len, ++p) r = (r >> 8) ^ t[0][(r ^ *p) & 0xFFu];
  return crc_register = mirror32(r);
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
