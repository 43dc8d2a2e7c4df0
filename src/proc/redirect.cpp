// Redirections: parsing a redirection text, the two stacks of saved
// descriptors, here-documents, and the reset after an abandoned command.
#include "proc/redirect.h"

#include <array>

#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/pipes.h"
#include "proc/search.h"
#include "proc/tempfiles.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

HeredocState heredoc;

namespace {

enum class EntryKind : unsigned char {
  kPlain,
  kHeredoc,        // finishes its here-document when undone
  kCloseWhenKept,  // `>&-`: closes its target if it stays in force
};

struct Entry {
  int target = -1;
  int saved = -1;  // duplicate of what target referred to, -1: was closed
  EntryKind kind = EntryKind::kPlain;
  signed char console = -1;  // whether target was a console, as far as known
};

struct Stack {
  std::array<Entry, kRedirectionLimit> entries;
  int count = 0;
};

Stack user_stack;
Stack pipe_stack;

// The here-document each heredoc entry of the user stack reads, with the
// read position of the shared read descriptor before it.
struct HeredocEntry {
  HeredocState state;
  std::int64_t read_position = 0;
};
std::array<HeredocEntry, kRedirectionLimit> heredoc_entries;
int live_heredocs = 0;

// Modifier letters of one redirection text.
constexpr unsigned kModText = 1;
constexpr unsigned kModExclusive = 2;
constexpr unsigned kModOther = 4;  // b s B C N: accepted, no effect

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit_char(char c) { return c >= '0' && c <= '9'; }

// Saves the target and records the entry.
Entry& push_entry(Stack& st, int target, EntryKind kind, const char* limit_object) {
  if (st.count >= kRedirectionLimit) fatal_error(VEK_ERR(kErrRedirection), limit_object);
  Entry& e = st.entries[static_cast<std::size_t>(st.count)];
  e.target = target;
  e.saved = plat::dup_high(target);
  e.kind = kind;
  e.console = static_cast<signed char>(console_known(target));
  ++st.count;
  return e;
}

// Cuts the substitution file back to where it was before the body and
// puts both descriptors' positions back.
void finish_heredoc(const HeredocState& hd, std::int64_t read_position) {
  if (skip_flags & kSkipNoExec) return;
  if (subst_fd < 0) return;
  plat::ftruncate(subst_fd, hd.start);
  plat::lseek(subst_fd, hd.position, plat::kSeekSet);
  if (subst_read_fd >= 0) plat::lseek(subst_read_fd, read_position, plat::kSeekSet);
}

// Undoes the top entry of a stack.  Quiet mode never reports (reset after
// an abandoned command); otherwise a failing restore is error 16.
void pop_entry(Stack& st, bool quiet) {
  Entry& e = st.entries[static_cast<std::size_t>(--st.count)];
  if (e.saved < 0) {
    plat::close(e.target);
  } else {
    int r = plat::dup2(e.saved, e.target);
    plat::close(e.saved);
    if (r < 0 && !quiet) {
      descriptor_changed(e.target);
      fatal_error(VEK_ERR(kErrSystem), "dup2()");
    }
  }
  // The target is what it was before: so is the answer to "console?".
  set_console_known(e.target, e.saved < 0 ? -1 : e.console);
  if (&st == &user_stack && e.kind == EntryKind::kHeredoc) {
    const HeredocEntry& h = heredoc_entries[static_cast<std::size_t>(st.count)];
    --live_heredocs;
    finish_heredoc(h.state, h.read_position);
  }
  e = Entry{};
}

// Makes `target` refer to `source` (an open descriptor).  A source that
// is the target itself (it was closed and the open returned it) needs
// nothing more.
void connect(int source, int target, bool opened) {
  if (source == target) return;
  sys_dup2(source, target);
  if (opened) sys_close(source);
}

// The clobber test of ">": never onto a directory, and under option N
// not onto a non-empty regular file.
void clobber_test(char* name) {
  path_normalize(name);
  plat::FileInfo info;
  int bits = file_test(0, name, &info);
  if ((bits & kFileDirectory) || (opt('N') && (bits & kFileRegular) && (bits & kFileNonEmpty)))
    fatal_error(VEK_ERR(kErrFileExists), name);
}

int open_flags(char op, char second, unsigned mods) {
  int flags = (mods & kModText) ? plat::kText : plat::kBinary;
  if (op == '<' && second == '>') return flags | plat::kReadWrite | plat::kCreate;
  if (op == '<' && second != '|') return flags | plat::kRead;
  flags |= plat::kWrite | plat::kCreate;
  if (mods & kModExclusive) flags |= plat::kExclusive;
  if (op == '>' && second == '>') return flags | plat::kAppend;
  return flags | plat::kTruncate;
}

void apply_heredoc(int target) {
  if (!heredoc.pending) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
  Entry& e = push_entry(user_stack, target, EntryKind::kHeredoc, "Uml()");
  HeredocEntry& h = heredoc_entries[static_cast<std::size_t>(user_stack.count - 1)];
  h.state = heredoc;
  h.read_position = plat::lseek(subst_read_fd, 0, plat::kSeekCur);
  heredoc = HeredocState{};
  ++live_heredocs;
  // The command reads the body through the read-only descriptor, whose
  // position is its own: output that nested commands add to the
  // substitution file meanwhile does not move it.
  sys_lseek(subst_read_fd, h.state.start, plat::kSeekSet);
  connect(subst_read_fd, e.target, false);
}

}  // namespace

