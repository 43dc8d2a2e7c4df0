// Win32 implementation of the platform interface.
//
// Descriptors are those of the C runtime (msvcrt), standing on Win32
// handles.  Files are opened with CreateFileA so that the share mode allows
// deleting a file that is still open (the fault handler removes the
// interpreter's temporary files without closing them first) and so that the
// handles of the internal files can be kept from started programs.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: CancelSynchronousIo
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform.h"

namespace vek::plat {

namespace {

// Longest host path handled; the interpreter's own buffers hold 260 bytes.
constexpr std::size_t kHostPath = 1024;

bool ieq(char a, char b) {
  if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
  if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
  return a == b;
}

bool equal_nocase(const char* p, const char* q) {
  for (; *q; ++p, ++q)
    if (!ieq(*p, *q)) return false;
  return *p == 0;
}

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

HANDLE os_handle(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

bool console_handle(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode) != 0;
}

// The runtime's errno for the last Win32 error, for the few callers that
// look at it.
void set_errno_from_win32() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: errno = ENOENT; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_TOO_MANY_OPEN_FILES: errno = EMFILE; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    default: errno = EACCES; break;
  }
}

// Calendar seconds of a file time (100 ns steps since 1601).
std::int64_t calendar_seconds(const FILETIME& ft) {
  const std::uint64_t t = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr std::uint64_t kEpoch = 116444736000000000ULL;  // 1970-01-01
  if (t < kEpoch) return 0;
  return static_cast<std::int64_t>((t - kEpoch) / 10000000ULL);
}

bool has_executable_extension(const char* path) {
  std::size_t n = std::strlen(path);
  if (n < 4) return false;
  const char* ext = path + n - 4;
  for (const char* e : {".EXE", ".COM", ".BAT", ".CMD"})
    if (equal_nocase(ext, e)) return true;
  return false;
}

// The file-creation mask.  The runtime keeps only its read and write bits,
// so the whole value is kept here.
int g_creation_mask = 0;

// A descriptor that is not open is an error return (-1, EBADF), as on
// POSIX, not a report from the runtime.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}

int current_drive() {
  char cwd[kHostPath];
  DWORD n = ::GetCurrentDirectoryA(sizeof cwd, cwd);
  if (n >= 2 && n < sizeof cwd && is_drive_letter(cwd[0]) && cwd[1] == ':') return (cwd[0] | 0x20) - 'a';
  return 26;  // a network directory: no drive letter
}

}  // namespace

int pending_signal();
void waiting_read(bool on);

const Defaults& defaults() {
  static const Defaults d{"Win32", "\\WINNT\\System32;", ".;\\", nullptr, ";",
                          {".COM", ".EXE", ".BAT", ".VEK", ".CMD"}};
  return d;
}

void init_process() {
  // No message boxes for missing disks or crashes: a console interpreter
  // reports on standard error.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::_set_invalid_parameter_handler(ignore_invalid_parameter);
  // Every message carries its own CR LF: no translation on 0, 1 and 2.
  for (int fd = 0; fd < 3; ++fd) ::_setmode(fd, _O_BINARY);
  // Files are created read-only only when the mask takes the owner's write
  // permission; 0177 leaves it.
  g_creation_mask = 0177;
  ::_umask(g_creation_mask);
  // Processed input (Ctrl+C is a signal), line input and echo.
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (console_handle(in)) ::SetConsoleMode(in, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
}

// The mask is kept whole here; the runtime gets its read and write bits.
unsigned file_mask() { return static_cast<unsigned>(g_creation_mask) & 0777u; }

void set_file_mask(unsigned mask) {
  g_creation_mask = static_cast<int>(mask & 0777u);
  ::_umask(g_creation_mask);
}

bool host_path(const char* path, char* out, std::size_t size) {
  if (size == 0) return false;
  std::size_t n = 0;
  for (const char* p = path; *p; ++p) {
    if (n + 1 >= size) return false;
    out[n++] = (*p == '/') ? '\\' : *p;
  }
  out[n] = 0;
  return true;
}

int open(const char* path, int flags) {
  char host[kHostPath];
  const int access_mode = flags & 3;
  // "CON" is the console's input for reading and its output otherwise.
  if (equal_nocase(path, "CON")) path = access_mode == kRead ? "CONIN$" : "CONOUT$";
  if (!host_path(path, host, sizeof host)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  DWORD access = GENERIC_READ;
  if (access_mode == kWrite) access = GENERIC_WRITE;
  else if (access_mode == kReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & kCreate) && (flags & kExclusive)) disposition = CREATE_NEW;
  else if ((flags & kCreate) && (flags & kTruncate)) disposition = CREATE_ALWAYS;
  else if (flags & kCreate) disposition = OPEN_ALWAYS;
  else if (flags & kTruncate) disposition = TRUNCATE_EXISTING;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if ((flags & kCreate) && (g_creation_mask & _S_IWRITE)) attributes = FILE_ATTRIBUTE_READONLY;
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE h = ::CreateFileA(host, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa, disposition,
                           attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_win32();
    return -1;
  }
  int crt = 0;
  if (access_mode == kRead) crt |= _O_RDONLY;
  if (flags & kAppend) crt |= _O_APPEND;
  if (flags & kText) crt |= _O_TEXT;
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), crt);
  if (fd < 0) {
    ::CloseHandle(h);
    errno = EMFILE;
    return -1;
  }
  return fd;
}

