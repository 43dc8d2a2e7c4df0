// The shared machinery of move, copy, remove and mkdirs (and the option
// parser and status helper of list and fstat).
#include "builtins/fileops.h"

#include <string_view>

#include "io/fdio.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek::fileops {

Context context;

namespace {

using plat::FileKind;
using plat::FileStatus;

bool has_drive(const char* p) {
  return ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':';
}

// Closes a descriptor on every way out of the copy.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() { close(); }
  FdGuard(const FdGuard&) = delete;
  FdGuard& operator=(const FdGuard&) = delete;
  int get() const { return fd_; }
  // Returns what the close returned (0 when already closed).
  int close() {
    int r = fd_ >= 0 ? plat::close(fd_) : 0;
    fd_ = -1;
    return r;
  }

 private:
  int fd_;
};

// Closes an open directory on every way out of the walker.
class DirGuard {
 public:
  explicit DirGuard(int handle) : handle_(handle) {}
  ~DirGuard() { plat::dir_close(handle_); }
  DirGuard(const DirGuard&) = delete;
  DirGuard& operator=(const DirGuard&) = delete;
  int get() const { return handle_; }

 private:
  int handle_;
};

// The copy's data block, shared by every copy.
std::array<char, 32768> block;

// Ends a copy on a failing read or write: error 16 with the path.
[[noreturn]] void copy_failure(FdGuard& in, FdGuard& out, const char* path) {
  in.close();
  out.close();
  check_signal();
  fatal_error(VEK_ERR(kErrSystem), path);
}

enum class Blocks { kCopied, kShortWrite, kByHand };

// Moves the blocks inside the system.  kByHand when the system cannot (or
// reports no data on the first block: what shows a size of nothing may
// still have data to read).  A block that came short followed by a write
// that fails is the short write of a full disk.
Blocks copy_in_system(FdGuard& in, FdGuard& out, const char* source, const char* target) {
  bool first = true;
  bool came_short = false;
  for (;;) {
    bool target_failed = false;
    const long got = plat::copy_range(in.get(), out.get(), block.size(), &target_failed);
    if (got == plat::kUnsupported || (got == 0 && first)) return Blocks::kByHand;
    if (got == 0) return Blocks::kCopied;
    if (got < 0) {
      if (target_failed && came_short) return Blocks::kShortWrite;
      copy_failure(in, out, target_failed ? target : source);
    }
    first = false;
    came_short = got < static_cast<long>(block.size());
    if (plat::pending_signal() != 0) copy_failure(in, out, source);
  }
}

// The same through the block buffer.
Blocks copy_by_hand(FdGuard& in, FdGuard& out, const char* source, const char* target) {
  for (;;) {
    const long got = plat::read(in.get(), block.data(), block.size());
    if (got == 0) return Blocks::kCopied;
    if (got < 0) copy_failure(in, out, source);
    const long put = plat::write(out.get(), block.data(), static_cast<std::size_t>(got));
    if (put < 0) copy_failure(in, out, target);
    if (put != got) return Blocks::kShortWrite;
    if (plat::pending_signal() != 0) copy_failure(in, out, source);
  }
}

// Copies the regular file `source` to `target`: the data in 32 KiB
// blocks, then the source's attributes (and with `keep_times` its access
// and modification times).  An open failure is error 9, a failing read or
// write error 16 with the path concerned; a short write or a failure to
// give the target its attributes or times returns false.  `created`: the
// target did not exist before.
bool copy_file(const char* source, const char* target, const FileStatus* known, bool keep_times, bool created) {
  FileStatus st;
  bool status_ok = true;
  if (known != nullptr) st = *known;
  else status_ok = plat::file_status(source, true, st);
  FdGuard in(plat::open(source, plat::kRead | plat::kBinary));
  if (in.get() < 0) fatal_error(VEK_ERR(kErrOpen), source);
  FdGuard out(plat::open(target, plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary));
  if (out.get() < 0) {
    in.close();
    fatal_error(VEK_ERR(kErrOpen), target);
  }
  Blocks moved = Blocks::kByHand;
  if (status_ok && is_regular(st) && st.size > 0) moved = copy_in_system(in, out, source, target);
  if (moved == Blocks::kByHand) moved = copy_by_hand(in, out, source, target);
  in.close();
  // Data that could not be written back shows only here.
  bool ok = out.close() == 0 && moved == Blocks::kCopied;
  if (!ok || !status_ok) return false;
  if (keep_times && plat::set_file_times(target, st.atime, st.mtime) != 0) return false;
  return plat::copy_attributes(target, st, created) == 0;
}

