// POSIX implementation of the platform interface.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"

extern char** environ;

namespace vek::plat {

namespace {

bool ieq(char a, char b) {
  if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
  if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
  return a == b;
}

bool is_device(const char* p, const char* dev) {
  for (; *dev; ++p, ++dev)
    if (!ieq(*p, *dev)) return false;
  return *p == 0;
}

}  // namespace

int pending_signal();

const Defaults& defaults() {
  static const Defaults d{"POSIX", "/usr/local/bin:/usr/bin:/bin", ".:/", "\\tmp", ":;",
                          {".com", ".exe", ".bat", ".vek", ".cmd"}};
  return d;
}

// The inherited file-creation mask stays: 0177 would leave every directory
// created by vek or its children without search permission.  Text mode is
// the descriptor table above, and the terminal keeps its settings.
void init_process() {}

#ifdef VEK_FUZZ
// The interpreter's fuzz target runs arbitrary text in-process: every path
// stays inside the scratch directory it made current (VEK_FUZZ_ROOT),
// apart from the null device.
bool fuzz_allows(const char* host) {
  for (const char* p = host; *p; ++p)
    if (p[0] == '.' && p[1] == '.' && (p == host || p[-1] == '/') && (p[2] == 0 || p[2] == '/')) return false;
  if (host[0] != '/') return true;
  if (std::strcmp(host, "/dev/null") == 0) return true;
  static const char* root = std::getenv("VEK_FUZZ_ROOT");
  if (root == nullptr) return false;
  const std::size_t n = std::strlen(root);
  return std::strncmp(host, root, n) == 0 && (host[n] == '/' || host[n] == 0);
}
#endif

namespace posix {

namespace {
// Text mode per descriptor, and a byte read ahead after a CR at the end of
// a text-mode read (-1: none).
constexpr int kTextTable = 256;
bool g_text[kTextTable];
int g_text_ahead[kTextTable];
bool g_text_init = false;

void text_init() {
  if (g_text_init) return;
  for (int& b : g_text_ahead) b = -1;
  g_text_init = true;
}
}  // namespace

bool text_mode(int fd) { return fd >= 0 && fd < kTextTable && g_text[fd]; }

void set_text_mode(int fd, bool on) {
  if (fd < 0 || fd >= kTextTable) return;
  text_init();
  g_text[fd] = on;
  g_text_ahead[fd] = -1;
}

void copy_text_mode(int from, int to) { set_text_mode(to, text_mode(from)); }

namespace {

int take_ahead(int fd) {
  int b = g_text_ahead[fd];
  g_text_ahead[fd] = -1;
  return b;
}

// Reads with CR LF turned into LF.  A CR that ends what the host handed
// over is decided by one more byte; a byte that is not LF waits for the
// next read.
long text_read(int fd, unsigned char* buf, std::size_t len) {
  if (len == 0) return 0;
  std::size_t n = 0;
  int ahead = take_ahead(fd);
  if (ahead >= 0) buf[n++] = static_cast<unsigned char>(ahead);
  if (n < len) {
    ssize_t r;
    do {
      r = ::read(fd, buf + n, len - n);
    } while (r < 0 && errno == EINTR && pending_signal() == 0);
    if (r < 0 && n == 0) return -1;
    if (r > 0) n += static_cast<std::size_t>(r);
  }
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = buf[i];
    if (c == '\r') {
      if (i + 1 < n) {
        if (buf[i + 1] == '\n') continue;
      } else {
        unsigned char next;
        ssize_t r;
        do {
          r = ::read(fd, &next, 1);
        } while (r < 0 && errno == EINTR && pending_signal() == 0);
        if (r == 1) {
          if (next == '\n') c = '\n';
          else g_text_ahead[fd] = next;
        }
      }
    }
    buf[out++] = c;
  }
  return static_cast<long>(out);
}

// Writes with every LF turned into CR LF; the result counts the caller's
// bytes.
long text_write(int fd, const unsigned char* buf, std::size_t len) {
  unsigned char stage[4096];
  std::size_t i = 0;
  while (i < len) {
    std::size_t m = 0;
    std::size_t start = i;
    while (i < len && m + 2 <= sizeof stage) {
      if (buf[i] == '\n') stage[m++] = '\r';
      stage[m++] = buf[i++];
    }
    std::size_t done = 0;
    while (done < m) {
      ssize_t r = ::write(fd, stage + done, m - done);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return start == 0 ? -1 : static_cast<long>(start);
      done += static_cast<std::size_t>(r);
    }
  }
  return static_cast<long>(len);
}

}  // namespace
}  // namespace posix

bool host_path(const char* path, char* out, std::size_t size) {
  if (size == 0) return false;
  const char* p = path;
  if (is_device(p, "NUL")) p = "/dev/null";
  else if (is_device(p, "CON") || is_device(p, "CONIN$") || is_device(p, "CONOUT$")) p = "/dev/tty";
  else if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') {
    // A drive prefix names the root of the one file system.
    p += 2;
    if (*p == 0) p = "/";
  }
  std::size_t n = 0;
  for (; *p; ++p) {
    if (n + 1 >= size) return false;
    out[n++] = (*p == '\\') ? '/' : *p;
  }
  out[n] = 0;
