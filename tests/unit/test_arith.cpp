// The arithmetic evaluator over expression texts: precedence,
// associativity, wrap-around, numbers, variables, conditionals, the
// limits and every error.  Errors are made to continue (option C in a
// `.` source) so that one process runs the whole table.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "capture.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"
#include "vars/arith.h"
#include "vars/subscript.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using testing_support::Capture;

struct Outcome {
  bool ok;
  std::int32_t value;
  int base;
  std::string err;
};

Outcome eval(const std::string& text) {
  Capture err(2);
  TextSource src(text.c_str());
  last_status = 0;
  const ArithResult r = arith_evaluate(src.source(), variable_scope(), ArithText::kArgument);
  return {r.ok, r.value, r.base, err.text()};
}

std::string get(const char* name) {
  const VarRecord* r = var_find(variable_scope(), name);
  if (r == nullptr) return "<unset>";
  if (r->is_integer()) return "i" + std::to_string(r->int_value());
  return r->value();
}

void set(const char* name, const char* value) { var_set(variable_scope(), name, VarValue::text(value)); }

class Arith : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    varstore_create_initial(variable_scope(), "C:\\");
    set_opt('C', true);
    input.mode = kModeDot;
  }
  void TearDown() override { reset_interpreter(); }
};

struct ValueCase {
  const char* text;
  std::int32_t value;
};

TEST_F(Arith, PrecedenceAndAssociativity) {
  const ValueCase cases[] = {
      {"1+2*3", 7},        {"(1+2)*3", 9},      {"[1+2]*3", 9},     {"{1+2}*3", 9},
      {"2*3+4*5", 26},     {"10-4-3", 3},       {"100/10/5", 2},    {"2-3*4", -10},
      {"7-2+1", 6},        {"17%5*2", 4},       {"1+2<<3", 24},     {"1<<2+1", 8},
      {"1<2==1", 1},       {"5>3>1", 0},        {"3&5==5", 1},      {"1|2^3&4", 3},
      {"6&3|8", 10},       {"6^3&1", 7},        {"1||0&&0", 1},     {"0&&1||1", 1},
      {"1^^1||1", 1},      {"1^^0&&0", 1},      {"0||1^^1", 0},     {"2<3<<1", 1},
      {"1+2==3", 1},       {"4>3==2>1", 1},     {"1 , 2", 2},       {"1,2,3", 3},
      {" 1 +\t2\r\n*3 ", 7}, {"1;2", 2},         {"1;2;40", 40},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
  }
}

TEST_F(Arith, UnaryOperators) {
  const ValueCase cases[] = {
      {"-2*-3", 6}, {"!0+1", 2}, {"~0", -1},  {"-~0", 1},  {"*3", 9},   {"2**3", 18},
      {"*-3", 9},   {"-*3", -9}, {"+5", 5},   {"!5", 0},   {"!!5", 1},  {"--5", 5},
      {"- -5", 5},  {"-+-4", 4}, {"~-1", 0},  {"-(2+3)", -5}, {"!(1-1)", 1}, {"*(1+1)*2", 8},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
  }
}

TEST_F(Arith, WrapAroundShiftsAndDivision) {
  const ValueCase cases[] = {
      {"2147483647+1", INT_MIN},    {"-2147483648-1", INT_MAX},  {"65536*65536", 0},
      {"46341*46341", -2147479015}, {"-(-2147483648)", INT_MIN}, {"*65536", 0},
      {"-2147483648*-1", INT_MIN},  {"4294967295", -1},          {"1<<31", INT_MIN},
      {"1<<32", 1},                 {"2<<33", 4},                {"-1>>28", 15},
      {"-1>>0", -1},                {"-1>>32", -1},              {"1<<-1", INT_MIN},
      {"-8>>1", 2147483644},        {"8>>-31", 4},               {"7/2", 3},
      {"-7/2", -3},                 {"7%3", 1},                  {"-7%3", -1},
      {"7%-3", 1},                  {"-2147483648/-1", INT_MIN}, {"-2147483648%-1", 0},
      {"5/-1", -5},                 {"-1<0", 1},                 {"3<=3", 1},
      {"3>=4", 0},                  {"2!=2", 0},                 {"2==2", 1},
      {"2&&3", 1},                  {"0||0", 0},                 {"5^^0", 1},
      {"5^^7", 0},                  {"-2147483648<0", 1},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
  }
}

