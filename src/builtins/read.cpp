// Reading lines into variables and positioning descriptors: read, readl,
// line and seek.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "builtins/builtins.h"
#include "builtins/filterio.h"
#include "builtins/readcopy.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {

namespace {

// How a line is taken from a descriptor.
enum class ReadMode {
  kConsole,     // one read delivers what the console hands out
  kReposition,  // read in blocks, give back the surplus by seeking
  kByByte,      // cannot seek (pipe, FIFO, device): never read past the end
};

ReadMode read_mode(int fd) {
  if (is_console(fd)) return ReadMode::kConsole;
  unsigned mode = 0;
  std::int64_t size = 0;
  if (plat::descriptor_status(fd, mode, size)) {
    const unsigned type = mode & 0170000u;
    if (type == 0100000u || type == 0060000u) return ReadMode::kReposition;  // regular file, block device
  }
  return ReadMode::kByByte;
}

// Reading from the console.  Line editing belongs to the console input
// layer; until it offers a line read of its own, a plain read of the
// descriptor delivers one line as the terminal driver hands it over.
long console_read(int fd, char* buf, long len) { return sys_read(fd, buf, len); }

// Bytes of one line, taken in blocks of N bytes.  Whatever was read past
// the end is given back when the reader is finished, so that the next
// reader of the descriptor starts right after the line.
template <std::size_t N>
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd), mode_(read_mode(fd)) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next byte, or -1 at the end of the input.
  int next() {
    if (pos_ == end_ && !fill()) return -1;
    any_ = true;
    return static_cast<unsigned char>(buf_[pos_++]);
  }
  bool any() const { return any_; }
  // Moves the descriptor back by the bytes read beyond the line.
  void give_back() {
    if (mode_ == ReadMode::kReposition && end_ > pos_) sys_lseek(fd_, -static_cast<std::int64_t>(end_ - pos_), plat::kSeekCur);
    pos_ = end_ = 0;
  }

 private:
  bool fill() {
    if (eof_) return false;
    long r;
    if (mode_ == ReadMode::kConsole) {
      r = console_read(fd_, buf_.data(), static_cast<long>(N));
    } else {
      r = sys_read(fd_, buf_.data(), mode_ == ReadMode::kByByte ? 1 : static_cast<long>(N));
    }
    check_signal();
    if (r <= 0) {
      eof_ = true;
      pos_ = end_ = 0;
      return false;
    }
    pos_ = 0;
    end_ = static_cast<std::size_t>(r);
    return true;
  }

  int fd_;
  ReadMode mode_;
  std::array<char, N> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool any_ = false;
};

constexpr int kWordMax = 4094;
std::array<char, kWordMax + 1> word_buf;

// Sets a variable to the bytes of a word: as text, or as raw bytes when
// the word holds a byte 0 (so that none is lost).
void set_word(const char* name, const char* word, int len) {
  if (std::memchr(word, 0, static_cast<std::size_t>(len)) != nullptr) {
    var_set(variable_scope(), name, VarValue::bytes(word, len));
  } else {
    var_set(variable_scope(), name, VarValue::text(word));
  }
}

// Checks a name for read and readl; false (after the report) when bad.
bool check_name(const char* name) {
  if (name_check(name)) return true;
  shell_error(VEK_ERR(kErrBadName), name);
  return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Writes a 64-bit number and CR LF to descriptor 1.
void put_position(std::int64_t v) {
  std::array<char, 24> text{};
  format_i64(text.data(), v);
  format_out(1, "%s\r\n", text.data());
}

}  // namespace


