// The builtins that write text: echo and print (one handler; print takes
// an option word, echo none) and prints (field formatting to a descriptor
// or into a variable).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "builtins/builtins.h"
#include "core/classes.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {
namespace {

// ---------------------------------------------------------------------
// echo and print

// Output block of echo/print: written whenever it is full and once at the
// end, so that a word of any length comes out intact in 4096-byte pieces.
class LineOut {
 public:
  explicit LineOut(int fd) : fd_(fd) {}

  void put(char c) {
    if (len_ == buf_.size()) flush();
    buf_[len_++] = c;
  }
  void put(std::string_view s) {
    while (!s.empty()) {
      if (len_ == buf_.size()) flush();
      const std::size_t n = std::min(s.size(), buf_.size() - len_);
      std::copy_n(s.data(), n, buf_.data() + len_);
      len_ += n;
      s.remove_prefix(n);
    }
  }
  void flush() {
    if (len_ != 0) sys_write(fd_, buf_.data(), static_cast<long>(len_));
    len_ = 0;
  }

 private:
  int fd_;
  std::size_t len_ = 0;
  std::array<char, 4096> buf_;
};

// The byte written for a one-letter sequence, or -1 if the letter has no
// meaning of its own.
int simple_escape(char c) {
  switch (c) {
    case 'a': return 7;
    case 'b': return 8;
    case 'e': return 27;
    case 'f': return 12;
    case 'r': return 13;
    case 's': return '"';
    case 't': return 9;
    case 'v': return 11;
    case 'z': return 26;
    default: return -1;
  }
}

// Writes one word, interpreting escape sequences unless raw.  Returns
// false when a stop sequence ends all output of the command.
bool put_word(LineOut& out, std::string_view w, bool raw, char esc) {
  if (raw) {
    out.put(w);
    return true;
  }
  // After an escaped line end, the blanks and tabs that follow are the
  // indentation of the next source line and are dropped.
  bool skip_blanks = false;
  std::size_t i = 0;
  while (i < w.size()) {
    const char c = w[i];
    if (skip_blanks) {
      if (c == ' ' || c == '\t') {
        ++i;
        continue;
      }
      skip_blanks = false;
    }
    if (c != esc) {
      std::size_t j = w.find(esc, i);
      if (j == std::string_view::npos) j = w.size();
      out.put(w.substr(i, j - i));
      i = j;
      continue;
    }
    // An escape character; what follows decides.  At the end of the word
    // `next` is NUL, which falls through to "write the escape itself".
    const char next = i + 1 < w.size() ? w[i + 1] : '\0';
    i += 2;
    if (next == esc && next != '\0') {
      out.put(esc);
      continue;
    }
    switch (next) {
      case 'c':
        return false;
      case '0': {
        unsigned v = 0;
        for (int k = 0; k < 3 && i < w.size() && w[i] >= '0' && w[i] <= '7'; ++k, ++i)
          v = v * 8 + static_cast<unsigned>(w[i] - '0');
        out.put(static_cast<char>(v & 0xFF));
        continue;
      }
      case '\n':
        out.put('\n');
        skip_blanks = true;
        continue;
      case '\r':
        if (i < w.size() && w[i] == '\n') {
          ++i;
          out.put(std::string_view("\r\n", 2));
          skip_blanks = true;
          continue;
        }
        break;
      case 'n':
        out.put(std::string_view("\r\n", 2));
        continue;
      default: {
        const int b = next != '\0' ? simple_escape(next) : -1;
        if (b >= 0) {
          out.put(static_cast<char>(b));
          continue;
        }
        break;
      }
    }
    // No sequence: the escape character stands for itself and the next
    // character is read again as ordinary text.
    out.put(esc);
    i -= 1;
  }
  return true;
}

}  // namespace

