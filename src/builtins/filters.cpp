// The byte filters cat, wc, tee, rel and crc.  Each reads its files (or
// standard input) in fixed blocks and writes through a fixed block; none
// keeps more than one block of its input.
#include "builtins/filters.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "builtins/builtins.h"
#include "builtins/filterio.h"
#include "io/fdio.h"
#include "io/textmode.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/special.h"

namespace vek {

namespace filters {

// ---------------------------------------------------------------- cat -v

std::size_t cat_visible(unsigned char b, unsigned flags, char* out) {
  // Letters of the control bytes 0..31; blanks mark bytes that stay as
  // they are (or have a form of their own).
  static constexpr std::string_view kControl = " ABCDEFGH  K  NOPQRSTUVWXYZ[\\]^_";
  std::size_t n = 0;
  if (b < 32 && kControl[b] != ' ') {
    out[n++] = '^';
    out[n++] = kControl[b];
  } else if ((b == 9 || b == 12) && (flags & kCatTabs)) {
    out[n++] = '^';
    out[n++] = b == 9 ? 'I' : 'L';
  } else if (b == 0 && (flags & kCatNul)) {
    out[n++] = '\\';
    out[n++] = '0';
  } else if (b == '\n' && (flags & kCatDollar)) {
    out[n++] = '$';
    out[n++] = '\n';
  } else if (b == 127 || b == 155 || b == 255 || (b > 127 && (flags & kCatHigh))) {
    out[n++] = '\\';
    n += static_cast<std::size_t>(format_unsigned(out + n, b));
  } else {
    out[n++] = static_cast<char>(b);
  }
  return n;
}

// ---------------------------------------------------------------- wc

void WcCounter::feed(const char* p, std::size_t n) {
  c_.bytes += n;
  std::uint64_t line = line_;
  std::uint64_t word = word_;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = static_cast<unsigned char>(p[i]);
    seen_[b] = 1;
    ++line;
    if (b == '\n') {
      ++c_.lines;
      c_.longest_line = std::max(c_.longest_line, line);
      line = 0;
    }
    if (sep_[b]) {
      if (word != 0) {
        ++c_.words;
        c_.longest_word = std::max(c_.longest_word, word);
        word = 0;
      }
    } else {
      ++word;
    }
  }
  line_ = line;
  word_ = word;
}

void WcCounter::feed_lines(const char* p, std::size_t n) {
  if (n == 0) return;
  c_.bytes += n;
  // memchr finds the line feeds many bytes at a time.
  std::uint64_t lines = 0;
  for (const char* q = p; (q = static_cast<const char*>(std::memchr(q, '\n', static_cast<std::size_t>(p + n - q)))) != nullptr; ++q)
    ++lines;
  c_.lines += lines;
  // All finish needs: whether a last line without LF is open.
  line_ = p[n - 1] == '\n' ? 0 : 1;
}

WcCounts WcCounter::finish() {
  // A last line without LF is a line; a last word is a word.
  if (line_ != 0) {
    ++c_.lines;
    c_.longest_line = std::max(c_.longest_line, line_);
  }
  if (word_ != 0) {
    ++c_.words;
    c_.longest_word = std::max(c_.longest_word, word_);
  }
  line_ = word_ = 0;
  c_.distinct = 0;
  for (unsigned char s : seen_) c_.distinct += s;
  return c_;
}

}  // namespace filters

using namespace filters;

namespace {

// Output block of the visible form.
constexpr std::size_t kCatBlock = 4096;

// ---------------------------------------------------------------- cat

void cat_plain(FilterInput& in) {
  char* block = filter_block();
  for (;;) {
    const long n = in.read(block, static_cast<long>(kFilterBlock));
    if (n <= 0) break;
    sys_write(1, block, n);
  }
}

// The visible forms of all 256 byte values for one set of flags.
struct VisibleTable {
  std::array<std::array<char, 6>, 256> text;
  std::array<unsigned char, 256> len;
  explicit VisibleTable(unsigned flags) {
    for (unsigned b = 0; b < 256; ++b)
      len[b] = static_cast<unsigned char>(cat_visible(static_cast<unsigned char>(b), flags, text[b].data()));
  }
};

void cat_visible_copy(FilterInput& in, const VisibleTable& vis) {
  BlockOut<kCatBlock> out(1);
  char* block = filter_block();
  for (;;) {
    const long n = in.read(block, static_cast<long>(kCatBlock));
    if (n <= 0) break;
    for (long i = 0; i < n; ++i) {
      const unsigned char b = static_cast<unsigned char>(block[i]);
      out.put(vis.text[b].data(), vis.len[b]);
    }
  }
  out.flush();
}

// Right-aligns a count in 11 columns (wider numbers take what they need).
void put_count(BlockOut<256>& out, std::uint64_t v) {
  char digits[24];
  const int n = format_u64(digits, v);
  for (int k = n; k < 11; ++k) out.put(' ');
  for (int k = 0; k < n; ++k) out.put(digits[k]);
}

bool same_bytes(const char* a, std::size_t na, const char* b, std::size_t nb) {
  return na == nb && (na == 0 || std::memcmp(a, b, na) == 0);
}

}  // namespace