// Writes a trace line: the text, the path, and for two-path operations the
// second line with the target.
void trace(int fd, const char* head, const char* path, const char* target) {
  std::array<char, 2 * kWalkSize + 40> line;
  int n = concat_strings_n(static_cast<int>(line.size()), line.data(), {head, path, "\r\n"});
  if (target != nullptr)
    n = concat_strings_n(static_cast<int>(line.size()), line.data(), {line.data(), "    TO: ", target, "\r\n"});
  sys_write(fd, line.data(), n);
}

// Appends "\" (unless the path is empty or ends in one) and the name.
// False when the result would not fit.
bool append_name(WalkPath& path, int length, const char* name, int* new_length) {
  int n = length;
  if (n > 0 && path[static_cast<std::size_t>(n - 1)] != '\\') {
    if (n + 1 >= kWalkSize) return false;
    path[static_cast<std::size_t>(n++)] = '\\';
  }
  for (const char* p = name; *p; ++p) {
    if (n + 1 >= kWalkSize) return false;
    path[static_cast<std::size_t>(n++)] = *p;
  }
  path[static_cast<std::size_t>(n)] = 0;
  *new_length = n;
  return true;
}

// The target of a walked source path: target base, "\", relative part.
void target_of(const char* source, WalkPath& out) {
  const char* rel = source + context.source_length;
  if (*rel == '\\') ++rel;
  const char* base = context.target_base;
  const std::size_t n = str_len(base);
  const bool root = n > 0 && base[n - 1] == '\\';
  if (*rel == 0) concat_strings_n(kWalkSize, out.data(), {base});
  else concat_strings_n(kWalkSize, out.data(), {base, root ? "" : "\\", rel});
}

// Pre-order of copy and move: the target directory is made unless it
// exists; a file of that name is error 16.
void make_target_dir(const char* source) {
  WalkPath target;
  target_of(source, target);
  FileStatus st;
  if (status_of(target.data(), st)) {
    if (!is_dir(st)) fatal_error(VEK_ERR(kErrSystem), target.data());
    return;
  }
  // A dry run did not make it, but has said so already.
  if ((context.options & kDryRun) && str_compare(target.data(), context.made.data()) == 0) return;
  run_op(Op::kMakeDir, target.data());
}

// Entry of copy and move: a target of another type is error 16; a
// regular file is copied (and for move, renamed when that is possible, or
// unlinked after its copy); anything else is ignored.
void copy_or_move_entry(const char* source, const FileStatus& st) {
  WalkPath target;
  target_of(source, target);
  FileStatus tst;
  const bool target_exists = status_of(target.data(), tst, false);
  if (context.mode == Mode::kMove && (context.options & kSameDrive) && !target_exists) {
    run_op(Op::kRename, source, target.data());
    return;
  }
  if (target_exists && tst.kind == FileKind::kLink) status_of(target.data(), tst);
  if (target_exists && exists(tst) && exists(st) && is_dir(tst) != is_dir(st))
    fatal_error(VEK_ERR(kErrSystem), target.data());
  if (!is_regular(st)) {
    run_op(Op::kIgnore, source);
    return;
  }
  if (!target_exists) tst = FileStatus{};
  if (run_op(Op::kCopy, source, target.data(), &st, &tst) == 0 && context.mode == Mode::kMove)
    run_op(Op::kUnlink, source);
}

// Whether the walker must keep out of this directory: the target of the
// copy or move itself.
bool is_target_dir(const char* path, const FileStatus* st) {
  if (context.mode == Mode::kRemove) return false;
  if ((context.options & kTargetInSource) && str_compare(path, context.target_base) == 0) return true;
  return st != nullptr && same_file(*st, context.target_dir);
}

}  // namespace

