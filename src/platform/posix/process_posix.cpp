// POSIX: starting programs, waiting for them, and replacing the
// interpreter by a program.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

extern char** environ;

namespace vek::plat {

namespace {

struct sigaction g_saved_int;
struct sigaction g_saved_quit;
bool g_ignoring = false;

}  // namespace

int spawn(const char* program, char* const* argv) {
#ifdef VEK_FUZZ
  // The fuzz target runs arbitrary text: it starts no program.
  (void)program;
  (void)argv;
  errno = EACCES;
  return -1;
#endif
  char host[4096];
  if (!host_path(program, host, sizeof host)) return -1;
  posix_spawnattr_t attr;
  if (::posix_spawnattr_init(&attr) != 0) return -1;
  // The child starts with the default action for the signals that the
  // interpreter may be ignoring right now, and with nothing blocked.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int r = ::posix_spawn(&pid, host, nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  return r == 0 ? static_cast<int>(pid) : -1;
}

int wait_child(int pid, int& code, bool& normal) {
  for (;;) {
    int st = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(pid), &st, 0);
    if (r > 0) {
      normal = WIFEXITED(st);
      code = normal ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : 255;
      return static_cast<int>(r);
    }
    if (r < 0 && errno == EINTR) {
      if (pending_signal() != 0) return -1;
      continue;
    }
    return 0;
  }
}

void ignore_interrupts(bool on) {
  if (on == g_ignoring) return;
  if (on) {
    struct sigaction ign;
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    ign.sa_flags = 0;
    ::sigaction(SIGINT, &ign, &g_saved_int);
    ::sigaction(SIGQUIT, &ign, &g_saved_quit);
  } else {
    ::sigaction(SIGINT, &g_saved_int, nullptr);
    ::sigaction(SIGQUIT, &g_saved_quit, nullptr);
  }
  g_ignoring = on;
}

void exec_program(const char* program, char* const* argv) {
#ifdef VEK_FUZZ
  (void)program;
  (void)argv;
  return;
#endif
  char host[4096];
  if (!host_path(program, host, sizeof host)) return;
  ignore_interrupts(false);
  // The program starts with the default action for every signal the
  // interpreter may have set aside.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGQUIT, SIG_DFL);
  ::signal(SIGPIPE, SIG_DFL);
  ::execve(host, argv, environ);
}

const char* system_shell() { return "\\bin\\sh"; }
const char* system_shell_switch() { return "-c"; }

}  // namespace vek::plat
