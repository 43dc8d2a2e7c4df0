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
// Text mode: LF becomes CR LF on write and CR LF becomes LF on read (the
// Win32 runtime does it, and takes Ctrl+Z as the end; the POSIX side keeps
// a text flag per descriptor that dup and dup2 carry over).
inline constexpr int kText = 0x4000;
inline constexpr int kBinary = 0x8000;
// A file created by this open is readable and writable by its owner only,
// whatever the file-creation mask (the interpreter's internal files).
inline constexpr int kOwnerOnly = 0x10000;
// The open fails when the last component of the path is a symbolic link
// (or another kind of link that the host can refuse to follow).
inline constexpr int kNoFollow = 0x20000;

inline constexpr int kSeekSet = 0;
inline constexpr int kSeekCur = 1;
inline constexpr int kSeekEnd = 2;

// Settings that differ between the platforms.
struct Defaults {
  const char* system_name;     // shown by the version banner
  const char* search_path;     // command search list when PATH is unset
  const char* cd_path;         // cd search list when CDPATH is unset
  const char* temp_directory;  // when no variable names one; null: the
                               // current directory
  const char* list_separators; // between the entries of PATH and CDPATH
  // Appended in this order by the command search to a name without one.
  const char* extensions[5];
};
const Defaults& defaults();

// Process set-up at start: binary mode on descriptors 0-2, the file-creation
// mask and the console input mode where the platform has them.
void init_process();

// Converts an interpreter path into the host's form.  Returns false when
// the result does not fit into `size` bytes.
bool host_path(const char* path, char* out, std::size_t size);

// Descriptor operations.  They return what the host call returns (-1 on
// failure); reporting is the caller's business.  Descriptors 0 to 9 are
// inherited by started programs; every descriptor of 10 and above that
// these operations create is not.  A descriptor opened with kText
// translates LF to CR LF when written and CR LF to LF when read; dup and
// dup2 carry that mode over to the new descriptor.
int open(const char* path, int flags);
long read(int fd, void* buf, std::size_t len);
// Returns kBrokenPipe when the descriptor is a pipe whose reader is gone.
inline constexpr long kBrokenPipe = -2;
long write(int fd, const void* buf, std::size_t len);
std::int64_t lseek(int fd, std::int64_t off, int whence);
int close(int fd);
int dup(int fd);
int dup2(int from, int to);
// Whether fd is an open descriptor.
bool is_open(int fd);
int ftruncate(int fd, std::int64_t size);
bool isatty(int fd);
// Marks a descriptor so that started programs do not inherit it.
void set_no_inherit(int fd);
// Reads or writes at a given offset without moving the descriptor's
// position (a regular file only); they return what read and write return.
long read_at(int fd, void* buf, std::size_t len, std::int64_t offset);
long write_at(int fd, const void* buf, std::size_t len, std::int64_t offset);
// Duplicates fd onto the lowest free descriptor of 10 or above (never
// onto one of the user's descriptors 0 to 9); -1 on failure.
int dup_high(int fd);
// Whether two open descriptors refer to the same file.
bool same_file(int a, int b);
// Status of an open descriptor: the host's file type and permission bits
// (POSIX st_mode form, e.g. 0100644 for a regular file) and the size.
// False when fd is not open.
bool descriptor_status(int fd, unsigned& mode, std::int64_t& size);
// Current directory in interpreter form; false if it does not fit.
bool getcwd(char* buf, std::size_t size);
// Makes path the current directory; false on failure.
bool change_dir(const char* path);
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
  bool is_char_device = false;  // console, NUL and the like
  bool executable = false;  // any execute permission bit
  std::int64_t size = 0;
  unsigned mode = 0;           // permission bits
  unsigned attributes = 0;     // kAttr... bits
  std::uint64_t device = 0;    // the file system (on Win32: the drive, 0 = A)
  std::int64_t mtime = 0;      // times in calendar seconds
  std::int64_t atime = 0;
  std::int64_t ctime = 0;
};
FileInfo stat_path(const char* path);
// Whether anything at all has this name, a dangling link included.
bool path_exists(const char* path);

// Directory listing for file-name generation.  Calls visit(context, name)
// for each entry of the directory, "." and ".." included, in the order the
// system returns them, until visit returns false.  The name is valid until
// visit returns; visit may list other directories meanwhile, and may throw
// (the listing is closed on the way out).  False when the directory cannot
// be read.
using DirVisitor = bool (*)(void* context, const char* name);
bool list_directory(const char* path, DirVisitor visit, void* context);
// Whether the host's file names are the same in any letter case (then a
// path written in upper case names the same file).
bool names_ignore_case();

