#include "proc/process.h"

#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/search.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

int background_pid = 0;
std::array<char, 260> program_path{};

void reset_process_state() {
  background_pid = 0;
  program_path.fill(0);
}

namespace {

// Interrupt and break are the child's while it starts and runs in the
// foreground.
struct ForegroundChild {
  ForegroundChild() { plat::ignore_interrupts(true); }
  ~ForegroundChild() { plat::ignore_interrupts(false); }
  ForegroundChild(const ForegroundChild&) = delete;
  ForegroundChild& operator=(const ForegroundChild&) = delete;
};

// A path the interpreter itself puts into a child's words is handed over
// in the host's form.
struct HostPath {
  std::array<char, 1024> text{};
  explicit HostPath(const char* path) {
    if (!plat::host_path(path, text.data(), text.size())) fatal_error(VEK_ERR(kErrLimit), "Ziel-Puffer");
  }
  char* get() { return text.data(); }
};

// Waits for a foreground child; a signal to act on ends the wait.
int wait_foreground(int pid) {
  int code = 0;
  bool normal = true;
  int r = plat::wait_child(pid, code, normal);
  if (r < 0) {
    plat::ignore_interrupts(false);
    check_signal();
    return last_status;
  }
  return code;
}

void started_in_background(int pid) {
  background_pid = pid;
  if (opt('i')) format_out(1, "%d\r\n", pid);
}

// The program named by a "#!" line at the start of the file, in the
// interpreter's path form; empty when the line names none (the
// interpreter runs the script itself) or there is no such line.
enum class ScriptLine { kNone, kProgram, kInterpreter };
ScriptLine read_script_line(const char* path, std::array<char, 260>& program) {
  std::array<char, 520> name{};
  concat_strings_n(static_cast<int>(name.size()), name.data(), {path});
  int fd = sys_open(name.data(), plat::kRead | plat::kBinary);
  std::array<char, 260> head{};
  long n = plat::read(fd, head.data(), head.size());
  sys_close(fd);
  if (n <= 5 || head[0] != '#' || head[1] != '!') return ScriptLine::kNone;
  long i = 2;
  while (i < n && (head[static_cast<std::size_t>(i)] == ' ' || head[static_cast<std::size_t>(i)] == '\t')) ++i;
  std::size_t k = 0;
  for (; i < n && static_cast<unsigned char>(head[static_cast<std::size_t>(i)]) >= '!' && k + 1 < program.size();
       ++i) {
    char c = head[static_cast<std::size_t>(i)];
    program[k++] = c == '/' ? '\\' : c;
  }
  program[k] = 0;
  auto printable = [](char c) { return static_cast<unsigned char>(c) >= '!' && c != 0x7F; };
  const char* p = program.data();
  const bool drive = ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
  const bool is_path = ((p[0] == '\\' || p[0] == '.') && printable(p[1])) || (drive && p[2] == '\\' && printable(p[3]));
  return is_path ? ScriptLine::kProgram : ScriptLine::kInterpreter;
}

}  // namespace

int run_external(const char* program, char** argv, bool no_wait) {
  if (file_test('X', program) == 0) fatal_error(VEK_ERR(kErrNotExecutable), program);
  ForegroundChild foreground;
  const int pid = plat::spawn(program, argv);
  if (pid < 0) {
    if (env_lookup("VEK_W98") != nullptr) return -1;
    plat::ignore_interrupts(false);
    shell_error(VEK_ERR(kErrExec), program);
    return last_status;
  }
  if (no_wait) {
    started_in_background(pid);
    return last_status;
  }
  return wait_foreground(pid);
}

int run_via_system(const char* line) {
  std::array<char, 520> shell{};
  const char* comspec = env_lookup("COMSPEC");
  concat_strings_n(static_cast<int>(shell.size()), shell.data(), {comspec != nullptr ? comspec : plat::system_shell()});
  bool found = true;
  if (comspec == nullptr) {
    bool bare = true;
    for (const char* p = shell.data(); *p; ++p)
      if (*p == '\\' || *p == '/') bare = false;
    if (bare) {
      const char* path = search_command(false, shell.data());
      if (path != nullptr) concat_strings_n(static_cast<int>(shell.size()), shell.data(), {path});
      else found = false;
    }
  }
  int pid = -1;
  {
    ForegroundChild foreground;
    if (found) {
      HostPath host(shell.data());
      std::array<char, 4> option{};
      concat_strings_n(static_cast<int>(option.size()), option.data(), {plat::system_shell_switch()});
      std::array<char*, 4> argv{comspec != nullptr ? shell.data() : host.get(), option.data(),
                                const_cast<char*>(line), nullptr};
      pid = plat::spawn(shell.data(), argv.data());
    }
    if (pid > 0) return wait_foreground(pid);
  }
  shell_error(VEK_ERR(kErrNotFound), line);
  last_status = 1;
  return -1;
}

