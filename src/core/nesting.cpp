#include "core/nesting.h"

#include "support/errors.h"

namespace vek {

int nesting_depth = 0;

NestingGuard::NestingGuard() {
  if (nesting_depth >= kMaxNesting) fatal_error(VEK_ERR(kErrStack));
  ++nesting_depth;
}

}  // namespace vek
