// POSIX implementation of the file-management operations: status,
// directory enumeration, rename, directories, times, permissions and the
// system clock.  Attributes are the nearest equivalents: no owner write
// permission is read-only, a name beginning with "." is hidden, a regular
// file carries the archive mark.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace vek::plat {

namespace {

constexpr std::size_t kHostPath = 4096;
constexpr int kMaxDirs = 320;

std::array<DIR*, kMaxDirs> g_dirs{};

FileKind kind_of_mode(mode_t m) {
  if (S_ISREG(m)) return FileKind::kRegular;
  if (S_ISDIR(m)) return FileKind::kDirectory;
  if (S_ISCHR(m)) return FileKind::kCharDevice;
  if (S_ISLNK(m)) return FileKind::kLink;
  return FileKind::kOther;
}

// A last path component beginning with "." (but not "." or "..").
bool hidden_name(const char* host) {
  const char* base = host;
  for (const char* p = host; *p; ++p)
    if (*p == '/' && p[1] != 0) base = p + 1;
  if (base[0] != '.' || base[1] == 0 || base[1] == '/') return false;
  return !(base[1] == '.' && (base[2] == 0 || base[2] == '/'));
}

void fill(const struct stat& st, const char* host, FileStatus& out) {
  out.kind = kind_of_mode(st.st_mode);
  out.attributes = 0;
  if (!(st.st_mode & S_IWUSR)) out.attributes |= kAttrReadOnly;
  if (out.kind == FileKind::kDirectory) out.attributes |= kAttrDirectory;
  if (out.kind == FileKind::kRegular) out.attributes |= kAttrArchive;
  if (host != nullptr && hidden_name(host)) out.attributes |= kAttrHidden;
  out.mode = static_cast<unsigned>(st.st_mode & 07777);
  out.size = static_cast<std::int64_t>(st.st_size);
  out.device = static_cast<std::uint64_t>(st.st_dev);
  out.inode = static_cast<std::uint64_t>(st.st_ino);
  out.links = static_cast<std::uint64_t>(st.st_nlink);
  out.user = static_cast<std::uint64_t>(st.st_uid);
  out.group = static_cast<std::uint64_t>(st.st_gid);
  out.device_major = static_cast<unsigned>(major(st.st_rdev));
  out.device_minor = static_cast<unsigned>(minor(st.st_rdev));
  out.atime = static_cast<std::int64_t>(st.st_atime);
  out.mtime = static_cast<std::int64_t>(st.st_mtime);
  out.ctime = static_cast<std::int64_t>(st.st_ctime);
}

// The host form of an interpreter path; false (ENAMETOOLONG) when too long.
bool to_host(const char* path, char* host) {
  if (host_path(path, host, kHostPath)) return true;
  errno = ENAMETOOLONG;
  return false;
}

}  // namespace

bool file_status(const char* path, bool follow_links, FileStatus& status) {
  status = FileStatus{};
  char host[kHostPath];
  struct stat st;
  if (!to_host(path, host)) return false;
  if ((follow_links ? ::stat(host, &st) : ::lstat(host, &st)) != 0) return false;
  fill(st, host, status);
  return true;
}

bool descriptor_status(int fd, FileStatus& status) {
  status = FileStatus{};
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return false;
  fill(st, nullptr, status);
  return true;
}

int dir_open(const char* path) {
  char host[kHostPath];
  if (!to_host(*path ? path : ".", host)) return -1;
  int slot = 0;
  while (slot < kMaxDirs && g_dirs[static_cast<std::size_t>(slot)] != nullptr) ++slot;
  if (slot == kMaxDirs) {
    errno = EMFILE;
    return -1;
  }
  DIR* d = ::opendir(host);
  if (d == nullptr) return -1;
  g_dirs[static_cast<std::size_t>(slot)] = d;
  return slot;
}

bool dir_next(int handle, DirEntry& entry) {
  if (handle < 0 || handle >= kMaxDirs) return false;
  DIR* d = g_dirs[static_cast<std::size_t>(handle)];
  if (d == nullptr) return false;
  const struct dirent* e = ::readdir(d);
  if (e == nullptr) return false;
  entry.name = e->d_name;
  switch (e->d_type) {
    case DT_REG: entry.kind = FileKind::kRegular; break;
    case DT_DIR: entry.kind = FileKind::kDirectory; break;
    case DT_CHR: entry.kind = FileKind::kCharDevice; break;
    case DT_LNK: entry.kind = FileKind::kLink; break;
    case DT_UNKNOWN: entry.kind = FileKind::kUnknown; break;
    default: entry.kind = FileKind::kOther; break;
  }
  return true;
}

void dir_close(int handle) {
  if (handle < 0 || handle >= kMaxDirs) return;
  DIR*& d = g_dirs[static_cast<std::size_t>(handle)];
  if (d != nullptr) ::closedir(d);
  d = nullptr;
}

int rename_path(const char* from, const char* to) {
  char a[kHostPath], b[kHostPath];
  if (!to_host(from, a) || !to_host(to, b)) return -1;
  if (::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the no-replace form: check, then rename.
  struct stat st;
  if (::lstat(b, &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(a, b);
}

int make_directory(const char* path) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  return ::mkdir(host, 0777);
}

int remove_directory(const char* path) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  return ::rmdir(host);
}

int set_file_times(const char* path, std::int64_t atime, std::int64_t mtime) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  struct timespec ts[2];
  ts[0].tv_sec = static_cast<time_t>(atime);
  ts[0].tv_nsec = 0;
  ts[1].tv_sec = static_cast<time_t>(mtime);
  ts[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, host, ts, 0);
}

int set_permissions(const char* path, unsigned mode) {
  char host[kHostPath];
  if (!to_host(path, host)) return -1;
  return ::chmod(host, static_cast<mode_t>(mode & 07777));
}

int set_attributes(const char* path, unsigned attributes) {
  // Archive, hidden and system follow from the kind and the name here:
  // asking for what the file already has is all that can succeed.
  FileStatus st;
  if (!file_status(path, true, st)) return -1;
  const unsigned settable = kAttrArchive | kAttrHidden | kAttrSystem;
  return (st.attributes & settable) == (attributes & settable) ? 0 : kUnsupported;
}

int copy_attributes(const char* path, const FileStatus& source, bool created) {
  if (created) {
    // A new file got 0666 less the creation mask: often just right.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if ((0666 & ~mask & 0777) == (source.mode & 0777)) return 0;
  }
  return set_permissions(path, source.mode & 0777);
}

long copy_range(int in, int out, std::size_t len, bool* target_failed) {
  *target_failed = false;
  ssize_t r;
  do {
    r = ::copy_file_range(in, nullptr, out, nullptr, len, 0);
  } while (r < 0 && errno == EINTR);
  if (r >= 0) return static_cast<long>(r);
  switch (errno) {
    case EXDEV:
    case EINVAL:
    case ENOSYS:
    case EOPNOTSUPP:
    case EBADF:
      return kUnsupported;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
    case EROFS:
      *target_failed = true;
      return -1;
    default:
      return -1;
  }
}

int set_system_time(std::int64_t seconds) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = 0;
  return ::clock_settime(CLOCK_REALTIME, &ts);
}

}  // namespace vek::plat
