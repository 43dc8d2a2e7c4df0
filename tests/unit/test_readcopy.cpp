// read, readl, catv, conv and cmpv: the byte-level rules in tables, and
// lines read one by one from a pipe that the builtins share with others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "builtins/builtins.h"
#include "builtins/readcopy.h"
#include "support/strings.h"
#include "session/input.h"
#include "session/startup.h"
#include "vars/varstore.h"

namespace vek {
namespace {

TEST(ReadCopy, ConvOperations) {
  struct Case {
    const char* ops;
    const char* in;
    const char* out;
    int aux;     // $. afterwards (-1: none met)
    int status;  // $? afterwards
  } cases[] = {
      {"f,", "a,,b,", "a,b", 1, 0},         {"F,", "a,,b,", "a,b", 1, 0},
      {"F,", ",a", ",a", 0, 0},             {"f,", ",a", "a", 0, 0},
      {"f,", ",,,", "", 0, 0},              {"F,", ",,,", ",", 0, 0},
      {"f,", ",,a,,,b,,", "a,b", 1, 0},     {"o2f,", ",,a,,b,,", ",,a,b", 3, 0},
      {"u", "hello", "HELLO", -1, 0},       {"o1u", "hello", "hELLO", -1, 0},
      {"Ol", "hello", "hello", 2, 0},       {"Oz", "hello", "hello", -1, 1},
      {"o5Oz", "hello", "hello", -1, 2},    {"tl_", "hello", "he__o", 3, 0},
      {"Tl_", "hello", "he_lo", 2, 0},      {"Dl", "hello", "helo", 2, 0},
      {"dl", "hello", "heo", 2, 0},         {"o3dl", "hello", "helo", 3, 0},
      {"o9dl", "hello", "hello", -1, 0},    {"Lx", "ABC", "abc", -1, 0},
      {"o-4U", "abc", "ABC", -1, 0},        {"t", "abc", "abc", -1, 0},
      {"dlul", "hello", "heo", 2, 0},
  };
  for (const auto& c : cases) {
    char v[64];
    std::strcpy(v, c.in);
    int aux = -1;
    int status = 0;
    const int n = conv_apply(c.ops, v, static_cast<int>(std::strlen(v)), &aux, &status);
    EXPECT_EQ(std::string(v, static_cast<std::size_t>(n)), c.out) << c.ops << " on " << c.in;
    EXPECT_EQ(aux, c.aux) << c.ops << " on " << c.in;
    EXPECT_EQ(status, c.status) << c.ops << " on " << c.in;
  }
}

TEST(ReadCopy, CmpvResults) {
  struct Case {
    const char* a;
    const char* b;
    bool fold;
    int status;
    int pos;
  } cases[] = {
      {"abc", "abd", false, 2, 2}, {"abd", "abc", false, 1, 2}, {"abc", "ab", false, 4, 2},
      {"ab", "abc", false, 8, 2},  {"abc", "abc", false, 0, 3}, {"ABC", "abc", true, 0, 3},
      {"ABC", "abc", false, 2, 0}, {"a_", "aB", true, 2, 1},    {"", "", false, 0, 0},
      {"\xe4", "a", false, 1, 0},  {"x", "", false, 4, 0},
  };
  for (const auto& c : cases) {
    int pos = -1;
    const int st = cmpv_compare(c.a, static_cast<int>(std::strlen(c.a)), c.b, static_cast<int>(std::strlen(c.b)),
                                c.fold, &pos);
    EXPECT_EQ(st, c.status) << c.a << " " << c.b;
    EXPECT_EQ(pos, c.pos) << c.a << " " << c.b;
  }
}

TEST(ReadCopy, CatvParts) {
  struct Case {
    const char* text;
    bool bad;
    bool has_number;
    long long number;
    const char* name;  // null: none
    const char* flags;
  } cases[] = {
      {"3", false, true, 3, nullptr, ""},       {":-5", false, true, 5, nullptr, ":-"},
      {"v:.", false, false, 0, "v", ":."},      {".+_x9", false, false, 0, "_x9", ".+"},
      {"1x", true, false, 0, nullptr, ""},      {"x1", false, false, 0, "x1", ""},
      {"x:1", true, false, 0, nullptr, ""},     {"1:2", true, false, 0, nullptr, ""},
      {"a b", true, false, 0, nullptr, ""},     {"99999999999", false, true, 2147483647, nullptr, ""},
      {"", false, false, 0, nullptr, ""},
  };
  for (const auto& c : cases) {
    const CatvPart p = catv_parse_part(c.text, static_cast<int>(std::strlen(c.text)));
    EXPECT_EQ(p.bad, c.bad) << c.text;
    if (c.bad) continue;
    EXPECT_EQ(p.has_number, c.has_number) << c.text;
    EXPECT_EQ(p.number, c.number) << c.text;
    EXPECT_EQ(p.name == nullptr ? std::string("-") : std::string(p.name, static_cast<std::size_t>(p.name_len)),
              c.name == nullptr ? "-" : c.name)
        << c.text;
    std::string flags;
    if (p.colon) flags += ':';
    if (p.minus) flags += '-';
    if (p.dot) flags += '.';
    if (p.plus) flags += '+';
    std::string want = c.flags;
    for (char f : want) EXPECT_NE(flags.find(f), std::string::npos) << c.text;
    EXPECT_EQ(flags.size(), want.size()) << c.text;
  }
}

TEST(ReadCopy, CatvLiterals) {
  struct Case {
    const char* in;
    std::string out;
  } cases[] = {
      {"ab%jcd", "ab\r\ncd"},
      {"%%%n%t", "%\n\t"},
      {"%0%255%1234", std::string("\0\xff", 2) + "{4"},
      {"%a%b%e%f%r%s%v%z", "\a\b\x1b\f\r\"\v\x1a"},
      {"%q%", "%q%"},
      {"plain", "plain"},
  };
  for (const auto& c : cases) {
    char buf[64];
    std::strcpy(buf, c.in);
    const int n = catv_decode_literal(buf, '%');
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), c.out) << c.in;
  }
  char over[] = "x%256";
  EXPECT_EQ(catv_decode_literal(over, '%'), -1);
}

