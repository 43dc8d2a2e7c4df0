// The byte filters: the visible form of cat, the counts of wc, tr strings,
// cut lists, base format words, text-mode reading and the crc register;
// and a few runs of the builtins themselves on files and standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "builtins/filters.h"
#include "capture.h"
#include "io/textmode.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/special.h"

namespace vek {
namespace {

using testing_support::Capture;
using testing_support::TempFile;
using namespace filters;

using Handler = int (*)(int, char**);

// Puts a file with the given bytes on descriptor 0 while it lives.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& bytes) : file_(bytes) {
    saved_ = dup(0);
    const int fd = open_read(file_.path());
    dup2(fd, 0);
    close(fd);
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
  }

 private:
  static int open_read(const std::string& p) { return ::open(p.c_str(), O_RDONLY); }
  TempFile file_;
  int saved_;
};

int call(Handler h, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return h(static_cast<int>(words.size()), argv.data());
}

// Standard output of a handler run with `input` on standard input.
std::string run(Handler h, std::vector<std::string> words, const std::string& input = "", int* status = nullptr) {
  StdinFrom in(input);
  Capture out(1);
  const int r = call(h, std::move(words));
  if (status != nullptr) *status = r;
  return out.text();
}

class Filters : public ::testing::Test {
 protected:
  void SetUp() override { reset_interpreter(); }
};

// ---------------------------------------------------------------- cat

TEST(CatVisible, Forms) {
  struct Case {
    unsigned char byte;
    unsigned flags;
    std::string form;
  } cases[] = {
      {1, 0, "^A"},        {8, 0, "^H"},          {11, 0, "^K"},       {14, 0, "^N"},
      {27, 0, "^["},       {28, 0, "^\\"},        {31, 0, "^_"},       {9, 0, "\t"},
      {9, kCatTabs, "^I"}, {12, 0, "\f"},         {12, kCatTabs, "^L"}, {10, 0, "\n"},
      {10, kCatDollar, "$\n"}, {13, 0, "\r"},     {0, 0, std::string(1, '\0')}, {0, kCatNul, "\\0"},
      {127, 0, "\\127"},   {155, 0, "\\155"},     {255, 0, "\\255"},   {200, 0, "\xc8"},
      {200, kCatHigh, "\\200"}, {128, kCatHigh, "\\128"}, {'a', kCatHigh, "a"},
  };
  for (const auto& c : cases) {
    char out[8];
    const std::size_t n = cat_visible(c.byte, c.flags, out);
    EXPECT_EQ(std::string(out, n), c.form) << int(c.byte) << " flags " << c.flags;
  }
}

// ---------------------------------------------------------------- wc

TEST_F(Filters, WcCountsDoNotDependOnThePieces) {
  const std::string data = "one two\tthree\n\nfour  five\r\nsix";
  WcCounter whole(ifs_table);
  whole.feed(data.data(), data.size());
  const WcCounts w = whole.finish();
  EXPECT_EQ(w.lines, 4u);
  EXPECT_EQ(w.words, 6u);
  EXPECT_EQ(w.bytes, data.size());
  EXPECT_EQ(w.longest_line, 14u);  // "one two\tthree" and its LF
  EXPECT_EQ(w.longest_word, 5u);
  for (std::size_t cut = 0; cut <= data.size(); ++cut) {
    WcCounter split(ifs_table);
    split.feed(data.data(), cut);
    split.feed(data.data() + cut, data.size() - cut);
    const WcCounts s = split.finish();
    EXPECT_EQ(s.lines, w.lines) << cut;
    EXPECT_EQ(s.words, w.words) << cut;
    EXPECT_EQ(s.longest_line, w.longest_line) << cut;
    EXPECT_EQ(s.longest_word, w.longest_word) << cut;
    EXPECT_EQ(s.distinct, w.distinct) << cut;
  }
  WcCounter empty(ifs_table);
  const WcCounts e = empty.finish();
  EXPECT_EQ(e.lines + e.words + e.bytes + e.distinct, 0u);
}

// ---------------------------------------------------------------- tr

