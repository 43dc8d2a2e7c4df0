// list: the names in directories and directory trees, filtered by type,
// with their paths, counted, or only the empty directories.
#include <array>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/fileops.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

using fileops::WalkPath;
using fileops::kWalkSize;
using plat::FileKind;

namespace {

// Letters in the order of their bits.
constexpr const char* kLetters = "fdoRpFce0";
enum : unsigned {
  kFiles = 0x001,
  kDirs = 0x002,
  kOthers = 0x004,
  kRecurse = 0x008,
  kPaths = 0x010,
  kSelf = 0x020,
  kCount = 0x040,
  kEmpty = 0x080,
  kNul = 0x100,
};

// Output gathered in one block and written when full, before any
// message and at the end: a tree of many names costs few writes.
struct Output {
  std::array<char, 32768> buf;
  std::size_t len = 0;

  void flush() {
    if (len != 0) sys_write(1, buf.data(), static_cast<long>(len));
    len = 0;
  }
  void put(std::string_view s) {
    while (!s.empty()) {
      if (len == buf.size()) flush();
      std::size_t n = buf.size() - len;
      if (n > s.size()) n = s.size();
      for (std::size_t i = 0; i < n; ++i) buf[len + i] = s[i];
      len += n;
      s.remove_prefix(n);
    }
  }
};

Output out;

struct ListState {
  unsigned flags = 0;
  std::uint32_t count = 0;
  std::string_view end_of_entry = "\r\n";
};
ListState state;

[[noreturn]] void fail(int code, const char* object) {
  out.flush();
  fatal_error(code, object);
}

bool filtered() { return (state.flags & (kFiles | kDirs | kOthers)) != 0; }

// The type filter inside directories: f regular files, d directories, o
// character devices.
bool matches(FileKind kind) {
  if (!filtered()) return true;
  return ((state.flags & kFiles) && kind == FileKind::kRegular) ||
         ((state.flags & kDirs) && kind == FileKind::kDirectory) ||
         ((state.flags & kOthers) && kind == FileKind::kCharDevice);
}

void emit(std::string_view path, std::string_view name) {
  ++state.count;
  if (state.flags & kCount) return;
  if (!path.empty()) {
    out.put(path);
    if (!name.empty() && path.back() != '\\') out.put("\\");
  }
  out.put(name);
  out.put(state.end_of_entry);
}

void list_walk(WalkPath& path, int length) {
  if (length + fileops::kNameRoom >= kWalkSize) fail(VEK_ERR(kErrLimit), "list: Pfadname");
  const int dir = plat::dir_open(path.data());
  if (dir < 0) fail(VEK_ERR(kErrSystem), "list: opendir()");
  struct Closer {
    int h;
    ~Closer() { plat::dir_close(h); }
  } closer{dir};
  if (plat::pending_signal() != 0) {
    out.flush();
    check_signal();
  }
  const std::string_view here(path.data(), static_cast<std::size_t>(length));
  const unsigned f = state.flags;
  if ((f & kRecurse) && (f & kDirs) && !(f & kEmpty) && length > 0) emit(here, "");

  const bool with_path = (f & (kPaths | kRecurse)) != 0;
  int entries = 0;
  plat::DirEntry e;
  while (plat::dir_next(dir, e)) {
    const char* name = e.name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    ++entries;
    const bool need_kind = (f & kRecurse) || (filtered() && !(f & kEmpty));
    if (!need_kind && (f & kEmpty)) continue;
    // The entry's path, needed for its status or for walking into it.
    int sub = length;
    if (sub > 0 && path[static_cast<std::size_t>(sub - 1)] != '\\') path[static_cast<std::size_t>(sub++)] = '\\';
    for (const char* p = name; *p; ++p) {
      if (sub + 1 >= kWalkSize) fail(VEK_ERR(kErrLimit), "list: Pfadname");
      path[static_cast<std::size_t>(sub++)] = *p;
    }
    path[static_cast<std::size_t>(sub)] = 0;

    FileKind kind = e.kind;
    if (need_kind && kind == FileKind::kUnknown) {
      plat::FileStatus st;
      plat::file_status(path.data(), false, st);
      kind = st.kind;
    }
    // A directory is walked into only when it is one itself, never
    // through a symbolic link.
    if ((f & kRecurse) && kind == FileKind::kDirectory) {
      list_walk(path, sub);
    } else if (!(f & kEmpty)) {
      if (kind == FileKind::kLink && filtered()) {
        plat::FileStatus st;
        plat::file_status(path.data(), true, st);
        kind = st.kind;
      }
      if (matches(kind)) {
        if (with_path) emit(std::string_view(path.data(), static_cast<std::size_t>(sub)), "");
        else emit("", name);
      }
    }
    path[static_cast<std::size_t>(length)] = 0;
  }
  if ((f & kEmpty) && entries == 0) emit(length > 0 ? here : std::string_view("."), "");
}

}  // namespace

int bi_list(int argc, char** argv) {
  int first = 1;
  state = ListState{};
  out.len = 0;
  state.flags = fileops::option_word(argc, argv, kLetters, 9, true, &first);
  if ((state.flags & kNul) && !sys_isatty(1)) state.end_of_entry = std::string_view("\0", 1);
  int status = 0;
  WalkPath path;
  if (first >= argc) {
    path[0] = 0;
    list_walk(path, 0);
  }
  for (int i = first; i < argc; ++i) {
    const char* arg = argv[i];
    if (str_len(arg) > kWalkSize - 2) fail(VEK_ERR(kErrLimit), "list: Argument");
    concat_strings_n(kWalkSize, path.data(), {arg});
    path_normalize(path.data());
    plat::FileStatus st;
    if (!fileops::status_of(path.data(), st)) {
      status = 1;
      continue;
    }
    if (st.kind == FileKind::kDirectory && !(state.flags & kSelf)) {
      list_walk(path, static_cast<int>(str_len(path.data())));
      continue;
    }
    // At the argument level o means anything but a file or a directory.
    const bool match = !filtered() || ((state.flags & kFiles) && st.kind == FileKind::kRegular) ||
                       ((state.flags & kDirs) && st.kind == FileKind::kDirectory) ||
                       ((state.flags & kOthers) && st.kind != FileKind::kRegular &&
                        st.kind != FileKind::kDirectory);
    if (match) emit("", path.data());
  }
  aux_result = static_cast<int>(state.count);
  if (state.flags & kCount) {
    char num[16];
    const int n = format_unsigned(num, state.count);
    out.put(std::string_view(num, static_cast<std::size_t>(n)));
    out.put((state.flags & kNul) && !sys_isatty(1) ? std::string_view("\0", 1) : std::string_view("\r\n"));
  }
  out.flush();
  return status;
}

}  // namespace vek
