// sortl: sorts the lines of its inputs by up to four key fields.  All
// input is read into one buffer first (so the output may replace an
// input), the lines are described by records, and only references to the
// records are sorted.
#include "builtins/sortl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "builtins/builtins.h"
#include "builtins/filterio.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

namespace sortl {

namespace {

bool is_dec(unsigned char c) { return c >= '0' && c <= '9'; }

std::uint64_t memory_cap = 0;

[[noreturn]] void bad_word(const char* word) { fatal_error(VEK_ERR(kErrArguments), word); }

// -fSPEC: numbers with n and r, separated by commas; any other character
// ends the key list.  A fifth key is refused rather than dropped.
void parse_keys(const char* p, const char* word, Options& opt) {
  Options keys;
  for (;;) {
    std::int64_t field = 0;
    while (is_dec(static_cast<unsigned char>(*p))) {
      field = std::min<std::int64_t>(field * 10 + (*p++ - '0'), 0x7FFFFFFF);
    }
    Key k;
    k.field = static_cast<std::int32_t>(field);
    for (; *p == 'n' || *p == 'r'; ++p) (*p == 'n' ? k.numeric : k.reverse) = true;
    if (k.field > 0) {
      if (keys.key_count == kMaxKeys) bad_word(word);
      keys.keys[static_cast<std::size_t>(keys.key_count++)] = k;
    }
    if (*p != ',') break;
    ++p;
  }
  // -f alone, or one that names no field, leaves the keys as they are.
  if (keys.key_count > 0) {
    opt.keys = keys.keys;
    opt.key_count = keys.key_count;
  }
}

}  // namespace

int parse_options(int argc, char** argv, Options& opt) {
  opt = Options{};
  opt.delimiter[' '] = opt.delimiter['\t'] = true;
  for (int k = 0; k < kMaxKeys; ++k) opt.keys[static_cast<std::size_t>(k)].field = k + 1;
  opt.key_count = kMaxKeys;
  int k = 1;
  for (; k < argc && argv[k][0] == '-'; ++k) {
    char* word = argv[k];
    for (char* p = word + 1; *p != '\0';) {
      const char c = *p++;
      switch (c) {
        case 'r': opt.reverse = true; break;
        case 'c': break;
        case 'd':
          opt.delimiter.fill(false);
          for (; *p != '\0'; ++p) opt.delimiter[static_cast<unsigned char>(*p)] = true;
          break;
        case 'f':
          parse_keys(p, word, opt);
          p += str_len(p);
          break;
        case 'o': {
          if (opt.output != nullptr || *p == '\0') bad_word(word);
          path_normalize(p);
          const plat::FileInfo info = plat::stat_path(p);
          if (info.exists && !info.is_regular) bad_word(word);
          opt.output = p;
          p += str_len(p);
          break;
        }
        case 'T': p += str_len(p); break;
        default: bad_word(word);
      }
    }
  }
  return k;
}

KeyScanner::KeyScanner(const Options& opt) : opt_(opt) {
  // Each field once, in rising order; a field named by two keys belongs
  // to the first of them.
  for (int k = 0; k < opt.key_count; ++k) {
    const std::int32_t f = opt.keys[static_cast<std::size_t>(k)].field;
    bool known = false;
    for (int s = 0; s < step_count_; ++s) known = known || steps_[static_cast<std::size_t>(s)].field == f;
    if (!known && f > 0) steps_[static_cast<std::size_t>(step_count_++)] = Step{f, k};
  }
  std::sort(steps_.begin(), steps_.begin() + step_count_,
            [](const Step& a, const Step& b) { return a.field < b.field; });
}

void KeyScanner::scan(const unsigned char* p, std::size_t n, Line& line) const {
  line.present = 0;
  const auto& delim = opt_.delimiter;
  std::size_t i = 0;
  std::int32_t field = 0;
  int s = 0;
  while (s < step_count_) {
    while (i < n && delim[p[i]]) ++i;
    if (i >= n) break;
    const std::size_t start = i;
    while (i < n && !delim[p[i]]) ++i;
    ++field;
    const Step& step = steps_[static_cast<std::size_t>(s)];
    if (field != step.field) continue;
    auto& f = line.field[static_cast<std::size_t>(step.key)];
    f.off = static_cast<std::uint16_t>(start);
    f.len = static_cast<std::uint16_t>(i - start);
    if (opt_.keys[static_cast<std::size_t>(step.key)].numeric) f.num = field_decimal(p + start, i - start);
    line.present = static_cast<std::uint8_t>(line.present | (1u << step.key));
    ++s;
  }
}

std::int32_t field_decimal(const unsigned char* p, std::size_t n) {
  // The text ends at the end of the field or at a NUL byte in it.
  auto at = [&](std::size_t i) -> unsigned char { return i < n ? p[i] : 0; };
  std::size_t i = 0;
  bool negative = false;
  if (at(0) <= '0') {
    if (at(0) == 0 || at(1) == 0) return 0;
    while (at(i) == ' ' || at(i) == '\t') ++i;
    if (at(i) == '-' || at(i) == '+') negative = at(i++) == '-';
    while (at(i) == '0') ++i;
  }
  std::uint32_t value = 0;
  for (int count = 0; count < 10 && is_dec(at(i)); ++count, ++i) value = value * 10u + (at(i) - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

int compare(const Options& opt, const unsigned char* text, const Line& a, const Line& b) {
  int d = 0;
  if (a.present == 0 || b.present == 0) {
    // A line without any key field comes after one with.
    d = (a.present == 0) - (b.present == 0);
  } else {
    for (int k = 0; k < opt.key_count && d == 0; ++k) {
      const unsigned bit = 1u << k;
      const bool in_a = (a.present & bit) != 0;
      const bool in_b = (b.present & bit) != 0;
      if (in_a != in_b) {
        d = in_a ? 1 : -1;  // the line without this field first
        break;
      }
      if (!in_a) continue;
      const Key& key = opt.keys[static_cast<std::size_t>(k)];
      const Line::Field& fa = a.field[static_cast<std::size_t>(k)];
      const Line::Field& fb = b.field[static_cast<std::size_t>(k)];
      if (key.numeric && fa.num != fb.num) {
        d = fa.num < fb.num ? -1 : 1;
      } else {
        const std::size_t n = std::min(fa.len, fb.len);
        const int c = n == 0 ? 0 : std::memcmp(text + a.pos + fa.off, text + b.pos + fb.off, n);
        d = c != 0 ? (c < 0 ? -1 : 1) : (fa.len < fb.len ? -1 : fa.len > fb.len ? 1 : 0);
      }
      if (key.reverse) d = -d;
    }
    if (d == 0) d = a.len < b.len ? -1 : a.len > b.len ? 1 : 0;
  }
  return opt.reverse ? -d : d;
}

void set_memory_cap(std::uint64_t bytes) { memory_cap = bytes; }

}  // namespace sortl

using namespace sortl;

namespace {

constexpr std::size_t kReadBlock = 16384;
constexpr std::size_t kOutBlock = 2080;
constexpr std::uint64_t kTextLimit = 0x7FFFFFFF;  // offsets into the text are 31 bits

// The memory of one run, released on every way out (errors and signals
// leave through exceptions).  Every request is weighed against what the
// host can still give, so that too large an input is refused with error
// 30 instead of ending the process when the memory is touched.
class Memory {
 public:
  Memory() : budget_(memory_cap != 0 ? memory_cap : plat::memory_available()) {}
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;
  ~Memory() {
    std::free(text);
    std::free(lines);
    std::free(refs);
  }

  // Resizes block p (of old_bytes) to bytes; error 30 when that cannot be.
  template <typename T>
  void resize(T*& p, std::size_t old_bytes, std::size_t bytes) {
    const std::uint64_t after = used_ - old_bytes + bytes;
    void* q = after > budget_ ? nullptr : std::realloc(p, bytes);
    if (q == nullptr) fatal_error(VEK_ERR(kErrMemory));
    p = static_cast<T*>(q);
    used_ = after;
  }

  unsigned char* text = nullptr;
  std::size_t text_cap = 0;
  std::size_t text_len = 0;
  Line* lines = nullptr;
  std::size_t line_cap = 0;
  std::size_t line_count = 0;
  struct Ref {
    std::uint64_t head;  // the start of key 1, to decide most comparisons
    std::uint32_t line;
    std::uint32_t present;
  };
  Ref* refs = nullptr;

 private:
  std::uint64_t budget_;
  std::uint64_t used_ = 0;
};

// Reads the inputs into the text and splits them into lines.
class Reader {
 public:
  Reader(Memory& mem, const KeyScanner& scanner, std::uint64_t estimate)
      : mem_(mem), scanner_(scanner), estimate_(estimate) {}

  // Reads one input to its end; false after a read error.
  bool read_all(int fd) {
    std::size_t line_start = mem_.text_len;
    std::size_t scanned = line_start;
    bool first = true;
    for (;;) {
      if (mem_.text_cap - mem_.text_len < kReadBlock) grow_text();
      bool failed = false;
      const long n = read_quiet(fd, reinterpret_cast<char*>(mem_.text + mem_.text_len),
                                static_cast<long>(kReadBlock), &failed);
      if (failed) return false;
      if (n <= 0) break;
      mem_.text_len += static_cast<std::size_t>(n);
      // Complete lines; a partial one waits for the next block.
      for (;;) {
        const void* lf = std::memchr(mem_.text + scanned, '\n', mem_.text_len - scanned);
        if (lf == nullptr) {
          scanned = mem_.text_len;
          if (scanned - line_start > kMaxLine) fatal_error(VEK_ERR(kErrLimit));
          break;
        }
        const std::size_t end = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - mem_.text);
        add_line(line_start, end - line_start, true, first);
        first = false;
        line_start = scanned = end + 1;
      }
    }
    // The last line of an input is a line without LF too; it is not
    // joined with the next input's first line.
    if (line_start < mem_.text_len) add_line(line_start, mem_.text_len - line_start, false, first);
    return true;
  }

 private:
  void grow_text() {
    // Only when the input is larger than its size said (a file that grew,
    // or data whose size was not known).
    std::uint64_t want = std::max<std::uint64_t>(mem_.text_cap + mem_.text_cap / 2, mem_.text_len + kReadBlock + 20480);
    if (mem_.text_len + kReadBlock > kTextLimit) fatal_error(VEK_ERR(kErrLimit));
    want = std::min<std::uint64_t>(want, kTextLimit + kReadBlock);
    mem_.resize(mem_.text, mem_.text_cap, static_cast<std::size_t>(want));
    mem_.text_cap = static_cast<std::size_t>(want);
  }

  void add_line(std::size_t start, std::size_t content, bool lf, bool first) {
    if (content > kMaxLine) fatal_error(VEK_ERR(kErrLimit));
    if (mem_.line_count == mem_.line_cap) grow_lines();
    Line& line = mem_.lines[mem_.line_count++];
    line.pos = static_cast<std::uint32_t>(start);
    line.len = static_cast<std::uint16_t>(content + (lf ? 1 : 0));
    scanner_.scan(mem_.text + start, content, line);
    line.first = first ? 1 : 0;
    bytes_ += content + (lf ? 1 : 0);
  }

  void grow_lines() {
    // Enough for the rest at the average length so far, and at least half
    // as many again, so that short lines at the end cannot make the array
    // grow in small steps.
    const std::uint64_t average = std::max<std::uint64_t>(1, bytes_ / std::max<std::size_t>(1, mem_.line_count));
    const std::uint64_t total = std::max<std::uint64_t>(estimate_, mem_.text_cap);
    std::uint64_t want = std::max<std::uint64_t>(total / average + 4, mem_.line_cap + mem_.line_cap / 2 + 8);
    want = std::min<std::uint64_t>(want, kTextLimit);
    mem_.resize(mem_.lines, mem_.line_cap * sizeof(Line), static_cast<std::size_t>(want) * sizeof(Line));
    mem_.line_cap = static_cast<std::size_t>(want);
  }

  Memory& mem_;
  const KeyScanner& scanner_;
  std::uint64_t estimate_;
  std::uint64_t bytes_ = 0;
};

// Quicksort of the references with the middle element as pivot.  The
// smaller part is sorted by recursion and the larger one by the loop, so
// the depth stays logarithmic; should the pivots keep falling badly, the
// part is finished by heapsort, so that no input makes the sort slow.
template <typename Cmp>
void sort_refs(Memory::Ref* a, std::size_t n, Cmp& cmp, int depth) {
  auto less = [&cmp](const Memory::Ref& x, const Memory::Ref& y) { return cmp(x, y) < 0; };
  while (n > 16) {
    // A long sort is a safe point for signals now and then.
    if (n > 65536) check_signal();
    if (depth-- <= 0) {
      std::make_heap(a, a + n, less);
      std::sort_heap(a, a + n, less);
      return;
    }
    const Memory::Ref pivot = a[(n - 1) / 2];
    std::size_t i = 0, j = n - 1;
    for (;;) {
      while (cmp(a[i], pivot) < 0) ++i;
      while (cmp(pivot, a[j]) < 0) --j;
      if (i >= j) break;
      std::swap(a[i], a[j]);
      ++i;
      --j;
    }
    // [0, j] and [j + 1, n)
    const std::size_t left = j + 1;
    if (left < n - left) {
      sort_refs(a, left, cmp, depth);
      a += left;
      n -= left;
    } else {
      sort_refs(a + left, n - left, cmp, depth);
      n = left;
    }
  }
  for (std::size_t i = 1; i < n; ++i) {
    const Memory::Ref x = a[i];
    std::size_t j = i;
    for (; j > 0 && cmp(x, a[j - 1]) < 0; --j) a[j] = a[j - 1];
    a[j] = x;
  }
}

// Big-endian bytes of a field, zero-padded: comparing two heads compares
// the fields' starts in the same order as comparing the fields.
std::uint64_t field_head(const unsigned char* p, std::size_t n, int bytes) {
  std::uint64_t h = 0;
  for (int i = 0; i < bytes; ++i) h = h << 8 | (static_cast<std::size_t>(i) < n ? p[i] : 0u);
  return h;
}

}  // namespace

int bi_sortl(int argc, char** argv) {
  Options opt;
  int k = parse_options(argc, argv, opt);
  const KeyScanner scanner(opt);

  // The size of the input, to allocate once.
  std::uint64_t total = 0;
  const bool from_stdin = k >= argc;
  if (from_stdin) {
    // Typed input is not sorted.
    if (sys_isatty(0)) return 0;
    const std::int64_t here = plat::lseek(0, 0, plat::kSeekCur);
    const std::int64_t end = here >= 0 ? plat::lseek(0, 0, plat::kSeekEnd) : -1;
    if (here >= 0) plat::lseek(0, here, plat::kSeekSet);
    if (end > here) total = static_cast<std::uint64_t>(end - here);
  } else {
    for (int n = k; n < argc; ++n) {
      path_normalize(argv[n]);
      const plat::FileInfo info = plat::stat_path(argv[n]);
      if (info.is_regular && info.size > 0) total += static_cast<std::uint64_t>(info.size);
      if (total > kTextLimit) fatal_error(VEK_ERR(kErrLimit));
    }
  }

  Memory mem;
  mem.text_cap = static_cast<std::size_t>(total / 4096 * 4096 + 20480);
  mem.resize(mem.text, 0, mem.text_cap);
  mem.line_cap = static_cast<std::size_t>(total / 64 + 8);
  mem.resize(mem.lines, 0, mem.line_cap * sizeof(Line));

  int status = 0;
  Reader reader(mem, scanner, total);
  if (from_stdin) {
    if (!reader.read_all(0)) return 4;
  } else {
    FilterInput in;
    for (; k < argc; ++k) {
      if (!in.open(argv[k], false)) {
        status = 1;
        continue;
      }
      if (!reader.read_all(in.fd())) return 4;
      in.close();
    }
  }

  // References with the start of the first key, sorted.
  const std::size_t count = mem.line_count;
  mem.resize(mem.refs, 0, std::max<std::size_t>(1, count) * sizeof(Memory::Ref));
  const Key& first = opt.keys[0];
  for (std::size_t i = 0; i < count; ++i) {
    const Line& line = mem.lines[i];
    std::uint64_t head = 0;
    if (line.present & 1u) {
      const Line::Field& f = line.field[0];
      const unsigned char* p = mem.text + line.pos + f.off;
      if (first.numeric)
        head = static_cast<std::uint64_t>(static_cast<std::uint32_t>(f.num) ^ 0x80000000u) << 32 | field_head(p, f.len, 4);
      else
        head = field_head(p, f.len, 8);
    }
    mem.refs[i] = Memory::Ref{head, static_cast<std::uint32_t>(i), line.present};
  }
  const unsigned char* text = mem.text;
  const Line* lines = mem.lines;
  auto cmp = [&](const Memory::Ref& a, const Memory::Ref& b) {
    if ((a.present & b.present & 1u) && a.head != b.head) {
      int d = a.head < b.head ? -1 : 1;
      if (first.reverse) d = -d;
      return opt.reverse ? -d : d;
    }
    return compare(opt, text, lines[a.line], lines[b.line]);
  };
  int depth = 0;
  for (std::size_t m = count; m > 1; m >>= 1) depth += 2;
  sort_refs(mem.refs, count, cmp, depth);

  // Only now the output file is created or emptied: its old content may
  // have been one of the inputs.
  int fd = 1;
  if (opt.output != nullptr) fd = sys_open(opt.output, plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary);
  struct Closer {
    int fd;
    ~Closer() {
      if (fd > 2) plat::close(fd);
    }
  } closer{fd};
  BlockOut<kOutBlock> out(fd);
  for (std::size_t i = 0; i < count; ++i) {
    const Line& line = mem.lines[mem.refs[i].line];
    out.put(reinterpret_cast<const char*>(mem.text + line.pos), line.len);
    const bool has_lf = line.len > 0 && mem.text[line.pos + line.len - 1] == '\n';
    if (has_lf || i + 1 == count) continue;
    // A last line without LF that is not written last gets the line end
    // of the line before it in its input (CR LF when it has none), so
    // that it is not joined with the next one.
    const bool crlf = line.first != 0 || (line.pos >= 2 && mem.text[line.pos - 2] == '\r');
    out.put(crlf ? std::string_view("\r\n") : std::string_view("\n"));
  }
  out.flush();
  return status;
}

}  // namespace vek