TEST_F(Arith, NumbersAndOutputBase) {
  const ValueCase cases[] = {
      {"16#ff", 255},   {"16#FF", 255},       {"2#101", 5},          {"8#17", 15},
      {"36#z", 35},     {"10#12", 12},        {"0012", 12},          {"256#ABCD", 0x41424344},
      {"2#11111111111111111111111111111111", -1}, {"12345678901", 1234567890},
      {"16#10+1", 17},  {"00000000000000000000000000000000000001", 1},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
    EXPECT_EQ(o.base, 0) << c.text;
  }
  // An empty b# is 0 and selects the output base.
  Outcome o = eval("16#+255");
  EXPECT_EQ(o.value, 255);
  EXPECT_EQ(o.base, 16);
  o = eval("8#");
  EXPECT_EQ(o.value, 0);
  EXPECT_EQ(o.base, 8);
  o = eval("2#+5*3");
  EXPECT_EQ(o.value, 15);
  EXPECT_EQ(o.base, 2);
  // 256# takes the next four characters, whatever they are.
  o = eval("256#a+b)");
  EXPECT_EQ(o.value, 0x612B6229);
}

TEST_F(Arith, VariablesAndAssignments) {
  set("t", "12abc");
  set("sp", " -7");
  var_set(variable_scope(), "n", VarValue::integer(40), kVar | kInteger);
  EXPECT_EQ(eval("t+1").value, 13);
  EXPECT_EQ(eval("$t+sp").value, 5);
  EXPECT_EQ(eval("nosuch*2+1").value, 1);
  EXPECT_EQ(eval("n/8").value, 5);

  EXPECT_EQ(eval("x=7").value, 7);
  EXPECT_EQ(get("x"), "7");
  EXPECT_EQ(eval("a=b=c=3").value, 3);
  EXPECT_EQ(get("a") + get("b") + get("c"), "333");
  EXPECT_EQ(eval("a=(b=2)+1").value, 3);
  EXPECT_EQ(get("a") + get("b"), "32");
  EXPECT_EQ(eval("y=y+1").value, 1);

  struct Step {
    const char* text;
    std::int32_t value;
    const char* x;
  };
  const Step steps[] = {
      {"x=10", 10, "10"}, {"x-=3", 7, "7"},   {"x*=6", 42, "42"}, {"x/=5", 8, "8"},
      {"x%=5", 3, "3"},   {"x<<=4", 48, "48"}, {"x>>=1", 24, "24"}, {"x&=12", 8, "8"},
      {"x|=3", 11, "11"}, {"x^=1", 10, "10"},  {"x+=x", 20, "20"}, {"--x", 19, "19"},
      {"++x", 20, "20"},  {"- -x", 19, "19"},  {"-(-x)", 19, "19"}, {"-+x", -19, "19"},
      {"- - -x", -18, "18"}, {"3- -x", 21, "18"},  {"x=-x", -18, "-18"}, {"x, 5", 5, "-18"},
  };
  for (const auto& s : steps) {
    const Outcome o = eval(s.text);
    EXPECT_TRUE(o.ok) << s.text << o.err;
    EXPECT_EQ(o.value, s.value) << s.text;
    EXPECT_EQ(get("x"), s.x) << s.text;
  }

  // Assignments to values that are no variable only yield the value.
  EXPECT_EQ(eval("5=3").value, 3);
  EXPECT_EQ(eval("(x)=3").value, 3);
  EXPECT_EQ(get("x"), "-18");

  // An integer variable stays binary; others hold decimal text.
  EXPECT_EQ(eval("n+=2, --n").value, 41);
  EXPECT_EQ(get("n"), "i41");
  EXPECT_EQ(eval("t=t*2").value, 24);
  EXPECT_EQ(get("t"), "24");

  // Both sides of && and || are evaluated.
  EXPECT_EQ(eval("0 && (w=1)").value, 0);
  EXPECT_EQ(get("w"), "1");
  EXPECT_EQ(eval("1 || (w=2)").value, 1);
  EXPECT_EQ(get("w"), "2");
}