TEST(ReadCopy, Positions) {
  char buf[24];
  EXPECT_EQ(format_i64(buf, 0), 1);
  EXPECT_STREQ(buf, "0");
  format_i64(buf, 5000000000LL);
  EXPECT_STREQ(buf, "5000000000");
  format_i64(buf, -17);
  EXPECT_STREQ(buf, "-17");
}

int call(int (*h)(int, char**), std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return h(static_cast<int>(words.size()), argv.data());
}

std::string value_of(const char* name) {
  const VarRecord* r = var_find(variable_scope(), name);
  return r == nullptr ? "<unset>" : std::string(r->value(), static_cast<std::size_t>(r->value_size()));
}

// 10,000 lines through a pipe: read and readl take turns, and after the
// last of them a plain read of the descriptor finds exactly the rest.
TEST(ReadCopy, LinesFromAPipeArriveExactlyOnce) {
  reset_interpreter();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Keep both ends clear of descriptor 5, which the builtins read.
  for (int& fd : fds) {
    const int high = fcntl(fd, F_DUPFD, 20);
    close(fd);
    fd = high;
  }
  std::string all;
  for (int i = 1; i <= 10000; ++i) all += std::to_string(i) + " word" + std::string(static_cast<std::size_t>(i % 5), 'x') + "\n";
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < all.size()) {
      // Uneven pieces, so that lines are cut between writes.
      const std::size_t n = std::min<std::size_t>(all.size() - done, 1 + (done % 977));
      const ssize_t w = write(fds[1], all.data() + done, n);
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    close(fds[1]);
  });
  const int saved = dup(5);
  dup2(fds[0], 5);
  close(fds[0]);
  int bad = 0;
  for (int i = 1; i <= 9990; ++i) {
    const std::string want_num = std::to_string(i);
    const std::string want_word = "word" + std::string(static_cast<std::size_t>(i % 5), 'x');
    if (i % 2 != 0) {
      if (call(bi_read, {"read", "-u5", "num", "word"}) != 0 || value_of("num") != want_num ||
          value_of("word") != want_word) {
        ++bad;
      }
    } else if (call(bi_readl, {"readl", "-u5", "line"}) != 0 || value_of("line") != want_num + " " + want_word) {
      ++bad;
    }
  }
  EXPECT_EQ(bad, 0);
  std::string rest;
  char buf[512];
  for (ssize_t n; (n = read(5, buf, sizeof buf)) > 0;) rest.append(buf, static_cast<std::size_t>(n));
  writer.join();
  std::string want_rest;
  for (int i = 9991; i <= 10000; ++i) want_rest += std::to_string(i) + " word" + std::string(static_cast<std::size_t>(i % 5), 'x') + "\n";
  EXPECT_EQ(rest, want_rest);
  EXPECT_EQ(call(bi_read, {"read", "-u5", "num"}), 1);
  if (saved >= 0) {
    dup2(saved, 5);
    close(saved);
  } else {
    close(5);
  }
}

}  // namespace
}  // namespace vek
