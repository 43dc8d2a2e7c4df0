#include "proc/redirect.h"

namespace vek {

HeredocState heredoc;

void reset_redirections(ResetMode /*mode*/) {
  // Redirections and pipelines arrive with the redirection layer; until
  // then only a collected here-document is dropped.
  heredoc = HeredocState{};
}

}  // namespace vek
