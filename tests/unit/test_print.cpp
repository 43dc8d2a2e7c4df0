// echo, print and prints: output is captured by putting a temporary file
// on descriptor 1 or 2 while the handler runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture.h"
#include "builtins/builtins.h"
#include "core/shell.h"
#include "session/diag.h"
#include "session/input.h"
#include "session/startup.h"
#include "vars/varstore.h"

namespace {

using Handler = int (*)(int, char**);

using vek::testing_support::Capture;

int call(Handler h, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return h(static_cast<int>(words.size()), argv.data());
}

// Output of descriptor fd (1 by default) while the handler runs.
std::string out(Handler h, std::vector<std::string> words, int fd = 1) {
  Capture cap(fd);
  EXPECT_EQ(call(h, std::move(words)), 0);
  return cap.text();
}

std::string var_value(const char* name) {
  vek::VarRecord* r = vek::var_find(vek::variable_scope(), name);
  return r ? std::string(r->value(), r->value_size()) : "<unset>";
}

struct Case {
  std::vector<std::string> words;
  std::string expected;
};

class Print : public ::testing::Test {
 protected:
  void SetUp() override { vek::escape_char = '%'; }
  void TearDown() override { vek::escape_char = '%'; }
  static void check(Handler h, const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      std::string shown;
      for (const auto& w : c.words) shown += "[" + w + "]";
      EXPECT_EQ(out(h, c.words), c.expected) << shown;
    }
  }
};

TEST_F(Print, OptionWord) {
  check(vek::bi_echo, {
      {{"echo"}, "\r\n"},
      {{"echo", "-n", "x"}, "-n x\r\n"},
      {{"print", "-n", "a", "b"}, "a b"},
      {{"print", "-n", "-n"}, "-n"},  // a second option word is text
      {{"print", "--", "-n"}, "-n\r\n"},
      {{"print", "-", "a"}, "a\r\n"},
      {{"print", "-x", "a"}, "-x a\r\n"},
      {{"print", "-nx", "a"}, "-nx a\r\n"},  // unknown letter also resets n
      {{"print", "--x"}, "--x\r\n"},         // not swallowed
      {{"print", "-r", "a%nb"}, "a%nb\r\n"},
      {{"print", "-u", "a"}, "a\r\n"},
  });
}

TEST_F(Print, DescriptorOption) {
  Capture one(1);
  EXPECT_EQ(out(vek::bi_echo, {"print", "-u2n", "x"}, 2), "x");
  EXPECT_EQ(one.text(), "");
}

TEST_F(Print, EscapeSequences) {
  check(vek::bi_echo, {
      {{"echo", "a%tb"}, "a\tb\r\n"},
      {{"echo", "x%cy", "z"}, "x"},
      {{"echo", "%0101%0", "%0777", "%01234"}, std::string("A\0 \xFF S4\r\n", 9)},
      {{"echo", "%%", "%q", "a%"}, "% %q a%\r\n"},
      {{"echo", "%a%b%e%f%r%s%v%z%n"}, "\a\b\x1b\f\r\"\v\x1a\r\n\r\n"},
      {{"echo", "a%\n \t b"}, "a\nb\r\n"},
      {{"echo", "a%\r\n\t%tb"}, "a\r\n\tb\r\n"},  // escaped tab survives
      {{"echo", "a\n  b"}, "a\n  b\r\n"},         // unescaped: unchanged
      {{"echo", "a%\rb"}, "a%\rb\r\n"},
      {{"echo", "a%\n", " b"}, "a\n  b\r\n"},     // only within the word
  });
  vek::escape_char = '\\';
  check(vek::bi_echo, {{{"echo", "a\\tb%t\\"}, "a\tb%t\\\r\n"}});
}

TEST_F(Print, LongWordsCrossTheBlockBoundary) {
  for (size_t n : {4094u, 4095u, 4096u, 4097u, 9000u}) {
    std::string w(n, 'x');
    EXPECT_EQ(out(vek::bi_echo, {"echo", w, "y"}), w + " y\r\n") << n;
    EXPECT_EQ(out(vek::bi_echo, {"print", "-n", w + "%n"}), w + "\r\n") << n;
  }
}