// read [-uD] [name[?prompt]] [name ...]
int bi_read(int argc, char** argv) {
  int fd = 0;
  int first = 1;
  if (first < argc && argv[first][0] == '-' && argv[first][1] == 'u' && is_digit(argv[first][2])) {
    fd = argv[first][2] - '0';
    ++first;
  }
  const int names = argc - first;
  const bool interactive = fd == 0 ? is_console(0) && (is_console(1) || is_console(2)) : is_console(fd);
  if (names > 0 && interactive) {
    if (char* q = std::strchr(argv[first], '?')) {
      *q = 0;
      sys_write(is_console(1) ? 1 : 2, q + 1, static_cast<long>(std::strlen(q + 1)));
    }
  }

  LineReader<128> in(fd);
  const auto& sep = ifs_table;
  bool line_ended = false;
  // Without names one line is read and dropped.
  const int words = names > 0 ? names : 1;
  for (int i = 0; i < words; ++i) {
    const char* name = names > 0 ? argv[first + i] : "-";
    const bool last = i == words - 1;
    int len = 0;
    bool lf_here = false;
    bool gap = false;  // separators inside the last name's text
    while (!line_ended) {
      const int c = in.next();
      if (c < 0) {
        line_ended = true;
        break;
      }
      if (c == '\n') {
        line_ended = lf_here = true;
        break;
      }
      if (sep[static_cast<std::size_t>(c)] != 0) {
        if (len == 0) continue;
        if (!last) break;
        gap = true;
        continue;
      }
      if (len + (gap ? 2 : 1) > kWordMax) {
        in.give_back();
        shell_error(VEK_ERR(kErrLimit), "read: Variablen-Zuweisung");
        return 1;
      }
      if (gap) {
        word_buf[static_cast<std::size_t>(len++)] = ifs_join_char();
        gap = false;
      }
      word_buf[static_cast<std::size_t>(len++)] = static_cast<char>(c);
    }
    if (!in.any()) break;
    if (lf_here && len > 0 && word_buf[static_cast<std::size_t>(len - 1)] == '\r') --len;
    word_buf[static_cast<std::size_t>(len)] = 0;
    if (name[0] == 0 || (name[0] == '-' && name[1] == 0)) continue;
    if (!check_name(name)) {
      in.give_back();
      return 1;
    }
    set_word(name, word_buf.data(), len);
  }
  // Separators at the end of the line are dropped: finish the line.
  while (!line_ended && in.any()) {
    const int c = in.next();
    if (c < 0 || c == '\n') break;
  }
  in.give_back();
  return in.any() ? 0 : 1;
}

// readl [-u D0] [name ...]
int bi_readl(int argc, char** argv) {
  int fd = 0;
  int terminator = '\n';
  int first = 1;
  if (first < argc && argv[first][0] == '-' && argv[first][1] != 0) {
    for (const char* p = argv[first] + 1; *p != 0; ++p) {
      if (*p == 'u' && is_digit(p[1])) {
        fd = p[1] - '0';
        ++p;
      } else if (*p == '0') {
        terminator = 0;
      } else {
        shell_error(VEK_ERR(kErrArguments), *p == 'u' ? p + 1 : p);
        return 1;
      }
    }
    ++first;
  }
  LineReader<256> in(fd);
  int len = 0;
  bool seen = false;
  for (;;) {
    const int c = in.next();
    if (c < 0) break;
    if (c == terminator) {
      seen = true;
      break;
    }
    if (len >= kWordMax) {
      in.give_back();
      shell_error(VEK_ERR(kErrLimit), "readl: Variablen-Zuweisung");
      return 1;
    }
    word_buf[static_cast<std::size_t>(len++)] = static_cast<char>(c);
  }
  in.give_back();
  if (!in.any()) return 1;
  if (terminator == '\n' && seen && len > 0 && word_buf[static_cast<std::size_t>(len - 1)] == '\r') --len;
  word_buf[static_cast<std::size_t>(len)] = 0;
  for (int i = first; i < argc; ++i) {
    if (!check_name(argv[i])) return 1;
    set_word(argv[i], word_buf.data(), len);
  }
  return 0;
}

