// Fuzz target: the interpreter on arbitrary script text, in-process.
//
// Each input (up to its first NUL byte) runs as the command text of
// "vek -p -c TEXT" through the program's own entry: start-up, the run and
// the exit clean-up, every time from the interpreter's start state.  The
// platform layer of this build keeps every path inside a scratch
// directory made at start (VEK_FUZZ_ROOT, also the current and the
// temporary directory), and starts no other program.  What the
// interpreter writes goes to /dev/null; the sanitizers' reports still
// reach the fuzzer's output.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "session/startup.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char dir[] = "/tmp/vek-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) abort();
  setenv("VEK_FUZZ_ROOT", dir, 1);
  setenv("VEKTEMP", dir, 1);
  setenv("HOME", dir, 1);
  setenv("PATH", dir, 1);
  unsetenv("CDPATH");
  // The interpreter's output is not what is looked at.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Keep runs short: long inputs only repeat what short ones find.
  if (size > 8192) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));
  if (text.empty()) return 0;
  char arg0[] = "vek";
  char arg1[] = "-p";
  char arg2[] = "-c";
  char* argv[] = {arg0, arg1, arg2, text.data(), nullptr};
  vek::vek_main(4, argv);
  // Whatever the run left in the scratch directory stays there; internal
  // files must be gone.
  return 0;
}
