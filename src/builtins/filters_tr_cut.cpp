// tr (byte translation) and cut (columns and fields).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/filterio.h"
#include "builtins/filters.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

namespace filters {

// ---------------------------------------------------------------- tr strings

namespace {

bool is_dec(char c) { return c >= '0' && c <= '9'; }

// One byte of a tr string at p: \ and 1 to 3 digits, \[, \\, or the byte
// itself (a \ before anything else stands for itself).  Advances p.
unsigned char tr_byte(const char*& p) {
  if (p[0] == '\\') {
    if (is_dec(p[1])) {
      int count = 0;
      const int v = parse_small_decimal(&count, p + 1);
      p += 1 + count;
      return static_cast<unsigned char>(v & 0xFF);
    }
    if (p[1] == '[' || p[1] == '\\') {
      p += 2;
      return static_cast<unsigned char>(p[-1]);
    }
  }
  return static_cast<unsigned char>(*p++);
}

}  // namespace

TrParse tr_expand(const char* spec, TrString& out) {
  out.len = 0;
  auto push = [&](unsigned char b) {
    if (out.len == kTrStringMax) return false;
    out.bytes[out.len++] = b;
    return true;
  };
  const char* p = spec;
  while (*p != '\0') {
    if (*p != '[') {
      if (!push(tr_byte(p))) return TrParse::kTooLong;
      continue;
    }
    // [a-z], [c*n] or [c*]; every other use of [ is an error.
    ++p;
    if (*p == '\0') return TrParse::kSyntax;
    const unsigned char first = tr_byte(p);
    if (*p == '-') {
      ++p;
      if (*p == '\0') return TrParse::kSyntax;
      const unsigned char last = tr_byte(p);
      if (*p != ']') return TrParse::kSyntax;
      ++p;
      const int step = last >= first ? 1 : -1;
      for (int b = first;; b += step) {
        if (!push(static_cast<unsigned char>(b))) return TrParse::kTooLong;
        if (b == last) break;
      }
    } else if (*p == '*') {
      ++p;
      int count = 0;
      const int n = parse_small_decimal(&count, p);
      p += count;
      if (*p != ']') return TrParse::kSyntax;
      ++p;
      if (count == 0) {
        while (out.len < kTrStringMax) out.bytes[out.len++] = first;
      } else {
        for (int k = 0; k < n; ++k)
          if (!push(first)) return TrParse::kTooLong;
      }
    } else {
      return TrParse::kSyntax;
    }
  }
  return TrParse::kOk;
}

// ---------------------------------------------------------------- cut lists

CutParse cut_parse_list(const char* text, CutList& out) {
  out.count = 0;
  const char* p = text;
  auto number = [&](std::int32_t& v) {
    if (!is_dec(*p)) return false;
    std::int64_t n = 0;
    while (is_dec(*p)) {
      n = n * 10 + (*p++ - '0');
      if (n > kCutOpenEnd) return false;
    }
    v = static_cast<std::int32_t>(n);
    return v >= 1;
  };
  for (;;) {
    CutRange r{1, kCutOpenEnd};
    if (*p == '-') {
      ++p;
      if (!number(r.to)) return CutParse::kBad;
    } else {
      if (!number(r.from)) return CutParse::kBad;
      if (*p == '-') {
        ++p;
        if (is_dec(*p) && !number(r.to)) return CutParse::kBad;
        if (r.to < r.from) return CutParse::kBad;
      } else {
        r.to = r.from;
      }
    }
    if (out.count == kCutMaxItems) return CutParse::kTooMany;
    out.ranges[static_cast<std::size_t>(out.count++)] = r;
    if (*p == '\0') break;
    if (*p++ != ',') return CutParse::kBad;
  }
  // Sorted by start; a range that touches or overlaps the one before is
  // merged into it (a contained one simply disappears).
  auto* b = out.ranges.data();
  std::sort(b, b + out.count, [](const CutRange& x, const CutRange& y) { return x.from < y.from; });
  int n = 0;
  for (int k = 0; k < out.count; ++k) {
    const CutRange r = b[k];
    if (n > 0 && static_cast<std::int64_t>(r.from) <= static_cast<std::int64_t>(b[n - 1].to) + 1) {
      b[n - 1].to = std::max(b[n - 1].to, r.to);
    } else {
      b[n++] = r;
    }
  }
  out.count = n;
  return CutParse::kOk;
}

}  // namespace filters

using namespace filters;