unsigned option_word(int argc, char** argv, const char* letters, int limit, bool any_dash, int* first) {
  *first = 1;
  if (argc < 2) return 0;
  const char* w = argv[1];
  if (w[0] != '-' || (w[1] == 0 && !any_dash)) return 0;
  *first = 2;
  unsigned bits = 0;
  int distinct = 0;
  bool bad = w[1] == 0;
  for (const char* p = w + 1; *p && !bad; ++p) {
    int i = 0;
    while (letters[i] && letters[i] != *p) ++i;
    if (letters[i] == 0) {
      bad = true;
      break;
    }
    if (!(bits & (1u << i))) {
      bits |= 1u << i;
      ++distinct;
    }
  }
  if (bad || distinct > limit) fatal_error(VEK_ERR(kErrArguments), w + 1);
  return bits;
}

bool status_of(const char* path, FileStatus& status, bool follow_links) {
  if (has_drive(path) && path[2] == 0) {
    const char root[4] = {path[0], ':', '\\', 0};
    return plat::file_status(root, follow_links, status);
  }
  return plat::file_status(path, follow_links, status);
}

void full_path(char* arg, FullPath& out) {
  path_normalize(arg);
  if (has_drive(arg)) {
    concat_strings_n(kPathSize, out.data(), {arg});
    return;
  }
  FullPath cwd;
  sys_getcwd(cwd.data(), kPathSize);
  if (arg[0] == '\\') {
    // The current drive, where there is one.
    char drive[3] = {0, 0, 0};
    if (has_drive(cwd.data())) {
      drive[0] = cwd[0];
      drive[1] = ':';
    }
    concat_strings_n(kPathSize, out.data(), {drive, arg});
  } else if (arg[0] == '.' && (arg[1] == 0 || arg[1] == '\\')) {
    concat_strings_n(kPathSize, out.data(), {cwd.data(), arg[1] ? arg + 1 : ""});
  } else if (arg[0] == '.' && arg[1] == '.' && (arg[2] == 0 || arg[2] == '\\')) {
    FullPath up;
    parent_of(cwd.data(), up);
    concat_strings_n(kPathSize, out.data(), {up.data(), arg[2] ? arg + 2 : ""});
  } else {
    concat_strings_n(kPathSize, out.data(), {cwd.data(), "\\", arg});
  }
  path_normalize(out.data());
}

const char* last_name(const char* path) {
  const char* name = has_drive(path) ? path + 2 : path;
  for (const char* p = name; *p; ++p)
    if (*p == '\\') name = p + 1;
  return name;
}

void parent_of(const char* path, FullPath& out) {
  const char* name = last_name(path);
  std::size_t n = static_cast<std::size_t>(name - path);
  // Keep the separator of a root ("\" or "X:\"), drop any other.
  const std::size_t root = has_drive(path) ? 3 : 1;
  if (n > root && path[n - 1] == '\\') --n;
  if (n >= out.size()) n = out.size() - 1;
  for (std::size_t i = 0; i < n; ++i) out[i] = path[i];
  out[n] = 0;
  if (n == 0 && path[0] == '\\') concat_strings_n(kPathSize, out.data(), {"\\"});
}

bool lies_inside(const char* inner, const char* outer) {
  std::size_t n = str_len(outer);
  if (n == 0) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (inner[i] != outer[i]) return false;
  if (outer[n - 1] == '\\') return inner[n] != 0;
  return inner[n] == '\\';
}

void begin(unsigned options, Mode mode) {
  context = Context{};
  context.options = options;
  context.mode = mode;
}