TEST_F(Arith, ConditionalEvaluatesOneBranch) {
  const ValueCase cases[] = {
      {"1?2:3", 2},       {"0?2:3", 3},         {"1?0?5:6:7", 6},    {"0?1:0?2:3", 3},
      {"1?2:0?3:4", 2},   {"(0?1:2)+1", 3},     {"1?2+3:4", 5},      {"0?1:2+3", 5},
      {"1?(2,3):4", 3},   {"1 ? 2 , 3 : 4", 3}, {"0 ? 1/0 : 5", 5},  {"1 ? 5 : 1%0", 5},
      {"2>1 ? 10 : 20", 10}, {"0?1:2,9", 9},    {"1?-2:3", -2},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
  }
  EXPECT_EQ(eval("1 ? 2 : (z=3)").value, 2);
  EXPECT_EQ(eval("0 ? (z=1) : (v=4)").value, 4);
  EXPECT_EQ(eval("0 ? (1 ? (z=5) : (z=6)) : 0").value, 0);
  EXPECT_EQ(eval("1 ? (u=8) : 0 ? (z=7) : 0").value, 8);
  EXPECT_EQ(get("z"), "<unset>");
  EXPECT_EQ(get("v") + get("u"), "48");
  EXPECT_EQ(skip_flags, 0u);
}

TEST_F(Arith, ArraySubscripts) {
  set("a2", "20");
  set("a3", "30");
  set("i", "2");
  set("b1", "3");
  const ValueCase cases[] = {
      {"a[2]", 20},   {"a[1+1]", 20}, {"a[i]", 20},  {"$a[ i ]", 20}, {"a[b[1]]", 30},
      {"a[03]", 30},  {"a[i]+a[3]", 50}, {"-a[(i)]", -20}, {"a[(a[i])-17]", 30},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_TRUE(o.ok) << c.text << o.err;
    EXPECT_EQ(o.value, c.value) << c.text;
  }
  EXPECT_EQ(eval("a[i]=5, a[2+0]+=1").value, 6);
  EXPECT_EQ(get("a2"), "6");
  EXPECT_EQ(eval("--a[3]").value, 29);
  EXPECT_EQ(get("a3"), "29");
}

struct ErrorCase {
  const char* text;
  const char* message;  // what follows "vek: "
};

