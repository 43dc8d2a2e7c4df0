// expr: the operator word, the substitution on its own (results, the
// continuation rule, the back-off limit, the result bound), and the
// handler's results in variables and its messages.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "builtins/search.h"
#include "capture.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using testing_support::Capture;

TEST(ExprOperator, Forms) {
  using T = ExprOperator::Target;
  struct Case {
    const char* word;
    bool ok;
    T target;
    bool fold;
  };
  const Case cases[] = {
      {":", true, T::kOutput, false},     {"::", true, T::kNowhere, false},
      {":n", true, T::kVariable, false},  {"=:", true, T::kOutput, true},
      {"=::", true, T::kNowhere, true},   {"=:_x9", true, T::kVariable, true},
      {":::", false, T::kOutput, false},  {"::x", false, T::kOutput, false},
      {":1x", false, T::kOutput, false},  {"=", false, T::kOutput, false},
      {"", false, T::kOutput, false},     {"==:", false, T::kOutput, false},
      {"x:", false, T::kOutput, false},   {":a-b", false, T::kOutput, false},
  };
  for (const Case& c : cases) {
    ExprOperator op;
    ASSERT_EQ(parse_expr_operator(c.word, op), c.ok) << c.word;
    if (!c.ok) continue;
    EXPECT_EQ(op.target, c.target) << c.word;
    EXPECT_EQ(op.fold, c.fold) << c.word;
    if (c.target == T::kVariable) {
      EXPECT_STREQ(op.name, std::string(c.word).substr(c.fold ? 2 : 1).c_str());
    }
  }
}

// Compiles, matches and substitutes; "<bad group>" and "<overflow>" stand
// for the failures.
std::string subst(const char* subject, const char* pattern, const char* replacement, bool global,
                  bool literal = false, std::size_t capacity = 4095) {
  static std::array<unsigned char, 4095> prog;
  Regex& rx = regex_engine();
  if (rx.compile(pattern, prog.data(), prog.data() + prog.size(), '%') == nullptr) return "<compile>";
  SubstJob job;
  job.subject = subject;
  job.text = subject;
  job.replacement = replacement;
  job.global = global;
  job.literal = literal;
  job.esc = '%';
  if (!rx.match(job.text)) return "<no match>";
  std::vector<char> out(capacity);
  std::size_t len = 0;
  SubstStatus st = expr_substitute(rx, job, out.data(), out.size(), &len);
  EXPECT_EQ(rx.backoff_limit(), nullptr);
  if (st == SubstStatus::kBadGroup) return "<bad group>";
  if (st == SubstStatus::kOverflow) return "<overflow>";
  EXPECT_EQ(out[len], '\0');
  return std::string(out.data(), len);
}

