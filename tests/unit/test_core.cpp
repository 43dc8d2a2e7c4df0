// Command table, class tables and the formatter.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <unistd.h>

#include "capture.h"
#include "core/classes.h"
#include "core/commands.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "session/startup.h"

namespace vek {
namespace {

class CommandTable : public ::testing::Test {
 protected:
  void SetUp() override { reset_interpreter(); }
};

int lookup(const char* w) { return lookup_command(w); }
int cls(const char* w) { return command_class(lookup(w)); }
int idx(const char* w) { return command_index(lookup(w)); }

TEST_F(CommandTable, HoldsAllRecordsAndFindsEachByName) {
  EXPECT_EQ(command_table_size(), 124);
  struct Want {
    const char* name;
    int cls, index;
  };
  const Want wants[] = {
      {"[", 1, 0},       {"[[", 1, 1},     {"echo", 1, 2},     {"prints", 1, 35}, {"chdir", 1, 22},
      {"{", 2, 0},       {"{{", 2, 3},     {"until", 2, 4},    {"case", 3, 0},    {"repeat", 3, 5},
      {"}", 4, 0},       {"}}", 4, 8},     {"esac", 4, 7},     {"function", 5, 0}, {"time", 5, 1},
      {":", 6, 0},       {".", 6, 24},     {"nop", 6, 59},     {"ifset", 6, 30},  {"ifdef", 6, 29},
      {"ifenv", 6, 31},  {"if", 2, 2},     {"in", 7, 5},       {".VEK", 7, 3},    {"times", 6, 15},
      {"localset", 6, 54}, {"typeset", 6, 41}, {"type", 6, 40}, {"trap", 6, 36}, {"tr", 1, 13},
  };
  for (const auto& w : wants) {
    ASSERT_GE(lookup(w.name), 0) << w.name;
    EXPECT_EQ(cls(w.name), w.cls) << w.name;
    EXPECT_EQ(idx(w.name), w.index) << w.name;
  }
}

// Dispatch reaches handlers by class and index: each class-1 and class-6
// index must have exactly one entry, and every entry must be found again
// by its name.
TEST_F(CommandTable, EachIndexHasOneEntryFoundByItsName) {
  std::set<std::string> names;
  std::array<int, builtin_ix::kCount> builtins{};
  std::array<int, exec_ix::kCount> executors{};
  for (const CommandEntry& e : command_table) {
    names.insert(e.name);
    EXPECT_EQ(lookup(e.name), e.cls | (e.index << 8)) << e.name;
    const bool has_handler = e.cls == kClassBuiltin || e.cls == kClassExecutor;
    EXPECT_EQ(e.handler != nullptr, has_handler) << e.name;
    if (e.cls == kClassBuiltin) ++builtins[e.index];
    if (e.cls == kClassExecutor) ++executors[e.index];
    if (e.cls != kClassExecutor) {
      EXPECT_EQ(e.attributes, 0) << e.name;
    }
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kCommandCount));
  for (int n : builtins) EXPECT_EQ(n, 1);
  for (int i = 0; i < exec_ix::kSystemLine; ++i) EXPECT_EQ(executors[static_cast<std::size_t>(i)], 1) << i;
  EXPECT_EQ(executor_entry(exec_ix::kSystemLine).handler, system_line_entry.handler);

