// The one interface between the interpreter and the operating system.
// Everything above src/platform/ is portable C++; only the platform
// implementations include OS headers.
//
// Paths handed to these functions are in the interpreter's own form
// ("\" separators, optional drive prefix, "NUL"); the platform layer turns
// them into the host's form.  Paths handed back (current directory,
// directory entries) are in the interpreter's form as well.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vek::plat {

// Open flags, in the interpreter's own values.
inline constexpr int kRead = 0x0000;
inline constexpr int kWrite = 0x0001;
inline constexpr int kReadWrite = 0x0002;
inline constexpr int kCreate = 0x0100;
inline constexpr int kTruncate = 0x0200;
inline constexpr int kExclusive = 0x0400;
inline constexpr int kAppend = 0x0800;
inline constexpr int kText = 0x4000;
inline constexpr int kBinary = 0x8000;

inline constexpr int kSeekSet = 0;
inline constexpr int kSeekCur = 1;
inline constexpr int kSeekEnd = 2;

// Converts an interpreter path into the host's form.  Returns false when
// the result does not fit into `size` bytes.
bool host_path(const char* path, char* out, std::size_t size);

// Descriptor operations.  They return what the host call returns (-1 on
// failure); reporting is the caller's business.
int open(const char* path, int flags);
long read(int fd, void* buf, std::size_t len);
// Returns kBrokenPipe when the descriptor is a pipe whose reader is gone.
inline constexpr long kBrokenPipe = -2;
long write(int fd, const void* buf, std::size_t len);
std::int64_t lseek(int fd, std::int64_t off, int whence);
int close(int fd);
int dup(int fd);
int dup2(int from, int to);
// A duplicate of fd numbered `lowest` or above, or -1.
int dup_at_least(int fd, int lowest);
// Whether fd is an open descriptor.
bool is_open(int fd);
int ftruncate(int fd, std::int64_t size);
bool isatty(int fd);
// Marks a descriptor so that started programs do not inherit it.
void set_no_inherit(int fd);
// Current directory in interpreter form; false if it does not fit.
bool getcwd(char* buf, std::size_t size);
int unlink(const char* path);
// Full path of the running program in interpreter form; false if unknown
// or too long.
bool program_file(char* buf, std::size_t size);

// File attributes (the Win32 values).
inline constexpr unsigned kAttrReadOnly = 0x01;
inline constexpr unsigned kAttrHidden = 0x02;
inline constexpr unsigned kAttrSystem = 0x04;
inline constexpr unsigned kAttrDirectory = 0x10;
inline constexpr unsigned kAttrArchive = 0x20;

// File classification used by the shared file test.
struct FileInfo {
  bool exists = false;
  bool is_dir = false;
  bool is_regular = false;
  bool executable = false;  // any execute permission bit
  std::int64_t size = 0;
  unsigned mode = 0;           // permission bits
  std::uint64_t device = 0;    // the file system the file lives on
  std::int64_t mtime = 0;      // times in calendar seconds
  std::int64_t atime = 0;
  std::int64_t ctime = 0;
};
FileInfo stat_path(const char* path);

// File management for the file builtins (list, copy, move, remove, mkdirs,
// fstat); posix/files_posix.cpp and win32/files_win32.cpp.

// What a path or a directory entry is.
enum class FileKind : unsigned char {
  kNone,        // no such file
  kRegular,
  kDirectory,
  kCharDevice,
  kLink,        // a symbolic link (when links are not followed)
  kOther,       // pipe, socket, block device
  kUnknown,     // a directory entry whose kind the system does not tell
};

// The whole status of a file.
struct FileStatus {
  FileKind kind = FileKind::kNone;
  unsigned attributes = 0;   // kAttr... bits (nearest equivalents on POSIX)
  unsigned mode = 0;         // permission bits
  std::int64_t size = 0;
  std::uint64_t device = 0;  // the file system (on Win32: the drive, 0 = A)
  std::uint64_t inode = 0;   // with device, the file's identity (0: unknown)
  std::uint64_t links = 0;
  std::uint64_t user = 0;
  std::uint64_t group = 0;
  unsigned device_major = 0;  // of a device file
  unsigned device_minor = 0;
  std::int64_t atime = 0;     // calendar seconds
  std::int64_t mtime = 0;
  std::int64_t ctime = 0;
};
// Status of a path; with follow_links false a symbolic link reports
// itself.  False when the path has no status.
bool file_status(const char* path, bool follow_links, FileStatus& status);
bool descriptor_status(int fd, FileStatus& status);

// Directory enumeration: dir_open gives a handle (0 or more) or -1;
// dir_next hands out the entries ("." and ".." too) in the system's order
// and false at the end; an entry's name lives until the next call.  At
// least 320 directories can be open at once.
struct DirEntry {
  const char* name = nullptr;
  FileKind kind = FileKind::kUnknown;
};
int dir_open(const char* path);
bool dir_next(int handle, DirEntry& entry);
void dir_close(int handle);

// Returned by an operation the platform cannot perform at all.
inline constexpr int kUnsupported = -2;

// These return 0 or -1.
int rename_path(const char* from, const char* to);  // never replaces a target
int make_directory(const char* path);
int remove_directory(const char* path);
int set_file_times(const char* path, std::int64_t atime, std::int64_t mtime);
// Permission bits; on Win32 the owner-write bit (0200) clears the
// read-only attribute and its absence sets it.
int set_permissions(const char* path, unsigned mode);
// Archive, hidden and system (kAttr bits); kUnsupported where they cannot
// be set.
int set_attributes(const char* path, unsigned attributes);
// Gives a copy what its source had: the permission bits on POSIX, the
// attribute word on Win32.  `created`: the copy is a new file, which may
// have them already.
int copy_attributes(const char* path, const FileStatus& source, bool created);
// Moves up to len bytes from descriptor `in` to `out`, at their current
// positions, inside the system.  Returns the count (0 at the end of
// `in`), -1 on failure (*target_failed tells whether writing failed), or
// kUnsupported, with nothing moved, where the system cannot do it for
// these two; the caller then reads and writes itself.
long copy_range(int in, int out, std::size_t len, bool* target_failed);
// Sets the system clock to calendar seconds; -1 when the system refuses.
int set_system_time(std::int64_t seconds);

// Environment of the process.
const char* const* environment();
void env_set(const char* name, const char* value);
void env_unset(const char* name);

// Time.
std::int64_t time_now();  // calendar time in seconds
void sleep_ms(unsigned ms);
int process_id();

// Signals.  The handler only records the signal; the interpreter asks for
// it at its safe points.  Fault signals end the process after writing the
// given line builder's text.
// A hangup is acted on like the termination signal; a write to a pipe
// without reader fails with kBrokenPipe instead of ending the process.
void install_signal_handlers();
int pending_signal();
void clear_pending_signal();
// Sets or clears "ignore the termination signal" (shell option !).
void set_ignore_termination(bool on);

// Files to delete when a fault ends the process at once (at most 8; the
// interpreter's own temporary files).  A null path clears the list.
void delete_on_fault(const char* path);

[[noreturn]] void exit_process(int status);

// The exit status after a write into a pipe without reader: what a
// program that ends for that reason reports on this platform.
int broken_pipe_status();

}  // namespace vek::plat