int bi_echo(int argc, char** argv) {
  // Only print has options; echo writes every word.
  const bool is_print = argc > 0 && argv[0] != nullptr && std::string_view(argv[0]) != "echo";
  int fd = 1;
  bool no_newline = false;
  bool raw = false;
  int first = 1;

  // One option word at most.  Unknown letters make the word plain text;
  // "-" resets the settings but keeps the word an option word, so
  // "print -- -n" writes "-n".
  if (is_print && argc > 1 && argv[1][0] == '-') {
    bool option_word = true;
    for (const char* p = argv[1] + 1; *p != '\0' && option_word; ++p) {
      switch (*p) {
        case 'n':
          no_newline = true;
          break;
        case 'r':
          raw = true;
          break;
        case 'u':
          if (is_digit(p[1])) fd = *++p - '0';
          break;
        case '-':
          fd = 1;
          no_newline = raw = false;
          break;
        default:
          fd = 1;
          no_newline = raw = false;
          option_word = false;
          break;
      }
    }
    if (option_word) first = 2;
  }

  LineOut out(fd);
  const char esc = static_cast<char>(escape_char);
  bool stopped = false;
  for (int k = first; k < argc && argv[k] != nullptr; ++k) {
    if (k > first) out.put(' ');
    if (!put_word(out, argv[k], raw, esc)) {
      stopped = true;
      break;
    }
  }
  if (!stopped && !no_newline) out.put(std::string_view("\r\n", 2));
  out.flush();
  return 0;
}

namespace {

// ---------------------------------------------------------------------
// prints

constexpr std::size_t kCollectSize = 8192;
constexpr std::size_t kFillSize = 4096;

// Collection of the formatted text.  To a descriptor it is written in
// blocks of 8192 bytes; into a variable it must fit as a whole.
class Collector {
 public:
  explicit Collector(bool to_var) : to_var_(to_var) {}

  // Appends n bytes.  After a reported overflow (which normally does not
  // return) everything further is ignored.
  void add(const char* p, std::size_t n) {
    if (failed_) return;
    if (to_var_) {
      if (n > kCollectSize - len_) {
        failed_ = true;
        shell_error(VEK_ERR(kErrLimit), "prints: wr_var");
        return;
      }
      std::copy_n(p, n, buf_.data() + len_);
      len_ += n;
      return;
    }
    while (n > 0) {
      if (len_ == kCollectSize) flush();
      const std::size_t k = std::min(n, kCollectSize - len_);
      std::copy_n(p, k, buf_.data() + len_);
      len_ += k;
      p += k;
      n -= k;
    }
  }
  void add(std::string_view s) { add(s.data(), s.size()); }

  // A new descriptor takes effect for text formatted from now on: what
  // was collected for the old one is written there first, so that text
  // never ends up on a descriptor chosen by a later item.
  void select_fd(int fd) {
    if (to_var_) return;
    if (fd != fd_) flush();
    fd_ = fd;
  }

  void flush() {
    if (len_ != 0) sys_write(fd_, buf_.data(), static_cast<long>(len_));
    len_ = 0;
  }

  bool failed() const { return failed_; }
  std::size_t size() const { return len_; }
  // The collected text, NUL-terminated (the buffer has room for it).
  const char* text() {
    buf_[len_] = '\0';
    return buf_.data();
  }

 private:
  bool to_var_;
  bool failed_ = false;
  int fd_ = 1;
  std::size_t len_ = 0;
  std::array<char, kCollectSize + 1> buf_;
};

enum class Justify { kRight, kLeft, kCentre };

struct Item {
  std::int64_t width = -1;  // -1: no width
  Justify justify = Justify::kRight;
  char sign = '\0';
  char fill = ' ';
  std::string_view terminator;
};

// Writes n fill characters from the prepared fill buffer.
void put_fill(Collector& out, const std::array<char, kFillSize>& fill, std::int64_t n) {
  while (n > 0 && !out.failed()) {
    const std::size_t k = static_cast<std::size_t>(std::min<std::int64_t>(n, kFillSize));
    out.add(fill.data(), k);
    n -= static_cast<std::int64_t>(k);
  }
}

void format_arg(Collector& out, const Item& it, std::string_view arg,
                std::array<char, kFillSize>& fill) {
  const std::int64_t len = static_cast<std::int64_t>(arg.size());
  std::int64_t pad = it.width >= 0 ? it.width - len : 0;

  // The sign goes ahead of any fill; within a width it takes one place of
  // the padding and is left out when there is none.
  if (it.sign != '\0' && !arg.empty() && is_digit(arg[0])) {
    if (it.width < 0) {
      out.add(&it.sign, 1);
    } else if (pad > 0) {
      out.add(&it.sign, 1);
      --pad;
    }
  }

  // Without padding a centred field is handled like a right-justified one.
  const Justify just = it.justify;
  if (pad >= 1)
    std::fill_n(fill.data(), static_cast<std::size_t>(std::min<std::int64_t>(pad, kFillSize)),
                it.fill);

  std::int64_t before = 0;
  std::int64_t after = 0;
  if (pad > 0) {
    if (just == Justify::kCentre) {
      before = (pad + 1) / 2;
      after = pad / 2;
    } else if (just == Justify::kRight) {
      before = pad;
    } else {
      after = pad;
    }
  }

  put_fill(out, fill, before);
  if (pad >= 0) {
    out.add(arg);
  } else {
    // Too long for the field: keep its start when left-justified, else
    // its end.
    const std::size_t w = static_cast<std::size_t>(it.width);
    out.add(just == Justify::kLeft ? arg.substr(0, w) : arg.substr(arg.size() - w));
  }
  put_fill(out, fill, after);
  out.add(it.terminator);
}

}  // namespace