  std::string keep, file;
  for (const CommandEntry& e : command_table) {
    if (e.attributes & kKeepStatus) keep += std::string(e.name) + " ";
    if (e.attributes & kFileOperand) file += std::string(e.name) + " ";
  }
  EXPECT_EQ(keep, ". break exec exit goend goto inv nop return ");
  EXPECT_EQ(file, ". exec extern ");
}

TEST_F(CommandTable, RejectsNearMissesAndOtherCase) {
  for (const char* w : {"ECHO", "ech", "echoo", "iff", "i", "ifsett", "{{{", "", "t", "typese", ".exe", "x"})
    EXPECT_EQ(lookup(w), -1) << w;
  char high[] = {static_cast<char>(0x85), 0};
  EXPECT_EQ(lookup(high), -1);
}

TEST(ClassTables, EscapeCharacterChangeMovesTheClass) {
  escape_char = '%';
  build_class_tables();
  EXPECT_EQ(argument_table['%'], kClsEscape);
  EXPECT_EQ(argument_table['\\'], kClsNone);
  EXPECT_EQ(squote_table['%'], kClsNone);
  change_escape_char('\\');
  EXPECT_EQ(argument_table['\\'], kClsEscape);
  EXPECT_EQ(dquote_table['\\'], kClsEscape);
  EXPECT_EQ(argument_table['%'], kClsNone);
  EXPECT_EQ(squote_table['\\'], kClsNone);
  change_escape_char('%');
  EXPECT_EQ(argument_table['%'], kClsEscape);
  EXPECT_EQ(argument_table['\\'], kClsNone);
}

TEST(ClassTables, TablesDifferWhereTheyMust) {
  build_class_tables();
  EXPECT_EQ(first_word_table['='], kClsEquals);
  EXPECT_EQ(argument_table['='], kClsNone);
  EXPECT_EQ(first_word_table['['], kClsNone);
  EXPECT_EQ(argument_table['['], kClsBracket);
  EXPECT_EQ(first_word_table[':'], kClsColon);
  EXPECT_EQ(argument_table[':'], kClsNone);
  EXPECT_EQ(dquote_table[' '], kClsNone);
  EXPECT_EQ(dquote_table['$'], kClsDollar);
  EXPECT_EQ(test_table['<'], kClsNone);
  EXPECT_EQ(test_table[' '], kClsBlank);
  EXPECT_EQ(subst_table[')'], kClsRparen);
  EXPECT_EQ(subst_table['"'], kClsNone);
  EXPECT_EQ(squote_table[0xFF], kClsEof);
  EXPECT_TRUE(leading_blank_chars[0x1A]);
  EXPECT_FALSE(word_blank_chars['\n']);
}

// Captures what format_out writes to a descriptor.
std::string capture(const std::function<void(int)>& write) {
  testing_support::Capture cap(1);
  write(1);
  return cap.text();
}

TEST(Formatter, ConversionsAndLiteralPercent) {
  char buf[256];
  EXPECT_EQ(format_buf(buf, "%d|%i|%u", -12, 7, -1), 16);
  EXPECT_STREQ(buf, "-12|7|4294967295");
  format_buf(buf, "%%d %5d %lld %llld", 7, 9);
  EXPECT_STREQ(buf, "%d 5d 7 ld");
  format_buf(buf, "[%s][%s]", "abc", static_cast<const char*>(nullptr));
  EXPECT_STREQ(buf, "[abc][(null)]");
  EXPECT_EQ(format_buf(buf, ""), 0);
  EXPECT_STREQ(buf, "");
  format_buf(buf, "end%");
  EXPECT_STREQ(buf, "end");
  format_buf(buf, "%d", static_cast<int>(0x80000000u));
  EXPECT_STREQ(buf, "-2147483648");
}

TEST(Formatter, LongLiteralRunsAndDescriptorForm) {
  std::string lit(200, 'x');
  std::string out = capture([&](int fd) { format_out(fd, (lit + "%d" + lit).c_str(), 42); });
  EXPECT_EQ(out, lit + "42" + lit);
  out = capture([&](int fd) { format_out(fd, "a%sb\r\n", "MID"); });
  EXPECT_EQ(out, "aMIDb\r\n");
}

TEST(Descriptors, ZeroLengthWriteAndClosingMinusOne) {
  EXPECT_EQ(sys_write(1, "", 0), 0);
  EXPECT_EQ(sys_close(-1), 0);
  char buf[4];
  EXPECT_EQ(sys_read(0, buf, 0), 0);
}

TEST(Descriptors, LineReaderSplitsAtLineFeedsAndLength) {
  char path[] = "/tmp/vek_lines_XXXXXX";
  int fd = mkstemp(path);
  const char text[] = "one\r\ntwo\nthree";
  ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  lseek(fd, 0, SEEK_SET);
  read_line_buffered(-1, nullptr, 0);
  char line[16];
  int n = read_line_buffered(fd, line, 16);
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)), "one\r\n");
  n = read_line_buffered(fd, line, 2);
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)), "tw");
  n = read_line_buffered(fd, line, 16);
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)), "o\n");
  n = read_line_buffered(fd, line, 16);
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)), "three");
  EXPECT_EQ(read_line_buffered(fd, line, 16), 0);
  close(fd);
  unlink(path);
}

}  // namespace
}  // namespace vek
