// sum (a wrapping sum of bytes or little-endian units) and base (number
// conversion between text in a base and binary units).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "builtins/builtins.h"
#include "builtins/filterio.h"
#include "builtins/filters.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {

namespace filters {

namespace {
bool is_dec(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool base_parse(int argc, char* const* argv, BaseSpec& spec) {
  spec = BaseSpec{};
  if (argc > 4) return false;
  BaseSide* side = &spec.in;
  for (int k = 0; k < argc; ++k) {
    const char* w = argv[k];
    if (w[0] != '-' && w[0] != '+' && !is_dec(w[0])) {
      // A variable: the first is the input, the second the output.
      if (spec.in_var == nullptr) spec.in_var = w;
      else if (spec.out_var == nullptr) spec.out_var = w;
      else return false;
      continue;
    }
    for (const char* p = w; *p;) {
      const char c = *p++;
      switch (c) {
        case '-': side = &spec.in; break;
        case '+': side = &spec.out; break;
        case '#': side->hash = true; break;
        case 'b':
        case 'B':
          side->unit = 1;
          side->big_endian = false;
          side->unit_given = true;
          break;
        case 'w':
        case 'W':
          side->unit = 2;
          side->big_endian = c == 'W';
          side->unit_given = true;
          break;
        case 'l':
        case 'L':
          // l and ll, L and LL are the same unit.
          if (*p == c) ++p;
          side->unit = 4;
          side->big_endian = c == 'L';
          side->unit_given = true;
          break;
        case 'u':
          if (!is_dec(*p)) return false;
          side->fd = *p++ - '0';
          break;
        default: {
          if (!is_dec(c)) return false;
          int base = c - '0';
          while (is_dec(*p)) {
            base = base * 10 + (*p++ - '0');
            if (base > 256) return false;
          }
          if (!((base >= 2 && base <= 36) || base == 256)) return false;
          side->base = base;
          break;
        }
      }
    }
  }
  return true;
}

}  // namespace filters

using namespace filters;

namespace {

constexpr std::size_t kSumBlock = 8192;
constexpr std::size_t kBaseBlock = 4096;

// Bytes of one unit as a value: little-endian unless big_endian.
std::uint32_t unit_value(const unsigned char* p, int unit, bool big_endian) {
  std::uint32_t v = 0;
  for (int i = 0; i < unit; ++i) {
    const int at = big_endian ? i : unit - 1 - i;
    v = v << 8 | p[at];
  }
  return v;
}

// Reads binary units from a source in blocks; a unit cut by the end of a
// block is completed by the next one, and only the last unit of the data
// is padded with zero bytes.
class UnitReader {
 public:
  UnitReader(int unit, bool big_endian) : unit_(unit), big_(big_endian) {}

  template <typename Read, typename Each>
  void run(Read read, Each each) {
    std::array<unsigned char, kSumBlock + 4> buf;
    std::size_t have = 0;  // bytes of an unfinished unit at the front
    for (;;) {
      const long n = read(reinterpret_cast<char*>(buf.data() + have), static_cast<long>(kSumBlock));
      if (n <= 0) break;
      const std::size_t total = have + static_cast<std::size_t>(n);
      const std::size_t whole = total - total % static_cast<std::size_t>(unit_);
      for (std::size_t i = 0; i < whole; i += static_cast<std::size_t>(unit_))
        each(unit_value(buf.data() + i, unit_, big_));
      have = total - whole;
      std::copy_n(buf.data() + whole, have, buf.data());
    }
    if (have > 0) {
      std::fill_n(buf.data() + have, static_cast<std::size_t>(unit_) - have, 0);
      each(unit_value(buf.data(), unit_, big_));
    }
  }

 private:
  int unit_;
  bool big_;
};

// Where base reads: a descriptor or the bytes of a variable.
struct BaseSource {
  int fd = 0;
  const char* data = nullptr;  // the variable's bytes, when reading one
  std::size_t len = 0;
  std::size_t pos = 0;

  long read(char* buf, long n) {
    if (data == nullptr) return read_quiet(fd, buf, n);
    const std::size_t k = std::min(static_cast<std::size_t>(n), len - pos);
    std::copy_n(data + pos, k, buf);
    pos += k;
    return static_cast<long>(k);
  }
};

// Where base writes: a descriptor in blocks, or one block that becomes the
// value of a variable.
class BaseSink {
 public:
  BaseSink(int fd, bool to_var) : fd_(fd), to_var_(to_var) {}
  void put(const char* p, std::size_t n) {
    if (n > buf_.size() - len_) {
      if (to_var_) fatal_error(VEK_ERR(kErrLimit), "base: wr_var");
      flush();
    }
    std::copy_n(p, n, buf_.data() + len_);
    len_ += n;
  }
  void flush() {
    if (!to_var_ && len_ > 0) sys_write(fd_, buf_.data(), static_cast<long>(len_));
    if (!to_var_) len_ = 0;
  }
  const char* data() const { return buf_.data(); }
  std::size_t size() const { return len_; }

