// Time conversion without the runtime's calendar functions: seconds since
// 1970-01-01 00:00:00 (l_time) to a broken-down time and back, and the
// fifteen-character text CCYYMMDDhhmm.ss (t_time).  The interpreter's
// clock is the system's seconds minus the offset that tz sets.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// A broken-down time: century, year in century, month (1..12), day
// (1..31), hour, minute, second.  A field that was not given holds -1.
using BrokenDown = std::array<int, 7>;
enum TimeField : int { kCentury, kYearInCentury, kMonth, kDay, kHour, kMinute, kSecond };
inline constexpr BrokenDown kNoTime = {-1, -1, -1, -1, -1, -1, -1};

// The last second the interpreter's clock can name: 2106-02-07 06:28:15,
// the end of the unsigned 32-bit count.  Values and results beyond it are
// out of range.
inline constexpr std::int64_t kLastSecond = 4294967295;
// The last second seconds_to_broken_down accepts: 9999-12-31 23:59:59.
inline constexpr std::int64_t kLastCalendarSecond = 253402300799;

// The system's seconds since 1970 minus the offset that tz sets
// (timezone_offset).
std::int64_t interpreter_time();

bool is_leap_year(std::int64_t year);

// Seconds in 0..kLastCalendarSecond (others are clamped into it).
BrokenDown seconds_to_broken_down(std::int64_t seconds);

// The seconds of a broken-down time.  Century and year give the year; a
// year below 70 is 2000 + year, below 100 is 1900 + year, and anything
// before 1970 is taken as 1970.  A month outside 1..12 is error 26 with
// "-t Monat".  Hours, minutes, seconds and days beyond their range simply
// add up.  Callers fill missing fields before the call.
std::int64_t broken_down_to_seconds(const BrokenDown& t);

// Writes CCYYMMDDhhmm.ss (15 characters) or, spaced, "CCYY MM DD hh mm .ss"
// (20 characters) and a NUL; returns the length.  buf holds 21 bytes.
int format_t_time(char* buf, const BrokenDown& t, bool spaced);

// Reads a t_time given as `count` words into `out` (fields not given stay
// -1).  One word: the digits after a point are the seconds (0 without a
// point), the digits before it are taken in pairs from the right as
// minute, hour, day, month, year in century, century.  Several words: a
// last word beginning with a point gives the seconds; the others, from
// the last to the first, give one field each, or two (value / 100 and
// value % 100) when the value is 100 or more, filled from the minute
// backwards.  Returns false for a word that is not digits (with at most
// one point) or for more fields than a t_time has.
bool parse_t_time(BrokenDown& out, int count, char* const* words);

// An l_time word: an optional "+" and decimal digits.
enum class LTime { kOk, kMalformed, kOutOfRange };
LTime parse_l_time(const char* word, std::int64_t& seconds);

// Writes a signed 64-bit number in decimal and a NUL (buf holds 21 bytes);
// returns the length.
int format_seconds(char* buf, std::int64_t value);

}  // namespace vek
