// The array builtin as set -A reaches it: local elements in a function
// body, clearing of exported and read-only elements, integer elements in
// the read form.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "capture.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/state.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using testing_support::Capture;

int array(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return array_set_from_words(static_cast<int>(words.size()), argv.data());
}

std::string in(VarStore& store, const char* name) {
  const VarRecord* r = store_find(variable_scope(), store, name);
  if (r == nullptr) return "<unset>";
  return r->is_integer() ? "i" + std::to_string(r->int_value()) : std::string(r->value());
}

class ArrayBuiltin : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    varstore_create_initial(variable_scope(), "C:\\");
  }
  void TearDown() override {
    unsetenv("vekarr1");
    reset_interpreter();
  }
};

TEST_F(ArrayBuiltin, ElementsOfAFunctionBodyAreLocalUnlessAOptionOrGlobal) {
  std::array<VarRecord, kLocalRecords> locals;
  local_store_open(input.local_store, locals, input.local_store);
  input.mode = kModeBody;
  EXPECT_EQ(array({"a", "x", "y"}), 0);
  EXPECT_EQ(in(input.local_store, "a1") + in(input.local_store, "a2"), "xy");
  EXPECT_EQ(in(global_store, "a1"), "<unset>");
  EXPECT_NE(input.local_store.in_use, 0u);
  EXPECT_EQ(store_find(variable_scope(), input.local_store, "a1")->flags & kLocal, kLocal);
  // Scoped lookups find the local element.
  EXPECT_STREQ(var_find(variable_scope(), "a2")->value(), "y");

  EXPECT_EQ(array({"-A", "a", "g"}), 0);
  EXPECT_EQ(in(global_store, "a0"), "g");
  EXPECT_EQ(in(input.local_store, "a0"), "<unset>");
  input.global_counter = 1;
  EXPECT_EQ(array({"b", "h"}), 0);
  EXPECT_EQ(in(global_store, "b1"), "h");
  input.global_counter = 0;
  input.mode = 0;
}

TEST_F(ArrayBuiltin, ClearingUnexportsAndStopsAtReadOnly) {
  const VarScope scope = variable_scope();
  var_set(scope, "vekarr1", VarValue::text("e"), kVar | kExported);
  ASSERT_NE(std::getenv("vekarr1"), nullptr);
  EXPECT_EQ(array({"-A", "vekarr", "n"}), 0);
  EXPECT_EQ(std::getenv("vekarr1"), nullptr);
  EXPECT_EQ(in(global_store, "vekarr1"), "<unset>");
  EXPECT_EQ(in(global_store, "vekarr0"), "n");

  var_set(scope, "r5", VarValue::text("ro"), kVar | kReadOnly);
  Capture err(2);
  EXPECT_THROW(array({"-A", "r", "x"}), ProcessExit);
  EXPECT_EQ(err.text(), "vek: READ ONLY!: 'r5'\r\n");
  EXPECT_EQ(in(global_store, "r5"), "ro");
}

TEST_F(ArrayBuiltin, ReadFormKeepsIntegers) {
  const VarScope scope = variable_scope();
  var_set(scope, "n2", VarValue::integer(-5), kVar | kInteger);
  var_set(scope, "k", VarValue::integer(2), kVar | kInteger);
  var_set(scope, "t", VarValue::integer(0), kVar | kInteger);
  EXPECT_EQ(array({"plain=n", "2"}), 0);
  EXPECT_EQ(in(global_store, "plain"), "-5");
  EXPECT_EQ(array({"t=n", "k"}), 0);
  EXPECT_EQ(in(global_store, "t"), "i-5");
  // The index may not make the element name longer than 31 characters.
  Capture err(2);
  EXPECT_THROW(array({"t=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "10"}), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Parametername falsche Laenge: 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa10'\r\n");
}

TEST_F(ArrayBuiltin, ContinuedErrorsGiveExitStatusTwo) {
  set_opt('C', true);
  input.mode = kModeDot;
  Capture err(2);
  EXPECT_EQ(array({"v=a", "nosuch"}), 2);
  EXPECT_EQ(array({"v=a", "1"}), 2);
  EXPECT_EQ(err.text(), "vek: Undefinierter Parameter: 'nosuch'\r\nvek: Undefinierter Parameter: 'a1'\r\n");
  input.mode = 0;
}

}  // namespace
}  // namespace vek
