// The time conversion routines: every day from 1970 to the end of the
// 32-bit clock against an independent calendar, the first of January
// where the year estimate misses, and the t_time texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/state.h"
#include "support/timeconv.h"

namespace vek {
namespace {

// Civil date of a day count since 1970-01-01, by the era method (a
// different road from the one under test).
void civil_from_days(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

BrokenDown fields(std::int64_t year, int month, int day, int h, int mi, int s) {
  return {static_cast<int>(year / 100), static_cast<int>(year % 100), month, day, h, mi, s};
}

TEST(TimeConv, EveryDayFrom1970ToTheEndOfTheClock) {
  const std::int64_t last_day = kLastSecond / 86400;
  for (std::int64_t day = 0; day <= last_day; ++day) {
    std::int64_t y;
    int m, d;
    civil_from_days(day, y, m, d);
    // The first and the last second of the day (the last day ends early).
    const std::int64_t first = day * 86400;
    const std::int64_t last = day == last_day ? kLastSecond : first + 86399;
    const BrokenDown want_first = fields(y, m, d, 0, 0, 0);
    const BrokenDown want_last = day == last_day ? fields(2106, 2, 7, 6, 28, 15) : fields(y, m, d, 23, 59, 59);
    ASSERT_EQ(seconds_to_broken_down(first), want_first) << "day " << day;
    ASSERT_EQ(seconds_to_broken_down(last), want_last) << "day " << day;
    ASSERT_EQ(broken_down_to_seconds(want_first), first) << "day " << day;
    ASSERT_EQ(broken_down_to_seconds(want_last), last) << "day " << day;
  }
}

TEST(TimeConv, FirstOfJanuaryWhereTheYearEstimateIsLow) {
  // The average-year estimate gives 1971 and 1999 for these seconds.
  EXPECT_EQ(seconds_to_broken_down(63072000), fields(1972, 1, 1, 0, 0, 0));
  EXPECT_EQ(seconds_to_broken_down(946684800), fields(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(seconds_to_broken_down(946684799), fields(1999, 12, 31, 23, 59, 59));
  EXPECT_EQ(seconds_to_broken_down(68169600), fields(1972, 2, 29, 0, 0, 0));
  EXPECT_EQ(seconds_to_broken_down(0), fields(1970, 1, 1, 0, 0, 0));
  // Beyond the 32-bit clock the calendar still holds, up to 9999.
  EXPECT_EQ(seconds_to_broken_down(kLastCalendarSecond), fields(9999, 12, 31, 23, 59, 59));
  EXPECT_EQ(seconds_to_broken_down(-5), fields(1970, 1, 1, 0, 0, 0));
}

TEST(TimeConv, YearsWithoutCenturyAndBefore1970) {
  struct Case {
    int century, year;
    std::int64_t seconds;  // of January 1st
  };
  const Case cases[] = {
      {0, 69, 3124224000},  // 2069
      {0, 70, 0},           // 1970
      {0, 99, 915148800},   // 1999
      {0, 0, 946684800},    // 2000
      {19, 69, 0},          // a year before 1970 counts as 1970
      {0, 5, 1104537600},   // 2005
      {20, 1, 978307200},   // 2001
  };
  for (const Case& c : cases)
    EXPECT_EQ(broken_down_to_seconds({c.century, c.year, 1, 1, 0, 0, 0}), c.seconds)
        << c.century << " " << c.year;
  // Fields beyond their range add up.
  EXPECT_EQ(broken_down_to_seconds({19, 70, 1, 1, 25, 61, 61}), 25 * 3600 + 61 * 60 + 61);
}

TEST(TimeConv, MonthOutsideTheYearIsALimit) {
  for (int month : {0, 13, -1}) {
    last_status = 0;
    EXPECT_THROW(broken_down_to_seconds({20, 1, month, 1, 0, 0, 0}), ProcessExit);
    EXPECT_EQ(last_status & 0xFF, kErrLimit + 1) << month;
  }
}

TEST(TimeConv, FormatTTime) {
  char buf[24];
  EXPECT_EQ(format_t_time(buf, seconds_to_broken_down(0), false), 15);
  EXPECT_STREQ(buf, "197001010000.00");
  EXPECT_EQ(format_t_time(buf, fields(2001, 8, 17, 12, 30, 45), true), 20);
  EXPECT_STREQ(buf, "2001 08 17 12 30 .45");
}

TEST(TimeConv, ParseTTime) {
  struct Case {
    std::vector<std::string> words;
    BrokenDown want;
  };
  const Case cases[] = {
      {{"200108171230.45"}, {20, 1, 8, 17, 12, 30, 45}},
      {{"200108171230"}, {20, 1, 8, 17, 12, 30, 0}},
      {{"0108171230."}, {-1, 1, 8, 17, 12, 30, 0}},
      {{"1230"}, {-1, -1, -1, -1, 12, 30, 0}},
      {{"12345"}, {-1, -1, -1, 1, 23, 45, 0}},  // an odd digit stands alone
      {{".7"}, {-1, -1, -1, -1, -1, -1, 7}},
      {{"2001", "08", "17", "12", "30", ".45"}, {20, 1, 8, 17, 12, 30, 45}},
      {{"20", "01", "8", "17", "12", "30"}, {20, 1, 8, 17, 12, 30, -1}},
      {{"200108", "1712", "30"}, {-1, 2001, 8, 17, 12, 30, -1}},
      {{"17", "1230", ".5"}, {-1, -1, -1, 17, 12, 30, 5}},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    std::vector<std::string> words = c.words;
    for (auto& w : words) argv.push_back(w.data());
    BrokenDown got;
    ASSERT_TRUE(parse_t_time(got, static_cast<int>(argv.size()), argv.data())) << c.words[0];
    EXPECT_EQ(got, c.want) << c.words[0];
  }
  const std::vector<std::vector<std::string>> bad = {
      {"12a4"}, {"1.2.3"}, {"12345678901234"}, {"20", "x"}, {"1", "2", "3", "4", "5", "6", "7"},
      {"100", "1", "2", "3", "4", "5"}, {"-5", "1"}, {"", "1"}};
  for (auto words : bad) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    BrokenDown got;
    EXPECT_FALSE(parse_t_time(got, static_cast<int>(argv.size()), argv.data())) << words[0];
  }
}

TEST(TimeConv, LTimeWords) {
  std::int64_t s = -1;
  EXPECT_EQ(parse_l_time("0", s), LTime::kOk);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(parse_l_time("+4294967295", s), LTime::kOk);
  EXPECT_EQ(s, kLastSecond);
  EXPECT_EQ(parse_l_time("4294967296", s), LTime::kOutOfRange);
  EXPECT_EQ(parse_l_time("99999999999999999999999", s), LTime::kOutOfRange);
  EXPECT_EQ(parse_l_time("-1", s), LTime::kOutOfRange);
  EXPECT_EQ(parse_l_time("-0", s), LTime::kOk);
  for (const char* bad : {"", "+", "12x", "1.5", " 1"}) EXPECT_EQ(parse_l_time(bad, s), LTime::kMalformed) << bad;
}

TEST(TimeConv, FormatSeconds) {
  char buf[24];
  EXPECT_EQ(format_seconds(buf, 0), 1);
  EXPECT_STREQ(buf, "0");
  format_seconds(buf, 4294967295);
  EXPECT_STREQ(buf, "4294967295");
  format_seconds(buf, INT64_MIN);
  EXPECT_STREQ(buf, "-9223372036854775808");
}

}  // namespace
}  // namespace vek
