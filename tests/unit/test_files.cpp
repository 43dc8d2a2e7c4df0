// The file builtins where the end-to-end cases cannot reach: symbolic
// links, permissions (run as an unprivileged user), a full disk (a small
// file-size limit), a second file system, descriptors, the clock and the
// platform operations themselves.  Risky cases run in a child process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "capture.h"
#include "core/shell.h"
#include "platform/platform.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/timeconv.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using Handler = int (*)(int, char**);
using testing_support::Capture;

// The interpreter's form of a host path.
std::string ip(const std::string& host) {
  std::string s = host;
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

int call(Handler h, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return h(static_cast<int>(words.size()), argv.data());
}

// $? after an error that ended the command.
constexpr int status_of(int error) { return (error + 1) | 16; }

struct Outcome {
  int code = -1;  // the handler's status, or 128 + $? after an error
  std::string out, err;
};

// Runs the handler in-process; an error shows as 128 + $?.
Outcome run(Handler h, std::vector<std::string> words) {
  Outcome o;
  Capture err(2);
  Capture out(1);
  try {
    o.code = call(h, std::move(words));
  } catch (const ProcessExit&) {
    o.code = 128 + last_status;
  }
  o.out = out.text();
  o.err = err.text();
  return o;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs `body` in a child process; its output and error text and what it
// returned come back.  A child that cannot do what the test needs returns
// 77 (the test is then skipped).
template <typename F>
Outcome in_child(F body) {
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    int code = 99;
    try {
      code = body();
    } catch (const ProcessExit&) {
      code = 128 + last_status;
    } catch (...) {
    }
    _exit(code);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  Outcome o;
  o.code = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  auto slurp = [](FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
    return s;
  };
  o.out = slurp(out);
  o.err = slurp(err);
  return o;
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    char tmpl[] = "/tmp/vek-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    chmod(root_.c_str(), 0777);
  }
  void TearDown() override {
    // Give every directory back its permissions, then remove the tree.
    std::string cmd = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "clean-up of " << root_;
  }
  std::string host(const std::string& rel) const { return root_ + "/" + rel; }
  std::string path(const std::string& rel) const { return ip(host(rel)); }
  void make_file(const std::string& rel, const std::string& text, mode_t mode = 0644) const {
    std::ofstream(host(rel), std::ios::binary) << text;
    chmod(host(rel).c_str(), mode);
  }
  void make_dir(const std::string& rel, mode_t mode = 0755) const {
    mkdir(host(rel).c_str(), 0700);
    chmod(host(rel).c_str(), mode);
  }
  bool exists(const std::string& rel) const {
    struct stat st;
    return lstat(host(rel).c_str(), &st) == 0;
  }
  std::string root_;
};

// ---------------------------------------------------------------- links

TEST_F(Files, RemoveTakesLinksAwayWithoutFollowingThem) {
  make_dir("x");
  make_file("x/keep", "k");
  make_dir("t");
  make_file("t/f", "f");
  ASSERT_EQ(symlink("../x", host("t/l").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent/target", host("t/dang").c_str()), 0);
  ASSERT_EQ(symlink("x", host("lx").c_str()), 0);

  // A dangling link exists and is removed itself.
  EXPECT_EQ(run(bi_remove, {"remove", path("t/dang")}).code, 0);
  EXPECT_FALSE(exists("t/dang"));
  // A link to a directory is removed, not emptied.
  EXPECT_EQ(run(bi_remove, {"remove", "-R", path("lx")}).code, 0);
  EXPECT_FALSE(exists("lx"));
  EXPECT_TRUE(exists("x/keep"));
  // Inside a tree a link is unlinked; what it names stays.
  Outcome o = run(bi_remove, {"remove", "-Rv", path("t")});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_FALSE(exists("t"));
  EXPECT_TRUE(exists("x/keep"));
  EXPECT_NE(o.out.find("UNLINK: " + path("t\\l") + "\r\n"), std::string::npos) << o.out;
}

TEST_F(Files, ListAndCopyDoNotWalkThroughLinks) {
  make_dir("t");
  make_file("t/f", "data");
  ASSERT_EQ(symlink(".", host("t/loop").c_str()), 0);
  ASSERT_EQ(symlink("f", host("t/lf").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", host("t/dang").c_str()), 0);

  Outcome o = run(bi_list, {"list", "-R", path("t")});
  EXPECT_EQ(o.code, 0);
  std::set<std::string> lines;
  for (std::size_t at = 0, end; (end = o.out.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.insert(o.out.substr(at, end - at));
  EXPECT_EQ(lines, (std::set<std::string>{path("t\\f"), path("t\\loop"), path("t\\lf"), path("t\\dang")}));
  // t itself and the link to it, which is a directory but not walked.
  EXPECT_EQ(run(bi_list, {"list", "-Rdc", path("t")}).out, "2\r\n");
  EXPECT_EQ(run(bi_list, {"list", "-fc", path("t")}).out, "2\r\n");   // f and the link to it

  // The link to a file is copied as the file; the dangling one and the
  // link to a directory are ignored and said so.
  o = run(bi_copy, {"copy", "-R", path("t"), path("u")});
  EXPECT_EQ(o.code, 1);
  EXPECT_NE(o.err.find("IGNORE: " + path("t\\dang") + "\r\n"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("IGNORE: " + path("t\\loop") + "\r\n"), std::string::npos) << o.err;
  EXPECT_EQ(read_file(host("u/lf")), "data");
  struct stat st;
  ASSERT_EQ(lstat(host("u/lf").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_FALSE(exists("u/loop"));
}

TEST_F(Files, MoveRenamesALinkItself) {
  make_file("f", "data");
  ASSERT_EQ(symlink("f", host("l").c_str()), 0);
  EXPECT_EQ(run(bi_move, {"move", path("l"), path("m")}).code, 0);
  struct stat st;
  ASSERT_EQ(lstat(host("m").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(Files, CopyOntoAHardLinkOfItselfLeavesTheData) {
  make_file("a", "precious");
  ASSERT_EQ(link(host("a").c_str(), host("b").c_str()), 0);
  Outcome o = run(bi_copy, {"copy", path("a"), path("b")});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.err, "IGNORE: " + path("a") + "\r\n");
  o = run(bi_move, {"move", path("a"), path("b")});
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(read_file(host("a")), "precious");
  EXPECT_EQ(read_file(host("b")), "precious");
}

// ---------------------------------------------------------------- permissions

// Becomes an unprivileged user where the test runs with privileges.
bool drop_privileges() {
  if (geteuid() != 0) return true;
  return setgid(65534) == 0 && setuid(65534) == 0;
}

TEST_F(Files, PermissionDeniedGivesTheSpecifiedReports) {
  make_file("a", "a");
  make_file("secret", "s", 0000);
  make_dir("ro");
  make_file("ro/f", "f");
  chmod(host("ro").c_str(), 0555);
  make_dir("t", 0777);
  make_dir("t/sub", 0000);
  // A directory that can be read but not searched: its entries are seen
  // but have no status, as if they vanished during the walk.
  make_dir("v", 0777);
  make_dir("v/nx", 0755);
  make_file("v/nx/f", "f");
  chmod(host("v/nx").c_str(), 0444);

  auto as_user = [&](Handler h, std::vector<std::string> words) {
    return in_child([&] {
      if (!drop_privileges()) return 77;
      return call(h, words);
    });
  };
  Outcome o = as_user(bi_copy, {"copy", path("secret"), path("c")});
  if (o.code == 77) GTEST_SKIP() << "cannot run as an unprivileged user";
  EXPECT_EQ(o.code, 128 + status_of(kErrOpen));
  EXPECT_NE(o.err.find("ffnen fehlgeschlagen bei Datei: '" + path("secret") + "'"), std::string::npos) << o.err;
  EXPECT_FALSE(exists("c"));

  o = as_user(bi_copy, {"copy", path("a"), path("ro\\a")});
  EXPECT_EQ(o.code, 128 + status_of(kErrOpen));
  EXPECT_NE(o.err.find("'" + path("ro\\a") + "'"), std::string::npos) << o.err;

  o = as_user(bi_remove, {"remove", path("ro\\f")});
  EXPECT_EQ(o.code, 4);
  EXPECT_EQ(o.out, "UNLINK: " + path("ro\\f") + "\r\n");
  EXPECT_EQ(o.err, "FAILED!\r\n");
  EXPECT_TRUE(exists("ro/f"));

  // A rename that the system refuses ends the move; the file stays.
  o = as_user(bi_move, {"move", path("ro\\f"), path("g")});
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_EQ(o.out, "RENAME: " + path("ro\\f") + "\r\n    TO: " + path("g") + "\r\n");
  EXPECT_NE(o.err.find("FAILED!\r\n"), std::string::npos);
  EXPECT_NE(o.err.find("Fehler bei Systemfunktion."), std::string::npos) << o.err;
  EXPECT_TRUE(exists("ro/f"));

  o = as_user(bi_copy, {"copy", "-R", path("t"), path("u")});
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_NE(o.err.find("Fehler bei Systemfunktion: 'list_rf()'"), std::string::npos) << o.err;
  o = as_user(bi_copy, {"copy", "-R", path("v"), path("w")});
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.err, "NEXIST: " + path("v\\nx\\f") + "\r\n");

  o = as_user(bi_list, {"list", "-R", path("t")});
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_NE(o.err.find("'list: opendir()'"), std::string::npos) << o.err;
}

// ---------------------------------------------------------------- full disk

TEST_F(Files, AFullDiskStopsTheCopyAndKeepsTheSource) {
  const std::string data(100000, 'x');
  make_file("big", data);
  auto limited = [&](rlim_t limit, Handler h, std::vector<std::string> words) {
    return in_child([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      struct rlimit rl;
      rl.rlim_cur = rl.rlim_max = limit;
      if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 77;
      return call(h, words);
    });
  };
  // The write that meets the limit comes back short: the copy failed.
  Outcome o = limited(40000, bi_copy, {"copy", path("big"), path("copy")});
  ASSERT_NE(o.code, 77);
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_EQ(o.out, "  COPY: " + path("big") + "\r\n    TO: " + path("copy") + "\r\n");
  EXPECT_EQ(o.err, "FAILED!\r\nvek: Fehler bei Systemfunktion.\r\n");
  EXPECT_EQ(read_file(host("big")), data);

  // A move over an existing file copies; a failed copy keeps the source.
  make_file("old", "");
  o = limited(40000, bi_move, {"move", path("big"), path("old")});
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_EQ(read_file(host("big")), data);

  // A write that fails outright is reported with the target.
  o = limited(65536, bi_copy, {"copy", path("big"), path("c2")});
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_NE(o.err.find("Fehler bei Systemfunktion: '" + path("c2") + "'"), std::string::npos) << o.err;
  EXPECT_EQ(read_file(host("big")), data);
}

// ---------------------------------------------------------------- second file system

TEST_F(Files, MoveToAnotherFileSystemCopiesKeepsTimesAndRemovesTheSource) {
  struct stat shm, here;
  if (stat("/dev/shm", &shm) != 0 || stat(root_.c_str(), &here) != 0 || shm.st_dev == here.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  char tmpl[] = "/dev/shm/vek-files-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string other = tmpl;
  make_dir("s");
  make_file("s/f", "one");
  make_dir("s/t");
  make_file("s/t/g", "two");
  struct timespec ts[2] = {{998051445, 0}, {998051445, 0}};
  utimensat(AT_FDCWD, host("s/t/g").c_str(), ts, 0);
  make_file("single", "three");

  Outcome o = run(bi_move, {"move", "-v", path("s"), ip(other + "/s")});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_FALSE(exists("s"));
  EXPECT_EQ(read_file(other + "/s/f"), "one");
  EXPECT_EQ(read_file(other + "/s/t/g"), "two");
  struct stat st;
  ASSERT_EQ(stat((other + "/s/t/g").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 998051445);
  for (const char* line : {" MKDIR: ", "  COPY: ", "UNLINK: ", " RMDIR: "})
    EXPECT_NE(o.out.find(line), std::string::npos) << line << o.out;
  EXPECT_NE(o.out.find(" RMDIR: " + path("s") + "\r\n"), std::string::npos) << o.out;

  o = run(bi_move, {"move", path("single"), ip(other)});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_FALSE(exists("single"));
  EXPECT_EQ(read_file(other + "/single"), "three");

  std::string cmd = "rm -rf '" + other + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// ---------------------------------------------------------------- fstat

TEST_F(Files, FstatOnDescriptorsAndForTheExecutorBuiltins) {
  make_file("f", "hello");
  const int fd = open(host("f").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, 9), 9);
  close(fd);
  EXPECT_EQ(run(bi_fstat, {"fstat", "+hs", "3", "9"}).code, 0);
  EXPECT_EQ(run(bi_fstat, {"fstat", "-hs", "9"}).out, "3\r\n");
  EXPECT_EQ(run(bi_fstat, {"fstat", "-hs", "8"}).code, 2);  // not open
  close(9);
  EXPECT_EQ(read_file(host("f")), "hel");

  // mtime, fsize, fmode and stime hand their operands over.
  std::vector<std::string> w = {"stime", "998051445", path("f")};
  std::vector<char*> argv;
  for (auto& s : w) argv.push_back(s.data());
  argv.push_back(nullptr);
  Capture out(1);
  EXPECT_EQ(fstat_with_option("+m", 3, argv.data()), 0);
  argv.erase(argv.begin() + 1);
  EXPECT_EQ(fstat_with_option("-m", 2, argv.data()), 0);
  EXPECT_EQ(fstat_with_option("-s", 2, argv.data()), 0);
  EXPECT_EQ(fstat_with_option("-p", 2, argv.data()), 0);
  EXPECT_EQ(out.text(), "998051445\r\n3\r\n644\r\n");
}

TEST_F(Files, TheClockOffsetMovesEveryShownTime) {
  make_file("f", "");
  struct timespec ts[2] = {{998051445, 0}, {998051445, 0}};
  utimensat(AT_FDCWD, host("f").c_str(), ts, 0);
  timezone_offset = -3600;  // tz -1: one hour ahead of the system's time
  EXPECT_EQ(run(bi_fstat, {"fstat", "-Tm", path("f")}).out, "200108171330.45\r\n");
  // A time set goes back to the system's clock.
  EXPECT_EQ(run(bi_fstat, {"fstat", "+m", "998055045", path("f")}).code, 0);
  struct stat st;
  ASSERT_EQ(stat(host("f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 998051445);
  const std::int64_t before = std::time(nullptr) + 3600;
  Outcome o = run(bi_systime, {"systime"});
  const std::int64_t after = std::time(nullptr) + 3600;
  const std::int64_t shown = std::stoll(o.out);
  EXPECT_GE(shown, before);
  EXPECT_LE(shown, after);
  timezone_offset = 0;
}

// Drops the right to set the clock; false where that cannot be made sure.
bool drop_clock_right() {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &head, data) != 0) return false;
  data[CAP_SYS_TIME / 32].effective &= ~(1u << (CAP_SYS_TIME % 32));
  data[CAP_SYS_TIME / 32].permitted &= ~(1u << (CAP_SYS_TIME % 32));
  if (syscall(SYS_capset, &head, data) != 0) return false;
  __user_cap_data_struct check[2]{};
  if (syscall(SYS_capget, &head, check) != 0) return false;
  return (check[CAP_SYS_TIME / 32].effective & (1u << (CAP_SYS_TIME % 32))) == 0;
}

TEST_F(Files, SettingTheClockWithoutTheRightIsASystemError) {
  Outcome o = in_child([] {
    if (!drop_clock_right()) return 77;
    return call(bi_systime, {"systime", "-t", "200108171230.45"});
  });
  if (o.code == 77) GTEST_SKIP() << "cannot give up the right to set the clock";
  EXPECT_EQ(o.code, 128 + status_of(kErrSystem));
  EXPECT_EQ(o.err, "vek: Fehler bei Systemfunktion: 'systime'\r\n");
}

// ---------------------------------------------------------------- platform

TEST_F(Files, PlatformOperations) {
  make_dir("d");
  make_file("d/a", "1");
  make_file("d/b", "22");
  make_file(".h", "");
  // Enumeration hands out every entry once, "." and ".." included.
  const int h = plat::dir_open(path("d").c_str());
  ASSERT_GE(h, 0);
  std::multiset<std::string> names;
  plat::DirEntry e;
  while (plat::dir_next(h, e)) names.insert(e.name);
  plat::dir_close(h);
  EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "a", "b"}));
  EXPECT_EQ(plat::dir_open(path("nothere").c_str()), -1);

  // A rename never replaces its target.
  EXPECT_NE(plat::rename_path(path("d\\a").c_str(), path("d\\b").c_str()), 0);
  EXPECT_EQ(read_file(host("d/b")), "22");
  EXPECT_EQ(plat::rename_path(path("d\\a").c_str(), path("d\\c").c_str()), 0);

  plat::FileStatus st;
  ASSERT_TRUE(plat::file_status(path("d\\b").c_str(), true, st));
  EXPECT_EQ(st.kind, plat::FileKind::kRegular);
  EXPECT_EQ(st.size, 2);
  EXPECT_EQ(st.attributes & (plat::kAttrArchive | plat::kAttrHidden), plat::kAttrArchive);
  ASSERT_TRUE(plat::file_status(path(".h").c_str(), true, st));
  EXPECT_NE(st.attributes & plat::kAttrHidden, 0u);
  EXPECT_EQ(plat::set_attributes(path(".h").c_str(), plat::kAttrArchive | plat::kAttrHidden), 0);
  EXPECT_EQ(plat::set_attributes(path(".h").c_str(), plat::kAttrSystem), plat::kUnsupported);

  EXPECT_EQ(plat::set_permissions(path("d\\b").c_str(), 0444), 0);
  ASSERT_TRUE(plat::file_status(path("d\\b").c_str(), true, st));
  EXPECT_EQ(st.mode & 0777, 0444u);
  EXPECT_NE(st.attributes & plat::kAttrReadOnly, 0u);

  EXPECT_EQ(plat::make_directory(path("d\\e").c_str()), 0);
  EXPECT_NE(plat::make_directory(path("d\\e").c_str()), 0);
  EXPECT_NE(plat::remove_directory(path("d").c_str()), 0);  // not empty
  EXPECT_EQ(plat::remove_directory(path("d\\e").c_str()), 0);
  EXPECT_EQ(plat::set_file_times(path("d\\b").c_str(), 1000, 2000), 0);
  ASSERT_TRUE(plat::file_status(path("d\\b").c_str(), true, st));
  EXPECT_EQ(st.atime, 1000);
  EXPECT_EQ(st.mtime, 2000);
}

}  // namespace
}  // namespace vek
