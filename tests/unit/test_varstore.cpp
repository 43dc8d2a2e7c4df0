// The variable store: limits, compaction, exports, integers, scopes and
// listings.  Errors end in ProcessExit (non-interactive abort); $? tells
// which error it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "capture.h"
#include "core/shell.h"
#include "session/diag.h"
#include "session/input.h"
#include "session/startup.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace {

using namespace vek;

using vek::testing_support::Capture;

VarRecord* set(const char* name, const char* value, unsigned flags = kVar) {
  return var_set(variable_scope(), name, VarValue::text(value), flags);
}
VarRecord* find(const char* name) { return store_find(variable_scope(), global_store, name); }
std::string value_of(VarRecord* r) { return r ? std::string(r->value()) : "<unset>"; }
std::string get(const char* name) { return value_of(find(name)); }
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "<none>";
}

// Runs f, which must report error `number`; returns what went to stderr.
std::string expect_error(int number, const std::function<void()>& f) {
  Capture err(2);
  EXPECT_THROW(f(), ProcessExit);
  EXPECT_EQ(last_status | 16, (number + 1) | 16);
  return err.text();
}

class VarStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_interpreter(); }
  void TearDown() override {
    for (const char* n : {"VS_EXP", "VS_ALL", "VS_INT", "VS_E"}) unsetenv(n);
    SetUp();
  }
  // Fills the global table to its 40 records: the start-up variables and
  // v0..v31, each "x".
  void fill_table() {
    varstore_create_initial(variable_scope(), "C:\\work");
    for (int i = 0; i < 32; ++i) set(("v" + std::to_string(i)).c_str(), "x");
  }
};

TEST_F(VarStoreTest, TableLimitAndCompactionTotals) {
  fill_table();
  ASSERT_EQ(get("OLDPWD"), "C:\\work");
  std::string err = expect_error(kErrGlobalStore, [] { set("extra", "1"); });
  EXPECT_NE(err.find("Variablenspeicher : 'extra' : b=0 : n=-1 : ... : b=0 : n=0\r\n"),
            std::string::npos) << err;
  EXPECT_EQ(get("v31"), "x");

  ASSERT_NE(var_unset(variable_scope(), "v5"), nullptr);
  ASSERT_NE(set("extra", "1"), nullptr);
  EXPECT_EQ(get("extra"), "1");
  EXPECT_EQ(find("v5"), nullptr);
  for (int i = 0; i < 32; ++i)
    if (i != 5) {
      EXPECT_EQ(get(("v" + std::to_string(i)).c_str()), "x") << i;
    }
  // Two compactions, one slot and the 5 bytes of "v5\0x\0" reclaimed; the
  // rest of the 22-byte value is NUL padding.
  VarRecord* vlim = find("__VLIM__");
  ASSERT_NE(vlim, nullptr);
  EXPECT_EQ(vlim->value_size(), 22);
  EXPECT_EQ(std::string(vlim->value(), 22), std::string("2 1 5") + std::string(17, '\0'));
}

TEST_F(VarStoreTest, EmptyVlimMakesCompactionFail) {
  fill_table();
  var_unset(variable_scope(), "v0");
  set("__VLIM__", "");
  std::string err = expect_error(kErrGlobalStore, [] { set("extra", "1"); });
  // Reclaimed: v0's 5 bytes and the 22 bytes of slack left in __VLIM__.
  EXPECT_NE(err.find("b=0 : n=-1 : ... : b=27 : n=1\r\n"), std::string::npos) << err;
  EXPECT_EQ(get("__VLIM__"), "");
  EXPECT_EQ(get("v1"), "x");
  // The slot was reclaimed all the same, so the next creation needs no
  // compaction.
  EXPECT_NE(set("extra", "1"), nullptr);
}

TEST_F(VarStoreTest, BorrowsHalfThePreviousSlack) {
  set("p", "0123456789");  // capacity 13
  VarRecord* q = set("q", "ab");  // capacity 5
  set("p", "0");  // rewritten in place: slack 9
  char* old_text = q->text;
  char* old_free = global_store.next_free;
  ASSERT_EQ(set("q", "abc"), q);
  EXPECT_EQ(q->text, old_text - 4);
  EXPECT_EQ(q->capacity, 9u);
  EXPECT_EQ(find("p")->capacity, 9u);
  EXPECT_EQ(global_store.next_free, old_free);
  EXPECT_EQ(get("p"), "0");
  EXPECT_EQ(get("q"), "abc");
  // p's slack is now 5 and q needs 10 bytes more: it moves to a fresh slot.
  VarRecord* moved = set("q", "abcdefghijklm");
  EXPECT_NE(moved, q);
  EXPECT_EQ(q->name_len, 0u);
  EXPECT_EQ(get("q"), "abcdefghijklm");
}

