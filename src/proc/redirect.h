// Redirection state that outlives one command: the here-document the
// scanner collected for the command being read, and the reset after an
// abandoned command.
#pragma once

namespace vek {

// The here-document collected for the command being read: its body lies
// in the substitution file.
struct HeredocState {
  bool pending = false;
  long long start = 0;   // position in the substitution file
  long long length = 0;
};
extern HeredocState heredoc;

// How reset_redirections reports what it undoes.
enum class ResetMode {
  kQuiet,          // exit and `sane q`
  kVerbose,        // `sane`
  kErrorRecovery,  // after an abandoned command
};

// Undoes redirections and resets the pipe files after an abandoned
// command.
void reset_redirections(ResetMode mode);

}  // namespace vek