namespace {

// Output blocks.
constexpr std::size_t kTrOut = 8192;
using CutOut = BlockOut<16384>;

// ---------------------------------------------------------------- cut

// Whether position n is selected; positions are asked in rising order
// within a line, so a cursor walks the sorted ranges.
class Selection {
 public:
  explicit Selection(const CutList& list) : list_(list) {}
  void restart() { cur_ = 0; }
  bool selected(std::int32_t n) {
    while (cur_ < list_.count && list_.ranges[static_cast<std::size_t>(cur_)].to < n) ++cur_;
    return cur_ < list_.count && list_.ranges[static_cast<std::size_t>(cur_)].from <= n;
  }
  // Nothing at n or after it is selected.
  bool past_end(std::int32_t n) const {
    return list_.count == 0 || list_.ranges[static_cast<std::size_t>(list_.count - 1)].to < n;
  }

 private:
  const CutList& list_;
  int cur_ = 0;
};

void cut_columns(FilterInput& in, const CutList& list, CutOut& out) {
  Selection sel(list);
  std::int32_t pos = 0;
  char* block = filter_block();
  for (;;) {
    const long n = in.read(block, static_cast<long>(kFilterBlock));
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      const char c = block[i];
      if (c == '\n') {
        out.put(c);
        pos = 0;
        sel.restart();
      } else if (c == '\r') {
        out.put(c);
      } else {
        if (pos < kCutOpenEnd) ++pos;
        if (sel.selected(pos)) out.put(c);
      }
    }
  }
}

// Field selection over one input.  Byte classes: plain, delimiter, LF
// (ends a line unless it is a delimiter), CR (never field content).
class FieldCutter {
 public:
  enum : unsigned char { kPlain = 0, kDelim = 1, kLineEnd = 2, kCr = 3 };

  FieldCutter(const CutList& list, std::string_view delims, bool suppress, FilterInput& in,
              CutOut& out)
      : sel_(list), suppress_(suppress), multi_(delims.size() > 1), joiner_(delims[0]), in_(in),
        out_(out) {
    cls_.fill(kPlain);
    cls_['\r'] = kCr;
    cls_['\n'] = kLineEnd;
    for (char d : delims) cls_[static_cast<unsigned char>(d)] = kDelim;
    record_ = cls_['\n'] == kDelim;
    // The held start of a line can be read again only from a file read
    // in binary at known offsets.
    base_ = in.text() ? -1 : plat::lseek(in.fd(), 0, plat::kSeekCur);
    line_start_ = base_;
    start_line();
  }

  void run() {
    char* block = filter_block();
    for (;;) {
      const long n = in_.read(block, static_cast<long>(kFilterBlock));
      if (n <= 0) break;
      feed(block, static_cast<std::size_t>(n));
      if (base_ >= 0) base_ += n;
    }
    finish();
  }

 private:
  void start_line() {
    sel_.restart();
    written_ = false;
    has_delim_ = false;
    last_cr_ = false;
    held_len_ = 0;
    held_over_ = false;
    in_field_ = false;
    any_ = false;
    fno_ = 0;
    if (!multi_) begin_field();
  }

  // A new field begins: numbered, and joined to the last written one.
  void begin_field() {
    if (fno_ < kCutOpenEnd) ++fno_;
    in_field_ = true;
    selected_ = sel_.selected(fno_);
    if (selected_) {
      if (written_) emit(&joiner_, 1);
      written_ = true;
    }
  }

  // Output of the line so far.  With -s it is held back until the line
  // shows a delimiter (only the first field can be held).
  void emit(const char* p, std::size_t n) {
    if (!suppress_ || has_delim_) {
      out_.put(p, n);
      return;
    }
    if (held_over_) return;
    if (n <= held_.size() - held_len_) {
      std::copy_n(p, n, held_.data() + held_len_);
      held_len_ += n;
      return;
    }
    // Longer than the hold: it is read again from the file once the
    // delimiter comes.
    if (line_start_ < 0) fatal_error(VEK_ERR(kErrLimit), "cut: Zeile");
    held_over_ = true;
  }

  // The first delimiter of the line: what was held goes out.
  void delimiter_seen(std::int64_t at) {
    if (has_delim_) return;
    has_delim_ = true;
    if (!held_over_) {
      out_.put(held_.data(), held_len_);
    } else {
      replay(line_start_, at);
    }
    held_len_ = 0;
    held_over_ = false;
  }

  // Writes the bytes of the input from offset `from` up to `to` again,
  // without CR, and goes back to where reading stood.
  void replay(std::int64_t from, std::int64_t to) {
    const int fd = in_.fd();
    const std::int64_t here = sys_lseek(fd, 0, plat::kSeekCur);
    sys_lseek(fd, from, plat::kSeekSet);
    std::array<char, 4096> buf;
    while (from < to) {
      const long want = static_cast<long>(std::min<std::int64_t>(to - from, static_cast<std::int64_t>(buf.size())));
      const long n = read_quiet(fd, buf.data(), want);
      if (n <= 0) break;
      for (long i = 0; i < n; ++i)
        if (buf[static_cast<std::size_t>(i)] != '\r') out_.put(buf[static_cast<std::size_t>(i)]);
      from += n;
    }
    sys_lseek(fd, here, plat::kSeekSet);
  }

