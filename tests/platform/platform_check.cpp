// The platform layer seen through its interface only, so that the same
// checks run against the POSIX layer and against the Win32 layer (under
// Wine).  Run in an empty directory; ends with "N passed, N failed".
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace plat = vek::plat;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, int line, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAIL line %d: %s\n", line, what);
  }
}
#define CHECK(c) check((c), __LINE__, #c)

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

int count_entries(const char* prefix) {
  int n = 0;
  for (const char* const* e = plat::environment(); *e != nullptr; ++e)
    if (std::strncmp(*e, prefix, std::strlen(prefix)) == 0) ++n;
  return n;
}

}  // namespace

int main() {
  plat::init_process();
  const bool win32 = std::strcmp(plat::defaults().system_name, "Win32") == 0;

  // Current directory and program, in the interpreter's form.
  char buf[1024];
  CHECK(plat::getcwd(buf, sizeof buf));
  CHECK(std::strchr(buf, '/') == nullptr);
  CHECK(!plat::getcwd(buf, 3));
  CHECK(plat::program_file(buf, sizeof buf));
  CHECK(ends_with(buf, win32 ? "\\vek_platform_check.exe" : "\\vek_platform_check"));
  CHECK(!plat::program_file(buf, 4));
  CHECK(plat::host_path("a\\b", buf, sizeof buf));
  CHECK(std::strcmp(buf, win32 ? "a\\b" : "a/b") == 0);
  CHECK(!plat::host_path("abcdef", buf, 4));

  // Creating, appending, seeking, cutting and extending.
  const char* f = "check_a.txt";
  int fd = plat::open(f, plat::kWrite | plat::kCreate | plat::kExclusive | plat::kBinary);
  CHECK(fd >= 0);
  CHECK(plat::open(f, plat::kWrite | plat::kCreate | plat::kExclusive) < 0);
  CHECK(plat::write(fd, "hello\n", 6) == 6);
  CHECK(plat::close(fd) == 0);
  fd = plat::open(f, plat::kWrite | plat::kAppend);
  CHECK(plat::lseek(fd, 0, plat::kSeekSet) == 0);
  CHECK(plat::write(fd, "x", 1) == 1);  // still at the end
  plat::close(fd);
  char data[64] = {};
  fd = plat::open(f, plat::kRead);
  CHECK(plat::read(fd, data, sizeof data) == 7 && std::memcmp(data, "hello\nx", 7) == 0);
  CHECK(plat::read(fd, data, sizeof data) == 0);
  CHECK(plat::lseek(fd, -2, plat::kSeekEnd) == 5);
  CHECK(plat::lseek(fd, 1, plat::kSeekCur) == 6);
  plat::close(fd);
  fd = plat::open(f, plat::kReadWrite);
  CHECK(plat::ftruncate(fd, 3) == 0 && plat::lseek(fd, 0, plat::kSeekEnd) == 3);
  CHECK(plat::ftruncate(fd, 10) == 0 && plat::stat_path(f).size == 10);
  CHECK(plat::open("no_such_dir\\x", plat::kRead) < 0);

  // Duplicates; a descriptor that is not open is an error, not a crash.
  const int d = plat::dup(fd);
  CHECK(d > fd);
  CHECK(plat::dup2(fd, 15) == 15);
  CHECK(plat::lseek(15, 0, plat::kSeekSet) == 0 && plat::read(15, data, 3) == 3 && std::memcmp(data, "hel", 3) == 0);
  plat::set_no_inherit(15);
  CHECK(plat::dup2(99, 16) == -1);
  CHECK(plat::close(99) == -1);
  CHECK(plat::dup(99) == -1);
  CHECK(plat::close(d) == 0 && plat::close(15) == 0);

  // A file may be deleted while it is open (on Win32 its name may stay
  // until it is closed).
  CHECK(plat::unlink(f) == 0);
  plat::close(fd);
  CHECK(!plat::stat_path(f).exists);
  CHECK(plat::unlink(f) < 0);

  // Text mode translates line ends on Win32 only.
  fd = plat::open("check_t.txt", plat::kWrite | plat::kCreate | plat::kTruncate | plat::kText);
  plat::write(fd, "a\nb\n", 4);
  plat::close(fd);
  CHECK(plat::stat_path("check_t.txt").size == (win32 ? 6 : 4));
  fd = plat::open("check_t.txt", plat::kRead | plat::kText);
  CHECK(plat::read(fd, data, sizeof data) == 4 && std::memcmp(data, "a\nb\n", 4) == 0);
  plat::close(fd);
  // New files are writable for their owner under the start-up mask.
  plat::FileInfo fi = plat::stat_path("check_t.txt");
  CHECK(fi.exists && fi.is_regular && !fi.is_dir && !fi.is_char_device);
  CHECK((fi.mode & 0200) != 0 && !(fi.attributes & plat::kAttrReadOnly));
  CHECK(fi.mtime > 1000000000 && fi.mtime <= plat::time_now() + 2);
  CHECK(plat::unlink("check_t.txt") == 0);

  // The null device and the current directory.
  fd = plat::open("NUL", plat::kReadWrite);
  CHECK(fd >= 0 && !plat::isatty(fd));
  CHECK(plat::write(fd, "x", 1) == 1 && plat::read(fd, data, 4) == 0);
  plat::close(fd);
  fi = plat::stat_path("nul");
  CHECK(fi.exists && fi.is_char_device && !fi.is_regular);
  fi = plat::stat_path(".");
  CHECK(fi.exists && fi.is_dir && (fi.attributes & plat::kAttrDirectory));
  CHECK(!plat::stat_path("no_such_file").exists);

  // The environment: an empty value is a variable; setting again replaces.
  plat::env_set("VEK_CHECK_PROBE", "");
  CHECK(count_entries("VEK_CHECK_PROBE=") == 1);
  plat::env_set("VEK_CHECK_PROBE", "x=1");
  CHECK(count_entries("VEK_CHECK_PROBE=x=1") == 1 && count_entries("VEK_CHECK_PROBE=") == 1);
  plat::env_unset("VEK_CHECK_PROBE");
  CHECK(count_entries("VEK_CHECK_PROBE=") == 0);

  CHECK(plat::time_now() > 1600000000);
  CHECK(plat::process_id() > 0);
  plat::install_signal_handlers();
  CHECK(plat::pending_signal() == 0);

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
