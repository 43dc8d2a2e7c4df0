// grep: the option words, the pieces, the fixed-string tests, the literal
// and byte-set searches and what the program analysis finds; then the
// command against a plain reference (pieces split and tested one by one
// with the engine), over random text with long lines, NUL bytes and CR,
// so that the searches that skip lines never change a result.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "builtins/search.h"
#include "capture.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"

namespace vek {
namespace {

using testing_support::Capture;

std::vector<char*> words_of(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

TEST(GrepOptions, Words) {
  struct Case {
    std::vector<std::string> words;
    int pattern_at;
    const char* flags;  // letters of the options found set
    int max;
  };
  const Case cases[] = {
      {{"grep", "x"}, 1, "", -1},
      {{"grep"}, 1, "", -1},
      {{"grep", "-n", "-c", "x", "f"}, 3, "cn", -1},
      {{"grep", "-nvV?", "x"}, 2, "nv", -1},
      {{"grep", "-e", "-v", "f"}, 2, "", -1},
      {{"grep", "-ve", "-n"}, 2, "v", -1},
      {{"grep", "-e"}, 2, "", -1},
      {{"grep", "-m", "x"}, 2, "", 1},
      {{"grep", "-m12n", "x"}, 2, "n", 12},
      {{"grep", "-m0", "x"}, 2, "", 0},
      {{"grep", "-m99999999999", "x"}, 2, "", 2147483647},
      {{"grep", "-x", "x"}, 2, "Fx", -1},
      {{"grep", "-y1", "x"}, 2, "iq", -1},
      {{"grep", "-hlsLS", "x"}, 2, "hlsLS", -1},
      {{"grep", "-", "--", "x"}, 3, "", -1},
  };
  for (auto c : cases) {
    auto argv = words_of(c.words);
    GrepOptions o;
    EXPECT_EQ(parse_grep_options(static_cast<int>(c.words.size()), argv.data(), o), c.pattern_at);
    std::string flags;
    if (o.count) flags += 'c';
    if (o.fixed) flags += 'F';
    if (o.no_names) flags += 'h';
    if (o.fold) flags += 'i';
    if (o.names) flags += 'l';
    if (o.silent) flags += 's';
    if (o.last) flags += 'L';
    if (o.numbers) flags += 'n';
    if (o.quiet) flags += 'q';
    if (o.within) flags += 'S';
    if (o.invert) flags += 'v';
    if (o.exact) flags += 'x';
    std::string want = c.flags;
    auto order = [](char a, char b) { return std::pair(std::tolower(a), a) < std::pair(std::tolower(b), b); };
    std::sort(want.begin(), want.end(), order);
    std::sort(flags.begin(), flags.end(), order);
    EXPECT_EQ(flags, want) << c.words[1];
    EXPECT_EQ(o.max, c.max) << c.words[1];
  }
}

TEST(GrepPieces, EndAfterLineFeedOrAtTheLimit) {
  const std::size_t npos = std::string_view::npos;
  EXPECT_EQ(grep_piece_end("ab\ncd", false), 3u);
  EXPECT_EQ(grep_piece_end("\n", false), 1u);
  EXPECT_EQ(grep_piece_end("abc", false), npos);
  EXPECT_EQ(grep_piece_end("abc", true), 3u);
  EXPECT_EQ(grep_piece_end("", true), npos);
  std::string long_line(kGrepPieceMax + 5, 'x');
  EXPECT_EQ(grep_piece_end(long_line, false), kGrepPieceMax);
  long_line[kGrepPieceMax - 1] = '\n';
  EXPECT_EQ(grep_piece_end(long_line, false), kGrepPieceMax);
  long_line[kGrepPieceMax - 1] = 'x';
  long_line[kGrepPieceMax] = '\n';  // one byte too far: the piece ends first
  EXPECT_EQ(grep_piece_end(long_line, false), kGrepPieceMax);
}

TEST(GrepFixed, Tests) {
  struct Case {
    FixedTest test;
    const char* piece;
    const char* pattern;
    bool selected;
  };
  using F = FixedTest;
  const Case cases[] = {
      {F::kContains, "xa.cy\n", "a.c", true},  {F::kContains, "xabcy\n", "a.c", false},
      {F::kContains, "\n", "", true},          {F::kContains, "ab", "abc", false},
      {F::kContains, "a\nb", "\nb", true},     {F::kExact, "abc\n", "abc", true},
      {F::kExact, "abc\r\n", "abc", true},     {F::kExact, "abc", "abc", true},
      {F::kExact, "abcd\n", "abc", false},     {F::kExact, "abc\r", "abc", false},
      {F::kExact, "\n", "", true},             {F::kWithin, "abc\n", "abcdef", true},
      {F::kWithin, "cde\r\n", "abcdef", true}, {F::kWithin, "f", "abcdef", true},
      {F::kWithin, "\n", "abcdef", false},     {F::kWithin, "\r\n", "abcdef", false},
      {F::kWithin, "abcdefg\n", "abcdef", false}, {F::kWithin, "ace\n", "abcdef", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fixed_test(c.test, c.piece, c.pattern), c.selected) << c.piece << " / " << c.pattern;
}

TEST(GrepSearch, LiteralFinderAgreesWithFind) {
  std::mt19937 rng(5);
  const std::string alphabet = "abc \n";
  for (int round = 0; round < 400; ++round) {
    std::string hay(rng() % 60, ' '), needle(1 + rng() % 4, ' ');
    for (char& c : hay) c = alphabet[rng() % alphabet.size()];
    for (char& c : needle) c = alphabet[rng() % alphabet.size()];
    LiteralFinder f;
    f.set(needle);
    EXPECT_EQ(f.find(hay), hay.find(needle)) << "[" << hay << "] [" << needle << "]";
  }
  LiteralFinder empty;
  empty.set("");
  EXPECT_EQ(empty.find("abc"), 0u);
}

TEST(GrepSearch, ByteSet) {
  ByteSet set;
  set.clear();
  EXPECT_EQ(set.find("abc"), std::string_view::npos);
  set.add('c');
  EXPECT_EQ(set.find("abcabc"), 2u);
  set.add('b');
  set.add('b');
  EXPECT_EQ(set.size(), 2);
  EXPECT_EQ(set.find("aaaaaaaaab"), 9u);
  EXPECT_EQ(set.find("aaaaaaaaa"), std::string_view::npos);
}

// Compiles for the analyses below.
const unsigned char* compiled(const char* pattern) {
  static std::array<unsigned char, 4095> buf;
  Regex& rx = regex_engine();
  if (rx.compile(pattern, buf.data(), buf.data() + buf.size(), '%') == nullptr) return nullptr;
  return buf.data();
}

TEST(GrepProgram, RequiredLiteral) {
  struct Case {
    const char* pattern;
    const char* literal;
  };
  const Case cases[] = {
      {"abc", "abc"},          {"a%(bc%)d", "abcd"},  {"ab*c", "c"},
      {"x[a-z]*yz", "yz"},     {"a.*z", "z"},          {"[0-9]*", ""},
      {"ab%{2%}", "a"},        {"%<the%>", "the"},    {"^abc$", "abc"},
      {"q.e", "q"},            {"%D%Dxx", "xx"},       {"a%1x", ""},
  };
  for (const Case& c : cases) {
    const unsigned char* prog = compiled(c.pattern);
    if (prog == nullptr) {
      EXPECT_STREQ(c.literal, "") << c.pattern;  // "a%1x" does not compile
      continue;
    }
    std::array<char, 256> out;
    std::size_t n = regex_required_literal(prog, out.data(), out.size());
    EXPECT_EQ(std::string(out.data(), n), c.literal) << c.pattern;
  }
}

TEST(GrepProgram, FirstBytesAndDecisiveLead) {
  struct Case {
    const char* pattern;
    const char* first;  // the set, or "-" for none
    RegexLead lead;
    std::size_t lead_len;
  };
  using L = RegexLead;
  const Case cases[] = {
      {"abc", "a", L::kLiterals, 3},
      {"%(ab%)c*", "a", L::kLiterals, 2},
      {"ab%>", "a", L::kNone, 0},
      {"[0-9][0-9]*", "0123456789", L::kOneByte, 1},
      {"[xy]%{0,3%}z", "xyz", L::kNone, 0},
      {"x*y*z", "xyz", L::kNone, 0},
      {"x*", "-", L::kNone, 0},
      {"%<%Dq", "0123456789", L::kNone, 0},
      {"%!%Da", "-", L::kNone, 0},  // nearly every byte
      {"a%{2,%}", "a", L::kNone, 0},
      {"a%{1,%}", "a", L::kNone, 0},
      {"%(a%)%1", "a", L::kNone, 0},
      {"b%{0,2%}c", "bc", L::kNone, 0},
      {".x", "-", L::kNone, 0},
      {"%Ux*%D*", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", L::kOneByte, 1},
  };
  for (const Case& c : cases) {
    const unsigned char* prog = compiled(c.pattern);
    ASSERT_NE(prog, nullptr) << c.pattern;
    ByteSet set;
    std::string members;
    if (regex_first_bytes(prog, set) && set.size() < 192)
      for (int b = 0; b < 256; ++b)
        if (set.has(static_cast<unsigned char>(b))) members += static_cast<char>(b);
    EXPECT_EQ(members.empty() ? "-" : members, c.first) << c.pattern;
    std::size_t len = 99;
    EXPECT_EQ(regex_decisive_lead(prog, &len), c.lead) << c.pattern;
    EXPECT_EQ(len, c.lead_len) << c.pattern;
  }
}

// ------------------------------------------------ the command against a reference

class GrepCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    char dir[] = "/tmp/vek-grep-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (const auto& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string file(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    files_.push_back(path);
    return path;
  }
  // Runs grep with these words; output in *out, status returned.
  static int grep(std::vector<std::string> words, std::string* out) {
    words.insert(words.begin(), "grep");
    auto argv = words_of(words);
    Capture cap(1);
    int status = bi_grep(static_cast<int>(words.size()), argv.data());
    *out = cap.text();
    return status;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

// What grep must write for one file: the pieces split and tested one by
// one, the regular expression matched by the engine on each.
std::string reference(const std::string& opts, const std::string& pattern, const std::string& data) {
  const bool v = opts.find('v') != std::string::npos, n = opts.find('n') != std::string::npos,
             c = opts.find('c') != std::string::npos, i = opts.find('i') != std::string::npos,
             fixed = opts.find('F') != std::string::npos;
  static std::array<unsigned char, 4095> prog;
  Regex& rx = regex_engine();
  std::string pat = pattern;
  if (i)
    for (char& ch : pat) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (!fixed) {
    if (rx.compile(pattern, prog.data(), prog.data() + prog.size(), '%') == nullptr) return "<compile>";
    if (i) regex_fold_literals_upper(prog.data());
  }
  std::string folded = data;
  if (i)
    for (char& ch : folded)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
  std::string out;
  std::size_t pos = 0, line = 0, count = 0;
  while (pos < data.size()) {
    std::size_t end = std::min(data.size(), pos + kGrepPieceMax);
    std::size_t lf = data.find('\n', pos);
    if (lf != std::string::npos && lf < end) end = lf + 1;
    const std::size_t len = std::min(end - pos, kGrepLineCut);
    const std::string_view subject(folded.data() + pos, len);
    ++line;
    bool hit = fixed ? fixed_test(FixedTest::kContains, subject, pat) : rx.match(subject) != 0;
    if (hit != v) {
      ++count;
      if (!c) {
        if (n) out += std::to_string(line) + ":";
        out.append(data, pos, len);
      }
    }
    pos = end;
  }
  if (c) out += std::to_string(count) + "\r\n";
  return out;
}

TEST_F(GrepCommand, AgreesWithPieceByPieceMatching) {
  std::mt19937 rng(11);
  const std::string alphabet = "aabbc  \n\nxAB";
  const char* patterns[] = {"ab",     "a",        "b*c",   "[ab]c",  "[a-c][a-c]*", "x",    "%<ab",
                            "c$",     "^a",       "A.*B",  "%(a%)%1", "a%{2,%}",    ".",    "[^a ]",
                            "B",      "%Dx*",     "c%>",   "xa*b",    "%Aa",        "b.a",  "xx"};
  const char* option_sets[] = {"", "v", "n", "c", "i", "cv", "F", "Fi"};
  for (int round = 0; round < 8; ++round) {
    std::string data;
    const int lines = 1 + static_cast<int>(rng() % 40);
    for (int l = 0; l < lines; ++l) {
      // Now and then a line longer than a piece, or than the cut.
      std::size_t len = rng() % 9 == 0 ? 4000 + rng() % 5000 : rng() % 40;
      for (std::size_t k = 0; k < len; ++k) {
        char ch = alphabet[rng() % alphabet.size()];
        if (rng() % 97 == 0) ch = rng() % 2 ? '\0' : '\r';
        data += ch;
      }
      if (l + 1 < lines || rng() % 2) data += '\n';
    }
    const std::string path = file("r" + std::to_string(round), data);
    for (const char* pattern : patterns) {
      for (const char* opts : option_sets) {
        std::vector<std::string> words;
        if (*opts) words.push_back(std::string("-") + opts);
        words.push_back(pattern);
        words.push_back(path);
        std::string got;
        const int status = grep(words, &got);
        const std::string want = reference(opts, pattern, data);
        ASSERT_EQ(got, want) << "round " << round << " grep -" << opts << " " << pattern;
        if (std::string(opts).find('c') == std::string::npos) {
          EXPECT_EQ(status, want.empty() ? 1 : 0) << "round " << round << " grep -" << opts << " " << pattern;
        }
      }
    }
  }
}

TEST_F(GrepCommand, LongInputAcrossBlocks) {
  // More than one read block, with lines of every length up to beyond a
  // piece, so that lines and pieces straddle the block ends.
  std::mt19937 rng(3);
  std::string data;
  while (data.size() < 2'600'000) {
    std::size_t len = rng() % 50 == 0 ? rng() % 20000 : rng() % 120;
    for (std::size_t k = 0; k < len; ++k) data += "abcdefghij klm"[rng() % 14];
    if (rng() % 500 == 0) data += "needle";
    data += '\n';
  }
  const std::string path = file("long", data);
  const char* patterns[] = {"needle", "e[a-j]*e", "[k-m]", "dle$"};
  const char* option_sets[] = {"n", "c", "vc", "F"};
  for (const char* pattern : patterns)
    for (const char* opts : option_sets) {
      std::string got;
      grep({std::string("-") + opts, pattern, path}, &got);
      ASSERT_EQ(got, reference(opts, pattern, data)) << "grep -" << opts << " " << pattern;
    }
}

}  // namespace
}  // namespace vek

namespace vek {
namespace {

// A random pattern of the dialect: items with and without repetition,
// groups, word starts and ends, and the anchors.
std::string random_pattern(std::mt19937& rng) {
  static const char* items[] = {"a", "b", ".", "[ab]", "[^a]", "%A", "%!%D", "%D", " ", "%n", "1"};
  std::string p;
  if (rng() % 4 == 0) p += '^';
  int open = 0;
  const int n = 1 + static_cast<int>(rng() % 6);
  for (int k = 0; k < n; ++k) {
    switch (rng() % 10) {
      case 0:
        p += "%(";
        ++open;
        break;
      case 1:
        if (open > 0) {
          p += "%)";
          --open;
        }
        break;
      case 2: p += rng() % 2 ? "%<" : "%>"; break;
      default: {
        p += items[rng() % (sizeof items / sizeof *items)];
        switch (rng() % 5) {
          case 0: p += '*'; break;
          case 1: {
            unsigned lo = rng() % 3, hi = lo + rng() % 3;
            p += "%{" + std::to_string(lo) + (rng() % 3 == 0 ? ",%}" : "," + std::to_string(hi) + "%}");
            break;
          }
          default: break;
        }
      }
    }
  }
  while (open-- > 0) p += "%)";
  if (rng() % 4 == 0) p += '$';
  return p;
}

TEST(GrepLineNfa, AgreesWithTheEngine) {
  std::mt19937 rng(17);
  const std::string alphabet = std::string("ab 1\n\r\x1a", 7) + std::string(1, '\0');
  std::array<unsigned char, 4095> buf;
  Regex& rx = regex_engine();
  int built = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = random_pattern(rng);
    ASSERT_NE(rx.compile(pattern, buf.data(), buf.data() + buf.size(), '%'), nullptr) << pattern;
    LineNfa nfa;
    if (!nfa.build(rx)) continue;
    ++built;
    for (int k = 0; k < 20; ++k) {
      std::string subject(rng() % 12, ' ');
      for (char& c : subject) c = alphabet[rng() % alphabet.size()];
      ASSERT_EQ(nfa.matches(subject), rx.match(subject) != 0) << "[" << pattern << "] on [" << subject << "]";
    }
  }
  EXPECT_GT(built, 2500);
}

TEST(GrepLineNfa, RefusesWhatItCannotHold) {
  std::array<unsigned char, 4095> buf;
  Regex& rx = regex_engine();
  LineNfa nfa;
  auto build = [&](const char* pattern) {
    EXPECT_NE(rx.compile(pattern, buf.data(), buf.data() + buf.size(), '%'), nullptr) << pattern;
    return nfa.build(rx);
  };
  EXPECT_FALSE(build("%(a%)%1"));      // a back-reference
  EXPECT_FALSE(build("a%{65%}"));      // 65 positions
  EXPECT_TRUE(build("a%{64%}"));
  EXPECT_TRUE(build("a%{63,%}"));      // 63 copies and a starred one
  EXPECT_FALSE(build("a%{64,%}"));
  EXPECT_TRUE(build("^"));
  EXPECT_TRUE(nfa.matches("anything"));
  EXPECT_TRUE(build("^$"));
  EXPECT_TRUE(nfa.matches("\r\n"));
  EXPECT_FALSE(nfa.matches("x\n"));
}

}  // namespace
}  // namespace vek

namespace vek {
namespace {

TEST_F(GrepCommand, EveryCompileErrorIsReportedWithThePattern) {
  const std::string path = file("f", "abc\n");
  std::string ten_groups;
  for (int k = 0; k < 10; ++k) ten_groups += "%(a%)";
  const std::vector<std::string> patterns = {
      "a%{256%}",  "a%{,2%}", "%(a%1%)", "a%\n", "%)",         ten_groups,
      "a%{1,2,3%}", "a%{1",   "a%{3,2%}", "[ab", std::string(2100, 'x'),
  };
  for (const std::string& pattern : patterns) {
    Capture err(2);
    std::string out;
    EXPECT_THROW(grep({pattern, path}, &out), ProcessExit) << pattern;
    EXPECT_EQ(err.text(), "grep: Fehlerhafter Regul\x84rer Ausdruck: '" + pattern + "'\r\n");
  }
  // After a pattern that did not compile, an empty one has nothing to
  // repeat.
  Capture err(2);
  std::string out;
  EXPECT_THROW(grep({"", path}, &out), ProcessExit);
  EXPECT_EQ(err.text(), "grep: Fehlerhafter Regul\x84rer Ausdruck: ''\r\n");
}

TEST_F(GrepCommand, OtherMessages) {
  struct Case {
    std::vector<std::string> words;
    const char* message;
  };
  const Case cases[] = {
      {{}, "grep: Fehlendes Suchmuster-Argument.\r\n"},
      {{"-n", "-e"}, "grep: Fehlendes Suchmuster-Argument.\r\n"},
      {{"x", "/nonexistent/f"}, "grep: Datei\x94" "ffnen fehlgeschlagen: '\\nonexistent\\f'\r\n"},
      {{"-F", std::string(4096, 'x')}, "vek: Limit erreicht: 'Ziel-Puffer'\r\n"},
  };
  for (const Case& c : cases) {
    Capture err(2);
    std::string out;
    EXPECT_THROW(grep(c.words, &out), ProcessExit);
    EXPECT_EQ(err.text(), c.message);
  }
  // A fixed string of 4095 bytes is taken.
  std::string out;
  EXPECT_EQ(grep({"-F", std::string(4095, 'x'), file("g", "abc\n")}, &out), 1);
}

}  // namespace
}  // namespace vek