int bi_prints(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return 0;

  // "prints vsFORMAT NAME [arg ...]" formats into the variable NAME.
  const bool to_var = argc >= 3 && argv[1][0] == 'v' && argv[1][1] == 's';
  const char* f = to_var ? argv[1] + 1 : argv[1];
  const char* var_name = to_var ? argv[2] : nullptr;
  char** args = argv + (to_var ? 3 : 2);
  const int nargs = argc - (to_var ? 3 : 2);

  if (to_var && !name_check(var_name)) {
    shell_error(VEK_ERR(kErrBadName), var_name);
    return kErrBadName + 1;
  }

  Collector out(to_var);
  std::array<char, kFillSize> fill;
  Item it;
  int next = 0;

  // An item starts at each "s"; when the format offers no further item
  // the remaining arguments reuse the last one, and an item without an
  // argument of its own repeats the last argument.
  while (next < nargs || *f == 's') {
    if (*f == 's') {
      ++f;
      it = Item{};
      if (*f == '.') {
        // Skip item: consumes an argument and writes nothing.
        while (*f != '\0' && *f != 's') ++f;
        if (next < nargs) ++next;
        continue;
      }
      if (*f == 'u') {
        ++f;
        int fd = 1;
        if (is_digit(*f)) fd = *f++ - '0';
        out.select_fd(fd);
      }
      // A "-" that ends the format is not justification: it suppresses
      // the final line end.
      if (*f == '-' && f[1] != '\0') {
        it.justify = Justify::kLeft;
        ++f;
      } else if (*f == ':') {
        it.justify = Justify::kCentre;
        ++f;
      }
      if (*f == '+' || *f == ' ') it.sign = *f++;
      if (*f == 'f' && f[1] != '\0') {
        it.fill = f[1];
        f += 2;
      }
      if (*f == 'F') {
        int count = 0;
        const int code = parse_small_decimal(&count, f + 1);
        it.fill = static_cast<char>(code & 0xFF);
        f += 1 + count;
      }
      if (is_digit(*f)) {
        // A width that does not fit into 32 bits is refused rather than
        // read as some other number.
        std::int32_t w = 0;
        if (!parse_decimal_checked(f, &w)) {
          shell_error(VEK_ERR(kErrArguments), argv[1]);
          return kErrArguments + 1;
        }
        it.width = w;
        while (is_digit(*f)) ++f;
      }
      if (*f == 'n') {
        it.terminator = std::string_view("\r\n", 2);
        ++f;
      } else if (*f == 'b') {
        it.terminator = " ";
        ++f;
      } else if (*f == 't') {
        it.terminator = "\t";
        ++f;
      }
    }
    const char* a = next < nargs ? args[next++] : (nargs > 0 ? args[nargs - 1] : "");
    format_arg(out, it, a, fill);
    if (out.failed()) return kErrLimit + 1;
  }

  if (!to_var) {
    if (*f != '-') out.add(std::string_view("\r\n", 2));
    out.flush();
    return 0;
  }

  // Into the variable, through the scoped set.  Text without NUL bytes is
  // assigned like any other text, so the variable behaves as after
  // NAME=text (an integer variable takes the number, an exported one
  // stays exported).  Text holding NUL bytes (fill "F" or "F000") is kept
  // whole as a byte value with its length; the store-as-text request
  // drops an integer attribute that could not describe those bytes.
  const int len = static_cast<int>(out.size());
  const char* text = out.text();
  const bool has_nul = std::string_view(text, out.size()).find('\0') != std::string_view::npos;
  const VarScope scope = variable_scope();
  if (has_nul) var_set(scope, var_name, VarValue::bytes(text, len), kVar | kAsText);
  else var_set(scope, var_name, VarValue::text(text));
  return 0;
}

}  // namespace vek
