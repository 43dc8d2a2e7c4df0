// File-name generation on a real directory tree: components with and
// without wildcards, letter case, the count, and a directory of 5000
// entries matched with one listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pattern/glob.h"
#include "support/strings.h"

namespace {

namespace fs = std::filesystem;

struct Collect final : vek::NameSink {
  std::vector<std::string> names;
  void add(const char* path, int len) override { names.emplace_back(path, static_cast<std::size_t>(len)); }
};

class Glob : public ::testing::Test {
 protected:
  fs::path old_;
  fs::path dir_;
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("vek-glob-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  static void touch(const std::string& p) {
    fs::create_directories(fs::path(p).parent_path().empty() ? "." : fs::path(p).parent_path());
    std::ofstream(p).put('x');
  }
  static std::vector<std::string> expand(const char* word) {
    Collect c;
    const int n = vek::expand_filenames(word, '%', c);
    EXPECT_EQ(n, static_cast<int>(c.names.size()));
    std::sort(c.names.begin(), c.names.end());
    return c.names;
  }
};

using V = std::vector<std::string>;

TEST_F(Glob, ComponentsCaseAndLiterals) {
  for (const char* p : {"a.txt", "B.TXT", "c.txt1", ".h.txt", "src/m.c", "src/N.C", "docs/readme.txt", "src/readme.txt",
                        "lib/x", "a*b"})
    touch(p);
  struct Row {
    const char* word;
    V want;
  };
  const Row rows[] = {
      {"*.txt", {".h.txt", "B.TXT", "a.txt"}},
      {"*.TXT", {".h.txt", "B.TXT", "a.txt"}},
      {"?.txt", {"B.TXT", "a.txt"}},
      {"[!a-b].*", {"c.txt1"}},
      {"src/*.c", {"src\\N.C", "src\\m.c"}},
      {"*/readme.txt", {"docs\\readme.txt", "src\\readme.txt"}},
      {"*\\README.TXT", {}},  // a literal component keeps its case on POSIX
      {"s?c/m.c", {"src\\m.c"}},
      {"a%*b*", {"a*b"}},
      {"*.none", {}},
      {"x:*", {}},
  };
  for (const Row& r : rows) EXPECT_EQ(expand(r.word), r.want) << r.word;
  const std::string abs = dir_.string() + "/a.*";
  std::string want = abs.substr(0, abs.size() - 3) + "a.txt";
  std::replace(want.begin(), want.end(), '/', '\\');
  EXPECT_EQ(expand(abs.c_str()), V{want});
}

TEST_F(Glob, FiveThousandEntries) {
  for (int i = 0; i < 5000; ++i) std::ofstream("f" + std::to_string(i));
  EXPECT_EQ(expand("*").size(), 5000u);
  EXPECT_EQ(expand("F4?9").size(), 10u);
  EXPECT_EQ(expand("f[1-2]*").size(), 2222u);
}

}  // namespace