 private:
  int fd_;
  bool to_var_;
  std::size_t len_ = 0;
  std::array<char, kBaseBlock> buf_;
};

[[noreturn]] void sum_usage() { fatal_error(VEK_ERR(kErrArguments), "sum [-bwlL] [name]"); }

}  // namespace

int bi_sum(int argc, char** argv) {
  if (argc > 3) sum_usage();
  int unit = 1;
  const char* name = nullptr;
  for (int k = 1; k < argc; ++k) {
    const char* w = argv[k];
    if (w[0] != '-') {
      if (name != nullptr) sum_usage();
      name = w;
      continue;
    }
    if (w[1] == '\0') sum_usage();
    for (const char* p = w + 1; *p; ++p) {
      switch (*p) {
        case 'b': unit = 1; break;
        case 'w': unit = 2; break;
        case 'l':
        case 'L': unit = 4; break;
        default: sum_usage();
      }
    }
  }
  if (name != nullptr && !name_check(name)) {
    shell_error(VEK_ERR(kErrBadName), name);
    return 1;
  }

  std::uint32_t sum = 0;
  UnitReader units(unit, false);
  units.run([](char* buf, long n) { return read_quiet(0, buf, n); },
            [&sum](std::uint32_t v) { sum += v; });
  const auto value = static_cast<std::int32_t>(sum);
  if (name == nullptr) {
    format_out(1, "%ld\r\n", value);
  } else {
    char text[16];
    format_signed(text, value);
    var_set(variable_scope(), name, VarValue::text(text));
  }
  return 0;
}

int bi_base(int argc, char** argv) {
  BaseSpec spec;
  if (!base_parse(argc - 1, argv + 1, spec)) {
    shell_error(VEK_ERR(kErrArguments), "base:");
    return 1;
  }
  for (const char* name : {spec.in_var, spec.out_var}) {
    if (name != nullptr && !name_check(name)) {
      shell_error(VEK_ERR(kErrBadName), name);
      return 1;
    }
  }

  BaseSource src;
  src.fd = spec.in.fd >= 0 ? spec.in.fd : 0;
  if (spec.in_var != nullptr) {
    // The variable's value replaces the input descriptor; an unset one
    // gives no input.
    src.data = "";
    if (const VarRecord* r = var_find(variable_scope(), spec.in_var)) {
      src.data = r->value();
      src.len = static_cast<std::size_t>(std::max(0, r->value_size()));
    }
  }
  const bool to_var = spec.out_var != nullptr;
  BaseSink sink(spec.out.fd >= 0 ? spec.out.fd : 1, to_var);

  // Output: text in a base (16 unless only a unit was given), or binary.
  int out_base = spec.out.base;
  if (out_base == 0 && (spec.out.hash || !spec.out.unit_given)) out_base = 16;
  int on_line = 0;
  auto put_value = [&](std::uint32_t v) {
    if (out_base == 0) {
      std::array<char, 4> b;
      for (int i = 0; i < spec.out.unit; ++i) {
        const int shift = 8 * (spec.out.big_endian ? spec.out.unit - 1 - i : i);
        b[static_cast<std::size_t>(i)] = static_cast<char>((v >> shift) & 0xFFu);
      }
      sink.put(b.data(), static_cast<std::size_t>(spec.out.unit));
      return;
    }
    std::array<char, 48> text;
    std::size_t n = 0;
    if (on_line > 0) text[n++] = ' ';
    if (spec.out.hash) {
      n += static_cast<std::size_t>(format_signed(text.data() + n, out_base));
      text[n++] = '#';
    }
    n += static_cast<std::size_t>(format_integer(text.data() + n, out_base, static_cast<std::int32_t>(v)));
    if (++on_line == 16) {
      text[n++] = '\r';
      text[n++] = '\n';
      on_line = 0;
    }
    sink.put(text.data(), n);
  };

  if (spec.in.base > 0 || spec.in.hash) {
    // Text: numbers separated by IFS characters.
    constexpr std::size_t kWordMax = 42;
    std::array<char, kWordMax + 1> word;
    std::size_t wlen = 0;
    auto convert = [&]() {
      word[wlen] = '\0';
      int b = spec.in.hash ? 0 : spec.in.base;
      put_value(static_cast<std::uint32_t>(parse_integer(&b, word.data())));
      wlen = 0;
    };
    std::array<char, kBaseBlock> buf;
    for (;;) {
      const long n = src.read(buf.data(), static_cast<long>(buf.size()));
      if (n <= 0) break;
      for (long i = 0; i < n; ++i) {
        const char c = buf[static_cast<std::size_t>(i)];
        if (ifs_table[static_cast<unsigned char>(c)]) {
          if (wlen > 0) convert();
          continue;
        }
        if (wlen == kWordMax) fatal_error(VEK_ERR(kErrLimit), "base: ascii-string");
        word[wlen++] = c;
      }
    }
    if (wlen > 0) convert();
  } else {
    UnitReader units(spec.in.unit, spec.in.big_endian);
    units.run([&src](char* buf, long n) { return src.read(buf, n); }, put_value);
  }
  if (out_base != 0 && on_line > 0) sink.put("\r\n", 2);

  if (to_var) {
    var_set(variable_scope(), spec.out_var, VarValue::bytes(sink.data(), static_cast<int>(sink.size())));
  } else {
    sink.flush();
  }
  return 0;
}

}  // namespace vek
