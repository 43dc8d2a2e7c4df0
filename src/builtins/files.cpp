// File management: remove, mkdirs, copy and move, on the operation
// executor and the directory walker of fileops.
#include "builtins/builtins.h"
#include "builtins/fileops.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

using namespace fileops;
using plat::FileKind;
using plat::FileStatus;

namespace {

// The letters s, v and V come first in every letter set.
unsigned common_options(unsigned bits) {
  unsigned o = 0;
  if (bits & 0x1) o |= kSilent;
  if (bits & 0x2) o |= kVerbose;
  if (bits & 0x4) o |= kDryRun;
  return o;
}

[[noreturn]] void refuse(const char* text) { fatal_error(VEK_ERR(kErrArguments), text); }

bool is_dot_name(const char* n) { return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)); }

// What move and copy know about their target.
struct Target {
  bool exists = false;
  bool is_dir = false;
  bool device_known = false;  // for a missing target: its parent's
  std::uint64_t device = 0;
};

Target read_target(const char* path) {
  Target t;
  FileStatus st;
  if (status_of(path, st)) {
    t.exists = true;
    t.is_dir = is_dir(st);
    t.device_known = true;
    t.device = st.device;
    return t;
  }
  FullPath parent;
  parent_of(path, parent);
  if (parent[0] != 0 && status_of(parent.data(), st)) {
    t.device_known = true;
    t.device = st.device;
  }
  return t;
}

// Sets the bits of one source: same drive, target inside the source,
// source inside the target.
void source_bits(const char* source, const FileStatus& st, const Target& t, const char* target) {
  unsigned& o = context.options;
  o &= ~(kSameDrive | kTargetInSource | kSourceInTarget);
  if (t.device_known && st.device == t.device) o |= kSameDrive;
  if (lies_inside(target, source)) o |= kTargetInSource;
  if (lies_inside(source, target)) o |= kSourceInTarget;
}

// target + "\" + name (no separator after a root).
void join(FullPath& out, const char* dir, const char* name) {
  const std::size_t n = str_len(dir);
  const bool root = n > 0 && dir[n - 1] == '\\';
  concat_strings_n(kPathSize, out.data(), {dir, root ? "" : "\\", name});
}

// Runs the walker over the directory source for the target directory.
void walk_source(const char* source, const char* target, const Actions& actions) {
  WalkPath path;
  const int length = concat_strings_n(kWalkSize, path.data(), {source});
  context.source_base = source;
  context.source_length = length;
  context.target_base = target;
  context.target_dir = FileStatus{};
  if (target[0] != 0) status_of(target, context.target_dir);
  walk(path, length, actions);
}

// mkdirs: one path, prefix by prefix.
void make_prefix(const char* path) {
  FileStatus st;
  if (status_of(path, st)) {
    if (!is_dir(st)) fatal_error(VEK_ERR(kErrArguments), path);
    return;
  }
  run_op(Op::kMakeDir, path);
}

}  // namespace

int bi_remove(int argc, char** argv) {
  int first = 1;
  const unsigned bits = option_word(argc, argv, "svVRc", 3, false, &first);
  unsigned opts = common_options(bits);
  if (bits & 0x08) opts |= kRecursive;
  if (bits & 0x10) opts |= kClean;
  begin(opts, Mode::kRemove);
  for (int i = first; i < argc; ++i) {
    char* arg = argv[i];
    path_normalize(arg);
    if (arg[0] == 0) {
      run_op(Op::kIgnore, arg);
      continue;
    }
    // A symbolic link is removed itself, whatever it names.
    FileStatus st;
    if (!status_of(arg, st, false)) {
      run_op(Op::kNotExisting, arg);
      continue;
    }
    if (!is_dir(st)) {
      run_op(Op::kUnlink, arg);
      continue;
    }
    // Refused: the current directory, its parent and the root, also when
    // spelt otherwise ("d\..", "\.").
    const bool drive = arg[1] == ':' && (arg[2] == 0 || (arg[2] == '\\' && arg[3] == 0));
    FileStatus root;
    const bool is_root = (arg[0] == '\\' && arg[1] == 0) || drive || (status_of("\\", root) && same_file(st, root));
    if (is_root || is_dot_name(last_name(arg))) fatal_error(VEK_ERR(kErrArguments), arg);
    if (opts & (kRecursive | kClean)) {
      Actions a;
      a.entries = true;
      a.recurse = a.post = (opts & kRecursive) != 0;
      walk_source(arg, "", a);
    } else {
      run_op(Op::kRemoveDir, arg);
    }
  }
  return context.status;
}

int bi_mkdirs(int argc, char** argv) {
  int first = 1;
  const unsigned bits = option_word(argc, argv, "svV", 1, false, &first);
  begin(common_options(bits), Mode::kCopy);
  for (int i = first; i < argc; ++i) {
    char* arg = argv[i];
    path_normalize(arg);
    if (arg[0] == 0) {
      run_op(Op::kIgnore, arg);
      continue;
    }
    // A network path begins with its server and share, which are not made.
    int from = 1;
    if (arg[0] == '\\' && arg[1] == '\\') {
      int seps = 0;
      while (arg[from] && seps < 3) seps += arg[from++] == '\\' ? 1 : 0;
    }
    for (int k = from; arg[k]; ++k) {
      if (arg[k] != '\\') continue;
      arg[k] = 0;
      make_prefix(arg);
      arg[k] = '\\';
    }
    make_prefix(arg);
  }
  return context.status;
}