int redirect_text(char* text) {
  char* p = text;
  unsigned mods = 0;
  for (; is_letter(*p); ++p) {
    if (*p == 't') mods |= kModText;
    else if (*p == 'e') mods |= kModExclusive;
    else mods |= kModOther;
  }
  int target = -1;
  if (is_digit_char(*p)) target = *p++ - '0';
  const char op = *p;
  if (op != '<' && op != '>') fatal_error(VEK_ERR(kErrSyntax), "Umlenkung ><");
  if (target < 0) target = op == '<' ? 0 : 1;
  const char second = p[1];
  char* name = p + 1;

  if (second == '&') {
    const char d = p[2];
    if (d == 't' || d == 'c') return 0;  // &t0 &t1 &c0 &c1: accepted, nothing to do
    if (d == '-') {
      // Temporary: the target refers to NUL for the command.  A command
      // without words keeps it, which closes the target instead.
      std::array<char, 4> nul{'N', 'U', 'L', 0};
      Entry& e = push_entry(user_stack, target, EntryKind::kCloseWhenKept, "Uml()");
      int s = sys_open(nul.data(), op == '>' ? plat::kWrite | plat::kCreate | plat::kTruncate | plat::kBinary
                                             : plat::kRead | plat::kBinary);
      connect(s, e.target, true);
      return 1;
    }
    if (!is_digit_char(d) || p[3] != 0) fatal_error(VEK_ERR(kErrSyntax), "Nicht-Digit nach ><&");
    Entry& e = push_entry(user_stack, target, EntryKind::kPlain, "Uml()");
    connect(d - '0', e.target, false);
    return 1;
  }
  if (op == '>' && second == '<') {
    int n = 0;
    const char* q = p + 1;
    while (*q == '<') {
      ++n;
      ++q;
    }
    if (*q != 0) fatal_error(VEK_ERR(kErrSyntax), "Umlenkung ><");
    undo_last_redirections(n);
    return -n;
  }
  if (op == '<' && second == '<') {
    apply_heredoc(target);
    return 1;
  }
  if (second == '>' || second == '|' || (op == '<' && second == '>')) ++name;
  if (*name == 0) fatal_error(VEK_ERR(kErrSyntax), "Umlenkung ><");
  if (op == '>' && second != '>' && second != '|') clobber_test(name);
  Entry& e = push_entry(user_stack, target, EntryKind::kPlain, "Uml()");
  const int s = sys_open(name, open_flags(op, second, mods));
  // An exclusive open that failed is quiet; the duplicate step reports it.
  if (s < 0) fatal_error(VEK_ERR(kErrSystem), "dup2()");
  connect(s, e.target, true);
  return 1;
}

void undo_last_redirections(int n) {
  for (int i = 0; i < n; ++i) {
    if (user_stack.count == 0) fatal_error(VEK_ERR(kErrRedirection), "<0");
    pop_entry(user_stack, false);
  }
}

