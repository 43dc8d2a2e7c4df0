// sortl: options, key fields, the order of two lines, and whole runs on
// files (in place, several inputs, too little memory).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "builtins/builtins.h"
#include "builtins/sortl.h"
#include "capture.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {
namespace {

using testing_support::Capture;
using testing_support::TempFile;
using namespace sortl;

struct Words {
  explicit Words(std::vector<std::string> w) : words(std::move(w)) {
    for (auto& s : words) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  std::vector<std::string> words;
  std::vector<char*> argv;
};

// Output and status of sortl with these words.
std::string sortl_out(std::vector<std::string> words, int* status = nullptr) {
  Words w(std::move(words));
  Capture out(1);
  const int r = bi_sortl(w.argc(), w.argv.data());
  if (status != nullptr) *status = r;
  return out.text();
}

class Sortl : public ::testing::Test {
 protected:
  void SetUp() override { reset_interpreter(); }
  void TearDown() override { set_memory_cap(0); }
};

Options options(std::vector<std::string> words) {
  static std::vector<Words> kept;  // the -o path points into its word
  kept.emplace_back(std::move(words));
  Options opt;
  parse_options(kept.back().argc(), kept.back().argv.data(), opt);
  return opt;
}

TEST_F(Sortl, Options) {
  Options o = options({"sortl"});
  EXPECT_EQ(o.key_count, 4);
  EXPECT_EQ(o.keys[3].field, 4);
  EXPECT_TRUE(o.delimiter[' '] && o.delimiter['\t'] && !o.delimiter[':']);
  o = options({"sortl", "-rcf2nr,3rn,1", "-d:;", "-T whatever", "file"});
  EXPECT_TRUE(o.reverse);
  ASSERT_EQ(o.key_count, 3);
  EXPECT_TRUE(o.keys[0].numeric && o.keys[0].reverse && o.keys[0].field == 2);
  EXPECT_TRUE(o.keys[1].numeric && o.keys[1].reverse && o.keys[1].field == 3);
  EXPECT_FALSE(o.keys[2].numeric || o.keys[2].reverse);
  EXPECT_TRUE(o.delimiter[':'] && o.delimiter[';'] && !o.delimiter[' ']);
  o = options({"sortl", "-f"});  // ignored
  EXPECT_EQ(o.key_count, 4);
  o = options({"sortl", "-f2x,3"});  // x ends the key list
  ASSERT_EQ(o.key_count, 1);
  EXPECT_EQ(o.keys[0].field, 2);
  o = options({"sortl", "-f1,2,3,4"});
  EXPECT_EQ(o.key_count, 4);
  o = options({"sortl", "-oout.txt"});
  EXPECT_STREQ(o.output, "out.txt");

  Capture err(2);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"sortl", "-x"}, {"sortl", "-rq"}, {"sortl", "-f1,2,3,4,5"}, {"sortl", "-oa", "-ob"}, {"sortl", "-o"},
           {"sortl", "-o/tmp"}}) {
    last_status = 0;
    EXPECT_THROW(options(bad), ProcessExit) << bad[1];
    EXPECT_EQ(last_status, (kErrArguments + 1) | 16) << bad[1];
  }
  const std::string msgs = err.text();
  EXPECT_NE(msgs.find("Falsche Argumente(anzahl): '-rq'"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("Falsche Argumente(anzahl): '-o\\tmp'"), std::string::npos) << msgs;
}

Line scan(const Options& opt, const std::string& text) {
  KeyScanner scanner(opt);
  Line line;
  scanner.scan(reinterpret_cast<const unsigned char*>(text.data()), text.size(), line);
  return line;
}

TEST_F(Sortl, KeyFields) {
  const Options opt = options({"sortl", "-f3,1n,3n"});
  Line l = scan(opt, "  12x \t b  c d");
  // Key 3 names field 3 again: only key 1 gets it.
  EXPECT_EQ(l.present, 0x3);
  EXPECT_EQ(l.field[0].off, 11);
  EXPECT_EQ(l.field[0].len, 1);
  EXPECT_EQ(l.field[1].off, 2);
  EXPECT_EQ(l.field[1].num, 12);
  l = scan(opt, "a b");
  EXPECT_EQ(l.present, 0x2);
  l = scan(opt, " \t ");
  EXPECT_EQ(l.present, 0);
  l = scan(options({"sortl", "-d:", "-f2"}), "a b:c d:e");
  EXPECT_EQ(l.present, 1);
  EXPECT_EQ(l.field[0].off, 4);
  EXPECT_EQ(l.field[0].len, 3);
}

