#include "support/timeconv.h"

#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"

namespace vek {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kAverageYear = 31556952;  // 365.2425 days
constexpr std::array<int, 12> kDaysInMonth = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr std::array<int, 12> kDaysBeforeMonth = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Leap years from year 1 up to and including `year` (Gregorian rule).
constexpr std::int64_t leaps_through(std::int64_t year) { return year / 4 - year / 100 + year / 400; }

// Days from 1970-01-01 to the first of January of `year` (1970 or later).
constexpr std::int64_t days_before_year(std::int64_t year) {
  return 365 * (year - 1970) + leaps_through(year - 1) - leaps_through(1969);
}

// Value of a run of decimal digits, kept below 2^31 so that it fits a field.
int digits_value(const char* p, const char* end) {
  std::int64_t v = 0;
  for (; p < end; ++p) {
    v = v * 10 + (*p - '0');
    if (v > 2000000000) v = 2000000000;
  }
  return static_cast<int>(v);
}

bool all_digits(const char* p, const char* end) {
  for (; p < end; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

const char* end_of(const char* s) {
  while (*s) ++s;
  return s;
}

}  // namespace

std::int64_t interpreter_time() { return plat::time_now() - timezone_offset; }

bool is_leap_year(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

BrokenDown seconds_to_broken_down(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds > kLastCalendarSecond) seconds = kLastCalendarSecond;
  // The estimate from the average year length can miss by one either way
  // near the first of January (1972-01-01 comes out as 1971): correct it
  // in both directions.
  std::int64_t year = seconds / kAverageYear + 1970;
  while (year > 1970 && days_before_year(year) * kSecondsPerDay > seconds) --year;
  while (days_before_year(year + 1) * kSecondsPerDay <= seconds) ++year;

  std::int64_t rest = seconds - days_before_year(year) * kSecondsPerDay;
  int yday = static_cast<int>(rest / kSecondsPerDay);
  int secs = static_cast<int>(rest % kSecondsPerDay);
  int month = 0;
  for (; month < 11; ++month) {
    int len = kDaysInMonth[static_cast<std::size_t>(month)] + (month == 1 && is_leap_year(year) ? 1 : 0);
    if (yday < len) break;
    yday -= len;
  }
  BrokenDown t;
  t[kCentury] = static_cast<int>(year / 100);
  t[kYearInCentury] = static_cast<int>(year % 100);
  t[kMonth] = month + 1;
  t[kDay] = yday + 1;
  t[kHour] = secs / 3600;
  t[kMinute] = secs / 60 % 60;
  t[kSecond] = secs % 60;
  return t;
}

std::int64_t broken_down_to_seconds(const BrokenDown& t) {
  std::int64_t year = static_cast<std::int64_t>(t[kCentury]) * 100 + t[kYearInCentury];
  if (year < 70) year += 2000;
  else if (year < 100) year += 1900;
  if (year < 1970) year = 1970;
  // Far beyond any clock; keeps the arithmetic below in range.
  if (year > 100000) year = 100000;
  const int month = t[kMonth];
  if (month < 1 || month > 12) fatal_error(VEK_ERR(kErrLimit), "-t Monat");
  std::int64_t days = days_before_year(year) + kDaysBeforeMonth[static_cast<std::size_t>(month - 1)] + t[kDay] - 1;
  if (month > 2 && is_leap_year(year)) ++days;
  return days * kSecondsPerDay + static_cast<std::int64_t>(t[kHour]) * 3600 + static_cast<std::int64_t>(t[kMinute]) * 60 +
         t[kSecond];
}

int format_t_time(char* buf, const BrokenDown& t, bool spaced) {
  int n = 0;
  auto two = [&](int v) {
    if (v < 0) v = 0;
    buf[n++] = static_cast<char>('0' + v / 10 % 10);
    buf[n++] = static_cast<char>('0' + v % 10);
  };
  two(t[kCentury]);
  two(t[kYearInCentury]);
  for (int f = kMonth; f <= kMinute; ++f) {
    if (spaced) buf[n++] = ' ';
    two(t[static_cast<std::size_t>(f)]);
  }
  if (spaced) buf[n++] = ' ';
  buf[n++] = '.';
  two(t[kSecond]);
  buf[n] = 0;
  return n;
}

bool parse_t_time(BrokenDown& out, int count, char* const* words) {
  out = kNoTime;
  if (count <= 0) return false;
  if (count == 1) {
    const char* w = words[0];
    const char* end = end_of(w);
    const char* point = nullptr;
    for (const char* p = w; p < end; ++p) {
      if (*p == '.' && point == nullptr) point = p;
      else if (*p < '0' || *p > '9') return false;
    }
    out[kSecond] = point != nullptr ? digits_value(point + 1, end) : 0;
    const char* p = point != nullptr ? point : end;
    for (int field = kMinute; p > w; --field) {
      if (field < kCentury) return false;
      const char* from = p - 2 >= w ? p - 2 : w;
      out[static_cast<std::size_t>(field)] = digits_value(from, p);
      p = from;
    }
    return true;
  }
  int last = count;
  const char* tail = words[count - 1];
  if (tail[0] == '.') {
    const char* end = end_of(tail);
    if (!all_digits(tail + 1, end)) return false;
    out[kSecond] = digits_value(tail + 1, end);
    --last;
  }
  int field = kMinute;
  for (int i = last - 1; i >= 0; --i) {
    const char* w = words[i];
    const char* end = end_of(w);
    if (w == end || !all_digits(w, end)) return false;
    const int v = digits_value(w, end);
    if (field < kCentury) return false;
    if (v < 100) {
      out[static_cast<std::size_t>(field--)] = v;
      continue;
    }
    out[static_cast<std::size_t>(field--)] = v % 100;
    if (field < kCentury) return false;
    out[static_cast<std::size_t>(field--)] = v / 100;
  }
  return true;
}

LTime parse_l_time(const char* word, std::int64_t& seconds) {
  const char* p = word;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* end = end_of(p);
  if (p == end || !all_digits(p, end)) return LTime::kMalformed;
  std::int64_t v = 0;
  for (; p < end; ++p) {
    v = v * 10 + (*p - '0');
    if (v > kLastSecond) return LTime::kOutOfRange;
  }
  if (negative && v != 0) return LTime::kOutOfRange;
  seconds = v;
  return LTime::kOk;
}

int format_seconds(char* buf, std::int64_t value) {
  char digits[24];
  int n = 0;
  // Works on the negative value so that the most negative one has a form.
  std::int64_t v = value < 0 ? value : -value;
  do {
    digits[n++] = static_cast<char>('0' - v % 10);
    v /= 10;
  } while (v != 0);
  int len = 0;
  if (value < 0) buf[len++] = '-';
  while (n > 0) buf[len++] = digits[--n];
  buf[len] = 0;
  return len;
}

}  // namespace vek
