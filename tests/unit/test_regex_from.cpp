// Regex::match_from: a search that goes on in the same subject.
#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "pattern/regex.h"

namespace vek {
namespace {

struct FromCase {
  const char* pattern;
  const char* subject;
  std::size_t from;
  int found;
  std::size_t start, end;
};

TEST(RegexMatchFrom, StartsAtTheOffsetAndKeepsTheSubjectsStart) {
  const FromCase cases[] = {
      {"a", "aXa", 0, 1, 0, 1},
      {"a", "aXa", 1, 1, 2, 3},
      {"a", "aXa", 3, 0, 0, 0},
      {"a", "aXa", 99, 0, 0, 0},
      {"^a", "aaa", 0, 1, 0, 1},
      {"^a", "aaa", 1, 0, 0, 0},  // "^" is the subject's start only
      {"%<b", "ab b", 1, 1, 3, 4},  // "b" at 1 follows a word byte
      {"%>", "ab cd", 1, 1, 2, 2},
      {"x*", "abc", 3, 1, 3, 3},  // the end of the subject may start a match
      {"[bc]c", "abcbc", 2, 1, 3, 5},
      {"%(b%)%1", "bbxbb", 1, 1, 3, 5},
      {"c$", "abc", 1, 1, 2, 3},
  };
  std::array<unsigned char, 256> buf{};
  Regex rx;
  for (const FromCase& c : cases) {
    ASSERT_NE(rx.compile(c.pattern, buf.data(), buf.data() + buf.size(), '%'), nullptr) << c.pattern;
    EXPECT_EQ(rx.match_from(c.subject, c.from), c.found) << c.pattern << " @" << c.from;
    EXPECT_EQ(rx.match_start(), c.start) << c.pattern << " @" << c.from;
    EXPECT_EQ(rx.match_end(), c.end) << c.pattern << " @" << c.from;
  }
  // The offset holds for one call only.
  ASSERT_NE(rx.compile("a", buf.data(), buf.data() + buf.size(), '%'), nullptr);
  EXPECT_EQ(rx.match_from("aXa", 1), 1);
  EXPECT_EQ(rx.match("aXa"), 1);
  EXPECT_EQ(rx.match_start(), 0u);
}

}  // namespace
}  // namespace vek
