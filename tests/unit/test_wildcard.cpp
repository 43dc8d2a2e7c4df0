// Wildcard pattern compiler and matcher.
#include "pattern/wildcard.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace vek {
namespace {

// Compiles with '%' (or `esc`) and matches; -1 when the pattern does not
// compile.
int wmatch(std::string_view pattern, std::string_view subject, unsigned char esc = '%') {
  std::vector<unsigned char> buf(pattern_buffer_size(pattern.size()));
  if (pattern_compile(buf, pattern, esc) != pattern_ok) return -1;
  return pattern_match(subject, buf.data(), esc);
}

bool matches(std::string_view pattern, std::string_view subject, unsigned char esc = '%') {
  return wmatch(pattern, subject, esc) == 0;
}

std::vector<unsigned char> compiled(std::string_view pattern) {
  std::vector<unsigned char> buf(pattern_buffer_size(pattern.size()));
  EXPECT_EQ(pattern_compile(buf, pattern, '%'), pattern_ok) << pattern;
  return buf;
}

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

TEST(WildcardCompile, StarAndQuestionRunsBecomeQuestionsThenOneStar) {
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(compiled("*?*?").data())), "??*");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(compiled("a**b?").data())), "a*b?");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(compiled("%**?").data())), "%*?*");
}

TEST(WildcardCompile, SetLayoutSinglesThenRanges) {
  auto c = compiled("[xa-cz]");
  // "[", N1=2 singles x z, N2=1 range a-c, then the terminating NUL.
  std::string expect = bytes({'[', 2, 'x', 'z', 1, 'a', 'c', 0});
  EXPECT_EQ(std::string(c.begin(), c.begin() + static_cast<long>(expect.size())), expect);

  // A negated set stores the complement of its members without byte 0:
  // [!b] is 1..'a' and 'c'..255, two ranges.
  auto n = compiled("[!b]");
  std::string expect_n = bytes({'[', 0, 2, 1, 'a', 'c', 255, 0});
  EXPECT_EQ(std::string(n.begin(), n.begin() + static_cast<long>(expect_n.size())), expect_n);
}

TEST(WildcardCompile, Errors) {
  std::array<unsigned char, 600> buf{};
  EXPECT_EQ(pattern_compile(buf, "[abc", '%'), pattern_unclosed_set);
  EXPECT_EQ(pattern_compile(buf, "[", '%'), pattern_unclosed_set);
  EXPECT_EQ(pattern_compile(buf, "[]", '%'), pattern_unclosed_set);   // "]" is a member
  EXPECT_EQ(pattern_compile(buf, "[!]", '%'), pattern_unclosed_set);
  EXPECT_EQ(pattern_compile(buf, "x[a-", '%'), pattern_unclosed_set);
  EXPECT_EQ(pattern_compile(buf, "[z-a]", '%'), pattern_backward_range);
  EXPECT_EQ(pattern_compile(buf, "[a-c-b]", '%'), pattern_backward_range);  // chained c-b
}

TEST(WildcardCompile, NeverWritesPastTheBuffer) {
  // Exactly the needed size works; one byte less fails without writing
  // beyond the span.
  // "a", "b", the set (two ranges: 7 bytes), "*", NUL.
  std::string pattern = "ab[!a]*";
  const std::size_t need = 11;
  for (std::size_t size : {need, need - 1, std::size_t{3}, std::size_t{0}}) {
    std::array<unsigned char, 64> buf;
    buf.fill(0xEE);
    int rc = pattern_compile(std::span(buf).first(size), pattern, '%');
    EXPECT_EQ(rc, size == need ? pattern_ok : pattern_buffer_full) << size;
    for (std::size_t k = size; k < buf.size(); ++k) ASSERT_EQ(buf[k], 0xEE) << size;
  }
}

TEST(WildcardCompile, BufferSizeBoundHoldsForWorstSets) {
  // Every set alternating pairs of members with gaps is the largest form.
  std::string worst = "[";
  for (int b = 1; b + 1 < 256; b += 3) {
    worst += static_cast<char>(b);
    worst += '-';
    worst += static_cast<char>(b + 1);
  }
  worst += "]";
  std::string pattern = worst + worst + "%";
  std::vector<unsigned char> buf(pattern_buffer_size(pattern.size()));
  EXPECT_EQ(pattern_compile(buf, pattern, '%'), pattern_ok);
  EXPECT_EQ(buf[1], 0);   // no singles
  EXPECT_EQ(buf[2], 85);  // 85 ranges
  // A set takes at least 3 pattern bytes, so their budget covers it.
  EXPECT_LE(pattern_max_set_size + 1, pattern_buffer_size(3));
}

