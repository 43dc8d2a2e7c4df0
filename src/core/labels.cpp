// Labels and goto.  Each source has a table of 8 labels (name and the
// input position after it).  goto to a known label moves the reader there
// and restarts the source's command loop; goto to an unknown one reads
// everything up to the label's definition without running it.
#include <cstring>

#include "core/control.h"
#include "core/hooks.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

bool label_name_ok(const char* name) { return name_check(name) && str_len(name) <= kLabelNameMax; }

bool same_name(const std::array<char, kLabelNameMax + 1>& stored, const char* name) {
  return std::strcmp(stored.data(), name) == 0;
}

Label* find_label(const char* name) {
  for (Label& l : input.labels)
    if (l.position != 0 && same_name(l.name, name)) return &l;
  return nullptr;
}

}  // namespace

void define_label(const char* name) {
  if (!label_name_ok(name)) fatal_error(VEK_ERR(kErrLabel), name);
  // A construct read ahead to find its end records its labels when it
  // runs: a goto inside it to a label further on still searches forward.
  if (skip_flags & kSkipPreread) return;
  const std::int64_t here = input_position(0, true);
  if (Label* known = find_label(name)) {
    // Read again (a loop, a goto back): the same place is no new label.
    if (known->position != here + 1) fatal_error(VEK_ERR(kErrLabel), name);
  } else {
    Label* free_entry = nullptr;
    for (Label& l : input.labels) {
      if (l.position == 0) {
        free_entry = &l;
        break;
      }
    }
    if (free_entry == nullptr) fatal_error(VEK_ERR(kErrLabel), name);
    copy_truncated(free_entry->name, name);
    free_entry->position = here + 1;
    // A pipe cannot seek: from the first label on its text is kept, so
    // that a goto can go back.  The console keeps no label text.
    if (!input_seekable() && !(input.mode & kModeConsole) && (input.label_hold < 0 || here < input.label_hold))
      input.label_hold = here;
  }
  if (input.pending_label[0] != 0 && same_name(input.pending_label, name)) {
    input.pending_label[0] = 0;
    skip_flags &= ~kSkipLabel;
  }
}

void goto_label(const char* name) {
  if (!label_name_ok(name)) fatal_error(VEK_ERR(kErrLabel), name);
  if (const Label* known = find_label(name)) {
    if (input_position(known->position - 1, false) < 0) fatal_error(VEK_ERR(kErrLabel), name);
    throw GotoRestart{};
  }
  copy_truncated(input.pending_label, name);
  skip_flags |= kSkipLabel;
}

}  // namespace vek
