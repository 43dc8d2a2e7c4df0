// fstat: reads the status fields of files or open descriptors, or changes
// the attributes, permissions, size and times of files.
#include <array>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/fileops.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "support/timeconv.h"
#include "vars/varstore.h"

namespace vek {

using plat::FileKind;
using plat::FileStatus;

namespace {

constexpr std::string_view kFieldLetters = "FitfplugJNsamcn";
constexpr std::string_view kChangeable = "fpsam";
constexpr const char* kUsage = "fstat [-|+%s] [name...|wert...] file...|handle...\r\n\r\n%s\r\n";
constexpr const char* kLegend =
    "Fit    f     p lugJN s          amc        n    :    hTv\r\n"
    "  typ  flags mode    size       time       name\r\n"
    "  1111 111   777     0000000000 9999999999 nnnnnnnn\r\n"
    "  file arch\r\n"
    "   dir  hidden\r\n"
    "    cdev system\r\n"
    "     label";

struct Request {
  bool change = false;  // "+"
  bool handles = false; // h
  bool t_form = false;  // T
  bool to_vars = false; // v
  std::array<char, 16> fields{};
  int count = 0;
};

bool has_field(const Request& r, std::string_view letters) {
  for (int i = 0; i < r.count; ++i)
    if (letters.find(r.fields[static_cast<std::size_t>(i)]) != std::string_view::npos) return true;
  return false;
}

Request read_letters(const char* word) {
  Request r;
  if (word == nullptr) return r;
  r.change = word[0] == '+';
  unsigned flags_seen = 0;
  for (const char* p = word + 1; *p; ++p) {
    const char c = *p;
    if (kFieldLetters.find(c) != std::string_view::npos) {
      for (int i = 0; i < r.count; ++i)
        if (r.fields[static_cast<std::size_t>(i)] == c) fatal_error(VEK_ERR(kErrArguments), word);
      if (r.change && kChangeable.find(c) == std::string_view::npos) fatal_error(VEK_ERR(kErrArguments), word);
      r.fields[static_cast<std::size_t>(r.count++)] = c;
      continue;
    }
    const unsigned bit = c == 'h' ? 1u : c == 'T' ? 2u : c == 'v' ? 4u : 0u;
    if (bit == 0 || (flags_seen & bit)) fatal_error(VEK_ERR(kErrArguments), word);
    flags_seen |= bit;
  }
  r.handles = (flags_seen & 1) != 0;
  r.t_form = (flags_seen & 2) != 0;
  r.to_vars = (flags_seen & 4) != 0;
  return r;
}

// One output line, written in pieces when it grows long (a name may be
// of any length).
class Line {
 public:
  void put(std::string_view s) {
    while (!s.empty()) {
      if (len_ == buf_.size()) flush();
      std::size_t n = buf_.size() - len_;
      if (n > s.size()) n = s.size();
      for (std::size_t i = 0; i < n; ++i) buf_[len_ + i] = s[i];
      len_ += n;
      s.remove_prefix(n);
    }
  }
  void flush() {
    if (len_ != 0) sys_write(1, buf_.data(), static_cast<long>(len_));
    len_ = 0;
  }

 private:
  std::array<char, 1024> buf_;
  std::size_t len_ = 0;
};

int format_bits(char* buf, unsigned value, int width, unsigned base) {
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + value % base);
    value /= base;
  }
  buf[width] = 0;
  return width;
}