int run_op(Op op, const char* path, const char* target, const FileStatus* source, const FileStatus* target_status) {
  const unsigned opts = context.options;
  // Copying a file onto itself (another spelling, a link) would empty it.
  bool created = false;
  if (op == Op::kCopy) {
    FileStatus s, t;
    if (source != nullptr) s = *source;
    else plat::file_status(path, true, s);
    if (target_status != nullptr) t = *target_status;
    else plat::file_status(target, true, t);
    if (same_file(s, t)) return run_op(Op::kIgnore, path);
    created = !exists(t);
  }
  int result = 0;
  bool failed = false;
  if (!(opts & kDryRun)) {
    switch (op) {
      case Op::kCopy: failed = !copy_file(path, target, source, (opts & kTimes) != 0, created); break;
      case Op::kRename: failed = plat::rename_path(path, target) != 0; break;
      case Op::kUnlink: failed = plat::unlink(path) != 0; break;
      case Op::kMakeDir: failed = plat::make_directory(path) != 0; break;
      case Op::kRemoveDir: failed = plat::remove_directory(path) != 0; break;
      case Op::kNotExisting:
      case Op::kIgnore: break;
    }
  } else if (op == Op::kMakeDir) {
    concat_strings_n(kWalkSize, context.made.data(), {path});
  }
  switch (op) {
    case Op::kCopy:
    case Op::kRename:
    case Op::kMakeDir: result = failed ? 12 : 0; break;
    case Op::kUnlink:
    case Op::kRemoveDir: result = failed ? kResultFailed : 0; break;
    case Op::kNotExisting: result = kResultMissing; break;
    case Op::kIgnore: result = kResultIgnored; break;
  }
  const bool show = result == 12 || (opts & (kVerbose | kDryRun)) || (result != 0 && !(opts & kSilent));
  if (show) {
    switch (op) {
      case Op::kCopy: trace(1, "  COPY: ", path, target); break;
      case Op::kRename: trace(1, "RENAME: ", path, target); break;
      case Op::kUnlink: trace(1, "UNLINK: ", path, nullptr); break;
      case Op::kMakeDir: trace(1, " MKDIR: ", path, nullptr); break;
      case Op::kRemoveDir: trace(1, " RMDIR: ", path, nullptr); break;
      case Op::kNotExisting: trace(2, "NEXIST: ", path, nullptr); break;
      case Op::kIgnore: trace(2, "IGNORE: ", path, nullptr); break;
    }
    if (failed) sys_write(2, "FAILED!\r\n", 9);
  }
  if (result == 12) fatal_error(VEK_ERR(kErrSystem));
  context.status |= result;
  return result;
}

void walk(WalkPath& path, int length, const Actions& actions) {
  const bool named = length == context.source_length;
  if (length + kNameRoom >= kWalkSize) fatal_error(VEK_ERR(kErrLimit), "list_rf(Pfadname)");
  DirGuard dir(plat::dir_open(path.data()));
  if (dir.get() < 0) fatal_error(VEK_ERR(kErrSystem), "list_rf()");
  check_signal();

  if (actions.pre) {
    make_target_dir(path.data());
    if (named && !exists(context.target_dir)) status_of(context.target_base, context.target_dir);
  }

  plat::DirEntry e;
  while (plat::dir_next(dir.get(), e)) {
    const char* name = e.name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    int sub = 0;
    if (!append_name(path, length, name, &sub)) fatal_error(VEK_ERR(kErrLimit), "list_rf(Pfadname)");

    FileStatus st;
    if (context.mode == Mode::kRemove) {
      // Links are removed themselves, never followed.
      if (e.kind == FileKind::kUnknown) {
        plat::file_status(path.data(), false, st);
      } else {
        st.kind = e.kind;
      }
      if (is_dir(st) && actions.recurse) {
        walk(path, sub, actions);
      } else if (!is_dir(st) && actions.entries) {
        if (!exists(st)) run_op(Op::kNotExisting, path.data());
        else run_op(Op::kUnlink, path.data());
      }
    } else {
      bool known = plat::file_status(path.data(), false, st);
      const bool link = known && st.kind == FileKind::kLink;
      if (link) {
        // A link is copied as what it names, but never walked into.
        FileStatus target;
        if (plat::file_status(path.data(), true, target)) st = target;
        else st.kind = FileKind::kOther;
      }
      if (!known) {
        if (actions.entries) run_op(Op::kNotExisting, path.data());
      } else if (is_dir(st) && !link) {
        if (actions.recurse && !is_target_dir(path.data(), &st)) walk(path, sub, actions);
      } else if (is_dir(st)) {
        if (actions.recurse) run_op(Op::kIgnore, path.data());
      } else if (actions.entries) {
        copy_or_move_entry(path.data(), st);
      }
    }
    path[static_cast<std::size_t>(length)] = 0;
  }

  if (actions.post) {
    bool keep = false;
    if (named && context.mode == Mode::kRemove) keep = (context.options & kClean) != 0;
    if (named && context.mode == Mode::kMove) keep = (context.options & kTargetInSource) != 0;
    if (!keep) run_op(Op::kRemoveDir, path.data());
  }
}

}  // namespace vek::fileops
