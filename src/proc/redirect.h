// Redirections of the descriptors 0 to 9: one stack for the user's
// redirections and one for the pipeline stages, each entry the target
// descriptor and a saved duplicate of what it referred to before, so that
// every change is undone exactly, newest first.
#pragma once

#include <cstdint>

namespace vek {

// The here-document the scanner collected for the command being read:
// its body lies at the end of the substitution file.  The redirection
// that reads it takes this record over.
struct HeredocState {
  bool pending = false;
  std::int64_t start = 0;     // body start: the file's length before it
  std::int64_t length = 0;    // body length
  std::int64_t position = 0;  // the substitution file's position before it
};
extern HeredocState heredoc;

// Entries of each stack; a thirteenth push is error 15.
inline constexpr int kRedirectionLimit = 12;

// Applies one redirection text (modifier letters, an optional target
// digit, the operator and its target).  Returns how many entries it
// pushed (0 or 1), or minus the number it undid (the `><` forms).
int redirect_text(char* text);

// Pops and undoes the n most recent entries of the redirection stack.
void undo_last_redirections(int n);

// Number of entries on the redirection stack.
int redirection_depth();

// The n most recent entries belong to a command without command words:
// they stay in force.  A close (`>&-`, `<&-`) among them closes its
// target now and keeps nothing to restore.
void keep_last_redirections(int n);

// Pipeline stages: makes `target` refer to the internal file `source`,
// and restores the most recent such entry.
void push_pipe_redirection(int target, int source);
void pop_pipe_redirection();
int pipe_redirection_depth();

// Whether a here-document redirection among the n most recent entries is
// in force (a command reads at most one).
bool heredoc_among_last(int n);
// Number of here-document redirections in force: while there are any,
// output appended to the substitution file is cut off again after use.
int heredocs_in_force();

// How reset_redirections reports what it undoes.
enum class ResetMode {
  kQuiet,          // exit and `sane q`
  kVerbose,        // `sane`
  kErrorRecovery,  // after an abandoned command
};

// Undoes every entry of both stacks, rewinds the pipe files and finishes a
// collected here-document.
void reset_redirections(ResetMode mode);

}  // namespace vek
