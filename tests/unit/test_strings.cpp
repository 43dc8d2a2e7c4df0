// Unit tests of the string, number and path helpers.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "core/shell.h"
#include "platform/platform.h"
#include "session/diag.h"
#include "support/codepage.h"
#include "support/strings.h"

namespace vek {
namespace {

// Runs f, which must abort with an error; returns the resulting $?.
template <typename F>
int abort_status(F f) {
  last_status = 0;
  EXPECT_THROW(f(), ProcessExit);
  return last_status;
}
constexpr int status_of(int error) { return (error + 1) | 16; }

TEST(Concat, BoundAndOverflow) {
  std::array<char, 8> buf{};
  EXPECT_EQ(concat_strings_n(4, buf.data(), {"ab", "c"}), 3);
  // The first source may be the destination itself.
  EXPECT_EQ(concat_strings_n(8, buf.data(), {buf.data(), "\\", "x"}), 5);
  EXPECT_STREQ(buf.data(), "abc\\x");
  EXPECT_EQ(concat_strings_n(0, buf.data(), {"zz"}), 0);

  std::array<char, 6> guard{'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(abort_status([&] { concat_strings_n(4, guard.data(), {"ab", "cd"}); }),
            status_of(kErrLimit));
  EXPECT_EQ(guard[4], 'x');  // nothing written beyond the 4 bytes
  EXPECT_STREQ(guard.data(), "abc");
}

TEST(Decimal, ParseAndFormat) {
  EXPECT_EQ(parse_decimal(" -0012"), -12);
  EXPECT_EQ(parse_decimal("12abc"), 12);
  EXPECT_EQ(parse_decimal("12345678901"), 1234567890);
  EXPECT_EQ(parse_decimal("4294967297"), 1);  // wraps in 32 bits
  for (const char* zero : {"", "+", "-", "0", "abc", "- 5", "+-5"})
    EXPECT_EQ(parse_decimal(zero), 0) << zero;
  int n = -1;
  EXPECT_EQ(parse_small_decimal(&n, "2567"), 256);
  EXPECT_EQ(n, 3);

  std::array<char, 16> buf{};
  EXPECT_EQ(format_unsigned(buf.data(), 4294967295u), 10);
  EXPECT_STREQ(buf.data(), "4294967295");
  EXPECT_EQ(format_signed(buf.data(), INT32_MIN), 11);
  EXPECT_STREQ(buf.data(), "-2147483648");
  EXPECT_EQ(format_signed(buf.data(), 0), 1);
  EXPECT_STREQ(buf.data(), "0");
}

TEST(Decimal, IsDecimalWord) {
  for (const char* ok : {"123", "-0000000000", "+0000000000123", "9999999999"})
    EXPECT_EQ(is_decimal_word(ok), 0) << ok;
  EXPECT_EQ(is_decimal_word(""), 1);
  EXPECT_EQ(is_decimal_word("-"), 1);
  EXPECT_EQ(is_decimal_word("1e3"), 'e');
  EXPECT_EQ(is_decimal_word("12345678905"), '5');
}

TEST(Integer, Parse) {
  int base = 0;
  EXPECT_EQ(parse_integer(&base, "16#ff"), 255);
  EXPECT_EQ(base, 16);
  EXPECT_EQ(parse_integer(nullptr, "  8#-17"), -15);
  EXPECT_EQ(parse_integer(nullptr, "-8#-17"), 15);
  EXPECT_EQ(parse_integer(nullptr, "36#zZ"), 35 * 36 + 35);
  EXPECT_EQ(parse_integer(nullptr, "16#FFFFFFFF"), -1);
  EXPECT_EQ(parse_integer(nullptr, "10#12x"), 12);
  EXPECT_EQ(parse_integer(nullptr, "-42"), -42);
  EXPECT_EQ(parse_integer(nullptr, "16#"), 0);
  EXPECT_EQ(parse_integer(nullptr, "256#AB%C"), 0x41422543);
  base = 16;  // a base passed in: the whole word is digits
  EXPECT_EQ(parse_integer(&base, "-1f"), -31);

  for (const char* bad : {"2#102", "12x", "37#1", "1#0", "#5", "16#fg", "256#AB", "256#ABCDE",
                          "4294967312#1"})
    EXPECT_EQ(abort_status([&] { parse_integer(nullptr, bad); }), status_of(kErrArithmetic)) << bad;
  base = 0;
  EXPECT_EQ(abort_status([&] { parse_integer(&base, "99#1"); }), status_of(kErrArithmetic));
  EXPECT_EQ(base, 0);  // an invalid base is not stored back
}

TEST(Integer, Format) {
  std::array<char, 40> buf{};
  EXPECT_EQ(format_integer(buf.data(), 16, 255), 2);
  EXPECT_STREQ(buf.data(), "ff");
  format_integer(buf.data(), 2, 0);
  EXPECT_STREQ(buf.data(), "0");
  EXPECT_EQ(format_integer(buf.data(), 16, -1), 8);
  EXPECT_EQ(format_integer(buf.data(), 2, -1), 32);
  format_integer(buf.data(), 0, -1);
  EXPECT_STREQ(buf.data(), "-1");
  EXPECT_EQ(format_integer(buf.data(), 256, 0x41420043), 4);
  EXPECT_EQ(std::memcmp(buf.data(), "AB\0C\0", 5), 0);
  for (int bad : {1, 37, 255})
    EXPECT_EQ(abort_status([&] { format_integer(buf.data(), bad, 1); }), status_of(kErrArithmetic));
}

std::string normalized(const char* in) {
  std::array<char, 64> buf{};
  std::strcpy(buf.data(), in);
  path_normalize(buf.data());
  return buf.data();
}

TEST(Paths, CollapseAndNormalize) {
  std::array<char, 16> buf{};
  for (auto [in, out] : {std::pair{"a\\\\b\\\\", "a\\b"}, {"\\", "\\"}, {"\\\\\\", "\\"}}) {
    std::strcpy(buf.data(), in);
    EXPECT_EQ(collapse_backslashes(buf.data()), static_cast<int>(std::strlen(out)));
    EXPECT_STREQ(buf.data(), out);
  }
  EXPECT_EQ(normalized("a//b/"), "a\\b");
  EXPECT_EQ(normalized("//server/share//x"), "\\\\server\\share\\\\x");
  EXPECT_EQ(normalized("c://server/share"), "c:\\\\server\\share");
  EXPECT_EQ(normalized("C:"), "C:");
  EXPECT_EQ(normalized("C:/dir//name/"), "C:\\dir\\name");
  EXPECT_EQ(abort_status([] { normalized("C:name"); }), status_of(kErrArguments));
}

TEST(Misc, PatternCharsAndEnvironment) {
  EXPECT_EQ(has_unescaped_pattern_char("*x"), 1);
  EXPECT_EQ(has_unescaped_pattern_char("a%*b%?"), 0);
  EXPECT_EQ(has_unescaped_pattern_char("a%*b["), 1);

  plat::env_set("VEK_UNIT_Probe", "wert=1");
  EXPECT_STREQ(env_lookup("vek_unit_PROBE"), "wert=1");
  for (const char* miss : {"VEK_UNIT_PROB", "VEK_UNIT_PROBEX", "", "VEK_UNIT_PROBE=wert", "A B"})
    EXPECT_EQ(env_lookup(miss), nullptr) << miss;
  plat::env_unset("VEK_UNIT_Probe");
  EXPECT_EQ(env_lookup("VEK_UNIT_PROBE"), nullptr);
}

TEST(Crc, Register) {
  constexpr std::uint32_t kStart = 0xC704DA7Bu, kFinal = 0xE82CB678u;
  EXPECT_EQ(crc_update(nullptr, 0), kStart);
  EXPECT_EQ(crc_update("abc", 3) ^ kFinal, 2088143208u);
  EXPECT_EQ(crc_update("", 0) ^ kFinal, 2088143208u);  // empty data: unchanged
  crc_update(nullptr, 0);
  crc_update("a", 1);
  EXPECT_EQ(crc_update("bc", 2) ^ kFinal, 2088143208u);  // kept between calls

  // Every byte value against the bit rule, one bit at a time, low bit first.
  std::array<unsigned char, 256> all{};
  std::uint32_t r = kStart;
  for (int i = 0; i < 256; ++i) {
    all[i] = static_cast<unsigned char>(255 - i);
    for (int bit = 0; bit < 8; ++bit)
      r = ((r >> 31) != ((all[i] >> bit) & 1u)) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  }
  crc_update(nullptr, 0);
  EXPECT_EQ(crc_update(all.data(), all.size()), r);
}

}  // namespace
}  // namespace vek

