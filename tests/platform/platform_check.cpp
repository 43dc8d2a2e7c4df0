// The platform layer seen through its interface only, so that the same
// checks run against the POSIX layer and against the Win32 layer (under
// Wine).  Run in an empty directory; ends with "N passed, N failed".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Child modes, started by the process checks below.
int child(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--exit") == 0) return std::atoi(argv[2]);
  // Descriptor 5 is inherited, the given one (10 or above) is not.
  if (argc == 3 && std::strcmp(argv[1], "--descriptors") == 0) {
    const bool five = plat::write(5, "child", 5) == 5;
    return five && !plat::is_open(std::atoi(argv[2])) ? 0 : 1;
  }
  return 99;
}

int main(int argc, char** argv) {
  if (argc > 1) return child(argc, argv);
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

  // Text mode translates line ends, also on a duplicate.
  fd = plat::open("check_t.txt", plat::kWrite | plat::kCreate | plat::kTruncate | plat::kText);
  plat::write(fd, "a\n", 2);
  const int t2 = plat::dup(fd);
  plat::write(t2, "b\n", 2);
  plat::close(t2);
  plat::close(fd);
  CHECK(plat::stat_path("check_t.txt").size == 6);
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

  // The file-creation mask reads back as it was set.
  const unsigned mask = plat::file_mask();
  plat::set_file_mask(022);
  CHECK(plat::file_mask() == 022);
  plat::set_file_mask(0777);
  CHECK(plat::file_mask() == 0777);
  plat::set_file_mask(mask);
  CHECK(plat::file_mask() == mask);
  // Duplicates above the user's descriptors, positioned transfers, the
  // status of a descriptor.
  fd = plat::open("check_p.txt", plat::kReadWrite | plat::kCreate | plat::kTruncate | plat::kBinary);
  const int high = plat::dup_high(fd);
  CHECK(high >= 10 && plat::same_file(fd, high));
  CHECK(plat::write_at(fd, "abcdef", 6, 0) == 6 && plat::lseek(fd, 0, plat::kSeekCur) == 0);
  CHECK(plat::read_at(high, data, 3, 2) == 3 && std::memcmp(data, "cde", 3) == 0);
  CHECK(plat::lseek(high, 0, plat::kSeekCur) == 0);
  unsigned mode = 0;
  std::int64_t size = 0;
  CHECK(plat::descriptor_status(high, mode, size) && (mode & 0170000) == 0100000 && size == 6);
  CHECK(!plat::descriptor_status(99, mode, size));
  CHECK(plat::path_exists("check_p.txt") && !plat::path_exists("no_such_file"));
  const int other = plat::open("check_q.txt", plat::kWrite | plat::kCreate | plat::kBinary);
  CHECK(!plat::same_file(fd, other));
  plat::close(other);
  plat::unlink("check_q.txt");
  plat::close(fd);

  // Changing the directory.
  char cwd[1024];
  CHECK(plat::getcwd(cwd, sizeof cwd));
  CHECK(!plat::change_dir("no_such_dir"));
  CHECK(plat::change_dir("..") && plat::getcwd(buf, sizeof buf) && std::strcmp(buf, cwd) != 0);
  CHECK(plat::change_dir(cwd) && plat::getcwd(buf, sizeof buf) && std::strcmp(buf, cwd) == 0);

  // Started programs: their exit code, descriptors 0 to 9 passed on and
  // the interpreter's own ones not.
  char self[1024];
  CHECK(plat::program_file(self, sizeof self));
  char exit_opt[] = "--exit";
  char seven[] = "7";
  char* exit_args[] = {self, exit_opt, seven, nullptr};
  int code = -1;
  bool normal = false;
  plat::ignore_interrupts(true);
  int pid = plat::spawn(self, exit_args);
  CHECK(pid > 0 && plat::wait_child(pid, code, normal) == pid && code == 7 && normal);
  plat::ignore_interrupts(false);
  CHECK(plat::wait_child(-1, code, normal) == 0);
  CHECK(plat::spawn("no_such_program.exe", exit_args) < 0);
  fd = plat::open("check_c.txt", plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary);
  CHECK(plat::dup2(fd, 5) == 5);
  plat::close(fd);
  char desc_opt[] = "--descriptors";
  char high_text[16];
  std::snprintf(high_text, sizeof high_text, "%d", high);
  char* desc_args[] = {self, desc_opt, high_text, nullptr};
  pid = plat::spawn(self, desc_args);
  CHECK(pid > 0 && plat::wait_child(-1, code, normal) == pid && code == 0);
  plat::close(5);
  plat::close(high);
  CHECK(plat::stat_path("check_c.txt").size == 5);
  CHECK(plat::system_shell() != nullptr && plat::system_shell_switch() != nullptr);
  plat::unlink("check_p.txt");
  plat::unlink("check_c.txt");

  CHECK(plat::memory_available() > 1024 * 1024);
  CHECK(plat::time_now() > 1600000000);
  CHECK(plat::process_id() > 0);
  plat::install_signal_handlers();
  CHECK(plat::pending_signal() == 0);

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
