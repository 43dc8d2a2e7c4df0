// The process layer in the test process: search lists and the command
// search, the file test, absolute paths, the redirection stacks, the pipe
// files' sizes, here-documents read by functions, cd and text mode.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "capture.h"
#include "define_function.h"
#include "core/exec.h"
#include "core/lists.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/directory.h"
#include "proc/redirect.h"
#include "proc/search.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {
namespace {

using testing_support::Capture;

std::vector<std::string> entries(const SearchList& list) {
  std::vector<std::string> out;
  for_each_entry(list, [&](const char* e) {
    out.emplace_back(e);
    return false;
  });
  return out;
}

// Interpreter form of a host path.
std::string interp(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

class Proc : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_interpreter();
    char tmpl[] = "/tmp/vek-unit-XXXXXX";
    dir_ = mkdtemp(tmpl);
    copy_truncated(temp_directory, interp(dir_).c_str());
    open_temp_files();
    descriptor_changed(-1);
  }
  void TearDown() override {
    reset_redirections(ResetMode::kQuiet);
    close_temp_files();
    input = InputState{};
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text, mode_t mode = 0644) const {
    std::ofstream(path(name), std::ios::binary) << text;
    chmod(path(name).c_str(), mode);
  }
  std::string read(const std::string& name) const {
    std::ifstream f(path(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }

  static void run(const char* text) {
    prepared.text = text;
    prepared.text_length = std::char_traits<char>::length(text);
    run_source(nullptr, 0, 0, kModeString);
  }

  static void define(const char* name, const std::string& body) { testing_support::define_function(name, body); }

  std::string dir_;
};

TEST_F(Proc, SearchListsTakeEntriesAndEndWithTheCurrentDirectory) {
  struct Case {
    const char* text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a:b", {"a", "b", "."}},
      {":a", {".", "a", "."}},
      {"a:", {"a", ".", "."}},
      {"a::b;c", {"a", "b", "c", "."}},
      {"/usr/bin;;", {"\\usr\\bin", ".", "."}},
      {"", {"."}},
  };
  for (const Case& c : cases) {
    SearchList list{};
    build_search_list(list, c.text);
    EXPECT_EQ(entries(list), c.want) << c.text;
  }
  SearchList list{};
  std::string fits(507, 'x');  // with its NUL, ". " and the end mark
  build_search_list(list, std::string(504, 'x').c_str());
  EXPECT_EQ(entries(list).size(), 2u);
  Capture err(2);
  EXPECT_THROW(build_search_list(list, fits.c_str()), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Limit erreicht: '(CD)PATH'\r\n");
}

TEST_F(Proc, FileTestClassifies) {
  write("prog.EXE", "x");
  write("run", "x", 0755);
  write("data.vek", "x", 0755);
  write("empty.exe", "");
  ASSERT_EQ(mkdir(path("d").c_str(), 0755), 0);
  const std::string d = interp(dir_);
  EXPECT_NE(file_test('X', (d + "\\prog.EXE").c_str()), 0);
  EXPECT_NE(file_test('X', (d + "\\run").c_str()), 0);
  EXPECT_EQ(file_test('X', (d + "\\empty.exe").c_str()), 0);
  EXPECT_NE(file_test('f', (d + "\\empty.exe").c_str()), 0);
  EXPECT_EQ(file_test('F', (d + "\\empty.exe").c_str()), 0);
  EXPECT_NE(file_test('d', (d + "\\d").c_str()), 0);
  EXPECT_EQ(file_test('F', (d + "\\d").c_str()), 0);
  EXPECT_EQ(file_test(0, (d + "\\missing").c_str()), 0);
  EXPECT_EQ(file_test(0, "/dev/null") & (kFileCharDevice | kFileExists), kFileCharDevice | kFileExists);
  int bits = file_test(0, (d + "\\run").c_str());
  EXPECT_EQ(bits & (kFileExists | kFileRegular | kFileNonEmpty | kFileExecutable),
            kFileExists | kFileRegular | kFileNonEmpty | kFileExecutable);
}

TEST_F(Proc, SearchTriesTheExtensionsInOrder) {
  ASSERT_EQ(mkdir(path("bin").c_str(), 0755), 0);
  write("bin/a.exe", "x");
  write("bin/a.com", "x");
  write("bin/b.vek", "x");
  write("bin/b.cmd", "x");
  write("bin/my.script.bat", "x");
  write("bin/tool.sh", "x");
  write("bin/empty", "");
  write("here", "x");
  const std::string bin = interp(dir_) + "\\bin";
  build_search_list(command_search_list, (bin + ":" + interp(dir_)).c_str());
  auto found = [](const char* name) {
    const char* r = search_command(false, name);
    return std::string(r != nullptr ? r : "-");
  };
  EXPECT_EQ(found("a"), bin + "\\a.com");
  EXPECT_EQ(found("b"), bin + "\\b.vek");
  EXPECT_EQ(found("my.script"), bin + "\\my.script.bat");
  EXPECT_EQ(found("tool.sh"), bin + "\\tool.sh");
  EXPECT_EQ(found("tool"), "-");
  EXPECT_EQ(found("empty"), "-");
  EXPECT_EQ(found("here"), interp(dir_) + "\\here");
  EXPECT_EQ(found(""), "-");
  // A name with a directory is tried by itself; absolute mode prefixes the
  // current directory.
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  EXPECT_EQ(found("bin/a.exe"), "bin\\a.exe");
  EXPECT_EQ(found("./here"), ".\\here");
  const char* abs = search_command(true, "./here");
  ASSERT_NE(abs, nullptr);
  EXPECT_EQ(std::string(abs), interp(dir_) + "\\here");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Proc, MakeAbsolute) {
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  const std::string cwd = interp(dir_);
  const struct {
    const char* in;
    std::string want;
  } cases[] = {
      {"x", cwd + "\\x"},   {".\\x", cwd + "\\x"}, {"..\\x", cwd + "\\..\\x"},
      {"\\abs", "\\abs"},   {"C:\\y", "C:\\y"},    {".", cwd + "\\."},
  };
  for (const auto& c : cases) {
    std::array<char, 512> out{};
    make_absolute(out, c.in);
    EXPECT_EQ(std::string(out.data()), c.want) << c.in;
  }
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Proc, TwelveEntriesPerStack) {
  std::array<char, 8> text{};
  for (int i = 0; i < kRedirectionLimit; ++i) {
    copy_truncated(text, "5>&2");
    EXPECT_EQ(redirect_text(text.data()), 1);
  }
  Capture err(2);
  copy_truncated(text, "5>&2");
  EXPECT_THROW(redirect_text(text.data()), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Fehler oder Limit bei Umlenkung: 'Uml()'\r\n");
}

TEST_F(Proc, PipeStackLimitAndEmptyPop) {
  for (int i = 0; i < kRedirectionLimit; ++i) push_pipe_redirection(7, pipe_a_fd);
  {
    Capture err(2);
    EXPECT_THROW(push_pipe_redirection(7, pipe_a_fd), ProcessExit);
    EXPECT_EQ(err.text(), "vek: Fehler oder Limit bei Umlenkung: 'PUml()'\r\n");
  }
  reset_interpreter();
  open_temp_files();
  Capture err(2);
  EXPECT_THROW(pop_pipe_redirection(), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Fehler oder Limit bei Umlenkung: 'Pipe; <0'\r\n");
}

TEST_F(Proc, KeptCloseClosesAndKeepsNothing) {
  std::array<char, 8> text{};
  int before = plat::dup(0);
  ASSERT_GE(before, 0);
  ASSERT_EQ(plat::dup2(before, 6), 6);
  copy_truncated(text, "6>&-");
  EXPECT_EQ(redirect_text(text.data()), 1);
  unsigned mode = 0;
  std::int64_t size = 0;
  EXPECT_TRUE(plat::descriptor_status(6, mode, size));  // NUL for a command
  keep_last_redirections(1);
  EXPECT_FALSE(plat::descriptor_status(6, mode, size));  // closed when kept
  Capture err(2);
  EXPECT_THROW(undo_last_redirections(1), ProcessExit);
  EXPECT_EQ(err.text(), "vek: Fehler oder Limit bei Umlenkung: '<0'\r\n");
  plat::close(before);
}

TEST_F(Proc, PipeFilesStayWithinTheirLimits) {
  const std::string big(100000, 'x');
  write("big", big);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Capture out(1);
  run("/bin/cat big | /bin/cat | /usr/bin/wc -c");
  EXPECT_EQ(out.text(), "100000\n");
  unsigned mode = 0;
  std::int64_t a = 0;
  std::int64_t b = 0;
  ASSERT_TRUE(plat::descriptor_status(pipe_a_fd, mode, a));
  ASSERT_TRUE(plat::descriptor_status(pipe_b_fd, mode, b));
  EXPECT_EQ(a, 65536);
  EXPECT_EQ(b, 0);  // more than 64 KiB left behind is cut
  EXPECT_EQ(plat::lseek(pipe_a_fd, 0, plat::kSeekCur), 0);
  EXPECT_EQ(pipe_redirection_depth(), 0);
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Proc, FunctionReadsItsHereDocumentAroundOtherUses) {
  // The body is read line by line while the function runs substitutions
  // and a here-document of its own.
  define("f",
         "/bin/sh -c 'read a; echo \"1 $a\"'; x=$(echo sub); echo $x; "
         "/bin/cat <<IN\r\ninner\r\nIN\r\n/bin/sh -c 'read a; echo \"2 $a\"'");
  Capture out(1);
  run("f <<EOF\nfirst\nsecond\nEOF\necho after");
  EXPECT_EQ(out.text(), "1 first\nsub\r\ninner\r\n2 second\nafter\r\n");
  EXPECT_EQ(heredocs_in_force(), 0);
  unsigned mode = 0;
  std::int64_t size = 0;
  ASSERT_TRUE(plat::descriptor_status(subst_fd, mode, size));
  EXPECT_EQ(size, 0);
}

TEST_F(Proc, RedirectionsOfACommandInsideASubstitutionAreItsOwn) {
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Capture out(1);
  run("echo $(echo inner >g; echo x) >f; /bin/cat f g");
  EXPECT_EQ(out.text(), "x\r\ninner\r\n");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Proc, CdMinusWithoutOldpwdChangesNothing) {
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  store_unset(variable_scope(), global_store, "OLDPWD");
  Capture out(1);
  run("cd -; echo $? $OLDPWD; pwd");
  const std::string cwd = interp(dir_);
  EXPECT_EQ(out.text(), "0 " + cwd + "\r\n" + cwd + "\r\n");
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Proc, TextModeTranslatesLineEnds) {
  std::string name = interp(path("t"));
  int fd = plat::open(name.c_str(), plat::kWrite | plat::kCreate | plat::kTruncate | plat::kText);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(plat::write(fd, "a\nb\r\n", 5), 5);
  plat::close(fd);
  EXPECT_EQ(read("t"), "a\r\nb\r\r\n");
  write("r", "x\r\ny\rz\r\r\n\r");
  fd = plat::open(interp(path("r")).c_str(), plat::kRead | plat::kText);
  ASSERT_GE(fd, 0);
  // One byte at a time: every CR meets the end of a read.
  std::string got;
  char c;
  while (plat::read(fd, &c, 1) == 1) got += c;
  plat::close(fd);
  EXPECT_EQ(got, "x\ny\rz\r\n\r");
}

}  // namespace
}  // namespace vek
