// ctime (between l_time and t_time), systime (the clock) and mktemp (a
// new temporary file).
#include <array>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/fileops.h"
#include "io/fdio.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "support/timeconv.h"
#include "vars/varstore.h"

namespace vek {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A value word: a digit first, or "+", "-" or "." before a digit.
bool is_value(const char* w) {
  return is_digit(w[0]) || ((w[0] == '+' || w[0] == '-' || w[0] == '.') && is_digit(w[1]));
}

bool is_dash(const char* w) { return w[0] == '-' && w[1] == 0; }

void assign(const char* name, const char* text) {
  if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
  var_set(variable_scope(), name, VarValue::text(text));
}

void write_line(const char* text) { format_out(1, "%s\r\n", text); }

// An l_time word, or the error it deserves.
std::int64_t l_time_of(const char* word) {
  std::int64_t s = 0;
  switch (parse_l_time(word, s)) {
    case LTime::kOk: break;
    case LTime::kMalformed: fatal_error(VEK_ERR(kErrArguments), word);
    case LTime::kOutOfRange: fatal_error(VEK_ERR(kErrLimit), word);
  }
  return s;
}

// Seconds of a broken-down time within the clock's range.
std::int64_t seconds_in_range(const BrokenDown& t, const char* word) {
  const std::int64_t s = broken_down_to_seconds(t);
  if (s < 0 || s > kLastSecond) fatal_error(VEK_ERR(kErrLimit), word);
  return s;
}

// Assigns the t_time fields of `t` to the names from the right: second,
// minute, hour, day, month, year in century, century; the name for the
// year gets CCYY when it is the first one.  "-" skips its field.
void distribute(char** names, int count, const BrokenDown& t) {
  constexpr std::array<int, 7> kOrder = {kSecond, kMinute, kHour, kDay, kMonth, kYearInCentury, kCentury};
  for (int i = count - 1, k = 0; i >= 0; --i, ++k) {
    if (k >= static_cast<int>(kOrder.size())) fatal_error(VEK_ERR(kErrArguments), names[i]);
    if (is_dash(names[i])) continue;
    const int field = kOrder[static_cast<std::size_t>(k)];
    char text[8];
    int v = t[static_cast<std::size_t>(field)];
    int n = 0;
    if (field == kYearInCentury && i == 0) {
      v += t[kCentury] * 100;
      text[n++] = static_cast<char>('0' + v / 1000 % 10);
      text[n++] = static_cast<char>('0' + v / 100 % 10);
    }
    text[n++] = static_cast<char>('0' + v / 10 % 10);
    text[n++] = static_cast<char>('0' + v % 10);
    text[n] = 0;
    assign(names[i], text);
    if (field == kYearInCentury && i == 0) break;
  }
}

}  // namespace