  void end_line(bool with_lf) {
    const bool drop = suppress_ && !has_delim_;
    if (!drop) {
      if (record_) {
        out_.put("\r\n");
      } else if (with_lf) {
        if (last_cr_) out_.put('\r');
        out_.put('\n');
      } else if (last_cr_) {
        out_.put('\r');
      }
    }
    start_line();
  }

  void feed(const char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
      const unsigned char b = static_cast<unsigned char>(p[i]);
      const unsigned char c = cls_[b];
      if (c == kPlain) {
        // A run of field content.
        std::size_t j = i + 1;
        while (j < n && cls_[static_cast<unsigned char>(p[j])] == kPlain) ++j;
        if (!in_field_) begin_field();
        if (selected_) emit(p + i, j - i);
        last_cr_ = false;
        any_ = true;
        i = j;
        // Nothing further of this line is selected: on to its end.
        if (!record_ && (has_delim_ || !suppress_) && sel_.past_end(fno_)) {
          while (i < n && p[i] != '\n') {
            last_cr_ = p[i] == '\r';
            ++i;
          }
          if (i < n) {
            end_line(true);
            ++i;
            if (base_ >= 0) line_start_ = base_ + static_cast<std::int64_t>(i);
          }
        }
        continue;
      }
      any_ = true;
      if (c == kCr) {
        last_cr_ = true;
      } else if (c == kDelim) {
        last_cr_ = false;
        delimiter_seen(base_ >= 0 ? base_ + static_cast<std::int64_t>(i) : -1);
        if (multi_) {
          in_field_ = false;
        } else {
          // A line of the record ends with its LF: the next field opens
          // only with what follows, so a final LF adds no empty field.
          if (!in_field_) begin_field();
          if (record_ && b == '\n') in_field_ = false;
          else begin_field();
        }
      } else {
        end_line(true);
        if (base_ >= 0) line_start_ = base_ + static_cast<std::int64_t>(i) + 1;
      }
      ++i;
    }
  }

  void finish() {
    // The record (LF among the delimiters) ends at the end of the input;
    // a last line without LF ends there without one.
    if (any_) end_line(false);
  }

  Selection sel_;
  bool suppress_;
  bool multi_;
  char joiner_;
  FilterInput& in_;
  CutOut& out_;
  std::array<unsigned char, 256> cls_;
  bool record_ = false;
  std::int64_t base_ = -1;        // input offset of the block being fed
  std::int64_t line_start_ = -1;  // input offset of the line's first byte
  std::int32_t fno_ = 0;
  bool in_field_ = false;
  bool selected_ = false;
  bool written_ = false;
  bool has_delim_ = false;
  bool last_cr_ = false;
  bool any_ = false;  // the line has bytes
  std::array<char, 8192> held_;
  std::size_t held_len_ = 0;
  bool held_over_ = false;
};

[[noreturn]] void cut_bad_options() {
  fatal_error(VEK_ERR(kErrSyntax), "cut: Optionen");
}

}  // namespace

