// The depth of nested activations that follow the nesting of the input
// text: sources (function calls, `.`, eval, traps, prompts), command
// substitutions, parameter forms inside parameter forms and compound
// commands.  Each level costs stack; past the limit the construct reports
// error 28 instead of running the process out of stack.
#pragma once

namespace vek {

// Deep enough for any real script (a recursive function may call itself
// this many times); small enough that the deepest kind of level stays far
// inside an 8 MiB stack, also in the sanitizer build.
inline constexpr int kMaxNesting = 256;

extern int nesting_depth;

// Holds one level while it lives.
class NestingGuard {
 public:
  NestingGuard();
  ~NestingGuard() { --nesting_depth; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
};

}  // namespace vek
