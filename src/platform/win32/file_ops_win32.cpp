// Win32 implementation of the file-management operations: status through
// GetFileAttributesExA and the file's handle information, directory
// enumeration through FindFirstFileA/FindNextFileA, MoveFileExA,
// CreateDirectoryA, RemoveDirectoryA, SetFileTime, SetFileAttributesA and
// SetSystemTime.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <sys/stat.h>

#include <array>
#include <cstring>

#include "platform/platform.h"

namespace vek::plat {

namespace {

constexpr std::size_t kHostPath = 1024;
constexpr int kMaxDirs = 320;

struct DirSlot {
  bool used = false;
  bool pending = false;  // `data` holds an entry not handed out yet
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA data;
};
std::array<DirSlot, kMaxDirs> g_dirs{};

constexpr std::uint64_t kEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns steps since 1601

std::int64_t seconds_of(const FILETIME& ft) {
  const std::uint64_t t = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (t < kEpoch) return 0;
  return static_cast<std::int64_t>((t - kEpoch) / 10000000ULL);
}

FILETIME filetime_of(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::uint64_t t = static_cast<std::uint64_t>(seconds) * 10000000ULL + kEpoch;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFULL);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

bool ieq(char a, char b) {
  if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
  if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
  return a == b;
}

bool names_device(const char* p) {
  for (const char* dev : {"NUL", "CON", "CONIN$", "CONOUT$"}) {
    const char* q = p;
    const char* d = dev;
    while (*d && ieq(*q, *d)) {
      ++q;
      ++d;
    }
    if (*d == 0 && *q == 0) return true;
  }
  return false;
}

bool has_program_extension(const char* path) {
  const std::size_t n = std::strlen(path);
  if (n < 4) return false;
  const char* ext = path + n - 4;
  for (const char* e : {".EXE", ".COM", ".BAT", ".CMD"}) {
    bool same = true;
    for (int i = 0; i < 4; ++i) same = same && ieq(ext[i], e[i]);
    if (same) return true;
  }
  return false;
}

FileKind kind_of(DWORD attrs, bool follow_links) {
  if (!follow_links && (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) return FileKind::kLink;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  if (attrs & FILE_ATTRIBUTE_DEVICE) return FileKind::kCharDevice;
  return FileKind::kRegular;
}

unsigned kept_attributes(DWORD attrs) {
  return static_cast<unsigned>(attrs) & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
}

// Permission bits as the runtime derives them: readable always, writable
// unless read-only, executable for directories and programs; the same for
// group and others.
unsigned mode_of(DWORD attrs, const char* path) {
  unsigned mode = 0444;
  if (!(attrs & FILE_ATTRIBUTE_READONLY)) mode |= 0222;
  if ((attrs & FILE_ATTRIBUTE_DIRECTORY) || has_program_extension(path)) mode |= 0111;
  return mode;
}

// Identity, link count and volume of an open handle.
void add_handle_information(HANDLE h, FileStatus& st) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return;
  st.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  st.links = info.nNumberOfLinks;
}

int drive_of(const char* host) {
  char full[kHostPath];
  DWORD n = ::GetFullPathNameA(host, sizeof full, full, nullptr);
  if (n >= 2 && n < sizeof full && full[1] == ':') return (full[0] | 0x20) - 'a';
  return 26;  // a network path: no drive letter
}

bool to_host(const char* path, char* host) {
  if (host_path(path, host, kHostPath)) return true;
  ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

}  // namespace

bool file_status(const char* path, bool follow_links, FileStatus& status) {
  status = FileStatus{};
  char host[kHostPath];
  if (!to_host(path, host)) return false;
  if (names_device(host)) {
    status.kind = FileKind::kCharDevice;
    status.mode = 0666;
    status.device = static_cast<std::uint64_t>(drive_of("."));
    return true;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(host, GetFileExInfoStandard, &data)) return false;
  status.kind = kind_of(data.dwFileAttributes, follow_links);
  status.attributes = kept_attributes(data.dwFileAttributes);
  status.mode = mode_of(data.dwFileAttributes, host);
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    status.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                            data.nFileSizeLow);
  status.device = static_cast<std::uint64_t>(drive_of(host));
  status.links = 1;
  status.atime = seconds_of(data.ftLastAccessTime);
  status.mtime = seconds_of(data.ftLastWriteTime);
  status.ctime = seconds_of(data.ftCreationTime);
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = ::CreateFileA(host, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    add_handle_information(h, status);
    ::CloseHandle(h);
  }
  return true;
}

bool descriptor_status(int fd, FileStatus& status) {
  status = FileStatus{};
  struct _stat64 st;
  if (fd < 0 || ::_fstat64(fd, &st) != 0) return false;
  if ((st.st_mode & _S_IFMT) == _S_IFDIR) status.kind = FileKind::kDirectory;
  else if ((st.st_mode & _S_IFMT) == _S_IFREG) status.kind = FileKind::kRegular;
  else if ((st.st_mode & _S_IFMT) == _S_IFCHR) status.kind = FileKind::kCharDevice;
  else status.kind = FileKind::kOther;
  unsigned mode = static_cast<unsigned>(st.st_mode) & 0700;
  status.mode = mode | (mode >> 3) | (mode >> 6);
  status.size = static_cast<std::int64_t>(st.st_size);
  status.device = static_cast<std::uint64_t>(st.st_dev);
  status.links = static_cast<std::uint64_t>(st.st_nlink);
  status.atime = static_cast<std::int64_t>(st.st_atime);
  status.mtime = static_cast<std::int64_t>(st.st_mtime);
  status.ctime = static_cast<std::int64_t>(st.st_ctime);
  if (status.kind == FileKind::kRegular) status.attributes = kAttrArchive;
  // A file on a disk also tells its attributes and identity.
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION info;
  if (h != INVALID_HANDLE_VALUE && h != nullptr && ::GetFileType(h) == FILE_TYPE_DISK &&
      ::GetFileInformationByHandle(h, &info)) {
    status.attributes = kept_attributes(info.dwFileAttributes);
    status.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    status.links = info.nNumberOfLinks;
  }
  return true;
}

int dir_open(const char* path) {
  char host[kHostPath];
  if (!to_host(*path ? path : ".", host)) return -1;
  std::size_t n = std::strlen(host);
  if (n + 3 > sizeof host) return -1;
  if (n > 0 && host[n - 1] != '\\' && host[n - 1] != '/' && host[n - 1] != ':') host[n++] = '\\';
  host[n++] = '*';
  host[n] = 0;
  int slot = 0;
  while (slot < kMaxDirs && g_dirs[static_cast<std::size_t>(slot)].used) ++slot;
  if (slot == kMaxDirs) return -1;
  DirSlot& d = g_dirs[static_cast<std::size_t>(slot)];
  d.find = ::FindFirstFileA(host, &d.data);
  if (d.find == INVALID_HANDLE_VALUE) {
    // The root of an empty drive has no entries at all; anything else
    // could not be opened.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return -1;
    d.pending = false;
  } else {
    d.pending = true;
  }
  d.used = true;
  return slot;
}

bool dir_next(int handle, DirEntry& entry) {
  if (handle < 0 || handle >= kMaxDirs) return false;
  DirSlot& d = g_dirs[static_cast<std::size_t>(handle)];
  if (!d.used || d.find == INVALID_HANDLE_VALUE) return false;
  if (!d.pending && !::FindNextFileA(d.find, &d.data)) return false;
  d.pending = false;
  entry.name = d.data.cFileName;
  entry.kind = kind_of(d.data.dwFileAttributes, false);
  return true;
}

void dir_close(int handle) {
  if (handle < 0 || handle >= kMaxDirs) return;
  DirSlot& d = g_dirs[static_cast<std::size_t>(handle)];
  if (d.find != INVALID_HANDLE_VALUE) ::FindClose(d.find);
  d.find = INVALID_HANDLE_VALUE;
  d.used = false;
  d.pending = false;
}

int rename_path(const char* from, const char* to) {
  char a[kHostPath], b[kHostPath];
  if (!to_host(from, a) || !to_host(to, b)) return -1;
  // Without MOVEFILE_REPLACE_EXISTING an existing target is refused.
  return ::MoveFileExA(a, b, 0) ? 0 : -1;
}

int make_directory(const char* path) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  return ::CreateDirectoryA(host, nullptr) ? 0 : -1;
}