void keep_last_redirections(int n) {
  if (n > user_stack.count) n = user_stack.count;
  const int first = user_stack.count - n;
  int kept = first;
  for (int i = first; i < user_stack.count; ++i) {
    Entry e = user_stack.entries[static_cast<std::size_t>(i)];
    if (e.kind == EntryKind::kCloseWhenKept) {
      // A stand-alone close: nothing is saved, the target is closed now.
      if (e.saved >= 0) plat::close(e.saved);
      plat::close(e.target);
      descriptor_changed(e.target);
      continue;
    }
    heredoc_entries[static_cast<std::size_t>(kept)] = heredoc_entries[static_cast<std::size_t>(i)];
    user_stack.entries[static_cast<std::size_t>(kept++)] = e;
  }
  for (int i = kept; i < user_stack.count; ++i) user_stack.entries[static_cast<std::size_t>(i)] = Entry{};
  user_stack.count = kept;
}

void push_pipe_redirection(int target, int source) {
  Entry& e = push_entry(pipe_stack, target, EntryKind::kPlain, "PUml()");
  connect(source, e.target, false);
  set_console_known(e.target, 0);  // an internal file
}

void pop_pipe_redirection() {
  if (pipe_stack.count == 0) fatal_error(VEK_ERR(kErrRedirection), "Pipe; <0");
  pop_entry(pipe_stack, false);
}

int pipe_redirection_depth() { return pipe_stack.count; }

int redirection_depth() { return user_stack.count; }

bool heredoc_among_last(int n) {
  for (int i = user_stack.count - 1; i >= 0 && n > 0; --i, --n)
    if (user_stack.entries[static_cast<std::size_t>(i)].kind == EntryKind::kHeredoc) return true;
  return false;
}

int heredocs_in_force() { return live_heredocs; }

void reset_redirections(ResetMode mode) {
  const bool verbose = mode == ResetMode::kVerbose;
  const bool any = user_stack.count > 0 || pipe_stack.count > 0;
  for (Stack* st : {&user_stack, &pipe_stack}) {
    while (st->count > 0) {
      const Entry e = st->entries[static_cast<std::size_t>(st->count - 1)];
      pop_entry(*st, true);
      if (verbose) format_out(1, "connect(%d,%d) close(%d)\r\n", e.saved, e.target, e.saved);
    }
  }
  if (mode == ResetMode::kErrorRecovery && any) sys_write_message(2, "vek: Umlenkungsr\x81" "ckf\x81hrung!\r\n");
  live_heredocs = 0;
  pipe_files_reset();
  if (verbose) {
    format_out(1, "temp(%d,%d,%d,%d,%d)\r\n", subst_fd, func_read_fd, func_write_fd, pipe_a_fd, pipe_b_fd);
    int closed_run = 0;
    for (int fd = 0; fd < 60 && closed_run <= 20; ++fd) {
      unsigned st_mode = 0;
      std::int64_t size = 0;
      if (!plat::descriptor_status(fd, st_mode, size)) {
        ++closed_run;
        continue;
      }
      closed_run = 0;
      // The mode in octal, padded with zeros to six digits.
      std::array<char, 16> octal{};
      int n = 0;
      std::array<char, 16> rev{};
      do {
        rev[static_cast<std::size_t>(n++)] = static_cast<char>('0' + (st_mode & 7));
        st_mode >>= 3;
      } while (st_mode != 0 && n < 15);
      for (int i = 0; i < n; ++i) octal[static_cast<std::size_t>(i)] = rev[static_cast<std::size_t>(n - 1 - i)];
      const char* zeros = "000000";
      const char* pad = n < 6 ? zeros + n : zeros + 6;
      format_out(1, "%u : %s%s : %ld\r\n", fd, pad, octal.data(), static_cast<std::int32_t>(size));
    }
  }
  if (heredoc.pending) {
    heredoc.pending = false;
    finish_heredoc(heredoc, subst_read_fd >= 0 ? plat::lseek(subst_read_fd, 0, plat::kSeekCur) : 0);
  }
  heredoc = HeredocState{};
}

}  // namespace vek
