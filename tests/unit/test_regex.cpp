// Regular-expression compiler and matcher.
#include "pattern/regex.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace vek {
namespace {

struct Engine {
  std::array<unsigned char, 4095> buf{};
  Regex re;
  unsigned char* end = nullptr;
  std::string subject;  // kept: the spans point into it

  bool compile(std::string_view pattern, unsigned char esc = '%') {
    end = re.compile(pattern, buf.data(), buf.data() + buf.size(), esc);
    return end != nullptr;
  }
  std::vector<int> program() const {
    return std::vector<int>(buf.cbegin(), buf.cbegin() + (end - buf.data()));
  }
  // "start:text" of the match, "none", or "error N".
  std::string search(std::string_view text) {
    subject = text;
    if (!re.match(subject.c_str())) return "none";
    return std::to_string(re.match_start()) + ":" +
           subject.substr(re.match_start(), re.match_end() - re.match_start());
  }
  // The group texts after a match, joined with ",".
  std::string groups() const {
    std::string out;
    for (int n = 1; n <= re.group_count(); ++n) {
      RegexSpan g = re.group(n);
      if (n > 1) out += ",";
      out += g.valid ? std::string(re.subject() + g.start, g.end - g.start) : "?";
    }
    return out;
  }
};

std::string search(std::string_view pattern, std::string_view subject, unsigned char esc = '%') {
  Engine e;
  if (!e.compile(pattern, esc)) return "error " + std::to_string(e.re.last_error());
  return e.search(subject);
}

int compile_error(std::string_view pattern) {
  Engine e;
  e.compile(pattern);
  return e.re.last_error();
}

std::vector<int> program(std::string_view pattern) {
  Engine e;
  EXPECT_TRUE(e.compile(pattern)) << pattern << " error " << e.re.last_error();
  return e.program();
}

using V = std::vector<int>;

TEST(RegexCompile, ProgramLayout) {
  EXPECT_EQ(program("ab*"), (V{rx_literal, 'a', rx_literal + 1, 'b', rx_end, 0}));
  EXPECT_EQ(program("^a%{2,%}"), (V{rx_literal + 3, 'a', 2, 255, rx_end, 0x80}));
  EXPECT_EQ(program("%(x%)%1*"),
            (V{rx_group_open, 0, rx_literal, 'x', rx_group_close, 0, rx_backref + 1, 0, rx_end, 1}));
  EXPECT_EQ(program("%!%D*"), (V{rx_negate, rx_digit + 1, rx_end, 0}));
  EXPECT_EQ(program(".%A%L%U%W%<%>"), (V{rx_any, rx_letter, rx_lower, rx_upper, rx_word_char,
                                         rx_word_start, rx_word_end, rx_end, 0}));
  EXPECT_EQ(program("a$"), (V{rx_literal, 'a', rx_end_anchor, rx_end, 0}));
  EXPECT_EQ(program("a$b"), (V{rx_literal, 'a', rx_literal, '$', rx_literal, 'b', rx_end, 0}));
  EXPECT_EQ(program("%n%r%t%z%.%%"),
            (V{rx_literal, 10, rx_literal, 13, rx_literal, 9, rx_literal, 26, rx_literal, '.',
               rx_literal, '%', rx_end, 0}));
  EXPECT_EQ(program("a%"), (V{rx_literal, 'a', rx_literal, '%', rx_end, 0}));  // trailing escape
  EXPECT_EQ(program("%!x"), (V{rx_literal, '!', rx_literal, 'x', rx_end, 0}));  // no class escape
  EXPECT_EQ(program("a%{2,3}"), program("a%{2,3%}"));
}

TEST(RegexCompile, StarAndIntervalWithNothingToRepeatAreLiteral) {
  EXPECT_EQ(program("*a"), (V{rx_literal, '*', rx_literal, 'a', rx_end, 0}));
  EXPECT_EQ(program("^*"), (V{rx_literal, '*', rx_end, 0x80}));
  EXPECT_EQ(program("%(*%)"), (V{rx_group_open, 0, rx_literal, '*', rx_group_close, 0, rx_end, 1}));
  EXPECT_EQ(program("%<*"), (V{rx_word_start, rx_literal, '*', rx_end, 0}));
  EXPECT_EQ(program("%{2%}"), (V{rx_literal, '{', rx_literal, '2', rx_literal, '}', rx_end, 0}));
  // An item takes one repetition; a second one is literal.
  EXPECT_EQ(program("a**"), (V{rx_literal + 1, 'a', rx_literal, '*', rx_end, 0}));
  EXPECT_EQ(program("a%{2%}*"), (V{rx_literal + 3, 'a', 2, 2, rx_literal, '*', rx_end, 0}));
  EXPECT_EQ(program("a*%{2%}"),
            (V{rx_literal + 1, 'a', rx_literal, '{', rx_literal, '2', rx_literal, '}', rx_end, 0}));
}

TEST(RegexCompile, Lists) {
  auto members = [](std::string_view pattern) {
    Engine e;
    EXPECT_TRUE(e.compile(pattern)) << pattern;
    EXPECT_EQ(e.buf[0], rx_class);
    std::string out;
    for (int b = 0; b < 256; ++b)
      if (e.buf[1 + b / 8] >> (b % 8) & 1) out += static_cast<char>(b);
    return out;
  };
  EXPECT_EQ(members("[]a]"), "]a");
  EXPECT_EQ(members("[a-]"), "-a");
  EXPECT_EQ(members("[-a]"), "-a");
  EXPECT_EQ(members("[z-a]"), "az");      // backwards: start and end only
  EXPECT_EQ(members("[a-c-e]"), "abcde");  // ranges chain
  EXPECT_EQ(members("[%t%n%r%z%%]"), "\t\n\r\x1a%");
  EXPECT_EQ(members("[%a]"), "%a");    // escape before another byte: itself
  EXPECT_EQ(members("[%]"), "%");      // ... and "]" still closes
  EXPECT_EQ(members("[%-a]"), std::string("%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`a"));
  EXPECT_EQ(members("[^a]").size(), 254u);  // neither "a" nor byte 0
  EXPECT_EQ(members("[^a]").find('a'), std::string::npos);
  EXPECT_EQ(members("[^a]")[0], '\x01');
}

TEST(RegexCompile, ErrorNumbers) {
  struct Case {
    const char* pattern;
    int error;
  };
  const Case cases[] = {
      {"a%{256%}", 11},   {"a%{1,300%}", 11}, {"a%{,2%}", 16},     {"a%{x%}", 16},
      {"a%{1,x%}", 16},   {"%(a%)%2", 25},    {"%(a%1%)", 25},     {"%(a%)%(b%(c%)%2", 25},
      {"a%\n", 36},       {"a%\rb", 36},      {"%)", 42},          {"%(a", 42},
      {"%(%(a%)", 42},    {"a%)", 42},        {"a%{1,2,3%}", 44},  {"a%{1,,2%}", 44},
      {"a%{2", 45},       {"a%{2,", 45},      {"a%{2x%}", 45},     {"a%{2%x", 45},
      {"a%{3,2%}", 46},   {"[abc", 49},       {"[", 49},           {"[]", 49},
      {"[a-", 49},        {"x[%", 49},        {"[^", 49},
  };
  for (const Case& c : cases) EXPECT_EQ(compile_error(c.pattern), c.error) << c.pattern;

  EXPECT_EQ(compile_error("%(%(%(%(%(%(%(%(%(a%)%)%)%)%)%)%)%)%)"), 0);
  EXPECT_EQ(compile_error("%(%)%(%)%(%)%(%)%(%)%(%)%(%)%(%)%(%)%("), 43);
  // A group closed inside a still open one may be referred to.
  EXPECT_EQ(compile_error("%(%(a%)%2%)"), 0);
  EXPECT_EQ(search("%(%(a%)%2%)", "xaa"), "1:aa");
}

TEST(RegexCompile, EmptyPatternReusesTheProgramInTheBuffer) {
  Engine e;
  EXPECT_FALSE(e.compile(""));
  EXPECT_EQ(e.re.last_error(), 41);

  ASSERT_TRUE(e.compile("^a%(b%)"));
  unsigned char* past = e.end;
  EXPECT_EQ(e.re.compile("", e.buf.data(), e.buf.data() + e.buf.size(), '%'), e.buf.data());
  EXPECT_EQ(e.re.last_error(), 0);
  EXPECT_TRUE(e.re.anchored());  // the reused program keeps its anchoring
  EXPECT_EQ(e.re.group_count(), 1);
  e.end = past;
  EXPECT_EQ(e.search("abc"), "0:ab");
  EXPECT_EQ(e.groups(), "b");
  EXPECT_EQ(e.search("xabc"), "none");

  // A buffer holding anything but a program is refused.
  std::array<unsigned char, 16> junk;
  junk.fill('x');
  EXPECT_EQ(e.re.compile("", junk.data(), junk.data() + junk.size(), '%'), nullptr);
  EXPECT_EQ(e.re.last_error(), 41);
  junk = {rx_backref, 5, rx_end, 1};  // group number beyond the count
  EXPECT_EQ(e.re.compile("", junk.data(), junk.data() + junk.size(), '%'), nullptr);
  junk = {rx_literal, 'a', rx_end};  // no room for the trailer
  EXPECT_EQ(e.re.compile("", junk.data(), junk.data() + 3, '%'), nullptr);
}

TEST(RegexCompile, NeverWritesPastTheBuffer) {
  // Needed sizes: items plus the end operation and its trailer byte.
  struct Case {
    const char* pattern;
    std::size_t need;
  };
  const Case cases[] = {{"abc", 8}, {"[a]", 35}, {"a%{2%}", 6}, {"%(a%)", 8}, {"a*.$", 6}};
  for (const Case& c : cases) {
    for (std::size_t size = 0; size <= c.need; ++size) {
      std::array<unsigned char, 64> buf;
      buf.fill(0xEE);
      Regex re;
      unsigned char* end = re.compile(c.pattern, buf.data(), buf.data() + size, '%');
      if (size < c.need) {
        EXPECT_EQ(end, nullptr) << c.pattern << " " << size;
        EXPECT_EQ(re.last_error(), 50) << c.pattern << " " << size;
      } else {
        EXPECT_EQ(end, buf.data() + size) << c.pattern;
      }
      for (std::size_t k = size; k < buf.size(); ++k) ASSERT_EQ(buf[k], 0xEE) << c.pattern << " " << size;
    }
  }
}

TEST(RegexMatch, LeftmostThenLongest) {
  EXPECT_EQ(search("a*", "baaa"), "0:");  // empty match at the start
  EXPECT_EQ(search("a*", ""), "0:");
  EXPECT_EQ(search("ba*", "xbaaa"), "1:baaa");
  EXPECT_EQ(search("*a", "x*a"), "1:*a");
  EXPECT_EQ(search("^*", "**"), "0:*");
  EXPECT_EQ(search("^*", "a*"), "none");
  EXPECT_EQ(search("^b", "ab"), "none");
  EXPECT_EQ(search("a.c", "xabcx"), "1:abc");
  EXPECT_EQ(search("a.", "a"), "none");         // "." never matches the end
  EXPECT_EQ(search("a[^b]", "a"), "none");      // nor does a negated list
  EXPECT_EQ(search("a**", "aa*"), "0:aa*");
  EXPECT_EQ(search("x.*y", "x1y2y3"), "0:x1y2y");
  EXPECT_EQ(search("%.%*%[", "a.*[b"), "1:.*[");
  EXPECT_EQ(search("a%", "xa%"), "1:a%");
  EXPECT_EQ(search("%t%z", "a\t\x1a"), "1:\t\x1a");
  EXPECT_EQ(search("[%n]", "a\nb"), "1:\n");
  EXPECT_EQ(search(std::string("\xe4*\xfc"), std::string("a\xe4\xe4\xfc")), "1:\xe4\xe4\xfc");
}

TEST(RegexMatch, EndAnchor) {
  EXPECT_EQ(search("a$", "xa"), "1:a");
  EXPECT_EQ(search("a$", "xa\n"), "1:a");
  EXPECT_EQ(search("a$", "xa\r\n"), "1:a");
  EXPECT_EQ(search("a$", "xa\x1arest"), "1:a");
  EXPECT_EQ(search("a$", "xa\r"), "none");
  EXPECT_EQ(search("a$", "xa\n\n"), "none");
  EXPECT_EQ(search("a$", "xa\nb"), "none");
  EXPECT_EQ(search("a$", "xa\r\nb"), "none");
  EXPECT_EQ(search("a$", "xab"), "none");
  EXPECT_EQ(search("a$b", "a$b"), "0:a$b");
  EXPECT_EQ(search("$", "ab\n"), "2:");
  EXPECT_EQ(search("^$", ""), "0:");
  EXPECT_EQ(search("^$", "\r\n"), "0:");
  EXPECT_EQ(search("^$", "x"), "none");
  EXPECT_EQ(search("a%$", "a$"), "0:a$");
}

TEST(RegexMatch, Intervals) {
  EXPECT_EQ(search("a%{2,3%}", "a"), "none");
  EXPECT_EQ(search("a%{2,3%}", "aa"), "0:aa");
  EXPECT_EQ(search("a%{2,3%}", "aaaa"), "0:aaa");
  EXPECT_EQ(search("a%{2,3}", "aaaa"), "0:aaa");
  EXPECT_EQ(search("a%{2%}", "aaaa"), "0:aa");
  EXPECT_EQ(search("a%{2,%}", "baaaaa"), "1:aaaaa");
  EXPECT_EQ(search("ba%{0%}", "baa"), "0:b");
  EXPECT_EQ(search("a%{1,3%}a", "aaaa"), "0:aaaa");  // backs off for the rest
  EXPECT_EQ(search("a%{2,3%}ab", "aab"), "none");    // but not below the minimum
  EXPECT_EQ(search("%D%{3%}", "ab12345"), "2:123");
  EXPECT_EQ(search("[ab]%{2%}c", "abac"), "1:bac");
  EXPECT_EQ(search(".%{3%}", "ab"), "none");
}

TEST(RegexMatch, GroupsAndBackReferences) {
  Engine e;
  ASSERT_TRUE(e.compile("%(ab%)%1"));
  EXPECT_EQ(e.search("xabab"), "1:abab");
  EXPECT_EQ(e.groups(), "ab");
  EXPECT_EQ(e.search("abac"), "none");
  EXPECT_FALSE(e.re.group(1).valid);  // no spans after a failed match
  EXPECT_EQ(e.re.match_start(), 0u);
  EXPECT_EQ(e.re.match_end(), 0u);
  EXPECT_FALSE(e.re.group(0).valid);
  EXPECT_FALSE(e.re.group(2).valid);

  ASSERT_TRUE(e.compile("%(.*%)=%(.*%)"));
  EXPECT_EQ(e.search("key=value"), "0:key=value");
  EXPECT_EQ(e.groups(), "key,value");

  ASSERT_TRUE(e.compile("%(a%(b*%)%)%2c"));  // nested; group 2 ends first
  EXPECT_EQ(e.search("xabbbbc"), "1:abbbbc");
  EXPECT_EQ(e.groups(), "abb,bb");

  ASSERT_TRUE(e.compile("%(a*%)b%1"));  // the group backs off for the reference
  EXPECT_EQ(e.search("aaaba"), "2:aba");
  EXPECT_EQ(e.groups(), "a");
}

TEST(RegexMatch, RepeatedBackReferences) {
  Engine e;
  ASSERT_TRUE(e.compile("%(ab%)%1*"));
  EXPECT_EQ(e.search("ababababa"), "0:abababab");  // whole copies only
  ASSERT_TRUE(e.compile("%(ab%)%1*b"));
  EXPECT_EQ(e.search("abababb"), "0:abababb");
  EXPECT_EQ(e.search("ababab"), "none");           // backs off whole copies
  ASSERT_TRUE(e.compile("%(ab%)%1*abc"));
  EXPECT_EQ(e.search("abababc"), "0:abababc");
  // An empty group: the starred reference matches the empty text once.
  ASSERT_TRUE(e.compile("x%(a*%)%1*y"));
  EXPECT_EQ(e.search("xy"), "0:xy");
  EXPECT_EQ(e.groups(), "");
  // Intervals on a reference count copies.
  ASSERT_TRUE(e.compile("%(ab%)%1%{2%}"));
  EXPECT_EQ(e.search("abababab"), "0:ababab");
  EXPECT_EQ(e.search("abab"), "none");
  ASSERT_TRUE(e.compile("%(ab%)%1%{1,2%}c"));
  EXPECT_EQ(e.search("abababc"), "0:abababc");
  EXPECT_EQ(e.search("ababababc"), "2:abababc");
  ASSERT_TRUE(e.compile("x%(%)%1%{3,%}y"));
  EXPECT_EQ(e.search("xy"), "0:xy");
}

TEST(RegexMatch, WordBoundariesAndClassEscapes) {
  EXPECT_EQ(search("%<the%>", "in the end"), "3:the");
  EXPECT_EQ(search("%<the%>", "other"), "none");
  EXPECT_EQ(search("%<the%>", "theme the"), "6:the");
  EXPECT_EQ(search("%<a", "ab"), "0:a");    // at the subject start
  EXPECT_EQ(search("b%>", "ab"), "1:b");    // at the subject end
  EXPECT_EQ(search("%>", "  "), "none");    // needs a word byte before
  EXPECT_EQ(search("%<", "  x_1"), "2:");
  EXPECT_EQ(search("%A*", "Ab1"), "0:Ab");
  EXPECT_EQ(search("%L*", "abC"), "0:ab");
  EXPECT_EQ(search("%U%U", "aBCd"), "1:BC");
  EXPECT_EQ(search("%D*", "12a"), "0:12");
  EXPECT_EQ(search("%W*", "a_1-"), "0:a_1");
  EXPECT_EQ(search("%!%D*", "ab1"), "0:ab");   // a run of non-digits
  EXPECT_EQ(search("%!%D", "12"), "none");      // not even the end
  EXPECT_EQ(search("x%!%W", "x"), "none");
  EXPECT_EQ(search("%!%A%{2%}", "ab12"), "2:12");
  EXPECT_EQ(search("%!x", "a!x"), "1:!x");      // negation needs a class escape
}

TEST(RegexMatch, SubjectEndsAtNul) {
  Engine e;
  ASSERT_TRUE(e.compile("b$"));
  EXPECT_EQ(e.re.match(std::string_view("ab\0cd", 5)), 1);
  EXPECT_EQ(e.re.match_start(), 1u);
  ASSERT_TRUE(e.compile("c"));
  EXPECT_EQ(e.re.match(std::string_view("ab\0cd", 5)), 0);
}

// With and without the first-literal shortcut (a literal first, possibly
// behind group openings, versus a one-member list there), every subject
// gives the same match and groups.
TEST(RegexMatch, FirstLiteralShortcutAgreesWithFullScan) {
  const char* pairs[][2] = {
      {"ab*", "[a]b*"},           {"a%(b*%)%1", "[a]%(b*%)%1"}, {"a.*b", "[a].*b"},
      {"b%>", "[b]%>"},           {"a$", "[a]$"},               {"ab*c%{0,2%}", "[a]b*c%{0,2%}"},
      {"ba%{2%}", "[b]a%{2%}"},   {"a%(.%)%1*c", "[a]%(.%)%1*c"}, {"c%<", "[c]%<"},
      {"a%!%D", "[a]%!%D"},       {"%(a%)%1", "%([a]%)%1"},     {"%(%(b%)a*%)%2%1", "%(%([b]%)a*%)%2%1"},
  };
  std::vector<std::string> subjects{""};
  const std::string alphabet = "abc ";
  for (std::size_t len = 1, first = 0; len <= 5; ++len) {
    std::size_t last = subjects.size();
    for (std::size_t k = first; k < last; ++k)
      for (char c : alphabet) subjects.push_back(subjects[k] + c);
    first = last;
  }
  for (auto& pair : pairs) {
    Engine fast, full;
    ASSERT_TRUE(fast.compile(pair[0]));
    ASSERT_TRUE(full.compile(pair[1]));
    for (const std::string& s : subjects) {
      ASSERT_EQ(fast.search(s), full.search(s)) << pair[0] << " on '" << s << "'";
      ASSERT_EQ(fast.groups(), full.groups()) << pair[0] << " on '" << s << "'";
    }
  }
}

// The global substitution of expr: after each match its end becomes the
// back-off limit and matching goes on from there.
std::string substitute_all(std::string_view pattern, std::string_view subject, std::string_view rep) {
  Engine e;
  EXPECT_TRUE(e.compile(pattern));
  std::string text(subject), out;
  const char* pos = text.c_str();
  int count = 0;
  while (count < 100 && e.re.match(pos)) {
    out.append(pos, e.re.match_start());
    out += rep;
    ++count;
    e.re.set_backoff_limit(pos + e.re.match_end());
    pos += e.re.match_end();
    if (*pos == 0 && count >= 2) break;
  }
  return out + pos;
}

TEST(RegexMatch, BackOffLimit) {
  EXPECT_EQ(substitute_all("a*", "aaa", "-"), "-");
  EXPECT_EQ(substitute_all("-", "a-b-", "+"), "a+b+");
  EXPECT_EQ(substitute_all("-", "a-b-c", "+"), "a+b+c");
  EXPECT_EQ(substitute_all("x*", "abc", "-"), "-a-b-c-");
  EXPECT_EQ(substitute_all("b*", "abbc", "-"), "-a-c-");
  EXPECT_EQ(substitute_all("a%{0,2%}", "aaaaa", "-"), "---");

  Engine e;
  ASSERT_TRUE(e.compile("ab*"));
  std::string s = "abbb";
  e.re.set_backoff_limit(s.c_str() + 2);  // the run may not end at 2 ...
  EXPECT_EQ(e.search(s), "0:abbb");        // ... the longest run does not
  ASSERT_TRUE(e.compile("ab*bbc"));  // compile clears the limit
  EXPECT_EQ(e.re.backoff_limit(), nullptr);
  s = "abbbc";  // b* must back off from 4 over 3 to 2
  EXPECT_EQ(e.re.match(s.c_str()), 1);
  for (std::size_t limit : {2, 3, 4}) {
    e.re.set_backoff_limit(s.c_str() + limit);  // reached while backing off
    EXPECT_EQ(e.re.match(s.c_str()), 0) << limit;
  }
  e.re.set_backoff_limit(s.c_str() + 1);  // behind the successful end
  EXPECT_EQ(e.re.match(s.c_str()), 1);
}

TEST(RegexFold, UpperCasesEveryLiteralOperandOnly) {
  Engine e;
  // Interval counts 97/122 and the class bitmap ("[056]" has the byte
  // 0x61 = "a") hold byte values in a-z that must stay as they are.
  ASSERT_TRUE(e.compile("a*b%{97,122%}c[056]%L.%(d%)%1*e%{2%}f$"));
  std::vector<int> before = e.program();
  regex_fold_literals_upper(e.buf.data());
  std::vector<int> after = e.program();
  ASSERT_EQ(before.size(), after.size());
  std::vector<std::size_t> changed;
  for (std::size_t k = 0; k < before.size(); ++k)
    if (before[k] != after[k]) changed.push_back(k);
  // Operands of a*, b{97,122}, c, d, e{2}, f.
  std::size_t class_at = 2 + 4 + 2;
  std::size_t after_class = class_at + 33;
  ASSERT_EQ(before[class_at + 1 + 6], 'a');
  EXPECT_EQ(changed, (std::vector<std::size_t>{1, 3, 7, after_class + 5, after_class + 11,
                                               after_class + 15}));
  for (std::size_t k : changed) EXPECT_EQ(after[k], before[k] - 32);
  EXPECT_EQ(e.re.match("A"), 0);
  std::string subject = "AA" + std::string(98, 'B') + "C5xaDDDEEF";
  EXPECT_EQ(e.re.match(subject.c_str()), 1);
  EXPECT_EQ(e.re.match_end(), subject.size());
}

TEST(RegexMatch, LongLinesCostTimeNotStack) {
  std::string line(4096, 'a');
  EXPECT_EQ(search(".*x", line), "none");
  EXPECT_EQ(search("%(a*%)%1$", line), "0:" + line);
  line[4000] = 'x';
  EXPECT_EQ(search("a*x", line), "0:" + line.substr(0, 4001));
  // Recursion follows the repeated items of the program: 2000 of them.
  std::string deep;
  for (int k = 0; k < 2000; ++k) deep += "x*";
  EXPECT_EQ(search(deep + "y", "aby"), "2:y");
  EXPECT_EQ(search(deep + "y", "ab"), "none");
}

std::string times(std::string_view piece, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += piece;
  return out;
}

// Stacked repetitions, which plain backtracking takes exponential time
// on, give the right result with work bounded by a polynomial: without
// back-references every continuation after a repeated item is entered at
// most once per subject position.
TEST(RegexBound, StackedRepetitionsTakeOneStepPerItemAndPosition) {
  const std::string a30(30, 'a'), a60(60, 'a'), a200(200, 'a');
  std::string ab100;
  for (int k = 0; k < 50; ++k) ab100 += "ab";
  struct Case {
    std::string pattern, subject, result, groups;
    std::size_t items;  // repeated items
  };
  const Case cases[] = {
      {times("a*", 8) + "b", a30, "none", "", 8},
      {times("a*", 8) + "b", a30 + "b", "0:" + a30 + "b", "", 8},
      {times("a*", 8) + "b", "x" + a30 + "b", "1:" + a30 + "b", "", 8},
      {times("a*", 20) + "b", a200, "none", "", 20},
      {"^" + times("a*", 20) + "$", a200 + "b", "none", "", 20},
      {times(".*", 12) + "x", std::string(100, 'y'), "none", "", 12},
      {times(".*", 12) + "x", std::string(100, 'y') + "x", "0:" + std::string(100, 'y') + "x", "", 12},
      {times("[ab]*", 10) + "c", ab100, "none", "", 10},
      {times("%W*", 10) + "%>-", a60, "none", "", 10},
      {times("%!%D*", 10) + "1", a60, "none", "", 10},
      // Groups around the repetitions: the first takes all, the others
      // are empty; nested groups likewise.
      {times("%(a*%)", 6) + "b", a60 + "b", "0:" + a60 + "b", a60 + ",,,,,", 6},
      {times("%(a*%)", 6) + "b", a60, "none", "", 6},
      {"%(%(%(a*%)a*%)a*%)a*b", a60, "none", "", 4},
      {"%(%(%(a*%)a*%)a*%)a*b", "aab", "0:aab", "aa,aa,aa", 4},
      // A group cannot be repeated: "*" after it is a literal.
      {"%(a*%)*b", a60, "none", "", 1},
      {"%(a*%)*b", "aa*b", "0:aa*b", "aa", 1},
      // Runs of one or two "a" in a row, as many as the text needs.
      {times("a%{1,2%}", 12) + "c", a60, "none", "", 12},
      {times("a%{1,2%}", 12) + "c", std::string(15, 'a') + "c", "0:" + std::string(15, 'a') + "c", "", 12},
      {times("a%{1,2%}", 12) + "c", std::string(25, 'a') + "c", "1:" + std::string(24, 'a') + "c", "", 12},
      {times("a%{0,30%}", 6) + "b", a60, "none", "", 6},
      {times("a%{3,%}", 6) + "b", a60, "none", "", 6},
      {times("a%{3,%}", 6) + "b", a30 + "b", "0:" + a30 + "b", "", 6},
      // Found by fuzzing (with a memo table too small for the subject):
      // starred literal "*" items against a run of "*".
      {times("**", 17) + "\xd6\xd9*", std::string(40, '*') + "a", "none", "", 18},
  };
  // Also with a table too small for any row of bits: the interval each
  // item then keeps covers the stretch of positions these fail on.
  for (std::size_t bits : {Regex::memo_max_bits, std::size_t{1}}) {
    for (const Case& c : cases) {
      Engine e;
      e.re.set_memo_bits(bits);
      ASSERT_TRUE(e.compile(c.pattern)) << c.pattern;
      EXPECT_EQ(e.search(c.subject), c.result) << c.pattern << " bits " << bits;
      if (c.result != "none") {
        EXPECT_EQ(e.groups(), c.groups) << c.pattern << " bits " << bits;
      }
      EXPECT_LE(e.re.steps(), (c.items + 1) * (c.subject.size() + 1)) << c.pattern << " bits " << bits;
    }
  }
}

// Back-references: a continuation that reads a group set before it is
// remembered only for that group's span, which keeps the work polynomial.
TEST(RegexBound, BackReferencesAfterStackedRepetitions) {
  struct Case {
    std::string pattern, subject, result, groups;
  };
  const std::string a40(40, 'a');
  const Case cases[] = {
      {"%(a*%)" + times("a*", 5) + "%1b", a40, "none", ""},
      {"%(a*%)" + times("a*", 5) + "%1b", a40 + "b", "0:" + a40 + "b", std::string(20, 'a')},
      {"%(a*%)" + times("%1*", 4) + "b", a40, "none", ""},
      {"%(a*%)" + times("%1*", 4) + "b", "aaab", "0:aaab", "aaa"},
      {"%(a*%)%(a*%)%1*%2*%1*%2*b", a40, "none", ""},
      {"x%(a*%)" + times("a*", 5) + "y%1z", "x" + a40 + "yaaz", "0:x" + a40 + "yaaz", "aa"},
      // Stacked repetitions inside a group that a reference reads later:
      // remembered while the group's start stays where it is.
      {"%(" + times("a*", 6) + "%)%1b", a40, "none", ""},
      {"%(" + times("a*", 6) + "%)%1b", a40 + "b", "0:" + a40 + "b", std::string(20, 'a')},
      {"%(" + times("a*", 6) + "%)%1*%1*b", a40, "none", ""},
      // Found by fuzzing: starred literal "*" items in a group read twice
      // later.
      {"%(" + times("*", 20) + "\na***'****\na*%)0*%1*%1*b", times("*", 14) + "\na***'****\na*%)0*%1*%1*b",
       "none", ""},
      // The group backs off until the reference after the run fits.
      {"%(.*%)" + times(".*", 4) + "=%1", "abc" + times("-", 30) + "=ab", "0:abc" + times("-", 30) + "=ab", "ab"},
      {"%(.*%)" + times(".*", 4) + "=%1", "abc" + times("-", 30) + "=x", "0:abc" + times("-", 30) + "=", ""},
  };
  for (const Case& c : cases) {
    Engine e;
    ASSERT_TRUE(e.compile(c.pattern)) << c.pattern;
    EXPECT_EQ(e.search(c.subject), c.result) << c.pattern;
    if (c.result != "none") {
      EXPECT_EQ(e.groups(), c.groups) << c.pattern;
    }
    std::size_t n = c.subject.size() + 1;
    EXPECT_LE(e.re.steps(), 8 * n * n * n) << c.pattern;
  }
}

// Long lines: the memo table covers a 4095-byte program against a
// 4095-byte line.
TEST(RegexBound, LongLines) {
  std::string line(4095, 'a');
  Engine e;
  ASSERT_TRUE(e.compile(times("a*", 30) + "b"));
  EXPECT_EQ(e.search(line), "none");
  EXPECT_LE(e.re.steps(), 31u * 4096);
  line.back() = 'b';
  EXPECT_EQ(e.search(line), "0:" + line);
  // As many repeated items as the buffer holds: ".*" is one byte.
  ASSERT_TRUE(e.compile(times(".*", 4093)));
  EXPECT_EQ(e.search(line.substr(0, 100)), "0:" + line.substr(0, 100));
  ASSERT_TRUE(e.compile(times(".*", 100) + "x"));
  EXPECT_EQ(e.search(line), "none");
  EXPECT_LE(e.re.steps(), 101u * 4096);
  // From fuzzing: many items that match nothing here, one that takes the
  // rest of the line, and an interval that cannot match.
  ASSERT_TRUE(e.compile(times("%D*", 500) + "%A*" + times("%D*", 40) + "%D%{69%}"));
  EXPECT_EQ(e.search(std::string(400, 'E')), "none");
  EXPECT_LE(e.re.steps(), 542u * 401);
}

// An empty pattern reuses the program with its memo layout.
TEST(RegexBound, ReusedProgram) {
  Engine e;
  ASSERT_TRUE(e.compile(times("a*", 10) + "%(b%)"));
  ASSERT_EQ(e.re.compile("", e.buf.data(), e.buf.data() + e.buf.size(), '%'), e.buf.data());
  EXPECT_EQ(e.search(std::string(100, 'a')), "none");
  EXPECT_LE(e.re.steps(), 11u * 101);
  EXPECT_EQ(e.search(std::string(100, 'a') + "b"), "0:" + std::string(100, 'a') + "b");
  EXPECT_EQ(e.groups(), "b");
}

TEST(RegexEngine, GlobalInstanceAndOtherEscape) {
  Regex& g = regex_engine();
  EXPECT_EQ(&g, &regex_engine());
  std::array<unsigned char, 64> buf{};
  ASSERT_NE(g.compile("\\(a\\)\\1%", buf.data(), buf.data() + buf.size(), '\\'), nullptr);
  EXPECT_EQ(g.match("xaa%"), 1);
  EXPECT_EQ(g.match_start(), 1u);
}

}  // namespace
}  // namespace vek