int bi_copy(int argc, char** argv) {
  int first = 1;
  const unsigned bits = option_word(argc, argv, "svVRmo", 4, false, &first);
  unsigned opts = common_options(bits);
  if (bits & 0x08) opts |= kRecursive;
  if (bits & 0x10) opts |= kTimes;
  begin(opts, Mode::kCopy);
  const int sources = argc - first - 1;
  if (sources < 1) refuse("copy ...");
  FullPath target;
  full_path(argv[argc - 1], target);
  Target t = read_target(target.data());
  if (sources > 1 && t.exists && !t.is_dir) refuse("copy ...");

  for (int i = first; i < argc - 1; ++i) {
    FullPath source;
    full_path(argv[i], source);
    FileStatus st;
    if (!status_of(source.data(), st)) {
      run_op(Op::kNotExisting, source.data());
      continue;
    }
    source_bits(source.data(), st, t, target.data());
    const bool same_drive = (context.options & kSameDrive) != 0;
    if (!t.exists && (is_dir(st) || sources > 1)) {
      run_op(Op::kMakeDir, target.data());
      t.exists = t.is_dir = true;
    }
    if (is_dir(st)) {
      if (t.exists && !t.is_dir) refuse("copy ...");
      if (same_drive && str_compare(source.data(), target.data()) == 0) {
        run_op(Op::kIgnore, source.data());
        continue;
      }
      Actions a;
      a.entries = true;
      a.pre = a.recurse = (opts & kRecursive) != 0;
      walk_source(source.data(), target.data(), a);
    } else if (is_regular(st)) {
      FullPath dest = target;
      if (t.exists && t.is_dir) {
        const char* name = last_name(source.data());
        if (name[0] == 0) refuse("copy ...");
        join(dest, target.data(), name);
        FileStatus dst;
        if (status_of(dest.data(), dst) && is_dir(dst)) refuse("copy ...");
      }
      if (same_drive && str_compare(source.data(), dest.data()) == 0) {
        run_op(Op::kIgnore, source.data());
        continue;
      }
      run_op(Op::kCopy, source.data(), dest.data(), &st);
    } else {
      run_op(Op::kIgnore, source.data());
    }
  }
  return context.status;
}

int bi_move(int argc, char** argv) {
  int first = 1;
  const unsigned bits = option_word(argc, argv, "svVc", 2, false, &first);
  // A move that has to copy always keeps the times.
  unsigned opts = common_options(bits) | kTimes;
  const bool clean = (bits & 0x08) != 0;
  if (clean) opts |= kClean;
  begin(opts, Mode::kMove);
  const int sources = argc - first - 1;
  if (sources < 1) refuse("move ...");
  FullPath target;
  full_path(argv[argc - 1], target);
  const Target t = read_target(target.data());
  if ((sources > 1 || clean) && !(t.exists && t.is_dir)) refuse("move ...");

  for (int i = first; i < argc - 1; ++i) {
    FullPath source;
    full_path(argv[i], source);
    // A symbolic link is moved itself when a rename does it, and copied
    // as the file it names otherwise; it is never walked into.
    FileStatus own;
    if (!status_of(source.data(), own, false)) {
      run_op(Op::kNotExisting, source.data());
      continue;
    }
    FileStatus st = own;
    const bool link = own.kind == FileKind::kLink;
    if (link && !status_of(source.data(), st)) st.kind = FileKind::kOther;
    const bool source_dir = is_dir(st) && !link;

    FullPath dest = target;
    if (t.exists && t.is_dir && !clean) {
      if (!(source_dir && lies_inside(source.data(), target.data()))) {
        const char* name = last_name(source.data());
        if (name[0] == 0 || is_dot_name(name)) refuse("move ...");
        join(dest, target.data(), name);
      }
      FileStatus dst;
      if (status_of(dest.data(), dst) && is_dir(dst) != source_dir) refuse("move ...");
    }
    source_bits(source.data(), own, t, dest.data());
    const bool same_drive = (context.options & kSameDrive) != 0;
    if (same_drive && str_compare(source.data(), dest.data()) == 0) {
      run_op(Op::kIgnore, source.data());
      continue;
    }
    if (!source_dir && same_drive && (context.options & kTargetInSource)) refuse("move ...");

    FileStatus dst;
    const bool dest_exists = status_of(dest.data(), dst, false);
    FullPath source_parent, dest_parent;
    parent_of(source.data(), source_parent);
    parent_of(dest.data(), dest_parent);
    if (same_drive && !dest_exists && !clean &&
        (!source_dir || str_compare(source_parent.data(), dest_parent.data()) == 0)) {
      run_op(Op::kRename, source.data(), dest.data());
    } else if (source_dir) {
      if (!dest_exists) run_op(Op::kMakeDir, dest.data());
      Actions a;
      a.entries = true;
      a.pre = a.recurse = a.post = !clean;
      walk_source(source.data(), dest.data(), a);
    } else if (is_regular(st)) {
      // The source goes only after its copy was written completely.
      if (run_op(Op::kCopy, source.data(), dest.data(), &st) == 0) run_op(Op::kUnlink, source.data());
    } else {
      run_op(Op::kIgnore, source.data());
    }
  }
  return context.status;
}

}  // namespace vek