TEST(SortlDecimal, AsParseDecimalReadsText) {
  for (const char* t : {"", "0", "7", "007", "-12", "+5", "- 3", "12abc", "12345678901", "4294967297", "-0012", "0x1",
                        " 5", "  -  ", "-", "+", "00000000000000000042", "9"}) {
    const std::string s = t;
    EXPECT_EQ(field_decimal(reinterpret_cast<const unsigned char*>(s.data()), s.size()), parse_decimal(t)) << t;
  }
  // The field ends where its text ends, also before a following digit.
  const std::string s = "123456";
  EXPECT_EQ(field_decimal(reinterpret_cast<const unsigned char*>(s.data()), 3), 123);
}

// The order of the lines of `text` under the options, as sortl writes it.
std::string sorted(std::vector<std::string> opts, const std::string& text) {
  TempFile f(text);
  opts.insert(opts.begin(), "sortl");
  opts.push_back(f.path());
  return sortl_out(opts);
}

TEST_F(Sortl, Orders) {
  struct Case {
    std::vector<std::string> opts;
    std::string in, out;
  } cases[] = {
      // Fields 1 to 4 as text, then the line length; lines without fields last.
      {{}, "b 1\n\na 2\n  \na\na 10\n", "a\na 10\na 2\nb 1\n\n  \n"},
      {{"-r"}, "b 1\n\na 2\na\n", "\nb 1\na 2\na\n"},
      {{"-f2n"}, "x 10\ny 9\nz\nw -3\nv 007\nu 7\n", "w -3\nv 007\nu 7\ny 9\nx 10\nz\n"},
      {{"-f2nr,3nr"}, "a 5 1\nb 5\nc 5 3\nd 6 0\n", "d 6 0\nb 5\nc 5 3\na 5 1\n"},
      {{"-f2r"}, "a x\nb\nc y\n", "c y\na x\nb\n"},     // b has no key field at all: last
      {{"-f1,2r"}, "a x\na\na y\n", "a\na y\na x\n"},  // without the field: first, reverse or not
      {{"-d:", "-f2"}, "a b:2\nc:1\n", "c:1\na b:2\n"},
      {{"-f1"}, "ab\na\nabc\n", "a\nab\nabc\n"},
      {{}, "\xe4\na\n\x7f\n", "a\n\x7f\n\xe4\n"},  // bytes unsigned
      {{"-f3"}, "b\na\n", "a\nb\n"},                // no line has the key: shorter first, then...
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& o : c.opts) shown += o + " ";
    if (c.opts.size() == 1 && c.opts[0] == "-f3") {
      // Lines without any key field are equal: both orders are right.
      const std::string got = sorted(c.opts, c.in);
      EXPECT_TRUE(got == "a\nb\n" || got == "b\na\n") << got;
      continue;
    }
    EXPECT_EQ(sorted(c.opts, c.in), c.out) << shown;
  }
}

TEST_F(Sortl, SortsLikeAStableSortUpToEqualLines) {
  // Many lines, many equal keys: the result is ordered, and holds every
  // line once.
  std::mt19937 rng(3);
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; i < 5000; ++i) {
    std::string l = std::to_string(rng() % 50) + " " + std::to_string(rng() % 1000) + (rng() % 7 == 0 ? "" : " z");
    lines.push_back(l + "\n");
    text += l + "\n";
  }
  TempFile f(text);
  const std::string out = sortl_out({"sortl", "-f1n,2nr", f.path()});
  std::vector<std::string> got;
  for (std::size_t p = 0; p < out.size();) {
    const std::size_t e = out.find('\n', p);
    got.push_back(out.substr(p, e - p + 1));
    p = e + 1;
  }
  // Expected: by field 1 up, field 2 down, then shorter first.
  std::vector<std::tuple<int, int, std::size_t, std::string>> keyed;
  for (const auto& l : lines) {
    int a = 0, b = 0;
    std::sscanf(l.c_str(), "%d %d", &a, &b);
    keyed.emplace_back(a, -b, l.size(), l);
  }
  std::sort(keyed.begin(), keyed.end());
  for (std::size_t i = 0; i < lines.size(); ++i) lines[i] = std::get<3>(keyed[i]);
  EXPECT_TRUE(got == lines);
}