TEST(WildcardMatch, StarsAndQuestions) {
  EXPECT_TRUE(matches("a*c", "abc"));
  EXPECT_TRUE(matches("a*c", "ac"));
  EXPECT_FALSE(matches("a*c", "ab"));
  EXPECT_TRUE(matches("*.txt", "x.txt"));
  EXPECT_FALSE(matches("*.txt", "x.txt1"));
  EXPECT_TRUE(matches("*.txt", "a.txt.txt"));  // run at the pattern end retries
  EXPECT_TRUE(matches("*", ""));
  EXPECT_TRUE(matches("", ""));
  EXPECT_FALSE(matches("", "a"));
  EXPECT_FALSE(matches("?", ""));
  EXPECT_FALSE(matches("??", "a"));
  EXPECT_TRUE(matches("a?", "ab"));
  EXPECT_FALSE(matches("a?", "abc"));
  EXPECT_FALSE(matches("?*", ""));
  EXPECT_TRUE(matches("?*", "a"));
  EXPECT_TRUE(matches("*?", "abc"));  // compiles to ?*
  EXPECT_FALSE(matches("?*b", "a"));
  EXPECT_TRUE(matches("*ab*", "xaab"));
  EXPECT_FALSE(matches("A*", "abc"));  // case matters
}

TEST(WildcardMatch, StarIsCommittedAtTheNextWildcard) {
  // The run "a" after the star is found at the first "a"; reaching "?"
  // commits the star there, and the later "aYc" is never tried.
  EXPECT_FALSE(matches("*a?c", "aXbaYc"));
  EXPECT_TRUE(matches("*a?c", "aXc"));
  EXPECT_TRUE(matches("*a?c", "baXc"));
  EXPECT_TRUE(matches("*ab*c", "xabyabc"));
  EXPECT_FALSE(matches("*a*b", "xaybz"));
  // A mismatch inside the run (before any wildcard) tries the next anchor.
  EXPECT_TRUE(matches("*ab?", "aaabX"));
  EXPECT_FALSE(matches("*[ab]?d", "axdbyd"));
}

TEST(WildcardMatch, Sets) {
  EXPECT_TRUE(matches("[]a]", "]"));
  EXPECT_TRUE(matches("[]a]", "a"));
  EXPECT_FALSE(matches("[]a]", "b"));
  EXPECT_TRUE(matches("[!a-c]", "d"));
  EXPECT_FALSE(matches("[!a-c]", "b"));
  EXPECT_TRUE(matches("[a-]", "-"));
  EXPECT_TRUE(matches("[-a]", "-"));
  EXPECT_TRUE(matches("[!]]", "x"));
  EXPECT_FALSE(matches("[!]]", "]"));
  EXPECT_TRUE(matches("[a-c-e]", "d"));  // chained ranges
  EXPECT_FALSE(matches("[a-c-e]", "-"));
  EXPECT_TRUE(matches("[%]x", "%x"));    // escape is a plain member
  EXPECT_FALSE(matches("[%*]", "%*"));
  EXPECT_FALSE(matches("[!a]", std::string_view("\0", 1)));  // never byte 0
  EXPECT_TRUE(matches("?", std::string_view("\0", 1)));
  EXPECT_FALSE(matches("[ab]", ""));
  EXPECT_TRUE(matches(bytes({'[', 0x80, '-', 0xFF, ']'}), bytes({0xE4})));  // unsigned bytes
}

TEST(WildcardMatch, EscapeCharacter) {
  EXPECT_TRUE(matches("%*", "*"));
  EXPECT_FALSE(matches("%*", "a"));
  EXPECT_TRUE(matches("%?%[", "?["));
  EXPECT_TRUE(matches("%%", "%"));
  EXPECT_TRUE(matches("%x", "%x"));  // any other byte: both bytes literal
  EXPECT_FALSE(matches("%x", "x"));
  EXPECT_TRUE(matches("a%", "a%"));  // trailing escape stands for itself
  EXPECT_TRUE(matches("*%*", "ab*"));
  EXPECT_FALSE(matches("*%*", "ab"));
  EXPECT_TRUE(matches("*%x", "a%x"));  // two-byte run after a star
  EXPECT_FALSE(matches("*%x", "%ax"));
  EXPECT_TRUE(matches("*%x?", "%%x1"));
  // Under the other escape character '%' is ordinary and '\' escapes.
  EXPECT_TRUE(matches("%*", "%abc", '\\'));
  EXPECT_TRUE(matches("\\*", "*", '\\'));
  EXPECT_FALSE(matches("\\*", "\\*", '\\'));
}

TEST(WildcardMatch, PatternEndsAtNul) {
  EXPECT_TRUE(matches(std::string_view("ab\0cd", 5), "ab"));
}

}  // namespace
}  // namespace vek