namespace {

constexpr int kLinePiece = 8192;
std::array<char, kLinePiece> line_piece;

// Writes the selected lines of one input; true when one was written.
// `next_line` stores the next piece (ending after a line feed, or 8192
// bytes) and returns its length, 0 at the end.
template <typename NextLine>
bool select_lines(NextLine next_line, std::int32_t from, std::int32_t to, bool inside) {
  bool wrote = false;
  std::int32_t number = 0;
  BlockOut<kLinePiece> out(1);
  for (;;) {
    const int n = next_line();
    if (plat::pending_signal() != 0) {
      out.flush();
      check_signal();
    }
    if (n <= 0) break;
    ++number;
    const bool in_range = number >= from && number <= to;
    if (in_range == inside) {
      out.put(line_piece.data(), static_cast<std::size_t>(n));
      wrote = true;
    }
    if (inside && number >= to) break;
  }
  out.flush();
  return wrote;
}

// A file of its own is read in large blocks; the selected stretches of
// each block are written as they stand, without copying line by line.
bool copy_file_lines(int fd, std::int32_t from, std::int32_t to, bool inside) {
  char* block = filter_block();
  bool wrote = false;
  std::int32_t number = 0;  // pieces completed
  long piece = 0;           // bytes of the current piece so far
  for (;;) {
    const long n = read_quiet(fd, block, static_cast<long>(kFilterBlock));
    if (n <= 0) break;
    long p = 0;
    long run = -1;  // start of the stretch to write
    bool done = false;
    while (p < n) {
      const std::int32_t current = number == INT32_MAX ? number : number + 1;
      const bool selected = (current >= from && current <= to) == inside;
      const long limit = std::min(n, p + (kLinePiece - piece));
      const void* lf = std::memchr(block + p, '\n', static_cast<std::size_t>(limit - p));
      const long end = lf != nullptr ? static_cast<const char*>(lf) - block + 1 : limit;
      if (selected) {
        if (run < 0) run = p;
      } else if (run >= 0) {
        sys_write(1, block + run, p - run);
        run = -1;
      }
      piece += end - p;
      p = end;
      if (lf != nullptr || piece == kLinePiece) {
        number = current;
        piece = 0;
        wrote = wrote || selected;
        if (inside && number >= to) {
          done = true;
          break;
        }
      }
    }
    if (run >= 0) sys_write(1, block + run, p - run);
    if (done) return wrote;
  }
  // A last line without a line feed.
  if (piece > 0) {
    const std::int32_t current = number == INT32_MAX ? number : number + 1;
    wrote = wrote || (current >= from && current <= to) == inside;
  }
  return wrote;
}

// Standard input may be shared with the commands that follow: what is
// read past the last line written is given back (or, from a pipe, never
// read), as read does.
bool copy_input_lines(std::int32_t from, std::int32_t to, bool inside) {
  LineReader<4096> in(0);
  const bool wrote = select_lines(
      [&in] {
        int n = 0;
        while (n < kLinePiece) {
          const int c = in.next();
          if (c < 0) break;
          line_piece[static_cast<std::size_t>(n++)] = static_cast<char>(c);
          if (c == '\n') break;
        }
        return n;
      },
      from, to, inside);
  in.give_back();
  return wrote;
}

// A decimal number at p (digits only), kept within 32 bits.
std::int32_t read_digits(const char*& p) {
  std::int64_t v = 0;
  while (is_digit(*p)) {
    if (v < INT32_MAX) v = v * 10 + (*p - '0');
    ++p;
  }
  return v > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v);
}

}  // namespace

// line [-N[-[M]] | +N[-[M]]] [file ...]
int bi_line(int argc, char** argv) {
  std::int32_t from = 1;
  std::int32_t to = 10;
  bool inside = true;
  int i = 1;
  if (i < argc && (argv[i][0] == '-' || argv[i][0] == '+') && is_digit(argv[i][1])) {
    inside = argv[i][0] == '-';
    const char* p = argv[i] + 1;
    from = to = read_digits(p);
    if (*p == '-') {
      ++p;
      to = is_digit(*p) ? read_digits(p) : INT32_MAX;
    }
    ++i;
  }
  if (i >= argc) {
    // A console echoes one line.
    if (is_console(0)) {
      from = to = 1;
      inside = true;
    }
    return copy_input_lines(from, to, inside) ? 0 : 1;
  }
  int status = 0;
  for (; i < argc; ++i) {
    const int fd = sys_open(argv[i], plat::kRead | plat::kBinary);
    if (fd < 0) return 1;
    const bool wrote = copy_file_lines(fd, from, to, inside);
    sys_close(fd);
    if (!wrote) status = 1;
  }
  return status;
}

// seek [position [descriptor [name]]]
int bi_seek(int argc, char** argv) {
  const std::int32_t fd = argc > 2 ? parse_decimal(argv[2]) : 0;
  if (fd < 0 || fd > 9) return 2;
  bool relative = false;
  bool negative = false;
  bool from_end = false;
  bool have_number = false;
  std::int64_t number = 0;
  if (argc > 1) {
    for (const char* p = argv[1]; *p != 0; ++p) {
      if (*p == '+') {
        relative = true;
      } else if (*p == '-') {
        relative = negative = true;
      } else if (*p == ':') {
        from_end = true;
      } else if (is_digit(*p)) {
        number = read_digits(p);
        have_number = true;
        break;
      }
    }
  }
  const std::int64_t offset = negative ? -number : number;
  const std::int64_t current = sys_lseek(fd, 0, plat::kSeekCur);
  std::int64_t target;
  if (from_end) {
    target = sys_lseek(fd, 0, plat::kSeekEnd) + offset;
  } else if (relative) {
    target = current + offset;
  } else {
    target = offset;
  }
  // A query, or a place before the start: the descriptor stays where it was.
  if (!have_number || target < 0) {
    sys_lseek(fd, current, plat::kSeekSet);
  } else {
    sys_lseek(fd, target, plat::kSeekSet);
  }
  if (target < 0) return 1;
  if (argc > 3) {
    std::array<char, 24> text{};
    format_i64(text.data(), target);
    if (!name_check(argv[3])) {
      shell_error(VEK_ERR(kErrBadName), argv[3]);
      return 1;
    }
    var_set(variable_scope(), argv[3], VarValue::text(text.data()));
  } else if (!have_number) {
    put_position(target);
  }
  return 0;
}

}  // namespace vek