int bi_cat(int argc, char** argv) {
  bool visible = false;
  bool silent = false;
  bool text = false;
  unsigned flags = 0;
  bool stdin_only = false;
  int k = 1;
  for (; k < argc && argv[k][0] == '-'; ++k) {
    if (argv[k][1] == '\0') {
      stdin_only = true;
      break;
    }
    for (const char* p = argv[k] + 1; *p; ++p) {
      switch (*p) {
        case 'v': visible = true; break;
        case 's': silent = true; break;
        case 'T': text = true; break;
        case 'n': flags |= kCatNul; break;
        case 't': flags |= kCatTabs; break;
        case 'e': flags |= kCatDollar; break;
        case 'm': flags |= kCatHigh; break;
        default: break;  // B and unknown letters
      }
    }
  }

  std::optional<VisibleTable> vis;
  if (visible) vis.emplace(flags);
  auto copy = [&](FilterInput& in) {
    if (vis) cat_visible_copy(in, *vis);
    else cat_plain(in);
  };

  FilterInput in;
  if (stdin_only || k >= argc) {
    in.use_stdin();
    copy(in);
    return 0;
  }
  int status = 0;
  for (; k < argc; ++k) {
    if (!in.open(argv[k], text)) {
      if (!silent) {
        sys_write_message(2, "cat: \x99" "ffnen fehlgeschlagen: '");
        sys_write_text(2, argv[k]);
        sys_write(2, "'\r\n");
      }
      status = 1;
      continue;
    }
    copy(in);
    in.close();
  }
  return status;
}

int bi_wc(int argc, char** argv) {
  bool lines = false, words = false, bytes = false, maxima = false;
  int k = 1;
  for (; k < argc && argv[k][0] == '-'; ++k) {
    for (const char* p = argv[k] + 1; *p; ++p) {
      switch (*p) {
        case 'l': lines = true; break;
        case 'w': words = true; break;
        case 'c': bytes = true; break;
        case 'm': maxima = true; break;
        default: break;
      }
    }
  }
  if (!lines && !words && !bytes) lines = words = bytes = true;
  const int files = argc - k;
  const bool named = files > 1;

  WcCounts total;
  BlockOut<256> out(1);
  auto report = [&](const WcCounts& c, const char* name) {
    if (maxima) {
      if (lines) put_count(out, c.longest_line);
      if (words) put_count(out, c.longest_word);
      if (bytes) put_count(out, c.distinct);
    } else {
      if (lines) put_count(out, c.lines);
      if (words) put_count(out, c.words);
      if (bytes) put_count(out, c.bytes);
    }
    if (name != nullptr) {
      out.put("  ");
      out.put(name, str_len(name));
    }
    out.put("\r\n");
    out.flush();
  };
  auto count = [&](FilterInput& in) {
    WcCounter counter(ifs_table);
    char* block = filter_block();
    for (;;) {
      const long n = in.read(block, static_cast<long>(kFilterBlock));
      if (n <= 0) break;
      if (words || maxima) counter.feed(block, static_cast<std::size_t>(n));
      else counter.feed_lines(block, static_cast<std::size_t>(n));
    }
    return counter.finish();
  };

  FilterInput in;
  if (files == 0) {
    in.use_stdin();
    report(count(in), nullptr);
    return 0;
  }
  for (; k < argc; ++k) {
    // A file that cannot be opened is skipped without a word.
    if (!in.open(argv[k], false)) continue;
    const WcCounts c = count(in);
    in.close();
    total.lines += c.lines;
    total.words += c.words;
    total.bytes += c.bytes;
    report(c, named ? argv[k] : nullptr);
  }
  if (named && !maxima) report(total, "SUMME");
  return 0;
}