TEST(TrStrings, Expansion) {
  struct Case {
    const char* spec;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"[a-e]", "abcde"},
      {"[e-a]", "edcba"},
      {"[x-x]", "x"},
      {"\\65\\066\\9", "AB\t"},
      {"\\1234", "{4"},          // three digits at most
      {"\\[\\\\\\q", "[\\\\q"},  // \[ and \\; another \ is itself
      {"a]b-c", "a]b-c"},
      {"[x*3]", "xxx"},
      {"[\\0*2]", std::string(2, '\0')},
      {"[\\[-\\]]", "[\\]"},
      {"ab[-*2]", "ab--"},
  };
  for (const auto& c : cases) {
    TrString s;
    ASSERT_EQ(tr_expand(c.spec, s), TrParse::kOk) << c.spec;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.bytes.data()), s.len), c.bytes) << c.spec;
  }
  TrString s;
  ASSERT_EQ(tr_expand("ab[c*]", s), TrParse::kOk);
  EXPECT_EQ(s.len, 256u);
  EXPECT_EQ(s.bytes[255], 'c');
  ASSERT_EQ(tr_expand("[\\0-\\255]", s), TrParse::kOk);
  EXPECT_EQ(s.len, 256u);

  for (const char* bad : {"[", "[a", "[a-", "[a-b", "[abc]", "x[a*12x]", "[a*1234]", "[]"})
    EXPECT_EQ(tr_expand(bad, s), TrParse::kSyntax) << bad;
  for (const char* longer : {"[a*]b", "[a*200][b*57]", "x[\\0-\\255]"})
    EXPECT_EQ(tr_expand(longer, s), TrParse::kTooLong) << longer;
}

TEST_F(Filters, TrOptionWordAndTranslation) {
  EXPECT_EQ(run(bi_tr, {"tr", "-s", " "}, "a   b\n"), "a   b\n");  // no string2: no squeezing
  EXPECT_EQ(run(bi_tr, {"tr", "-cd", "[0-9]"}, "a1b22c\n"), "122");
  EXPECT_EQ(run(bi_tr, {"tr", "-ds", "x", "ab"}, "xaaxbbc\n"), "abbc\n");  // squeeze set: a
  EXPECT_EQ(run(bi_tr, {"tr", "-c", "a", "[-*]"}, "abc"), "a--");
  EXPECT_EQ(run(bi_tr, {"tr", "-dc", "a"}, "-dca"), "adca");  // letters out of order: string1
  EXPECT_EQ(run(bi_tr, {"tr", "ab", "x"}, "abab"), "xbxb");   // shorter string2
  EXPECT_EQ(run(bi_tr, {"tr"}, std::string("a\0b", 3)), std::string("a\0b", 3));
}

// ---------------------------------------------------------------- cut

std::string list_text(const CutList& l) {
  std::string s;
  for (int i = 0; i < l.count; ++i)
    s += (i ? "," : "") + std::to_string(l.ranges[i].from) + "-" + std::to_string(l.ranges[i].to);
  return s;
}

TEST(CutLists, Normalised) {
  struct Case {
    const char* text;
    const char* normal;
  } cases[] = {
      {"3-5,1-2,9", "1-5,9-9"},
      {"1", "1-1"},
      {"-3", "1-3"},
      {"7-", "7-2147483647"},
      {"2-8,3-4", "2-8"},        // contained
      {"2-5,4-9,11-12,10", "2-12"},
      {"5,5,5", "5-5"},
      {"2147483647", "2147483647-2147483647"},
      {"9-,1-", "1-2147483647"},
  };
  for (const auto& c : cases) {
    CutList l;
    ASSERT_EQ(cut_parse_list(c.text, l), CutParse::kOk) << c.text;
    EXPECT_EQ(list_text(l), c.normal) << c.text;
  }
  for (const char* bad : {"", "0", "1-0", "5-3", "a", "1,", ",1", "1-2-3", "-", "1;2", "2147483648", "3-x"}) {
    CutList l;
    EXPECT_EQ(cut_parse_list(bad, l), CutParse::kBad) << bad;
  }
  std::string many;
  for (int i = 1; i <= 128; ++i) many += (i > 1 ? "," : "") + std::to_string(i * 2);
  CutList l;
  EXPECT_EQ(cut_parse_list(many.c_str(), l), CutParse::kOk);
  EXPECT_EQ(l.count, 128);
  EXPECT_EQ(cut_parse_list((many + ",999").c_str(), l), CutParse::kTooMany);
}

TEST_F(Filters, CutHoldsALongFirstFieldUntilItsDelimiter) {
  // With -s the first field waits for the delimiter; one longer than the
  // hold is read again from the file.
  for (std::size_t n : {10u, 8191u, 8192u, 8193u, 70000u, 140000u}) {
    const std::string field(n, 'x');
    const std::string data = "a:b\n" + field + ":tail\r\n" + field + "\nlast:1";
    TempFile f(data);
    // Compared as a whole, shown by size: the texts are long.
    auto same = [](const std::string& got, const std::string& want) {
      EXPECT_TRUE(got == want) << got.size() << " bytes instead of " << want.size();
    };
    same(run(bi_cut, {"cut", "-s", "-f1", "-d:", f.path()}), "a\n" + field + "\r\nlast");
    same(run(bi_cut, {"cut", "-s", "-f2,1", "-d:", f.path()}), "a:b\n" + field + ":tail\r\nlast:1");
    // The same from standard input (a file there too).
    same(run(bi_cut, {"cut", "-s", "-f1", "-d:"}, data), "a\n" + field + "\r\nlast");
  }
}