// The text of one field; `buf` holds at least 32 bytes.  The name field
// is not formatted here.
int format_field(char* buf, char letter, const FileStatus& st, bool t_form) {
  switch (letter) {
    case 'F': {
      const unsigned dev = static_cast<unsigned>(st.device & 0xFFFFFFFFu);
      for (int i = 7; i >= 0; --i) buf[7 - i] = "0123456789abcdef"[(dev >> (i * 4)) & 0xF];
      buf[8] = 0;
      return 8;
    }
    case 'i': return format_u64(buf, st.inode);
    case 't': {
      unsigned bits = 0;
      if (st.kind == FileKind::kRegular) bits = 8;
      else if (st.kind == FileKind::kDirectory) bits = 4;
      else if (st.kind == FileKind::kCharDevice) bits = 2;
      return format_bits(buf, bits, 4, 2);
    }
    case 'f': {
      unsigned bits = 0;
      if (st.attributes & plat::kAttrArchive) bits |= 4;
      if (st.attributes & plat::kAttrHidden) bits |= 2;
      if (st.attributes & plat::kAttrSystem) bits |= 1;
      return format_bits(buf, bits, 3, 2);
    }
    case 'p': return format_bits(buf, st.mode & 0777, 3, 8);
    case 'l': return format_u64(buf, st.links);
    case 'u': return format_u64(buf, st.user);
    case 'g': return format_u64(buf, st.group);
    case 'J': return format_u64(buf, st.device_major);
    case 'N': return format_u64(buf, st.device_minor);
    case 's': return format_seconds(buf, st.size);
    case 'a':
    case 'm':
    case 'c': {
      const std::int64_t t = (letter == 'a' ? st.atime : letter == 'm' ? st.mtime : st.ctime) - timezone_offset;
      if (t_form) return format_t_time(buf, seconds_to_broken_down(t), false);
      return format_seconds(buf, t);
    }
    default: buf[0] = 0; return 0;
  }
}

void assign(const char* name, const char* text) {
  if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
  var_set(variable_scope(), name, VarValue::text(text));
}

// A time value of +a or +m on the interpreter's clock, made a system time.
// Missing t_time fields come from the file's current time.
std::int64_t time_value(char* value, bool t_form, std::int64_t current) {
  std::int64_t seconds = 0;
  if (t_form) {
    BrokenDown t;
    if (!parse_t_time(t, 1, &value)) fatal_error(VEK_ERR(kErrArguments), value);
    const BrokenDown now = seconds_to_broken_down(current - timezone_offset);
    for (std::size_t f = 0; f < t.size(); ++f)
      if (t[f] < 0) t[f] = now[f];
    seconds = broken_down_to_seconds(t);
    if (seconds > kLastSecond) fatal_error(VEK_ERR(kErrLimit), value);
  } else {
    switch (parse_l_time(value, seconds)) {
      case LTime::kOk: break;
      case LTime::kMalformed: fatal_error(VEK_ERR(kErrArguments), value);
      case LTime::kOutOfRange: fatal_error(VEK_ERR(kErrLimit), value);
    }
  }
  return seconds + timezone_offset;
}

void change_field(char letter, char* value, const char* path, int fd, const FileStatus& st, bool t_form) {
  switch (letter) {
    case 'f': {
      int base = 2;
      const std::int32_t v = parse_integer(&base, value);
      unsigned attrs = 0;
      if (v & 4) attrs |= plat::kAttrArchive;
      if (v & 2) attrs |= plat::kAttrHidden;
      if (v & 1) attrs |= plat::kAttrSystem;
      const int r = plat::set_attributes(path, attrs);
      if (r == plat::kUnsupported) fatal_error(VEK_ERR(kErrUnavailable), value);
      if (r != 0) fatal_error(VEK_ERR(kErrSystem), "attrib()");
      break;
    }
    case 'p': {
      int base = 8;
      const std::int32_t v = parse_integer(&base, value);
      if (plat::set_permissions(path, static_cast<unsigned>(v) & 0777) != 0) fatal_error(VEK_ERR(kErrSystem), "chmod()");
      break;
    }
    case 's': {
      const std::int32_t size = parse_integer(nullptr, value);
      if (fd >= 0) {
        if (plat::ftruncate(fd, size) != 0) fatal_error(VEK_ERR(kErrSystem), "ftruncate()");
        break;
      }
      std::array<char, fileops::kPathSize> name;
      concat_strings_n(fileops::kPathSize, name.data(), {path});
      const int f = sys_open(name.data(), plat::kReadWrite | plat::kBinary);
      if (plat::ftruncate(f, size) != 0) {
        plat::close(f);
        fatal_error(VEK_ERR(kErrSystem), "ftruncate()");
      }
      sys_close(f);
      break;
    }
    case 'a':
    case 'm': {
      const std::int64_t t = time_value(value, t_form, letter == 'a' ? st.atime : st.mtime);
      if (plat::set_file_times(path, t, t) != 0) fatal_error(VEK_ERR(kErrSystem), "utime()");
      break;
    }
    default: break;
  }
}