TEST_F(Sortl, SeveralInputsInPlaceAndMissingFiles) {
  TempFile a("b\r\nd\r\nc"), b("a\n");
  int status = -1;
  // The last line of the first file is not joined with the next; written
  // before other lines, it gets the line end of the line before it.
  EXPECT_EQ(sortl_out({"sortl", a.path(), "/nonexistent/x", b.path()}, &status), "a\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(sortl_out({"sortl", b.path(), a.path()}, &status), "a\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(sortl_out({"sortl", "-r", a.path()}, &status), "d\r\nc\r\nb\r\n");
  TempFile one("z");  // the only line of its input: CR LF
  EXPECT_EQ(sortl_out({"sortl", one.path(), b.path()}), "a\nz");
  EXPECT_EQ(sortl_out({"sortl", "-r", one.path(), b.path()}), "z\r\na\n");
  // In place: the file is read whole before it is emptied.
  EXPECT_EQ(sortl_out({"sortl", "-o" + a.path(), a.path()}, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(a.read(), "b\r\nc\r\nd\r\n");
}

TEST_F(Sortl, InputOfUnknownSize) {
  // A pipe tells no size: the text grows as it is read.
  std::string text, expect;
  for (int i = 0; i < 6000; ++i) text += std::to_string((i * 37) % 6000) + "\n";
  for (int i = 0; i < 6000; ++i) expect += std::to_string(i) + "\n";
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_LT(text.size(), 60000u);  // fits into the pipe at once
  ASSERT_EQ(write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(p[1]);
  const int saved = dup(0);
  dup2(p[0], 0);
  close(p[0]);
  EXPECT_TRUE(sortl_out({"sortl", "-f1n"}) == expect);
  dup2(saved, 0);
  close(saved);
}

TEST_F(Sortl, LimitsAndMemory) {
  Capture err(2);
  TempFile big(std::string(8191, 'x') + "\n" + std::string(8191, 'y'));
  EXPECT_TRUE(sortl_out({"sortl", "-r", big.path()}) == std::string(8191, 'y') + "\n" + std::string(8191, 'x') + "\n");
  TempFile longer("a\n" + std::string(8192, 'x') + "\nb\n");
  last_status = 0;
  EXPECT_THROW(sortl_out({"sortl", longer.path()}), ProcessExit);
  EXPECT_EQ(last_status, (kErrLimit + 1) | 16);
  TempFile last_long("a\n" + std::string(9000, 'x'));
  EXPECT_THROW(sortl_out({"sortl", last_long.path()}), ProcessExit);
  EXPECT_EQ(last_status, (kErrLimit + 1) | 16);

  // Too little memory: error 30, and (checked by the leak checker at the
  // end of the run) nothing is left allocated.
  std::string text;
  for (int i = 0; i < 5000; ++i) text += std::to_string(i * 7919 % 5000) + "\n";
  TempFile f(text);
  for (std::uint64_t cap : {100u, 30000u, 60000u, 100000u}) {
    set_memory_cap(cap);
    last_status = 0;
    EXPECT_THROW(sortl_out({"sortl", f.path()}), ProcessExit) << cap;
    EXPECT_EQ(last_status, (kErrMemory + 1) | 16) << cap;
  }
  set_memory_cap(10000000);
  EXPECT_EQ(sortl_out({"sortl", "-f1n", f.path()}).substr(0, 8), "0\n1\n2\n3\n");
  EXPECT_NE(err.text().find("Zuwenig Arbeitsspeicher."), std::string::npos);
}

}  // namespace
}  // namespace vek
