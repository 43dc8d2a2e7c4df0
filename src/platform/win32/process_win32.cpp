// Win32: starting programs with the descriptors 0 to 9, waiting for them,
// and the system command interpreter.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>

#include "platform/platform.h"

namespace vek::plat {

namespace {

// Children not yet waited for: their ids and process handles.
constexpr int kChildren = MAXIMUM_WAIT_OBJECTS;
DWORD g_child_id[kChildren];
HANDLE g_child_handle[kChildren];
int g_child_count = 0;

// The runtime passes its descriptors to a started program in a block
// behind STARTUPINFO.lpReserved2: a count, one flag byte per descriptor,
// then the handles.
constexpr int kInherited = 10;
constexpr unsigned char kFopen = 0x01;
constexpr unsigned char kFpipe = 0x08;
constexpr unsigned char kFdev = 0x40;
constexpr unsigned char kFtext = 0x80;
constexpr std::size_t kBlockSize = sizeof(int) + kInherited * (1 + sizeof(HANDLE));

void build_inheritance(unsigned char* block, HANDLE* standard) {
  int count = kInherited;
  std::memcpy(block, &count, sizeof count);
  unsigned char* flags = block + sizeof(int);
  unsigned char* handles = flags + kInherited;
  for (int fd = 0; fd < kInherited; ++fd) {
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    unsigned char f = 0;
    if (h != INVALID_HANDLE_VALUE && h != nullptr) {
      ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
      f = kFopen;
      DWORD type = ::GetFileType(h);
      if (type == FILE_TYPE_CHAR) f |= kFdev;
      else if (type == FILE_TYPE_PIPE) f |= kFpipe;
      int mode = ::_setmode(fd, _O_BINARY);
      if (mode != -1) {
        ::_setmode(fd, mode);
        if (mode & _O_TEXT) f |= kFtext;
      }
    } else {
      h = INVALID_HANDLE_VALUE;
    }
    flags[fd] = f;
    std::memcpy(handles + fd * sizeof(HANDLE), &h, sizeof h);
    if (fd < 3) standard[fd] = h;
  }
}

// Appends one word to the command line with the quoting the runtime's
// argument parser undoes.  False when the line is full.
bool append_word(char* line, std::size_t size, std::size_t& n, const char* w) {
  auto put = [&](char c) {
    if (n + 1 >= size) return false;
    line[n++] = c;
    return true;
  };
  if (n > 0 && !put(' ')) return false;
  bool quote = *w == 0 || std::strpbrk(w, " \t\"") != nullptr;
  if (!quote) {
    for (; *w; ++w)
      if (!put(*w)) return false;
    return true;
  }
  if (!put('"')) return false;
  std::size_t slashes = 0;
  for (; *w; ++w) {
    if (*w == '\\') {
      ++slashes;
    } else if (*w == '"') {
      for (std::size_t i = 0; i < slashes + 1; ++i)
        if (!put('\\')) return false;
      slashes = 0;
    } else {
      slashes = 0;
    }
    if (!put(*w)) return false;
  }
  for (std::size_t i = 0; i < slashes; ++i)
    if (!put('\\')) return false;
  return put('"');
}

void forget_child(int i) {
  ::CloseHandle(g_child_handle[i]);
  --g_child_count;
  g_child_id[i] = g_child_id[g_child_count];
  g_child_handle[i] = g_child_handle[g_child_count];
}

BOOL WINAPI swallow_interrupt(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

bool g_ignoring = false;

}  // namespace

int spawn(const char* program, char* const* argv) {
  char host[1024];
  if (!host_path(program, host, sizeof host)) return -1;
  if (g_child_count >= kChildren) return -1;
  static char line[32768];
  std::size_t n = 0;
  for (char* const* a = argv; *a != nullptr; ++a)
    if (!append_word(line, sizeof line, n, *a)) return -1;
  line[n] = 0;
  unsigned char block[kBlockSize];
  HANDLE standard[3];
  build_inheritance(block, standard);
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = standard[0];
  si.hStdOutput = standard[1];
  si.hStdError = standard[2];
  si.cbReserved2 = static_cast<WORD>(kBlockSize);
  si.lpReserved2 = block;
  PROCESS_INFORMATION pi;
  if (!::CreateProcessA(host, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return -1;
  ::CloseHandle(pi.hThread);
  g_child_id[g_child_count] = pi.dwProcessId;
  g_child_handle[g_child_count] = pi.hProcess;
  ++g_child_count;
  return static_cast<int>(pi.dwProcessId);
}

int wait_child(int pid, int& code, bool& normal) {
  int i = -1;
  if (pid == -1) {
    if (g_child_count == 0) return 0;
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(g_child_count), g_child_handle, FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 + static_cast<DWORD>(g_child_count)) return 0;
    i = static_cast<int>(r - WAIT_OBJECT_0);
  } else {
    for (int k = 0; k < g_child_count; ++k)
      if (g_child_id[k] == static_cast<DWORD>(pid)) i = k;
    if (i < 0) return 0;
    if (::WaitForSingleObject(g_child_handle[i], INFINITE) != WAIT_OBJECT_0) return 0;
  }
  DWORD exit_code = 0;
  ::GetExitCodeProcess(g_child_handle[i], &exit_code);
  int id = static_cast<int>(g_child_id[i]);
  forget_child(i);
  code = static_cast<int>(exit_code);
  normal = true;
  return id;
}

void ignore_interrupts(bool on) {
  if (on == g_ignoring) return;
  ::SetConsoleCtrlHandler(swallow_interrupt, on ? TRUE : FALSE);
  g_ignoring = on;
}

void exec_program(const char* program, char* const* argv) {
  if (spawn(program, argv) < 0) return;
  exit_process(0);
}

const char* system_shell() { return "CMD.EXE"; }
const char* system_shell_switch() { return "/c"; }

}  // namespace vek::plat
