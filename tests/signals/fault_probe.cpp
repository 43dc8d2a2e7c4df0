// A program that faults on purpose, for the test of the platform layer's
// fault handling: it installs the handlers, creates the file named by its
// second argument, registers it for removal, and then faults as its first
// argument says (segv, fpe, abort, throw).
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/platform.h"

namespace {
// Read through volatile, so that the compiler cannot see the null pointer
// and the zero and turn the faults into something else.
int* volatile g_nowhere = nullptr;
volatile int g_zero = 0;
volatile int g_one = 1;
}  // namespace

int main(int argc, char** argv) {
  using namespace vek::plat;
  if (argc != 3) return 64;
  install_signal_handlers();
  const int fd = open(argv[2], kReadWrite | kCreate | kTruncate | kBinary);
  if (fd < 0) return 65;
  delete_on_fault(argv[2]);
  write(fd, "x", 1);
  const char* kind = argv[1];
  if (std::strcmp(kind, "segv") == 0) *g_nowhere = 1;
  if (std::strcmp(kind, "fpe") == 0) return g_one / g_zero;
  if (std::strcmp(kind, "abort") == 0) std::abort();
  if (std::strcmp(kind, "throw") == 0) throw std::runtime_error("not caught");
  return 66;
}