TEST_F(Filters, CutCannotHoldALongFirstFieldFromAPipe) {
  // A pipe cannot be read again: a first field over the hold is refused,
  // a shorter one is handled.
  for (std::size_t n : {100u, 9000u}) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const std::string data = std::string(n, 'x') + ":y\n";
    ASSERT_EQ(write(p[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(p[1]);
    const int saved = dup(0);
    dup2(p[0], 0);
    close(p[0]);
    Capture out(1);
    Capture err(2);
    last_status = 0;
    if (n < 8192) {
      EXPECT_EQ(call(bi_cut, {"cut", "-s", "-f1", "-d:"}), 0);
      EXPECT_EQ(out.text(), std::string(n, 'x') + "\n");
    } else {
      EXPECT_THROW(call(bi_cut, {"cut", "-s", "-f1", "-d:"}), ProcessExit);
      EXPECT_EQ(last_status, (kErrLimit + 1) | 16);
      EXPECT_NE(err.text().find("Limit erreicht: 'cut: Zeile'"), std::string::npos);
    }
    dup2(saved, 0);
    close(saved);
  }
}

TEST_F(Filters, CutFieldsAndColumns) {
  TempFile f("a:b:c\nx\n1::3\r\n:lead\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-f2", "-d:", f.path()}), "b\n\n\r\nlead\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-f1,3", "-d:", f.path()}), "a:c\nx\n1:3\r\n\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-s", "-f3-", "-d:", f.path()}), "c\n3\r\n\n");
  TempFile g("  a  b:c::d  \n\n:::\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-f1-2", "-d :", g.path()}), "a b\n\n\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-f2,4", "-d :", g.path()}), "b d\n\n\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-s", "-f1", "-d :", g.path()}), "a\n\n");
  TempFile h("abcdef\r\nxy\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-c2-3,5", h.path()}), "bce\r\ny\n");
  // LF among the delimiters: the input is one record of lines.
  TempFile r("one\r\ntwo\nthree\n");
  EXPECT_EQ(run(bi_cut, {"cut", "-f2-3", "-d\n", r.path()}), "two\nthree\r\n");
}

// ---------------------------------------------------------------- sum

TEST_F(Filters, SumUnitsAreCompletedAcrossBlocks) {
  // A last unit cut short is padded.
  EXPECT_EQ(run(bi_sum, {"sum", "-l"}, "\xff\xff\xff\xff\x01"), "0\r\n");  // wraps
  EXPECT_EQ(run(bi_sum, {"sum", "-L"}, "\xff\xff\xff\x7f\x01"), "-2147483648\r\n");
  // An odd first block must not shift the units of the rest: the sum of
  // an input read in pieces of 8192 + 1 bytes equals that of the whole.
  std::string data(3 * 8192 + 7, '\0');
  std::mt19937 rng(5);
  for (auto& c : data) c = static_cast<char>(rng());
  std::uint32_t expect = 0;
  for (std::size_t i = 0; i < data.size(); i += 2)
    expect += static_cast<unsigned char>(data[i]) | (i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) << 8 : 0);
  char text[16];
  format_signed(text, static_cast<std::int32_t>(expect));
  EXPECT_EQ(run(bi_sum, {"sum", "-w"}, data), std::string(text) + "\r\n");
}

// ---------------------------------------------------------------- base