TEST_F(Arith, EveryErrorIsReportedAndAbandons) {
  const std::string big(39, '1');
  const std::string long_name(32, 'v');
  const std::string deep = std::string(25, '(') + "1" + std::string(25, ')');
  std::string values;
  for (int i = 0; i < 24; ++i) values += "1=";
  values += "1";
  std::string names;
  for (int i = 0; i < 7; ++i) names += std::string(31, 'n') + "=";
  names += "1";
  const std::string ops = std::string(25, '-') + "1";
  const std::string e = "Arithmetischer Ausdruck: '";
  const ErrorCase cases[] = {
      {"1+", "Zuwenig Werte"},
      {"(1+)", "Zuwenig Werte"},
      {"-", "Zuwenig Werte"},
      {"2*(-)", "Zuwenig Werte"},
      {"", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"()", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1 2", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1 (2)", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"x y", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1?2", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"(1?2)", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1:2", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1?2:3:4", "Anzahl/Reihenfolge Werte/Operatoren"},
      {"1;", "Anzahl/Reihenfolge Werte/Operatoren"},
      {",1", "?:,"},
      {"?1", "?:,"},
      {"(:1)", "?:,"},
      {"1?:2", "?:,"},
      {"/2", "/"},
      {"<<=1", "<<="},
      {"==1", "=="},
      {"1!2", "!"},
      {"1~2", "~"},
      {"1/0", "Division durch 0"},
      {"1%0", "Division durch 0"},
      {"x=4, x/=0", "Division durch 0"},
      {"1 @ 2", "@"},
      {"1 \"2\"", "\""},
      {"1\xFF", "\xFF"},
      {"(1+2]", " )]} erwartet"},
      {"{1)", " )]} erwartet"},
      {"[1", " )]} erwartet"},
      {"(1;2)", " )]} erwartet"},
      {"(1+2", "zuviel ( oder )"},
      {"1+2)", "zuviel ( oder )"},
      {"1+2]", "Abschlu\xE1"},
      {"1}", "Abschlu\xE1"},
      {"$1+1", "$name?"},
      {"$", "$name?"},
      {"$(1)", "$name?"},
      {"a[1)", "array[?]"},
      {"a[1", "array[?]"},
      {"a[1;2]", "array[?]"},
      {"8#9", "9"},
      {"2#102", "2"},
      {"99#1", "99#1"},
      {"37#", "37#"},
      {"256#ab", "ab"},
  };
  for (const auto& c : cases) {
    const Outcome o = eval(c.text);
    EXPECT_FALSE(o.ok) << c.text;
    EXPECT_EQ(last_status, kErrArithmetic + 1) << c.text;
    EXPECT_EQ(o.err, "vek: " + e + c.message + "'\r\n") << c.text;
  }
  const ErrorCase built[] = {
      {big.c_str(), ""},  // the number's text is the detail
      {long_name.c_str(), ""},
      {deep.c_str(), "Stack-Limit!"},
      {values.c_str(), "Stack-Limit!"},
      {names.c_str(), "Stack-Limit!"},
      {ops.c_str(), "Stack-Limit!"},
  };
  for (const auto& c : built) {
    const Outcome o = eval(c.text);
    EXPECT_FALSE(o.ok) << c.text;
    const std::string detail = *c.message ? c.message : std::string(c.text).substr(0, 38);
    EXPECT_EQ(o.err, "vek: " + e + detail + "'\r\n") << c.text;
  }
  EXPECT_EQ(skip_flags, 0u);
}

TEST_F(Arith, ErrorsOutsideTheOperatorTable) {
  // Subscripts read as subscripts, element names, and unset variables.
  set("i", "2");
  const ErrorCase cases[] = {
      {"a[i+1]", "Syntaxfehler: 'i+'\r\n"},
      {"a[-1]", "Fehlerhafter Bezeichner/Name: 'a-1'\r\n"},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa[100]", "Fehlerhafter Bezeichner/Name: 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa100'\r\n"},
      {"a[j]", "Undefinierter Parameter: 'j'\r\n"},
  };
  for (const auto& c : cases) {
    Capture err(2);
    TextSource src(c.text);
    try {
      arith_evaluate(src.source(), variable_scope(), ArithText::kArgument);
    } catch (const ProcessExit&) {
    }
    EXPECT_EQ(err.text(), std::string("vek: ") + c.message) << c.text;
  }
  set_opt('u', true);
  const Outcome o = eval("nosuch+1");
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.err, "vek: Undefinierter Parameter: 'nosuch'\r\n");
  EXPECT_EQ(last_status, kErrUnset + 1);
}