int remove_directory(const char* path) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  return ::RemoveDirectoryA(host) ? 0 : -1;
}

int set_file_times(const char* path, std::int64_t atime, std::int64_t mtime) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  HANDLE h = ::CreateFileA(host, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  const FILETIME a = filetime_of(atime);
  const FILETIME m = filetime_of(mtime);
  const BOOL ok = ::SetFileTime(h, nullptr, &a, &m);
  ::CloseHandle(h);
  return ok ? 0 : -1;
}

namespace {

// Sets the attribute word, keeping only the bits SetFileAttributesA takes.
int store_attributes(const char* host, DWORD attrs) {
  attrs &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
  if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesA(host, attrs) ? 0 : -1;
}

}  // namespace

int set_permissions(const char* path, unsigned mode) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  DWORD attrs = ::GetFileAttributesA(host);
  if (attrs == INVALID_FILE_ATTRIBUTES) return -1;
  if (mode & 0200) attrs &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  else attrs |= FILE_ATTRIBUTE_READONLY;
  return store_attributes(host, attrs);
}

int set_attributes(const char* path, unsigned attributes) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  DWORD attrs = ::GetFileAttributesA(host);
  if (attrs == INVALID_FILE_ATTRIBUTES) return -1;
  const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  attrs = (attrs & ~settable) | (static_cast<DWORD>(attributes) & settable);
  return store_attributes(host, attrs);
}

int copy_attributes(const char* path, const FileStatus& source, bool created) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  const DWORD want = static_cast<DWORD>(source.attributes) &
                     (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  // A new file carries the archive mark and nothing else.
  if (created && want == FILE_ATTRIBUTE_ARCHIVE) return 0;
  return store_attributes(host, want);
}

long copy_range(int, int, std::size_t, bool* target_failed) {
  *target_failed = false;
  return kUnsupported;
}

int set_system_time(std::int64_t seconds) {
  const FILETIME ft = filetime_of(seconds);
  SYSTEMTIME st;
  if (!::FileTimeToSystemTime(&ft, &st)) return -1;
  return ::SetSystemTime(&st) ? 0 : -1;
}

}  // namespace vek::plat