TEST(BaseSpecs, Parse) {
  // The spec points into the words: they live as long as the test.
  std::vector<std::vector<std::string>> kept;
  auto parse = [&kept](std::vector<std::string> words, BaseSpec& spec) {
    kept.push_back(std::move(words));
    std::vector<char*> argv;
    for (auto& w : kept.back()) argv.push_back(w.data());
    return base_parse(static_cast<int>(argv.size()), argv.data(), spec);
  };
  BaseSpec s;
  ASSERT_TRUE(parse({"-10", "+16"}, s));
  EXPECT_EQ(s.in.base, 10);
  EXPECT_EQ(s.out.base, 16);
  ASSERT_TRUE(parse({"-u3LL+#2wu5", "in", "out"}, s));
  EXPECT_EQ(s.in.fd, 3);
  EXPECT_EQ(s.in.unit, 4);
  EXPECT_TRUE(s.in.big_endian);
  EXPECT_TRUE(s.out.hash);
  EXPECT_EQ(s.out.base, 2);
  EXPECT_EQ(s.out.unit, 2);
  EXPECT_EQ(s.out.fd, 5);
  EXPECT_STREQ(s.in_var, "in");
  EXPECT_STREQ(s.out_var, "out");
  ASSERT_TRUE(parse({"8"}, s));  // digits first: the input side
  EXPECT_EQ(s.in.base, 8);
  ASSERT_TRUE(parse({"-W+llb"}, s));
  EXPECT_EQ(s.in.unit, 2);
  EXPECT_EQ(s.out.unit, 1);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"-x"}, {"-1"}, {"-37"}, {"+300"}, {"-u"}, {"-ux"}, {"a", "b", "c"}, {"-1", "-2", "-3", "-4", "-5"}, {"+16 "}})
    EXPECT_FALSE(parse(bad, s)) << bad[0];
  ASSERT_TRUE(parse({"-256", "+36"}, s));
}

TEST_F(Filters, BaseConversions) {
  EXPECT_EQ(run(bi_base, {"base"}, ""), "");
  std::string bytes;
  for (int i = 0; i < 17; ++i) bytes += static_cast<char>(i * 15);
  EXPECT_EQ(run(bi_base, {"base"}, bytes),
            "0 f 1e 2d 3c 4b 5a 69 78 87 96 a5 b4 c3 d2 e1\r\nf0\r\n");
  EXPECT_EQ(run(bi_base, {"base", "-10", "+w"}, "300 65"), std::string("\x2c\x01\x41\x00", 4));
  EXPECT_EQ(run(bi_base, {"base", "-10", "+W"}, "300"), std::string("\x01\x2c", 2));
  EXPECT_EQ(run(bi_base, {"base", "-l", "+10"}, std::string("\xff\xff\xff\xff\x05", 5)), "-1 5\r\n");
  EXPECT_EQ(run(bi_base, {"base", "-L", "+16#"}, std::string("\x01\x02\x03\x04", 4)), "16#1020304\r\n");
  EXPECT_EQ(run(bi_base, {"base", "-#", "+10"}, "16#ff 8#17\n2#101\t12"), "255 15 5 12\r\n");
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += "1 ";
  EXPECT_EQ(run(bi_base, {"base", "-10", "+10"}, sixteen), "1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\r\n");
}

// ---------------------------------------------------------------- text mode

TEST(TextMode, CrLfBecomesLfAcrossReads) {
  const std::string data = "a\r\nb\r\r\n\r\rc\r";
  TempFile f(data);
  for (long len : {2L, 3L, 4L, 64L}) {
    const int fd = ::open(f.path().c_str(), O_RDONLY);
    TextModeReader r(fd);
    std::string got;
    char buf[64];
    for (long n; (n = r.read(buf, len)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    close(fd);
    EXPECT_EQ(got, "a\nb\r\n\r\rc\r") << len;
  }
}

TEST(TextMode, LfBecomesCrLfWhenWritten) {
  Capture out(1);
  std::string data = "a\nb\r\n" + std::string(9000, '\n');
  text_mode_write(1, data.data(), static_cast<long>(data.size()));
  std::string expect = "a\r\nb\r\r\n";
  for (int i = 0; i < 9000; ++i) expect += "\r\n";
  EXPECT_EQ(out.text(), expect);
}

// ---------------------------------------------------------------- crc

// The register one bit at a time, low bit of each byte first.
std::uint32_t crc_bits(const std::string& data) {
  std::uint32_t r = 0xC704DA7Bu;
  for (unsigned char b : data)
    for (int bit = 0; bit < 8; ++bit) r = ((r >> 31) != ((b >> bit) & 1u)) ? (r << 1) ^ 0x04C11DB7u : r << 1;
  return r;
}

TEST(Crc, EveryLengthAndAlignment) {
  std::mt19937 rng(11);
  std::string data(5000, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  for (std::size_t start : {0u, 1u, 3u, 8u}) {
    for (std::size_t len : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u, 255u, 1000u, 4096u, 4990u}) {
      const std::string piece = data.substr(start, len);
      crc_update(nullptr, 0);
      EXPECT_EQ(crc_update(piece.data(), piece.size()), crc_bits(piece)) << start << "+" << len;
      // In two calls, cut anywhere.
      crc_update(nullptr, 0);
      crc_update(piece.data(), len / 3);
      EXPECT_EQ(crc_update(piece.data() + len / 3, len - len / 3), crc_bits(piece)) << start << "+" << len;
    }
  }
}

}  // namespace
}  // namespace vek