void run_group(char* text) {
  HostPath self(program_path.data());
  std::array<char, 4> option{'-', 'c', 0, 0};
  std::array<char*, 4> argv{self.get(), option.data(), text, nullptr};
  ForegroundChild foreground;
  const int pid = plat::spawn(program_path.data(), argv.data());
  if (pid < 0) {
    plat::ignore_interrupts(false);
    shell_error(VEK_ERR(kErrExec), program_path.data());
    return;
  }
  last_status = wait_foreground(pid);
}

void start_interpreter(char* text) {
  for (char* p = text; *p; ++p) *p = blank_to_control(*p);
  HostPath self(program_path.data());
  std::array<char, 4> option{'-', 'c', 0, 0};
  std::array<char*, 4> argv{self.get(), option.data(), text, nullptr};
  int pid;
  {
    ForegroundChild starting;
    pid = plat::spawn(program_path.data(), argv.data());
  }
  if (pid < 0) {
    shell_error(VEK_ERR(kErrExec), program_path.data());
    return;
  }
  started_in_background(pid);
}

ExternalResult run_command_file(int argc, char** words, bool background,
                                void (*track)(const char* word, const char* path)) {
  const char* word = words[0];
  const char* found = search_command(false, word);
  if (found == nullptr) {
    shell_error(VEK_ERR(kErrNotFound), word);
    return ExternalResult::kDone;
  }
  static std::array<char, 512> path;
  concat_strings_n(static_cast<int>(path.size()), path.data(), {found});
  if (track != nullptr) track(word, path.data());

  const Extension ext = extension_of(path.data());
  if (ext == Extension::kBat) return ExternalResult::kSystemLine;
  // Which program runs: the file itself, or an interpreter with the file
  // as its first operand.
  static std::array<char, 260> interpreter;
  const char* program = path.data();
  if (ext == Extension::kVek) {
    program = program_path.data();
  } else if (ext == Extension::kNone) {
    switch (read_script_line(path.data(), interpreter)) {
      case ScriptLine::kProgram: program = interpreter.data(); break;
      case ScriptLine::kInterpreter: program = program_path.data(); break;
      case ScriptLine::kNone: break;
    }
  }
  std::array<char, 1024> host_program{};
  std::array<char, 1024> host_script{};
  if (program != path.data()) {
    if (!plat::host_path(program, host_program.data(), host_program.size()) ||
        !plat::host_path(path.data(), host_script.data(), host_script.size()))
      fatal_error(VEK_ERR(kErrLimit), "Ziel-Puffer");
    // The words move up by one: the interpreter first, then the script.
    for (int i = argc; i >= 1; --i) words[i + 1] = words[i];
    words[0] = host_program.data();
    words[1] = host_script.data();
  }
  const int status = run_external(program, words, background);
  if (!background) last_status = status;
  return ExternalResult::kDone;
}

void wait_for_children(int count, char** ids) {
  for (int i = 0; i < count; ++i)
    if (ids[i][0] < '0' || ids[i][0] > '9') fatal_error(VEK_ERR(kErrSyntax), ids[i]);
  auto all_done = [&] {
    for (int i = 0; i < count; ++i)
      if (ids[i][0] != 0) return false;
    return true;
  };
  for (;;) {
    if (count > 0 && all_done()) return;
    int code = 0;
    bool normal = true;
    const int pid = plat::wait_child(-1, code, normal);
    if (pid == 0) return;  // no child left
    if (pid < 0) {
      check_signal();
      continue;
    }
    if (normal) last_status = code;
    if (opt('i')) format_out(1, "%d\r\n", pid);
    for (int i = 0; i < count; ++i)
      if (ids[i][0] != 0 && parse_decimal(ids[i]) == pid) ids[i][0] = 0;
  }
}

}  // namespace vek
