// Constructs that plug into the scanner and the command-list loops.  The
// command substitution is complete here; compound commands, redirections,
// pipelines, child groups and function definitions belong to their own
// layers and report "not available" until those are built.
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

int run_compound(int index, int /*idx*/, int /*pos*/) {
  fatal_error(VEK_ERR(kErrUnavailable), command_name(kClassCompound, index));
}

int run_header(int index, int /*end*/, int /*start*/, int /*pos*/) {
  fatal_error(VEK_ERR(kErrUnavailable), command_name(kClassHeader, index));
}

void pipeline_stage_begin(int /*c*/) { fatal_error(VEK_ERR(kErrUnavailable), "|"); }

void undo_redirections() { input.redirection_count = 0; }

void apply_redirection(char* text, bool /*temporary*/) { fatal_error(VEK_ERR(kErrUnavailable), text); }

void run_group(char* /*text*/) {
  fatal_error(VEK_ERR(kErrUnavailable), "( ... )");
}

void define_label(const char* /*name*/) {
  // Labels are recorded by the control layer; without goto a label
  // definition has no effect.
}

void define_function(const char* name) { fatal_error(VEK_ERR(kErrUnavailable), name); }

void command_substitution_run(int closing, SubstitutionOutput& out, int start, int pos) {
  NestingGuard level;
  bool strip = false;
  int c = next_char();
  if (c == '-') strip = true;
  else push_back();

  const bool run = skip_flags == 0;
  std::int64_t mark = 0;
  int saved_stdout = -1;
  const bool outermost = run && substitution_depth == 0;
  const HeredocState saved_heredoc = heredoc;
  if (run) {
    mark = sys_lseek(subst_fd, 0, plat::kSeekCur);
    if (outermost) {
      saved_stdout = sys_dup(1);
      if (saved_stdout >= 0) plat::set_no_inherit(saved_stdout);
      sys_dup2(subst_fd, 1);
      heredoc.pending = true;  // no here-document inside the substitution
    }
  }
  struct Restore {
    int saved;
    bool outermost;
    const HeredocState& hd;
    ~Restore() {
      if (saved >= 0) {
        plat::dup2(saved, 1);
        plat::close(saved);
      } else if (outermost) {
        plat::close(1);  // standard output was closed before
      }
      if (outermost) heredoc = hd;
      --substitution_depth;
    }
  } restore{saved_stdout, outermost, saved_heredoc};
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
}

}  // namespace vek