TEST_F(Print, PrintsFields) {
  std::string nul(1, '\0');
  check(vek::bi_prints, {
      {{"prints"}, ""},
      {{"prints", "s5", "ab"}, "   ab\r\n"},
      {{"prints", "s-5", "ab"}, "ab   \r\n"},
      {{"prints", "s:5", "ab"}, "  ab \r\n"},
      {{"prints", "s3", "abcdef"}, "def\r\n"},
      {{"prints", "s:3", "abcdef"}, "def\r\n"},
      {{"prints", "s-3", "abcdef"}, "abc\r\n"},
      {{"prints", "s0", "abc"}, "\r\n"},
      {{"prints", "sf-40"}, std::string(40, '-') + "\r\n"},
      {{"prints", "sF04840"}, std::string(40, '0') + "\r\n"},
      {{"prints", "sF0003", "a"}, nul + nul + "a\r\n"},
      {{"prints", "s+5", "12"}, "+  12\r\n"},
      {{"prints", "s+f05", "12"}, "+0012\r\n"},
      {{"prints", "s+", "12"}, "+12\r\n"},
      {{"prints", "s+5", "ab"}, "   ab\r\n"},
      {{"prints", "s+2", "12"}, "12\r\n"},
      {{"prints", "s5n", "a", "b", "c"}, "    a\r\n    b\r\n    c\r\n\r\n"},
      {{"prints", "s2bs2t", "a", "b"}, " a  b\t\r\n"},
      {{"prints", "s.s3", "skipped", "x"}, "  x\r\n"},
      {{"prints", "s2s2s2", "a"}, " a a a\r\n"},  // missing arguments
      {{"prints", "s3xs9", "a", "b"}, "  a  b\r\n"},  // stops at x
      {{"prints", "x", "a", "b"}, "ab\r\n"},
      {{"prints", "s-", "abc"}, "abc"},
      {{"prints", "s20-", "x"}, std::string(19, ' ') + "x"},
      {{"prints", "s5000", "x"}, std::string(4999, ' ') + "x\r\n"},
      {{"prints", "s-9000", "x", "y"}, "x" + std::string(8999, ' ') + "y" + std::string(8999, ' ') + "\r\n"},
  });
}

TEST_F(Print, PrintsDescriptorSelection) {
  EXPECT_EQ(out(vek::bi_prints, {"prints", "su2", "a"}, 2), "a\r\n");
  // Text formatted before the switch stays on the descriptor it was
  // formatted for.
  Capture one(1);
  EXPECT_EQ(out(vek::bi_prints, {"prints", "s2su2su", "a", "b", "c"}, 2), "b");
  EXPECT_EQ(one.text(), " ac\r\n");
}

TEST_F(Print, PrintsIntoVariable) {
  vek::reset_interpreter();
  EXPECT_EQ(out(vek::bi_prints, {"prints", "vsu2", "V1"}, 2), "");
  EXPECT_EQ(var_value("V1"), "");
  EXPECT_EQ(out(vek::bi_prints, {"prints", "vsf-60", "V2"}), "");
  EXPECT_EQ(var_value("V2"), std::string(60, '-'));
  out(vek::bi_prints, {"prints", "vs3ns-3", "V3", "a", "b", "c"});
  EXPECT_EQ(var_value("V3"), "  a\r\nb  c  ");
  out(vek::bi_prints, {"prints", "vsF0004", "V4", "ab"});  // NUL bytes kept
  EXPECT_EQ(var_value("V4"), std::string("\0\0ab", 4));
  out(vek::bi_prints, {"prints", "vs8192", "V5", "x"});
  EXPECT_EQ(var_value("V5").size(), 8192u);

  Capture err(2);
  EXPECT_THROW(call(vek::bi_prints, {"prints", "vs8191s2", "V5", "x", "y"}), vek::ProcessExit);
  EXPECT_THROW(call(vek::bi_prints, {"prints", "vs", "1x", "a"}), vek::ProcessExit);
  const std::string msgs = err.text();
  EXPECT_NE(msgs.find("Limit erreicht: 'prints: wr_var'"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("Fehlerhafter Bezeichner/Name: '1x'"), std::string::npos) << msgs;
  EXPECT_EQ(var_value("V5").size(), 8192u);  // unchanged
}

}  // namespace
