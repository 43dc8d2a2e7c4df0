// Shared machinery of the file builtins: the option-word parser, file
// status with drive prefixes, full paths, the operation executor with its
// trace lines, the file copy and the directory walker of move, copy and
// remove.  State lives for one command.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace vek::fileops {

// Full paths of arguments; longer ones are error 26 "Ziel-Puffer".
inline constexpr int kPathSize = 260;
// Walker paths.  A directory path may be extended only while its length
// + 259 stays below this size.
inline constexpr int kWalkSize = 567;
inline constexpr int kNameRoom = 259;

using FullPath = std::array<char, kPathSize>;
using WalkPath = std::array<char, kWalkSize>;

// Reads the option word, if any: the first word when it begins with "-"
// and has more characters (with `any_dash`, any first word beginning with
// "-").  Its letters must come from `letters` and at most `limit`
// distinct ones may be given, else error 19 with the word without "-".
// Returns bit i for letters[i]; *first is the index of the first operand.
unsigned option_word(int argc, char** argv, const char* letters, int limit, bool any_dash, int* first);

// Status of a path; a bare drive prefix ("X:") stands for the root of
// that drive.  With follow_links false a symbolic link reports itself.
bool status_of(const char* path, plat::FileStatus& status, bool follow_links = true);

inline bool is_dir(const plat::FileStatus& s) { return s.kind == plat::FileKind::kDirectory; }
inline bool is_regular(const plat::FileStatus& s) { return s.kind == plat::FileKind::kRegular; }
inline bool exists(const plat::FileStatus& s) { return s.kind != plat::FileKind::kNone; }
inline bool same_file(const plat::FileStatus& a, const plat::FileStatus& b) {
  return exists(a) && exists(b) && a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

// Normalises `arg` in place and completes it to a full path in `out`.
void full_path(char* arg, FullPath& out);
// The last name of a path (after the last "\" or the drive prefix).
const char* last_name(const char* path);
// The directory part of a path into out ("" when it has none).
void parent_of(const char* path, FullPath& out);
// Whether `inner` lies inside `outer` (begins with it and a "\").
bool lies_inside(const char* inner, const char* outer);

// ---------------------------------------------------------------- executor

// Options word of move, copy, remove and mkdirs, and bits per source.
inline constexpr unsigned kSilent = 0x001;     // s
inline constexpr unsigned kVerbose = 0x002;    // v
inline constexpr unsigned kDryRun = 0x004;     // V
inline constexpr unsigned kRecursive = 0x008;  // R
inline constexpr unsigned kClean = 0x010;      // c
inline constexpr unsigned kTimes = 0x020;      // m
inline constexpr unsigned kSameDrive = 0x100;
inline constexpr unsigned kTargetInSource = 0x200;
inline constexpr unsigned kSourceInTarget = 0x400;

// Result bits of an operation.
inline constexpr int kResultIgnored = 1;
inline constexpr int kResultMissing = 2;
inline constexpr int kResultFailed = 4;

enum class Op { kCopy, kRename, kUnlink, kMakeDir, kRemoveDir, kNotExisting, kIgnore };
enum class Mode { kRemove, kMove, kCopy };

struct Context {
  unsigned options = 0;
  Mode mode = Mode::kCopy;
  int status = 0;                 // OR of all results: the exit status
  const char* source_base = "";   // the walked source directory
  int source_length = 0;
  const char* target_base = "";   // its target (move, copy)
  plat::FileStatus target_dir;    // identity of the target directory, once known
  WalkPath made{};                // under a dry run: the directory last made
};
extern Context context;

// Starts a command: its options and mode, no results yet.
void begin(unsigned options, Mode mode);

// Performs one operation (unless dry run), writes its trace line as the
// options ask, adds its result to the exit status and returns it.  A
// failed copy, rename or make-directory ends the command with error 16.
// For a copy, `source` and `target_status` may carry the statuses of the
// source and the target (links followed) when they are known.
int run_op(Op op, const char* path, const char* target = nullptr, const plat::FileStatus* source = nullptr,
           const plat::FileStatus* target_status = nullptr);

// Which actions the walker performs.
struct Actions {
  bool pre = false;      // once for a directory before its contents
  bool entries = false;  // for every entry that is not descended into
  bool recurse = false;  // descend into subdirectories
  bool post = false;     // once for a directory after its contents
};

// Walks the directory `path` (its length `length`, the buffer has room
// for kWalkSize bytes) with the actions of the context's mode.  The
// context's source base and target base must be set.
void walk(WalkPath& path, int length, const Actions& actions);

}  // namespace vek::fileops