TEST_F(VarStoreTest, ArenaCompactionKeepsExportsAndCopiedValues) {
  std::string big(20000, 'b');
  set("pad", big.c_str());
  set("VS_EXP", "one", kVar | kExported);
  VarRecord* y = set("y", "hello");
  EXPECT_EQ(env("VS_EXP"), "one");
  EXPECT_STREQ(find("VS_EXP")->text, "VS_EXP=one");
  var_unset(variable_scope(), "pad");
  // The second big value does not fit beside the freed one: compaction
  // moves VS_EXP and y down while y's own bytes are the value being copied.
  ASSERT_NE(var_set(variable_scope(), "copy", VarValue::text(y->value())), nullptr);
  set("fill", std::string(20000, 'f').c_str());
  EXPECT_EQ(get("copy"), "hello");
  EXPECT_EQ(get("fill").size(), 20000u);
  VarRecord* e = find("VS_EXP");
  EXPECT_STREQ(e->text, "VS_EXP=one");
  EXPECT_EQ(env("VS_EXP"), "one");
  set("VS_EXP", "two");
  EXPECT_EQ(env("VS_EXP"), "two");
  EXPECT_STREQ(find("VS_EXP")->text, "VS_EXP=two");
}

TEST_F(VarStoreTest, ValueFromMovingRecordSurvivesSlotCompaction) {
  set("pad", "");
  VarRecord* y = set("y", "hello");
  for (int i = 0; i < 38; ++i) set(("w" + std::to_string(i)).c_str(), "w");
  var_unset(variable_scope(), "pad");
  ASSERT_NE(var_set(variable_scope(), "z", VarValue::text(y->value())), nullptr);
  EXPECT_EQ(get("z"), "hello");
  EXPECT_EQ(get("y"), "hello");
}

TEST_F(VarStoreTest, ExportOnlyForPlainText) {
  set_opt('a', true);
  set("VS_ALL", "1");
  EXPECT_EQ(env("VS_ALL"), "1");
  set("VS_INT", "5", kVar | kInteger);
  EXPECT_EQ(env("VS_INT"), "<none>");
  // An exported variable that becomes an integer leaves the environment.
  set_opt('a', false);
  set("VS_EXP", "3", kVar | kExported);
  VarRecord* r = set("VS_EXP", "7", kVar | kInteger);
  EXPECT_EQ(r->flags & kExported, 0u);
  EXPECT_EQ(r->int_value(), 7);
  EXPECT_STREQ(r->name(), "VS_EXP");
  EXPECT_EQ(env("VS_EXP"), "<none>");
  set("VS_E", "x", kVar | kExported);
  var_unexport(find("VS_E"));
  EXPECT_EQ(env("VS_E"), "<none>");
  EXPECT_STREQ(find("VS_E")->name(), "VS_E");
}

TEST_F(VarStoreTest, IntegerAndTextValues) {
  VarRecord* n = set("n", "16#ff", kVar | kInteger);
  ASSERT_TRUE(n->is_integer());
  EXPECT_EQ(n->value_size(), 4);
  EXPECT_EQ(n->int_value(), 255);
  EXPECT_TRUE(set("n", "-12")->is_integer());
  EXPECT_EQ(find("n")->int_value(), -12);
  std::int32_t k = 42;
  var_set(variable_scope(), "n", VarValue::integer(k));
  EXPECT_EQ(find("n")->int_value(), 42);
  var_set(variable_scope(), "t", VarValue::integer(k));
  EXPECT_EQ(get("t"), "42");
  EXPECT_FALSE(find("t")->is_integer());
  expect_error(kErrArithmetic, [] { set("n", "zz"); });
  EXPECT_EQ(find("n")->int_value(), 42);
  VarRecord* t = set("n", "abc", kVar | kAsText);
  EXPECT_FALSE(t->is_integer());
  EXPECT_EQ(t->flags & (kBinary | kAsText), 0u);
  EXPECT_EQ(get("n"), "abc");
  var_set_number(variable_scope(), "num", -7);
  EXPECT_EQ(get("num"), "-7");
  var_set_number(variable_scope(), std::string(31, 'n').c_str(), 1);
  expect_error(kErrBadName, [] { var_set_number(variable_scope(), std::string(32, 'n').c_str(), 1); });
  expect_error(kErrBadName, [] { var_set_number(variable_scope(), "1x", 1); });
}