namespace {

TEST(StatOnDrive, DrivePrefixNamesTheRootAndDeviceIsTheFileSystem) {
  vek::plat::FileInfo root, bare, slash, file;
  ASSERT_EQ(vek::stat_on_drive("\\", root), 0);
  ASSERT_EQ(vek::stat_on_drive("C:", bare), 0);
  ASSERT_EQ(vek::stat_on_drive("c:\\", slash), 0);
  EXPECT_TRUE(bare.is_dir);
  EXPECT_EQ(bare.device, root.device);
  EXPECT_EQ(slash.device, root.device);
  ASSERT_EQ(vek::stat_on_drive("D:\\tmp", file), 0);
  EXPECT_TRUE(file.is_dir);
  EXPECT_EQ(vek::stat_on_drive("\\no\\such\\file\\here", file), -1);
}

}  // namespace

namespace vek {
namespace {

// Widths and counts: a number that does not fit is refused instead of
// wrapping to another one.
TEST(Numbers, CheckedDecimalRefusesWhatDoesNotFit) {
  struct Case {
    const char* text;
    bool fits;
    std::int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"000000000000042", true, 42},
      {" +7x", true, 7},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999", false, 0},
      {"4294967296", false, 0},
      {"12345678901234567890123", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t v = -1;
    EXPECT_EQ(parse_decimal_checked(c.text, &v), c.fits) << c.text;
    if (c.fits) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace vek

// Code page 850 in UTF-8, for terminals that show UTF-8.
TEST(CodePage, Cp850ToUtf8) {
  const struct {
    unsigned char byte;
    const char* utf8;
  } cases[] = {
      {'A', "A"}, {0x81, "\xc3\xbc"}, {0x8E, "\xc3\x84"}, {0x99, "\xc3\x96"}, {0xE1, "\xc3\x9f"},
      {0x9F, "\xc6\x92"}, {0xC4, "\xe2\x94\x80"}, {0xFE, "\xe2\x96\xa0"}, {0xFF, "\xc2\xa0"},
  };
  for (const auto& c : cases) {
    char out[3];
    const int n = vek::cp850_to_utf8(c.byte, out);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), c.utf8) << int(c.byte);
  }
  // Every upper byte gives well-formed UTF-8, and no two the same.
  std::set<std::string> seen;
  for (int b = 0x80; b < 0x100; ++b) {
    char out[3];
    const std::string s(out, static_cast<std::size_t>(vek::cp850_to_utf8(static_cast<unsigned char>(b), out)));
    EXPECT_TRUE(vek::is_utf8_text(s)) << b;
    EXPECT_TRUE(seen.insert(s).second) << b;
  }
}

TEST(CodePage, Utf8TextIsTold) {
  const struct {
    const char* text;
    bool utf8;
  } cases[] = {
      {"plain", false},     {"d\xc3\xa4t", true},  {"\x81" "ber", false}, {"end\xc3", false},
      {"\xe2\x94", false},  {"\xc0\x80", false},   {"\xe2\x94\x80x", true}, {"\xf0\x9f\x98\x80", true},
  };
  for (const auto& c : cases) EXPECT_EQ(vek::is_utf8_text(c.text), c.utf8) << c.text;
}