// What a read of nothing from a handle means: the end, or (from a pipe
// whose writer is still there, after an empty write) nothing at all, or
// unknown (Wine cannot look into a pipe of the host system).
enum class Nothing { kEnd, kPipeOpen, kPipeUnknown };

Nothing nothing_read_means(HANDLE h) {
  if (::GetFileType(h) != FILE_TYPE_PIPE) return Nothing::kEnd;
  DWORD available = 0;
  if (::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return Nothing::kPipeOpen;
  return ::GetLastError() == ERROR_NOT_SUPPORTED ? Nothing::kPipeUnknown : Nothing::kEnd;
}

// A signal to act on ends a read as on POSIX: -1 with EINTR.  The control
// handler cancels a read that waits (see record()), which then fails with
// ERROR_OPERATION_ABORTED.
long read(int fd, void* buf, std::size_t len) {
  const unsigned want = len > INT_MAX ? INT_MAX : static_cast<unsigned>(len);
  for (;;) {
    if (pending_signal() != 0) {
      errno = EINTR;
      return -1;
    }
    HANDLE h = os_handle(fd);
    const bool console = console_handle(h);
    ::SetLastError(0);
    // A console read ends by itself on Ctrl+C; any other read is cancelled
    // by the control handler.
    if (!console) {
      waiting_read(true);
      if (pending_signal() != 0) {
        waiting_read(false);
        errno = EINTR;
        return -1;
      }
    }
    const int r = ::_read(fd, buf, want);
    if (!console) waiting_read(false);
    if (r > 0) return r;
    const DWORD err = ::GetLastError();
    // Ctrl+C or Ctrl+Break ends a console read at once, while the control
    // handler runs on a thread of its own: give it a moment to record the
    // signal rather than take this for the end of the input.  The same
    // holds where a read of nothing may not be the end of a pipe.
    const Nothing nothing = (!console && r == 0) ? nothing_read_means(h) : Nothing::kEnd;
    if (console || nothing != Nothing::kEnd)
      for (int i = 0; i < 20 && pending_signal() == 0; ++i) ::Sleep(5);
    if (pending_signal() != 0) {
      errno = EINTR;
      return -1;
    }
    // Cancelled for a signal that asks for nothing, or nothing read from a
    // pipe that goes on: read again.
    if ((r < 0 && err == ERROR_OPERATION_ABORTED) || nothing == Nothing::kPipeOpen) continue;
    return r;
  }
}

long write(int fd, const void* buf, std::size_t len) {
  const unsigned n = len > INT_MAX ? INT_MAX : static_cast<unsigned>(len);
  for (;;) {
    ::SetLastError(0);
    const int r = ::_write(fd, buf, n);
    if (r >= 0) return r;
    const DWORD err = ::GetLastError();
    // The reading end of the pipe is gone.
    if (err == ERROR_NO_DATA || err == ERROR_BROKEN_PIPE || errno == EPIPE) return kBrokenPipe;
    if (err != ERROR_OPERATION_ABORTED) return r;
  }
}

std::int64_t lseek(int fd, std::int64_t off, int whence) {
  const int w = whence == kSeekCur ? SEEK_CUR : whence == kSeekEnd ? SEEK_END : SEEK_SET;
  return ::_lseeki64(fd, off, w);
}

int close(int fd) { return ::_close(fd); }
int dup(int fd) { return ::_dup(fd); }

int dup2(int from, int to) {
  // The runtime answers 0 for success.
  return ::_dup2(from, to) == 0 ? to : -1;
}

bool is_open(int fd) { return ::_get_osfhandle(fd) != -1; }

int ftruncate(int fd, std::int64_t size) { return ::_chsize_s(fd, size) == 0 ? 0 : -1; }

bool isatty(int fd) { return console_handle(os_handle(fd)); }

void set_no_inherit(int fd) {
  HANDLE h = os_handle(fd);
  if (h != INVALID_HANDLE_VALUE) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
}

bool getcwd(char* buf, std::size_t size) {
  if (size == 0) return false;
  const DWORD cap = size > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(size);
  const DWORD n = ::GetCurrentDirectoryA(cap, buf);
  return n > 0 && n < cap;
}

int unlink(const char* path) {
  char host[kHostPath];
  if (!host_path(path, host, sizeof host)) return -1;
  if (::DeleteFileA(host)) return 0;
  set_errno_from_win32();
  return -1;
}

bool program_file(char* buf, std::size_t size) {
  if (size == 0) return false;
  const DWORD cap = size > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(size);
  const DWORD n = ::GetModuleFileNameA(nullptr, buf, cap);
  return n > 0 && n < cap;
}

FileInfo stat_path(const char* path) {
  FileInfo info;
  char host[kHostPath];
  if (!host_path(path, host, sizeof host)) return info;
  if (equal_nocase(host, "NUL") || equal_nocase(host, "CON") || equal_nocase(host, "CONIN$") ||
      equal_nocase(host, "CONOUT$")) {
    info.exists = true;
    info.is_char_device = true;
    info.mode = _S_IREAD | _S_IWRITE;
    info.device = static_cast<std::uint64_t>(current_drive());
    return info;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(host, GetFileExInfoStandard, &data)) return info;
  info.exists = true;
  info.attributes = data.dwFileAttributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
  info.is_dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.is_regular = !info.is_dir && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
  info.size = info.is_dir ? 0
                          : static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                                      data.nFileSizeLow);
  // Permission bits as the runtime derives them: readable always, writable
  // unless read-only, executable for directories and programs, the same for
  // group and others.
  unsigned mode = _S_IREAD;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) mode |= _S_IWRITE;
  if (info.is_dir || has_executable_extension(host)) mode |= _S_IEXEC;
  mode |= (mode & 0700) >> 3;
  mode |= (mode & 0070) >> 3;
  info.mode = mode;
  info.executable = (mode & _S_IEXEC) != 0;
  if (is_drive_letter(host[0]) && host[1] == ':') info.device = static_cast<std::uint64_t>((host[0] | 0x20) - 'a');
  else if (host[0] == '\\' && host[1] == '\\') info.device = 26;  // a network path: no drive letter
  else info.device = static_cast<std::uint64_t>(current_drive());
  info.mtime = calendar_seconds(data.ftLastWriteTime);
  info.atime = calendar_seconds(data.ftLastAccessTime);
  info.ctime = calendar_seconds(data.ftCreationTime);
  return info;
}

