// Small utilities of the executor: umask, sleep, tz, and the file-status
// shorthands mtime, fsize, fmode and stime.
#include <array>
#include <cstdint>

#include "builtins/builtins.h"
#include "core/words.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

namespace {

// Writes a 64-bit number in decimal (file sizes and times may pass the
// 32 bits of the formatter).
void put_number_line(std::int64_t v) {
  std::array<char, 24> digits{};
  format_i64(digits.data(), v);
  format_out(1, "%s\r\n", digits.data());
}

void put_octal_line(unsigned v, int min_digits) {
  std::array<char, 16> digits{};
  std::size_t n = digits.size() - 1;
  int count = 0;
  do {
    digits[--n] = static_cast<char>('0' + (v & 7u));
    v >>= 3;
    ++count;
  } while (v != 0 || count < min_digits);
  format_out(1, "%s\r\n", digits.data() + n);
}

// mtime, fsize and fmode: one field of each file's status per line; $? is
// 2 when some file has no status.
void file_field(const BuiltinCall& call, char field) {
  for (int i = 1; i < call.argc; ++i) {
    std::array<char, 260> path{};
    concat_strings_n(static_cast<int>(path.size()), path.data(), {call.argv[i]});
    path_normalize(path.data());
    plat::FileInfo fi;
    if (stat_on_drive(path.data(), fi) != 0) {
      last_status = 2;
      continue;
    }
    switch (field) {
      case 'm': put_number_line(fi.mtime - timezone_offset); break;
      case 's': put_number_line(fi.size); break;
      default: put_octal_line(fi.mode & 0777u, 3); break;
    }
  }
}

}  // namespace

// umask [-S] [octal]
int bi_umask(const BuiltinCall& call) {
  int i = 1;
  if (i < call.argc && call.argv[i][0] == '-' && call.argv[i][1] == 'S') {
    sys_write(2, "Keine symbolische Darstellung.\r\n");
    if (++i < call.argc) return 0;
  }
  if (i >= call.argc) {
    put_octal_line(plat::file_mask(), 3);
    return 0;
  }
  const char* w = call.argv[i];
  unsigned value = 0;
  for (const char* p = w; *p != 0; ++p) {
    if (*p < '0' || *p > '7' || value > 0777u) fatal_error(VEK_ERR(kErrArguments), w);
    value = value * 8 + static_cast<unsigned>(*p - '0');
  }
  if (w[0] == 0 || value > 0777u) fatal_error(VEK_ERR(kErrArguments), w);
  plat::set_file_mask(value);
  return 0;
}

// sleep [n] | -m ms: whole seconds are waited one at a time, so that an
// interrupt ends the wait within a second.
int bi_sleep(const BuiltinCall& call) {
  std::int64_t seconds = call.number;
  if (call.argc > 2 && str_compare(call.argv[1], "-m") == 0) {
    std::int32_t ms = parse_decimal(call.argv[2]);
    if (ms < 0) ms = 0;
    plat::sleep_ms(static_cast<unsigned>(ms % 1000));
    seconds = ms / 1000;
  }
  for (std::int64_t s = 0; s < seconds; ++s) {
    check_signal();
    plat::sleep_ms(1000);
  }
  check_signal();
  return 0;
}

// tz [n]: the time-zone offset in seconds; a value that is not a multiple
// of 60 counts hours.
int bi_tz(const BuiltinCall& call) {
  if (call.argc == 1) {
    format_out(1, "%ld\r\n", timezone_offset);
    return 0;
  }
  std::int64_t v = parse_decimal(call.argv[1]);
  if (v % 60 != 0) v *= 3600;
  timezone_offset = static_cast<std::int32_t>(v);
  return 0;
}

int bi_mtime(const BuiltinCall& call) {
  file_field(call, 'm');
  return 0;
}

int bi_fsize(const BuiltinCall& call) {
  file_field(call, 's');
  return 0;
}

int bi_fmode(const BuiltinCall& call) {
  file_field(call, 'p');
  return 0;
}

// stime time file ...: sets the modification time through fstat +m.
int bi_stime(const BuiltinCall& call) {
  if (call.argc < 2) return 0;
  static char fstat_word[] = "fstat";
  static char option_word[] = "+m";
  const int base = call.end + 1;
  const int count = call.argc + 1;
  if (base + count >= kArgSlots) fatal_error(VEK_ERR(kErrLimit), "Anzahl Argumente");
  char** words = &arg_slots[static_cast<std::size_t>(base)];
  words[0] = fstat_word;
  words[1] = option_word;
  for (int i = 1; i < call.argc; ++i) words[i + 1] = call.argv[i];
  words[count] = nullptr;
  last_status = bi_fstat(count, words);
  return 0;
}

}  // namespace vek