int bi_ctime(int argc, char** argv) {
  int i = 1;
  const bool opt_t = i < argc && str_compare(argv[i], "-t") == 0;
  if (opt_t) ++i;
  // The values form one group and the names another.
  int value_first = -1, value_count = 0, name_first = -1, name_count = 0;
  int groups = 0;
  bool previous_value = false;
  for (int k = i; k < argc; ++k) {
    const bool value = is_value(argv[k]);
    if (k == i || value != previous_value) {
      if (++groups > 2) fatal_error(VEK_ERR(kErrArguments), argv[k]);
      if (value) value_first = k;
      else name_first = k;
    }
    (value ? value_count : name_count) += 1;
    previous_value = value;
  }
  if (value_count == 0) {
    sys_write(2, "ctime  [-t]  [{name|-}...]  l_time|t_time\r\n");
    return 0;
  }
  char** values = argv + value_first;
  bool t_form = value_count > 1;
  for (int k = 0; k < value_count; ++k)
    for (const char* p = values[k]; *p; ++p) t_form = t_form || *p == '.';

  std::int64_t seconds = 0;
  if (opt_t || t_form) {
    BrokenDown t;
    if (!parse_t_time(t, value_count, values)) fatal_error(VEK_ERR(kErrArguments), values[0]);
    if (t[kCentury] < 0) t[kCentury] = 0;
    if (t[kSecond] < 0) t[kSecond] = 0;
    for (int f = kYearInCentury; f <= kMinute; ++f)
      if (t[static_cast<std::size_t>(f)] < 0) fatal_error(VEK_ERR(kErrArguments), values[0]);
    seconds = seconds_in_range(t, values[0]);
  } else {
    seconds = l_time_of(values[0]);
  }
  const BrokenDown t = seconds_to_broken_down(seconds);
  // A plain l_time becomes t_time, a t_time written with a point or in
  // several words becomes l_time; -t turns either way round.
  const bool to_l_time = opt_t != t_form;
  std::array<char, 24> text;
  if (to_l_time) format_seconds(text.data(), seconds);
  else format_t_time(text.data(), t, false);

  char** names = name_count > 0 ? argv + name_first : nullptr;
  int variables = 0;
  for (int k = 0; k < name_count; ++k) variables += is_dash(names[k]) ? 0 : 1;
  if (variables == 0) {
    if (name_count >= 2) format_t_time(text.data(), t, true);
    write_line(text.data());
  } else if (name_count == 1) {
    assign(names[0], text.data());
  } else {
    distribute(names, name_count, t);
  }
  return 0;
}

int bi_systime(int argc, char** argv) {
  int i = 1;
  const bool opt_t = i < argc && str_compare(argv[i], "-t") == 0;
  if (opt_t) ++i;
  if (i + 1 < argc) fatal_error(VEK_ERR(kErrArguments), argv[i + 1]);
  const char* word = i < argc ? argv[i] : nullptr;
  const bool name = word != nullptr && ((word[0] >= 'a' && word[0] <= 'z') || (word[0] >= 'A' && word[0] <= 'Z') ||
                                        word[0] == '_');
  if (word == nullptr || name) {
    const std::int64_t now = interpreter_time();
    std::array<char, 24> text;
    if (opt_t) format_t_time(text.data(), seconds_to_broken_down(now), false);
    else format_seconds(text.data(), now);
    if (name) assign(word, text.data());
    else write_line(text.data());
    return 0;
  }
  std::int64_t seconds = 0;
  bool point = false;
  for (const char* p = word; *p; ++p) point = point || *p == '.';
  if (opt_t || point) {
    BrokenDown t;
    char* w = argv[i];
    if (!parse_t_time(t, 1, &w)) fatal_error(VEK_ERR(kErrArguments), word);
    const BrokenDown now = seconds_to_broken_down(interpreter_time());
    for (std::size_t f = 0; f < t.size(); ++f)
      if (t[f] < 0) t[f] = now[f];
    seconds = seconds_in_range(t, word);
  } else {
    seconds = l_time_of(word);
  }
  if (plat::set_system_time(seconds + timezone_offset) != 0) fatal_error(VEK_ERR(kErrSystem), "systime");
  return 0;
}

int bi_mktemp(int argc, char** argv) {
  if (argc > 3) fatal_error(VEK_ERR(kErrArguments), argv[3]);
  const char* dir = temp_directory.data();
  fileops::FullPath named{};
  if (argc == 3) {
    concat_strings_n(fileops::kPathSize, named.data(), {argv[2]});
    path_normalize(named.data());
    plat::FileStatus st;
    if (!fileops::status_of(named.data(), st) || !fileops::is_dir(st)) fatal_error(VEK_ERR(kErrArguments), argv[2]);
    dir = named.data();
  }
  if (argc >= 2 && !name_check(argv[1])) fatal_error(VEK_ERR(kErrBadName), argv[1]);
  std::array<char, 260> file{};
  create_temp_file(file, dir, "vek_tmpf.", 500);
  if (argc == 1) write_line(file.data());
  else assign(argv[1], file.data());
  return 0;
}

}  // namespace vek