// ---------------------------------------------------------------- environment

namespace {

// The interpreter's view of the environment, kept in step with the
// process's own block (which started programs inherit).  The runtime's
// _putenv cannot hold an empty value, so the table is kept here.
std::vector<char*>& env_table() {
  static std::vector<char*> table = [] {
    std::vector<char*> t;
    if (_environ != nullptr)
      for (char** e = _environ; *e != nullptr; ++e) t.push_back(::_strdup(*e));
    t.push_back(nullptr);
    return t;
  }();
  return table;
}

// Index of the entry of this name (letter case ignored, as on Win32), or -1.
long env_find(const char* name) {
  std::vector<char*>& t = env_table();
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    const char* e = t[i];
    std::size_t k = 0;
    while (name[k] && ieq(name[k], e[k])) ++k;
    if (name[k] == 0 && e[k] == '=') return static_cast<long>(i);
  }
  return -1;
}

}  // namespace

const char* const* environment() { return env_table().data(); }

void env_set(const char* name, const char* value) {
  if (name == nullptr || name[0] == 0) return;
  if (value == nullptr) value = "";
  const std::size_t nl = std::strlen(name), vl = std::strlen(value);
  char* entry = static_cast<char*>(std::malloc(nl + vl + 2));
  if (entry == nullptr) return;
  std::memcpy(entry, name, nl);
  entry[nl] = '=';
  std::memcpy(entry + nl + 1, value, vl + 1);
  ::SetEnvironmentVariableA(name, value);
  std::vector<char*>& t = env_table();
  const long i = env_find(name);
  if (i >= 0) {
    std::free(t[static_cast<std::size_t>(i)]);
    t[static_cast<std::size_t>(i)] = entry;
  } else {
    t.back() = entry;
    t.push_back(nullptr);
  }
}

void env_unset(const char* name) {
  if (name == nullptr || name[0] == 0) return;
  ::SetEnvironmentVariableA(name, nullptr);
  std::vector<char*>& t = env_table();
  const long i = env_find(name);
  if (i < 0) return;
  std::free(t[static_cast<std::size_t>(i)]);
  t.erase(t.begin() + i);
}