TEST_F(VarStoreTest, WordsJoinWithFirstIfsCharacter) {
  char buf[] = "a\0bb\0c";
  char* words[] = {buf, buf + 2, buf + 5};
  var_set(variable_scope(), "j", VarValue::joined(3, words));
  EXPECT_EQ(get("j"), "a\tbb\tc");
  char buf2[] = "a\0bb\0c";
  char* words2[] = {buf2, buf2 + 2, buf2 + 5};
  ifs_text[0] = '\0';  // empty IFS: words run together
  EXPECT_EQ(join_words(3, words2), 4);
  EXPECT_STREQ(buf2, "abbc");
  var_set(variable_scope(), "j", VarValue::joined(0, nullptr));
  EXPECT_EQ(get("j"), "");
}

TEST_F(VarStoreTest, LocalAndCallerScopes) {
  std::array<VarRecord, kLocalRecords> script_recs, fn_recs;
  set("x", "global");
  local_store_open(input.local_store, script_recs, input.local_store);
  store_set(variable_scope(), *current_local_store(), "x", VarValue::text("script"), kVar | kLocal);
  EXPECT_EQ(value_of(var_find(variable_scope(), "x")), "global");  // store not in use yet
  input.local_store.in_use |= 0x80;
  EXPECT_EQ(value_of(var_find(variable_scope(), "x")), "script");
  var_set(variable_scope(), "x", VarValue::text("script2"));
  EXPECT_EQ(get("x"), "global");
  EXPECT_EQ(value_of(var_find(variable_scope(), "x", kVar | kExported)), "global");
  input.global_counter = 1;
  EXPECT_EQ(value_of(var_find(variable_scope(), "x")), "global");
  input.global_counter = 0;

  // A function called from the script: the script's locals are read-only.
  VarStore saved = input.local_store;
  input.caller_store = &saved;
  input.mode = kModeBody;
  local_store_open(input.local_store, fn_recs, input.local_store);
  EXPECT_EQ(input.local_store.arena_begin, saved.next_free);
  EXPECT_EQ(value_of(var_find(variable_scope(), "x")), "script2");
  expect_error(kErrReadOnly, [] { var_set(variable_scope(), "x", VarValue::text("1")); });
  store_set(variable_scope(), *current_local_store(), "f", VarValue::text(std::string(100, 'f').c_str()), kVar | kLocal);
  input.local_store.in_use = 0x80;
  EXPECT_EQ(value_of(var_find(variable_scope(), "f")), std::string(100, 'f'));
  // Return: the script's store comes back unharmed.
  input.local_store = saved;
  input.caller_store = nullptr;
  input.mode = 0;
  EXPECT_EQ(value_of(var_find(variable_scope(), "x")), "script2");
  EXPECT_EQ(var_find(variable_scope(), "f"), nullptr);
}

TEST_F(VarStoreTest, LocalStoreLimits) {
  std::array<VarRecord, kLocalRecords> recs;
  local_store_open(input.local_store, recs, input.local_store);
  VarStore* loc = current_local_store();
  store_set(variable_scope(), *loc, "a", VarValue::text(std::string(1900, 'a').c_str()));
  std::string err = expect_error(kErrLocalStore, [loc] {
    store_set(variable_scope(), *loc, "b", VarValue::text(std::string(200, 'b').c_str()));
  });
  EXPECT_NE(err.find("Variablenspeicher : 'b' : b="), std::string::npos) << err;
  EXPECT_EQ(value_of(store_find(variable_scope(), *loc, "a")).size(), 1900u);
  for (const char* n : {"c", "d", "e", "f", "g"}) store_set(variable_scope(), *loc, n, VarValue::text("1"));
  expect_error(kErrLocalStore, [loc] { store_set(variable_scope(), *loc, "h", VarValue::text("1")); });
  EXPECT_EQ(value_of(store_find(variable_scope(), *loc, "g")), "1");
}

