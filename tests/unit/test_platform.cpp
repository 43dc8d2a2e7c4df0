// The platform layer's file status and defaults as the interpreter sees
// them on POSIX (the Win32 side is tested end to end under Wine).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace vek {
namespace {

namespace fs = std::filesystem;

// The interpreter's form of a host path.
std::string vek_path(const fs::path& p) {
  std::string s = p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

class FileStatus : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vek-plat-" + std::to_string(plat::process_id()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path file(const std::string& name, const std::string& content) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  fs::path dir_;
};

TEST_F(FileStatus, KindsSizesAndAttributes) {
  struct Row {
    fs::path path;
    bool is_dir, is_regular, is_char_device;
    std::int64_t size;
    unsigned attributes;
  };
  fs::path plain = file("plain.txt", "abc");
  fs::path dotted = file(".hidden", "");
  fs::path locked = file("locked", "x");
  fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::create_directory(dir_ / "sub");
  const Row rows[] = {
      {plain, false, true, false, 3, plat::kAttrArchive},
      {dotted, false, true, false, 0, plat::kAttrArchive | plat::kAttrHidden},
      {locked, false, true, false, 1, plat::kAttrArchive | plat::kAttrReadOnly},
      {dir_ / "sub", true, false, false, -1, plat::kAttrDirectory},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path.string());
    plat::FileInfo fi = plat::stat_path(vek_path(r.path).c_str());
    ASSERT_TRUE(fi.exists);
    EXPECT_EQ(fi.is_dir, r.is_dir);
    EXPECT_EQ(fi.is_regular, r.is_regular);
    EXPECT_EQ(fi.is_char_device, r.is_char_device);
    if (r.size >= 0) {
      EXPECT_EQ(fi.size, r.size);
    }
    EXPECT_EQ(fi.attributes, r.attributes);
  }
  // "." and ".." are directories, not hidden names.
  EXPECT_EQ(plat::stat_path((vek_path(dir_) + "\\sub\\..").c_str()).attributes, plat::kAttrDirectory);
  EXPECT_FALSE(plat::stat_path(vek_path(dir_ / "missing").c_str()).exists);
}

TEST(Devices, NulIsACharacterDeviceInAnyCase) {
  for (const char* name : {"NUL", "nul", "Nul"}) {
    plat::FileInfo fi = plat::stat_path(name);
    EXPECT_TRUE(fi.exists) << name;
    EXPECT_TRUE(fi.is_char_device) << name;
    EXPECT_FALSE(fi.is_regular) << name;
  }
}

TEST(Defaults, SearchListsAndExtensionsOfThisPlatform) {
  const plat::Defaults& d = plat::defaults();
  EXPECT_STREQ(d.system_name, "POSIX");
  EXPECT_STREQ(d.search_path, "/usr/local/bin:/usr/bin:/bin");
  EXPECT_STREQ(d.cd_path, ".:/");
  EXPECT_STREQ(d.temp_directory, "\\tmp");
  const char* order[] = {".com", ".exe", ".bat", ".vek", ".cmd"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(d.extensions[i], order[i]);
}

}  // namespace
}  // namespace vek