int bi_tee(int argc, char** argv) {
  bool text = false;
  int k = 1;
  for (; k < argc && argv[k][0] == '-' && argv[k][1] != '\0'; ++k) {
    for (const char* p = argv[k] + 1; *p; ++p)
      if (*p == 'T') text = true;
  }
  if (argc - k > 1) fatal_error(VEK_ERR(kErrArguments), "tee [-T] [file]");

  int fd = -1;
  if (k < argc) {
    path_normalize(argv[k]);
    fd = plat::open(argv[k], plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary);
  }
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) plat::close(fd);
    }
  } closer{fd};

  char* block = filter_block();
  for (;;) {
    const long n = read_quiet(0, block, static_cast<long>(kFilterBlock));
    if (n <= 0) break;
    sys_write(1, block, n);
    if (fd < 0) continue;
    if (text) text_mode_write(fd, block, n);
    else sys_write(fd, block, n);
  }
  return fd >= 0 ? 0 : 1;
}

int bi_rel(int argc, char** argv) {
  constexpr std::size_t kLine = 4096;
  // The line last written, and the line being read.
  std::array<char, kLine> last;
  std::size_t last_len = 0;
  bool any = false;
  std::array<char, kLine> line;
  bool failed = false;
  // rel reads descriptor 0 by itself: data that the shared line reader
  // holds from an earlier read is dropped first.
  read_line_buffered(-1, nullptr, -1);
  char* block = filter_block();
  std::size_t pos = 0, end = 0;
  BlockOut<kLine> out(1);
  bool at_end = false;
  while (!at_end) {
    // One line: up to and including its LF, at most kLine bytes.
    std::size_t n = 0;
    for (;;) {
      if (pos == end) {
        const long r = read_quiet(0, block, static_cast<long>(kLine), &failed);
        if (r <= 0) {
          at_end = true;
          break;
        }
        pos = 0;
        end = static_cast<std::size_t>(r);
      }
      const char c = block[pos++];
      line[n++] = c;
      if (c == '\n' || n == kLine) break;
    }
    if (n == 0) break;
    if (any && same_bytes(line.data(), n, last.data(), last_len)) continue;
    // The words name lines by their text: without LF or CR LF.
    std::size_t text = n;
    if (text > 0 && line[text - 1] == '\n') {
      --text;
      if (text > 0 && line[text - 1] == '\r') --text;
    }
    bool listed = false;
    for (int k = 1; k < argc && !listed; ++k) listed = same_bytes(line.data(), text, argv[k], str_len(argv[k]));
    if (listed) continue;
    out.put(line.data(), n);
    std::copy_n(line.data(), n, last.data());
    last_len = n;
    any = true;
  }
  out.flush();
  if (failed) return 2;
  return any ? 0 : 1;
}

int bi_crc(int argc, char** argv) {
  const bool named = argc > 2;
  auto checksum = [&](FilterInput& in, bool console) {
    crc_update(nullptr, 0);
    std::uint32_t r = 0;
    bool data = false;
    char* block = filter_block();
    for (;;) {
      long n = in.read(block, static_cast<long>(kFilterBlock));
      if (n <= 0) break;
      // Typed lines: the line end is no part of the data.
      if (console)
        while (n > 0 && block[n - 1] == '\n') --n;
      if (n == 0) continue;
      r = crc_update(block, static_cast<std::size_t>(n));
      data = true;
    }
    // No data at all gives the final value of a clear register.
    return (data ? r : 0u) ^ 0xE82CB678u;
  };

  FilterInput in;
  if (argc < 2) {
    in.use_stdin();
    format_out(1, "%lu\r\n", checksum(in, sys_isatty(0)));
    return 0;
  }
  for (int k = 1; k < argc; ++k) {
    if (!in.open(argv[k], false)) continue;  // skipped silently
    const std::uint32_t v = checksum(in, false);
    in.close();
    if (named) format_out(1, "%s:%lu\r\n", argv[k], v);
    else format_out(1, "%lu\r\n", v);
  }
  return 0;
}

}  // namespace vek