TEST_F(Arith, ErrorsAbortWithoutOptionC) {
  set_opt('C', false);
  Capture err(2);
  TextSource src("1/0");
  EXPECT_THROW(arith_evaluate(src.source(), variable_scope(), ArithText::kArgument), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Arithmetischer Ausdruck: 'Division durch 0'\r\n");
}

TEST_F(Arith, SkippedTextIsOnlyRead) {
  skip_flags = 0x001;
  set_opt('u', true);
  const Outcome o = eval("q=1/0, nosuch, r[5]=2, 1 ? (s=1) : 2");
  EXPECT_TRUE(o.ok) << o.err;
  EXPECT_EQ(skip_flags, 0x001u);
  skip_flags = 0;
  EXPECT_EQ(get("q") + get("r5") + get("s"), "<unset><unset><unset>");
  // Syntax is still checked.
  skip_flags = 0x001;
  EXPECT_EQ(eval("1+").err, "vek: Arithmetischer Ausdruck: 'Zuwenig Werte'\r\n");
  skip_flags = 0;
}

TEST_F(Arith, ElementNamesOfAssignmentWords) {
  set("i", "7");
  var_set(variable_scope(), "k", VarValue::integer(12), kVar | kInteger);
  ElementName out{};
  const VarScope scope = variable_scope();
  EXPECT_STREQ(element_name_of_word(scope, "plain", out), "plain");
  EXPECT_STREQ(element_name_of_word(scope, "a[12]", out), "a12");
  EXPECT_STREQ(element_name_of_word(scope, "a[ 012 ]", out), "a012");
  EXPECT_STREQ(element_name_of_word(scope, "a[i]", out), "a7");
  EXPECT_STREQ(element_name_of_word(scope, "a[k]", out), "a12");
  {
    Capture err(2);  // a7 is unset: error 22, and the index is empty
    EXPECT_STREQ(element_name_of_word(scope, "b_[a[i]]", out), "b_");
    EXPECT_EQ(err.text(), "vek: Undefinierter Parameter: 'a7'\r\n");
  }
  set("a7", "9");
  EXPECT_STREQ(element_name_of_word(scope, "b_[a[i]]", out), "b_9");
  const ErrorCase bad[] = {
      {"a[1]x", "Fehlerhafter Bezeichner/Name: 'a[1]x'"},
      {"[1]", "Fehlerhafter Bezeichner/Name: '[1]'"},
      {"a[i y]", "Syntaxfehler: 'i y'"},
      {"a[]", "Fehlerhafter Bezeichner/Name: ']'"},
      {"a[1", "Syntaxfehler: '1'"},
      {"a[*]", "Fehlerhafter Bezeichner/Name: '*'"},
      {"a[1234567890123456789012345678901]", "Syntaxfehler: '1234567890123456789012345678901]'"},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa[10]", "Fehlerhafter Bezeichner/Name: 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa[10]'"},
      {"a[xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx]", "Syntaxfehler: 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx]'"},
  };
  for (const auto& c : bad) {
    Capture err(2);
    EXPECT_THROW(element_name_of_word(scope, c.text, out), ProcessExit) << c.text;
    EXPECT_EQ(err.text(), std::string("vek: ") + c.message + "\r\n") << c.text;
  }
}

// Expressions and subscripts read straight from the input, wherever the
// reader's buffer refills, and the output base.
class ArithInput : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    const char dir[] = "\\tmp";
    for (std::size_t i = 0; i < sizeof dir; ++i) temp_directory[i] = dir[i];
    open_temp_files();
    varstore_create_initial(variable_scope(), "C:\\");
  }
  void TearDown() override {
    close_temp_files();
    reset_interpreter();
  }
  static std::string run(const std::string& text) {
    Capture out(1);
    prepared.text = text.c_str();
    prepared.text_length = text.size();
    run_source(nullptr, 0, 0, kModeString);
    return out.text();
  }
};

TEST_F(ArithInput, ExpressionsAcrossBufferRefills) {
  // 2048-byte pieces: with lines of 33 bytes the refills fall into every
  // part of the line over the run.
  std::string text = "a7=5; i=7\n";
  std::string want;
  for (int k = 0; k < 200; ++k) {
    text += "echo $(( (k=" + std::to_string(k % 10) + ") * 2 + 16#a )) \"$a[i]\"\n";
    want += std::to_string((k % 10) * 2 + 10) + " 5\r\n";
  }
  EXPECT_EQ(run(text), want);
}

TEST_F(ArithInput, DefaultOutputBase) {
  default_output_base = 16;
  EXPECT_EQ(run("echo $((255)) $((8#+9))"), "ff 11\r\n");
  // Base 256 writes the value's bytes; NUL bytes cannot be in a word.
  default_output_base = 256;
  EXPECT_EQ(run("echo $((65)) $((16706)) \"[$((0))]\""), "A AB []\r\n");
  default_output_base = 10;
}

}  // namespace
}  // namespace vek