// ---------------------------------------------------------------- time

std::int64_t time_now() { return static_cast<std::int64_t>(::_time64(nullptr)); }

void sleep_ms(unsigned ms) { ::Sleep(ms); }

int process_id() { return static_cast<int>(::GetCurrentProcessId()); }

// ---------------------------------------------------------------- signals

namespace {

volatile LONG g_pending = 0;
volatile LONG g_ignore_term = 0;
// The interpreter's thread, whose blocking read the control handler ends,
// and whether it is in a read other than from the console.
HANDLE g_main_thread = nullptr;
volatile LONG g_waiting_read = 0;

// Records a signal and ends a read the interpreter may be waiting in (a
// console read ends by itself, a pipe or file read does not), so that the
// signal is acted on at once, as a POSIX signal interrupts a read.
void record(LONG number) {
  ::InterlockedExchange(&g_pending, number);
  if (g_main_thread == nullptr) return;
  // The interpreter may be just about to enter the read: cancel until it
  // has left it (for at most a second; Wine cannot cancel a read from a
  // pipe of the host system).
  for (int i = 0; i < 100 && g_waiting_read; ++i) {
    ::CancelSynchronousIo(g_main_thread);
    ::Sleep(10);
  }
}

// Host paths removed by the fault handler.
char g_fault_files[8][MAX_PATH];
volatile LONG g_fault_file_count = 0;

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      record(2);
      return TRUE;
    case CTRL_BREAK_EVENT:
      record(21);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process when this returns: leave the
      // interpreter a few seconds to act on the termination at its next
      // safe point and clean up.
      if (g_ignore_term) return TRUE;
      record(15);
      ::Sleep(4000);
      return TRUE;
    default:
      return FALSE;
  }
}

// A fault cannot continue: write the signal line, remove the interpreter's
// files and end at once.  Only calls that take no runtime locks.
[[noreturn]] void end_by_fault(int number) {
  const char* text = "Speicherbereich: Segment-Verletzung";
  const char* num = "11";
  switch (number) {
    case 4: text = "Illegale Instruktion"; num = "4"; break;
    case 8: text = "Floating Point Exception"; num = "8"; break;
    case 22: text = "Abort"; num = "22"; break;
    default: break;
  }
  char line[96];
  DWORD n = 0;
  auto add = [&](const char* t) {
    while (*t && n < sizeof line) line[n++] = *t++;
  };
  add("*** SIGNAL ***  ");
  add(num);
  add("  ");
  add(text);
  add("\r\n");
  HANDLE err = os_handle(2);
  if (err == INVALID_HANDLE_VALUE) err = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD written;
  ::WriteFile(err, line, n, &written, nullptr);
  for (LONG i = 0; i < g_fault_file_count; ++i) ::DeleteFileA(g_fault_files[i]);
  ::TerminateProcess(::GetCurrentProcess(), 2);
  ::ExitProcess(2);
}

LONG WINAPI on_exception(EXCEPTION_POINTERS* info) {
  int number = 11;
  switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: number = 4; break;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW: number = 8; break;
    default: break;
  }
  end_by_fault(number);
}

void on_runtime_signal(int s) {
  switch (s) {
    case SIGABRT: end_by_fault(22);
    case SIGILL: end_by_fault(4);
    case SIGFPE: end_by_fault(8);
    case SIGSEGV: end_by_fault(11);
    case SIGTERM:
      ::signal(SIGTERM, on_runtime_signal);
      if (!g_ignore_term) ::InterlockedExchange(&g_pending, 15);
      return;
    default: return;
  }
}

}  // namespace

void install_signal_handlers() {
  if (g_main_thread == nullptr)
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &g_main_thread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
  // A parent may have started vek with Ctrl+C ignored; take it back.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
  ::SetUnhandledExceptionFilter(on_exception);
  // The runtime's own signals: abort() and raise().
  for (int s : {SIGTERM, SIGABRT, SIGSEGV, SIGFPE, SIGILL}) ::signal(s, on_runtime_signal);
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

int pending_signal() { return static_cast<int>(g_pending); }
void waiting_read(bool on) { ::InterlockedExchange(&g_waiting_read, on ? 1 : 0); }
void clear_pending_signal() { ::InterlockedExchange(&g_pending, 0); }
void set_ignore_termination(bool on) { ::InterlockedExchange(&g_ignore_term, on ? 1 : 0); }

void exit_process(int status) { ::_exit(status); }

// Windows has no signal for it: a program that meets a closed pipe ends
// with a failure status.
int broken_pipe_status() { return 1; }

}  // namespace vek::plat