TEST(ExprSubstitute, Results) {
  struct Case {
    const char* subject;
    const char* pattern;
    const char* replacement;
    bool global;
    const char* expected;
  };
  const Case cases[] = {
      {"a-b-c", "-", "+", false, "a+b-c"},
      {"a-b-c", "-", "+", true, "a+b+c"},
      {"a-b-", "-", "+", true, "a+b+"},
      {"abc", "b", "[&]", false, "a[b]c"},
      // The whole subject is one match; an empty match at its end is
      // excluded by the back-off limit.
      {"aaa", "a*", "-", true, "-"},
      // Empty matches elsewhere are taken, each once.
      {"ab", "x*", "-", true, "-a-b-"},
      // The rest is a continuation: "^" means the subject's start only.
      {"aaa", "^a", "b", true, "baa"},
      {"ab ab", "%<a", "X", true, "Xb Xb"},
      {"ab xab", "%<a", "X", true, "Xb xab"},  // no word starts inside "xab"
      // Empty matches that no repeated item makes are not taken twice
      // at the same place.
      {"ab cd", "%<", "X", true, "Xab Xcd"},
      {"ab", "%>", "X", true, "abX"},
      {"ab", "$", "X", true, "abX"},
      {"ab", "^", "X", true, "Xab"},
      // Groups, "&" and the escapes of the replacement.
      {"key=value", "%(.*%)=%(.*%)", "%2=%1", false, "value=key"},
      {"abc", "b", "%&%%&", false, "a&%bc"},
      {"abc", "b", "%x%", false, "a%x%c"},
      {"abc", "%(x*%)b", "<%1>", false, "a<>c"},
      {"hello world", "o", "%U&%E-", true, "hellO- wO-rld"},
      {"Hello World", "%(%A*%) %(%A*%)", "%U%1%L%2%E!", false, "HELLOworld!"},
      {"abc", "b", "%Lx%UyZ", false, "axYZc"},
      {"abc", "b", "%9", false, "<bad group>"},
      {"abc", "%(b%)", "%2", false, "<bad group>"},
      {"abc", "%(b%)", "%1%1", false, "abbc"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(subst(c.subject, c.pattern, c.replacement, c.global), c.expected)
        << c.subject << " : " << c.pattern << " " << c.replacement << (c.global ? " +" : "");
}

TEST(ExprSubstitute, LiteralReplacementIgnoresEscapes) {
  EXPECT_EQ(subst("abc", "b", "[&%1%U]", false, true), "a[&%1%U]c");
  EXPECT_EQ(subst("a-b", "-", "&", true, true), "a&b");
}

TEST(ExprSubstitute, ResultIsBoundedByTheArea) {
  // "a+b+c" and its NUL need 6 bytes.
  EXPECT_EQ(subst("a-b-c", "-", "+", true, false, 6), "a+b+c");
  EXPECT_EQ(subst("a-b-c", "-", "+", true, false, 5), "<overflow>");
  EXPECT_EQ(subst("a-b-c", "-", "++++", true, false, 8), "<overflow>");
  EXPECT_EQ(subst("abc", "b", "", false, false, 1), "<overflow>");
  // A global replacement of every empty match by a long text stops at
  // the bound instead of running on.
  std::string subject(400, 'x');
  EXPECT_EQ(subst(subject.c_str(), "y*", "0123456789", true, false, 4000), "<overflow>");
}

// The handler, with its output captured.
class ExprHandler : public ::testing::Test {
 protected:
  void SetUp() override { reset_interpreter(); }
  static int call(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return bi_expr(static_cast<int>(words.size()), argv.data());
  }
  static std::string var(const char* name) {
    VarRecord* r = var_find(variable_scope(), name);
    return r ? std::string(r->value(), static_cast<std::size_t>(r->value_size())) : "<unset>";
  }
};

TEST_F(ExprHandler, ResultsInVariablesAndStatus) {
  struct Case {
    std::vector<std::string> words;
    int status;
    const char* value;  // of v afterwards
  };
  const Case cases[] = {
      {{"expr", "abc", ":v", "b"}, 0, "1"},
      {{"expr", "abc", ":v", "x"}, 1, "0"},
      {{"expr", "abc", "=:v", "B.*"}, 0, "2"},
      {{"expr", "key=value", ":v", "%(.*%)=%(.*%)"}, 0, "keyvalue"},
      {{"expr", "key=", ":v", "%(.*%)=%(.*%)"}, 0, "key"},
      // Groups that took part with empty text: the variable is emptied.
      {{"expr", "=", ":v", "%(.*%)=%(.*%)"}, 0, ""},
      {{"expr", "novalue", ":v", "%(.*%)=%(.*%)"}, 1, "<unset>"},
      {{"expr", "a-b-c", ":v", "-", "+", "_"}, 0, "a_b_c"},
      {{"expr", "a-b-c", ":v", "x", "_"}, 1, "<unset>"},
      {{"expr", "Hello World", "=:v", "WORLD", "%L&"}, 0, "Hello world"},
      {{"expr", "ABC", "=:v", "b", "=+", "%1"}, 0, "A%1C"},
  };
  for (const Case& c : cases) {
    var_unset(variable_scope(), "v");
    Capture out(1);
    EXPECT_EQ(call(c.words), c.status) << c.words[1] << " " << c.words[3];
    EXPECT_EQ(var("v"), c.value) << c.words[1] << " " << c.words[3];
    EXPECT_EQ(out.text(), "");
  }
}

TEST_F(ExprHandler, CaseIgnoredOnAnUpperCasedCopy) {
  Capture out(1);
  EXPECT_EQ(call({"expr", "Hello World", "=:", "o w", "_"}), 0);
  EXPECT_EQ(call({"expr", "Hello World", ":", "o w", "_"}), 1);
  // Lists are not folded: [a-z] meets only upper-case letters.
  EXPECT_EQ(call({"expr", "abc", "=:", "[a-z]"}), 1);
  EXPECT_EQ(out.text(), "Hell_orld0");
}

TEST_F(ExprHandler, Messages) {
  struct Case {
    std::vector<std::string> words;
    const char* message;
  };
  const Case cases[] = {
      {{"expr", "a", ":"}, "expr: Falsche Argumenteanzahl.\r\n"},
      {{"expr", "a", ":", "b", "c", "d", "e"}, "expr: Falsche Argumenteanzahl.\r\n"},
      {{"expr", "a", "+", "b"}, "expr: Unbekannter Operator.\r\n"},
      {{"expr", "a", ":1x", "b"}, "expr: Unbekannter Operator.\r\n"},
      {{"expr", "a", ":", "%("}, "expr: Fehlerhafter Regul\x84rer Ausdruck.\r\n"},
      {{"expr", "a", ":", ""}, "expr: Fehlerhafter Regul\x84rer Ausdruck.\r\n"},
      {{"expr", "abc", ":", "b", "%2"}, "expr: Fehlerhafter Regul\x84rer Ausdruck.\r\n"},
  };
  for (const Case& c : cases) {
    Capture err(2);
    EXPECT_THROW(call(c.words), ProcessExit) << c.words[2];
    EXPECT_EQ(err.text(), c.message) << c.words[2];
  }
}

TEST_F(ExprHandler, OverlongResultIsOutOfMemory) {
  std::string subject(3000, '-');
  Capture err(2);
  EXPECT_THROW(call({"expr", subject, ":", "-", "+", "ab"}), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Zuwenig Arbeitsspeicher: 'expr'\r\n");
}

TEST_F(ExprHandler, IgnoringCaseNeedsTheSubjectToFitItsCopy) {
  std::string subject(4096, 'a');
  Capture err(2);
  EXPECT_THROW(call({"expr", subject, "=:", "A"}), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Limit erreicht: 'Ziel-Puffer'\r\n");
  subject.pop_back();
  Capture out(1);
  EXPECT_EQ(call({"expr", subject, "=:", "A*"}), 0);
  EXPECT_EQ(out.text(), "4095");
}

}  // namespace
}  // namespace vek