int bi_tr(int argc, char** argv) {
  bool complement = false, del = false, squeeze = false;
  int k = 1;
  // One option word: - and at most c, d, s in this order, each once.
  if (k < argc && argv[k][0] == '-') {
    const char* p = argv[k] + 1;
    complement = *p == 'c';
    if (complement) ++p;
    del = *p == 'd';
    if (del) ++p;
    squeeze = *p == 's';
    if (squeeze) ++p;
    if (*p == '\0') ++k;  // an option word; anything else is string1
    else complement = del = squeeze = false;
  }
  if (argc - k > 2) fatal_error(VEK_ERR(kErrArguments), "tr [-cds] [string1 [string2]]");
  TrString s1, s2;
  for (int n = 0; n < 2; ++n) {
    const char* spec = k + n < argc ? argv[k + n] : "";
    const TrParse r = tr_expand(spec, n == 0 ? s1 : s2);
    if (r == TrParse::kSyntax) shell_error(VEK_ERR(kErrSyntax), "tr: string1/string2");
    if (r == TrParse::kTooLong) shell_error(VEK_ERR(kErrLimit), "tr: string1/string2");
    if (r != TrParse::kOk) return 1;
  }
  if (complement) {
    std::array<bool, 256> in{};
    for (std::size_t i = 0; i < s1.len; ++i) in[s1.bytes[i]] = true;
    s1.len = 0;
    for (unsigned b = 0; b < 256; ++b)
      if (!in[b]) s1.bytes[s1.len++] = static_cast<unsigned char>(b);
  }
  std::array<unsigned char, 256> map;
  for (unsigned b = 0; b < 256; ++b) map[b] = static_cast<unsigned char>(b);
  const std::size_t common = std::min(s1.len, s2.len);
  for (std::size_t i = 0; i < common; ++i) map[s1.bytes[i]] = s2.bytes[i];
  std::array<bool, 256> drop{};
  if (del)
    for (std::size_t i = 0; i < s1.len; ++i) drop[s1.bytes[i]] = true;
  std::array<bool, 256> squeezed{};
  if (squeeze)
    for (std::size_t i = 0; i < common; ++i) squeezed[s2.bytes[i]] = true;

  char* buf = filter_block();
  if (!del && !squeeze) {
    for (;;) {
      const long n = read_quiet(0, buf, static_cast<long>(kFilterBlock));
      if (n <= 0) break;
      // Eight bytes at a time, as one word: all eight are looked up before
      // anything is stored (a byte store could alias the table), and the
      // compiler's vector form of the byte loop, which has to emulate the
      // lookups, is avoided.
      auto* p = reinterpret_cast<unsigned char*>(buf);
      long i = 0;
      for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        std::uint64_t o = 0;
        for (int k = 0; k < 64; k += 8) o |= static_cast<std::uint64_t>(map[(w >> k) & 0xFF]) << k;
        std::memcpy(p + i, &o, 8);
      }
      for (; i < n; ++i) p[i] = map[p[i]];
      sys_write(1, buf, n);
    }
    return 0;
  }
  if (!squeeze) {
    // Deleting only: the bytes kept are not in string1, so the map leaves
    // them as they are; each block is closed up in place.
    for (;;) {
      const long n = read_quiet(0, buf, static_cast<long>(kFilterBlock));
      if (n <= 0) break;
      long kept = 0;
      for (long i = 0; i < n; ++i) {
        const char b = buf[i];
        buf[kept] = b;
        kept += drop[static_cast<unsigned char>(b)] ? 0 : 1;
      }
      if (kept > 0) sys_write(1, buf, kept);
    }
    return 0;
  }
  BlockOut<kTrOut> out(1);
  int last = -1;
  for (;;) {
    const long n = read_quiet(0, buf, static_cast<long>(kFilterBlock));
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      const unsigned char b = static_cast<unsigned char>(buf[i]);
      if (drop[b]) continue;
      const unsigned char o = map[b];
      if (squeezed[o] && o == last) continue;
      out.put(static_cast<char>(o));
      last = o;
    }
  }
  out.flush();
  return 0;
}

int bi_cut(int argc, char** argv) {
  bool chars = false, fields = false, suppress = false, text = false;
  const char* list_text = nullptr;
  std::string_view delims;
  bool delims_given = false;
  int k = 1;
  for (; k < argc && argv[k][0] == '-'; ++k) {
    const char* w = argv[k] + 1;
    switch (*w) {
      case 'c':
      case 'f':
        if (chars || fields) cut_bad_options();
        (*w == 'c' ? chars : fields) = true;
        list_text = w + 1;
        break;
      case 'l': {
        CutList list;
        if (cut_parse_list(w + 1, list) != CutParse::kOk) cut_bad_options();
        BlockOut<256> out(1);
        for (int n = 0; n < list.count; ++n) {
          char piece[32];
          const int len = format_buf(piece, "%s%d-%d", n == 0 ? "" : ",", list.ranges[static_cast<std::size_t>(n)].from,
                                     list.ranges[static_cast<std::size_t>(n)].to);
          out.put(piece, static_cast<std::size_t>(len));
        }
        out.put("\r\n");
        out.flush();
        return 0;
      }
      case 'd':
        if (w[1] == '\0') cut_bad_options();
        delims = w + 1;
        delims_given = true;
        break;
      case 's':
      case 'T':
      case 'B':
        for (; *w; ++w) {
          if (*w == 's') suppress = true;
          else if (*w == 'T') text = true;
          else if (*w == 'B') text = false;
          else cut_bad_options();
        }
        break;
      default:
        cut_bad_options();
    }
  }
  if (chars == fields || (chars && (delims_given || suppress))) cut_bad_options();
  CutList list;
  if (cut_parse_list(list_text, list) != CutParse::kOk) cut_bad_options();
  if (!delims_given) delims = "\t";

  CutOut out(1);
  auto cut_one = [&](FilterInput& in) {
    if (chars) {
      cut_columns(in, list, out);
    } else {
      FieldCutter cutter(list, delims, suppress, in, out);
      cutter.run();
    }
  };
  FilterInput in;
  int status = 0;
  if (k >= argc) {
    in.use_stdin();
    cut_one(in);
  }
  for (; k < argc; ++k) {
    if (!in.open(argv[k], text)) {
      status = 1;
      continue;
    }
    cut_one(in);
    in.close();
  }
  out.flush();
  return status;
}

}  // namespace vek
