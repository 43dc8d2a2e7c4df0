// Constructs that plug into the scanner and the command-list loops.  The
// command substitution is complete here.  Compound commands, labels and
// function definitions live in core/control.cpp, core/labels.cpp and
// core/functions.cpp; redirections, pipelines, groups, the command search
// and external programs in proc/.
#include "core/hooks.h"

#include <array>

#include "core/commands.h"
#include "core/lists.h"
#include "core/nesting.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"

namespace vek {

namespace {

// Depth of running command substitutions: only the outermost one moves
// standard output onto the substitution file.
int substitution_depth = 0;

}  // namespace

void command_substitution_run(int closing, SubstitutionOutput& out, int start, int pos) {
  NestingGuard level;
  bool strip = false;
  int c = next_char();
  if (c == '-') strip = true;
  else push_back();

  const bool run = skip_flags == 0;
  std::int64_t mark = 0;
  int saved_stdout = -1;
  int saved_console = -1;
  const bool outermost = run && substitution_depth == 0;
  const HeredocState saved_heredoc = heredoc;
  if (run) {
    mark = sys_lseek(subst_fd, 0, plat::kSeekCur);
    if (outermost) {
      saved_stdout = plat::dup_high(1);
      saved_console = console_known(1);
      sys_dup2(subst_fd, 1);
      set_console_known(1, 0);
      heredoc.pending = true;  // no here-document inside the substitution
    }
  }
  // The commands inside count their own redirections.
  const int saved_count = input.redirection_count;
  input.redirection_count = 0;
  struct Restore {
    int saved;
    int console;
    bool outermost;
    const HeredocState& hd;
    int count;
    ~Restore() {
      if (outermost) {
        // Standard output goes back to what it was, closed included.
        if (saved >= 0) {
          plat::dup2(saved, 1);
          plat::close(saved);
          set_console_known(1, console);
        } else {
          plat::close(1);
          descriptor_changed(1);
        }
      }
      if (outermost) heredoc = hd;
      input.redirection_count = count;
      --substitution_depth;
    }
  } restore{saved_stdout, saved_console, outermost, saved_heredoc, saved_count};
  ++substitution_depth;

  // The nested lists use the argument area beyond the word being built.
  CommandRecord cmd{start, pos, closing};
  int r;
  do {
    r = run_list(cmd);
  } while (r == '\r' || r == '\n' || r == ';');
  if (r != closing) fatal_error(VEK_ERR(kErrSyntax), closing == ')' ? "$(...)" : "`...`");
  if (!run) return;

  std::int64_t length = sys_lseek(subst_fd, 0, plat::kSeekCur) - mark;
  if (length < 0) length = 0;
  std::array<char, 4096> chunk;
  if (strip) {
    // Drop the trailing CR and LF bytes: find the last other byte.
    std::int64_t keep = length;
    while (keep > 0) {
      long n = keep > static_cast<std::int64_t>(chunk.size()) ? static_cast<long>(chunk.size()) : static_cast<long>(keep);
      sys_lseek(subst_fd, mark + keep - n, plat::kSeekSet);
      if (sys_read(subst_fd, chunk.data(), n) != n) fatal_error(VEK_ERR(kErrSystem), "read()!=soll: `...` $(...) ");
      long i = n;
      while (i > 0 && (chunk[static_cast<std::size_t>(i - 1)] == '\r' || chunk[static_cast<std::size_t>(i - 1)] == '\n')) --i;
      keep -= n - i;
      if (i > 0) break;
    }
    length = keep;
  }
  sys_lseek(subst_fd, mark, plat::kSeekSet);
  while (length > 0) {
    long want = length > static_cast<std::int64_t>(chunk.size()) ? static_cast<long>(chunk.size()) : static_cast<long>(length);
    if (sys_read(subst_fd, chunk.data(), want) != want) fatal_error(VEK_ERR(kErrSystem), "read()!=soll: `...` $(...) ");
    out.append(chunk.data(), static_cast<int>(want));
    length -= want;
  }
  sys_lseek(subst_fd, mark, plat::kSeekSet);
  // A here-document in force is read up to the end of the file: nothing
  // may stay behind its body.
  if (heredocs_in_force() > 0) sys_ftruncate(subst_fd, mark);
}

}  // namespace vek