#ifdef VEK_FUZZ
  if (!fuzz_allows(out)) return false;
#endif
  return true;
}

int open(const char* path, int flags) {
  char host[4096];
  if (!host_path(path, host, sizeof host)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int f = 0;
  switch (flags & 3) {
    case kWrite: f = O_WRONLY; break;
    case kReadWrite: f = O_RDWR; break;
    default: f = O_RDONLY; break;
  }
  if (flags & kCreate) f |= O_CREAT;
  if (flags & kTruncate) f |= O_TRUNC;
  if (flags & kExclusive) f |= O_EXCL;
  if (flags & kAppend) f |= O_APPEND;
  if (flags & kNoFollow) f |= O_NOFOLLOW;
  // Only the user's descriptors 0..9 are inherited by started programs.
  f |= O_CLOEXEC;
  int fd;
  do {
    fd = ::open(host, f, (flags & kOwnerOnly) ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fd;
  if (fd < 10) ::fcntl(fd, F_SETFD, 0);
  // The mask may have taken the owner's own bits; an internal file is
  // the owner's to read and write, and nobody else's.
  if ((flags & kOwnerOnly) && (flags & kCreate)) ::fchmod(fd, 0600);
  posix::set_text_mode(fd, (flags & kText) != 0);
  return fd;
}

long read(int fd, void* buf, std::size_t len) {
  // A signal recorded just before the read would not interrupt it: the
  // read would wait for input first.
  if (pending_signal() != 0) {
    errno = EINTR;
    return -1;
  }
  if (posix::text_mode(fd)) return posix::text_read(fd, static_cast<unsigned char*>(buf), len);
  // A signal that was only recorded (or ignored) must not look like a read
  // error: read again unless the interpreter has a signal to act on.
  long r;
  do {
    r = static_cast<long>(::read(fd, buf, len));
  } while (r < 0 && errno == EINTR && pending_signal() == 0);
  return r;
}

long write(int fd, const void* buf, std::size_t len) {
  if (posix::text_mode(fd)) return posix::text_write(fd, static_cast<const unsigned char*>(buf), len);
  long r;
  do {
    r = static_cast<long>(::write(fd, buf, len));
  } while (r < 0 && errno == EINTR);
  if (r < 0 && errno == EPIPE) return kBrokenPipe;
  return r;
}

std::int64_t lseek(int fd, std::int64_t off, int whence) {
  int w = whence == kSeekCur ? SEEK_CUR : whence == kSeekEnd ? SEEK_END : SEEK_SET;
  return static_cast<std::int64_t>(::lseek(fd, static_cast<off_t>(off), w));
}

int close(int fd) {
  posix::set_text_mode(fd, false);
  return ::close(fd);
}
int dup(int fd) {
  int r = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (r >= 0 && r < 10) ::fcntl(r, F_SETFD, 0);
  if (r >= 0) posix::copy_text_mode(fd, r);
  return r;
}
int dup2(int from, int to) {
  int r;
  do {
    r = ::dup2(from, to);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) posix::copy_text_mode(from, to);
  return r;
}
bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
int ftruncate(int fd, std::int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)); }
bool isatty(int fd) { return ::isatty(fd) != 0; }

void set_no_inherit(int fd) {
  int fl = ::fcntl(fd, F_GETFD);
  if (fl >= 0 && !(fl & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, fl | FD_CLOEXEC);
}

bool getcwd(char* buf, std::size_t size) {
  if (::getcwd(buf, size) == nullptr) return false;
  for (char* p = buf; *p; ++p)
    if (*p == '/') *p = '\\';
  return true;
}

int unlink(const char* path) {
  char host[4096];
  if (!host_path(path, host, sizeof host)) return -1;
  return ::unlink(host);
}

bool program_file(char* buf, std::size_t size) {
  if (size == 0) return false;
  ssize_t n = ::readlink("/proc/self/exe", buf, size - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= size - 1) return false;
  buf[n] = 0;
  for (char* p = buf; *p; ++p)
    if (*p == '/') *p = '\\';
  return true;
}

FileInfo stat_path(const char* path) {
  FileInfo info;
  char host[4096];
  struct stat st;
  if (!host_path(path, host, sizeof host) || ::stat(host, &st) != 0) return info;
  info.exists = true;
  info.is_dir = S_ISDIR(st.st_mode);
  info.is_regular = S_ISREG(st.st_mode);
  info.is_char_device = S_ISCHR(st.st_mode);
  // Attributes as the nearest equivalents: no owner write permission is
  // read-only, a name beginning with "." is hidden, a regular file carries
  // the archive mark.
  if (!(st.st_mode & S_IWUSR)) info.attributes |= kAttrReadOnly;
  if (info.is_dir) info.attributes |= kAttrDirectory;
  if (info.is_regular) info.attributes |= kAttrArchive;
  const char* base = host;
  for (const char* p = host; *p; ++p)
    if (*p == '/' && p[1] != 0) base = p + 1;
  if (base[0] == '.' && base[1] != 0 && base[1] != '/' && !(base[1] == '.' && (base[2] == 0 || base[2] == '/')))
    info.attributes |= kAttrHidden;
  info.executable = (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
  info.size = static_cast<std::int64_t>(st.st_size);
  info.mode = static_cast<unsigned>(st.st_mode & 07777);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.mtime = static_cast<std::int64_t>(st.st_mtime);
  info.atime = static_cast<std::int64_t>(st.st_atime);
  info.ctime = static_cast<std::int64_t>(st.st_ctime);
  return info;
}

const char* const* environment() { return environ; }
void env_set(const char* name, const char* value) { ::setenv(name, value, 1); }
void env_unset(const char* name) { ::unsetenv(name); }

std::int64_t time_now() { return static_cast<std::int64_t>(::time(nullptr)); }

void sleep_ms(unsigned ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int process_id() { return static_cast<int>(::getpid()); }

namespace {

volatile sig_atomic_t g_pending = 0;

// Host paths removed by the fault handler (unlink is safe in a handler).
char g_fault_files[8][4096];
volatile sig_atomic_t g_fault_file_count = 0;
volatile sig_atomic_t g_ignore_term = 0;

// The interpreter's own signal numbers.
int interp_number(int s) {
  switch (s) {
    case SIGINT: return 2;
    case SIGILL: return 4;
    case SIGABRT: return 6;
    case SIGFPE: return 8;
    case SIGSEGV: return 11;
    case SIGTERM: return 15;
    case SIGQUIT: return 21;
    case SIGHUP: return 15;  // a hangup ends the session like a termination
    default: return s;
  }
}

// A write into a pipe without reader then fails with EPIPE, which the
// interpreter acts on.  (A caught signal, unlike an ignored one, is back
// to its default in every program the interpreter starts.)
void on_broken_pipe(int) {}

void on_signal(int s) {
  int n = interp_number(s);
  if (n == 15 && g_ignore_term) return;
  g_pending = n;
}

#ifndef VEK_SANITIZE
void on_fault(int s) {
  // A fault cannot continue: write the signal line and end at once.
  const char* text = "Speicherbereich: Segment-Verletzung";
  const char* num = "11";
  switch (s) {
    case SIGILL: text = "Illegale Instruktion"; num = "4"; break;
    case SIGABRT: text = "Abort"; num = "6"; break;
    case SIGFPE: text = "Floating Point Exception"; num = "8"; break;
    default: break;
  }
  char line[96];
  std::size_t n = 0;
  auto add = [&](const char* t) {
    while (*t && n < sizeof line) line[n++] = *t++;
  };
  add("*** SIGNAL ***  ");
  add(num);
  add("  ");
  add(text);
  add("\r\n");
  (void)!::write(2, line, n);
  posix::restore_terminal_from_handler();
  for (int i = 0; i < g_fault_file_count; ++i) ::unlink(g_fault_files[i]);
  ::_exit(2);
}
#endif

}  // namespace

void install_signal_handlers() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_signal;
  sa.sa_flags = 0;  // interrupt blocking reads so the signal is acted on
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGQUIT, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  posix::install_suspend_handler();
  struct sigaction pa;
  std::memset(&pa, 0, sizeof pa);
  sigemptyset(&pa.sa_mask);
  pa.sa_handler = on_broken_pipe;
  ::sigaction(SIGPIPE, &pa, nullptr);
  // A write beyond the file-size limit fails (EFBIG) and is reported by
  // its writer instead of ending the process.
  ::sigaction(SIGXFSZ, &pa, nullptr);
#ifndef VEK_SANITIZE
  // The fault handler runs on a stack of its own, so that it can report
  // even when the fault is a stack overflow.
  static char alt_stack[64 * 1024];
  stack_t ss;
  std::memset(&ss, 0, sizeof ss);
  ss.ss_sp = alt_stack;
  ss.ss_size = sizeof alt_stack;
  ::sigaltstack(&ss, nullptr);
  // Under the sanitizers their own fault reports are more useful.
  struct sigaction fa;
  std::memset(&fa, 0, sizeof fa);
  sigemptyset(&fa.sa_mask);
  fa.sa_handler = on_fault;
  fa.sa_flags = SA_RESETHAND | SA_ONSTACK;
  ::sigaction(SIGSEGV, &fa, nullptr);
  ::sigaction(SIGFPE, &fa, nullptr);
  ::sigaction(SIGILL, &fa, nullptr);
  ::sigaction(SIGABRT, &fa, nullptr);
#endif
}

void delete_on_fault(const char* path) {
  if (path == nullptr) {
    g_fault_file_count = 0;
    return;
  }
  if (g_fault_file_count >= 8) return;
  if (host_path(path, g_fault_files[g_fault_file_count], sizeof g_fault_files[0]))
    g_fault_file_count = g_fault_file_count + 1;
}

int pending_signal() { return g_pending; }
void clear_pending_signal() { g_pending = 0; }
void set_ignore_termination(bool on) { g_ignore_term = on ? 1 : 0; }

void exit_process(int status) { ::_exit(status); }

int broken_pipe_status() { return 128 + SIGPIPE; }

}  // namespace vek::plat