TEST_F(VarStoreTest, StaticNamesResolveThroughScriptAndFunction) {
  std::strcpy(input.script_name.data(), "T.VEK");
  std::strcpy(input.function_name.data(), "f");
  input.mode = kModeBody;
  char q[260];
  EXPECT_EQ(static_name(variable_scope(), q, "s", false), 8);
  EXPECT_STREQ(q, "T.VEK@@s");
  store_set(variable_scope(), global_store, q, VarValue::text("top"), kVar | kStatic);
  static_var_count = 1;
  EXPECT_EQ(value_of(var_find(variable_scope(), "s")), "top");
  var_set(variable_scope(), "s", VarValue::text("changed"));
  EXPECT_EQ(get("T.VEK@@s"), "changed");
  EXPECT_EQ(find("s"), nullptr);
  static_name(variable_scope(), q, "s", true);
  EXPECT_STREQ(q, "T.VEK@f@s");
  store_set(variable_scope(), global_store, q, VarValue::text("mine"), kVar | kStatic);
  EXPECT_EQ(value_of(var_find(variable_scope(), "s")), "mine");
  input.mode = 0;  // outside the function only the script's one is seen
  EXPECT_EQ(value_of(var_find(variable_scope(), "s")), "changed");
  expect_error(kErrBadName, [] { var_find(variable_scope(), "a-b"); });
}

TEST_F(VarStoreTest, SkipFlagsLeaveOnlyFunctionsWorking) {
  set("v", "1");
  skip_flags = kSkipBranch;
  EXPECT_EQ(set("v", "2"), nullptr);
  EXPECT_EQ(find("v"), nullptr);
  EXPECT_EQ(var_unset(variable_scope(), "v"), nullptr);
  std::int32_t slot = 3;
  ASSERT_NE(var_set(variable_scope(), "fn", VarValue::bytes(&slot, 4), kFunc), nullptr);
  VarRecord* f = var_find(variable_scope(), "fn", kFunc);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->int_value(), 3);
  skip_flags = 0;
  EXPECT_EQ(get("v"), "1");
}

TEST_F(VarStoreTest, ListingFormats) {
  set("a", "1");
  VarRecord* i = set("i", "255", kVar | kInteger);
  i->base = 16;
  set("j", "7", kVar | kInteger);
  std::int32_t slot = 0;
  var_set(variable_scope(), "fn", VarValue::bytes(&slot, 4), kFunc);
  set("VS_E", "x", kVar | kExported);
  std::array<VarRecord, kLocalRecords> recs;
  local_store_open(input.local_store, recs, input.local_store);
  store_set(variable_scope(), *current_local_store(), "loc", VarValue::text("l"), kVar | kLocal);

  Capture out(1);
  list_store(variable_scope(), ListWhich::kGlobal, kVar | kFunc, ListStyle::kValues);
  list_store(variable_scope(), ListWhich::kGlobal, kExported, ListStyle::kNames);
  list_store(variable_scope(), ListWhich::kLocal, kVar, ListStyle::kValues);
  list_store(variable_scope(), ListWhich::kBoth, kLocal | kInteger, ListStyle::kNames);
  EXPECT_EQ(out.text(),
            "a=1\r\ni=16#ff\r\nj=10#7\r\nfn()  { ... }\r\nVS_E=x\r\n"
            "VS_E\r\n"
            "loc=l\r\n"
            "i\r\nj\r\nloc\r\n");
}

}  // namespace

namespace {

TEST_F(VarStoreTest, FailedGrowthKeepsTheOldValue) {
  varstore_create_initial(variable_scope(), "C:\\work");
  set("keep", "old value");
  set("VS_E", "exported", kVar | kExported);
  // Use up the arena with one large value.
  std::string big(32768 - 600, 'b');
  ASSERT_NE(set("big", big.c_str()), nullptr);
  std::string huge(2000, 'h');
  expect_error(kErrGlobalStore, [&] { set("keep", huge.c_str()); });
  EXPECT_EQ(get("keep"), "old value");
  expect_error(kErrGlobalStore, [&] { set("VS_E", huge.c_str()); });
  EXPECT_EQ(get("VS_E"), "exported");
  EXPECT_EQ(env("VS_E"), "exported");
}

}  // namespace