int run_fstat(const char* word, int count, char** args) {
  Request r = read_letters(word);
  if (r.count == 0 && (word == nullptr || word[0] == '-')) {
    for (char c : std::string_view("tfpsmn")) r.fields[static_cast<std::size_t>(r.count++)] = c;
  }
  const bool with_values = r.change || r.to_vars;
  const int k = with_values ? r.count : 0;
  if (with_values && count < k + 1)
    fatal_error(VEK_ERR(kErrArguments), count > 0 ? args[count - 1] : word);
  if (count <= 0) {
    format_out(2, kUsage, "FitfplugJNsamcnhTv", kLegend);
    return 1;
  }
  if (r.handles && ((!r.change && has_field(r, "tf")) || (r.change && has_field(r, "fpam"))))
    fatal_error(VEK_ERR(kErrUnavailable), word);
  char** values = args;
  int status = 0;
  for (int i = k; i < count; ++i) {
    char* operand = args[i];
    FileStatus st;
    std::array<char, fileops::kPathSize> path{};
    int fd = -1;
    bool ok;
    if (r.handles) {
      if (is_decimal_word(operand) != 0) {
        ok = false;
      } else {
        fd = parse_decimal(operand);
        if (fd < 0 || (r.change && fd >= 10)) fatal_error(VEK_ERR(kErrUnavailable), operand);
        ok = plat::descriptor_status(fd, st);
      }
    } else {
      concat_strings_n(fileops::kPathSize, path.data(), {operand});
      path_normalize(path.data());
      ok = fileops::status_of(path.data(), st);
    }
    if (!ok) {
      if (r.change) fatal_error(VEK_ERR(kErrOpen), operand);
      status |= 2;
      continue;
    }
    if (r.change) {
      for (int f = 0; f < r.count; ++f)
        change_field(r.fields[static_cast<std::size_t>(f)], values[f], path.data(), fd, st, r.t_form);
      continue;
    }
    if (r.to_vars) {
      for (int f = 0; f < r.count; ++f) {
        const char c = r.fields[static_cast<std::size_t>(f)];
        char buf[32];
        if (c != 'n') format_field(buf, c, st, r.t_form);
        assign(values[f], c == 'n' ? operand : buf);
      }
      return status;
    }
    Line line;
    for (int f = 0; f < r.count; ++f) {
      const char c = r.fields[static_cast<std::size_t>(f)];
      if (f > 0) line.put(" ");
      if (c == 'n') {
        line.put(operand);
        continue;
      }
      char buf[32];
      const int n = format_field(buf, c, st, r.t_form);
      line.put(std::string_view(buf, static_cast<std::size_t>(n)));
    }
    line.put("\r\n");
    line.flush();
  }
  return status;
}

}  // namespace

int bi_fstat(int argc, char** argv) {
  if (argc >= 2 && (argv[1][0] == '-' || argv[1][0] == '+')) return run_fstat(argv[1], argc - 2, argv + 2);
  return run_fstat(nullptr, argc - 1, argv + 1);
}

int fstat_with_option(const char* option, int argc, char** argv) {
  return run_fstat(option, argc - 1, argv + 1);
}

}  // namespace vek