// File management for the file builtins (list, copy, move, remove, mkdirs,
// fstat); posix/file_ops_posix.cpp and win32/file_ops_win32.cpp.

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

// File-creation mask: the mask in force (a POSIX process keeps the one it
// inherited), and a new one to apply (permission bits 0777 only).
unsigned file_mask();
void set_file_mask(unsigned mask);

// Memory.  The bytes the process can still obtain without running the
// system out of memory (on hosts that grant memory before it is used and
// end a process that then touches too much, an allocation beyond this is
// refused up front); UINT64_MAX when the host does not tell.
std::uint64_t memory_available();

// Time.
std::int64_t time_now();  // calendar time in seconds
void sleep_ms(unsigned ms);
int process_id();

// Processes.  Program paths are in interpreter form; argument words are
// handed over as they are.
//
// Starts `program` with the words argv (null-terminated, argv[0] first),
// the current environment and directory, and the descriptors 0 to 9 as
// the child's 0 to 9.  Returns the child's process id, or -1 when it could
// not be started.
int spawn(const char* program, char* const* argv);
// Waits for child `pid`, or for any child when pid is -1.  Returns the id
// of the child collected, with its exit code in `code` (128 + the signal
// number when a signal ended it, `normal` false then); 0 when there is no
// child to wait for; -1 when a signal to act on interrupted the wait.
int wait_child(int pid, int& code, bool& normal);
// While set, the interrupt and break signals are ignored (a child in the
// foreground gets them); clearing restores the interpreter's handlers.
void ignore_interrupts(bool on);
// Replaces the interpreter by the program (POSIX: execve, the caller then
// sees the program's exit status; Win32: the program is started and the
// interpreter ends with status 0).  Returns only when that failed.
void exec_program(const char* program, char* const* argv);
// The system command interpreter used when COMSPEC is not set (a name
// without "\" is searched along PATH) and the option that hands it a
// command line.
const char* system_shell();
const char* system_shell_switch();

// Signals.  The handler only records the signal; the interpreter asks for
// it at its safe points.  The numbers are the interpreter's own: 2 interrupt
// (Ctrl+C), 21 break (Ctrl+Break; Ctrl+\ on POSIX), 15 termination.  A
// fault (segmentation violation, illegal instruction, floating point
// exception, abort) ends the process at once after writing the signal line
// and deleting the files registered with delete_on_fault, with status 2.
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

namespace vek::plat {

// Console.  On POSIX the console is the terminal on descriptor 0 (input)
// and descriptors 1/2 (output): the interpreter keeps a screen model of its
// own and renders it with standard terminal sequences (io/console.*), and
// reads key events decoded from the terminal's input bytes.  The Win32
// half (the real console API) comes later: there console_terminal() is
// false, console output passes through unchanged and console input is
// read as lines.

// Whether the escape emulation and the line editor drive this console.
bool console_terminal();

// A key event.  `ch` is the character (0-255) or -1 for a key without one;
// `vk` the Win32 virtual-key code of a key without a character (0x21 PgUp,
// 0x22 PgDn, 0x23 End, 0x24 Home, 0x25-0x28 Left Up Right Down, 0x2D
// Insert, 0x2E Delete, 0x0C Clear, 0x70-0x7B F1-F12).
struct KeyEvent {
  int ch = -1;
  int vk = 0;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  int repeat = 1;
};

// Raw key input on (true) or back to the terminal's own line mode
// (false).  Returns false when the console cannot deliver key events.
// The settings found at the first call come back with console_restore.
bool console_raw(bool on);
// The next key event (raw mode must be on): 1 with an event, 0 when the
// input ended (the terminal is gone), -1 when a signal to act on
// interrupted the wait, 2 when the process was suspended and has the
// terminal back (the line should be shown again).
int console_read_key(KeyEvent& ev);
// Console input mode 7 (line input with echo) or 3 (without echo).
void console_input_mode(int mode);
// Discards typed-ahead console input.
void console_flush_input();
// Size of the console window; false when unknown.
bool console_size(int& columns, int& rows);
// Where the terminal's cursor is (0-based), asked from the terminal (raw
// mode must be on); false when it does not answer.  Key bytes that arrive
// meanwhile are kept for console_read_key.
bool console_cursor(int& column, int& row);
// Beep(frequency, duration).
void console_beep(unsigned frequency, unsigned duration_ms);
// Whether the terminals show UTF-8 (the locale's character set), so that
// the interpreter's own code page 850 texts must be converted for them;
// a console that shows code page 850 itself says no.
bool terminal_shows_utf8();
// Puts the terminal back as it was found: line mode, echo, cursor shown,
// line wrap on, default cursor shape.  Safe to call on any way out and
// more than once; the fault handler does the same.
void console_restore();

}  // namespace vek::plat
