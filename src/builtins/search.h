// The parts of grep and expr that work without the command line: the
// operator word and the substitution of expr, the option words, the line
// pieces and the literal search of grep.  The handlers (bi_grep, bi_expr)
// are declared in builtins.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pattern/regex.h"

namespace vek {

// ---------------------------------------------------------------- expr

// The operator word: ":" (to descriptor 1), "::" (exit status only) or
// ":name" (into the variable), each optionally after "=" (ignore case).
struct ExprOperator {
  enum class Target { kOutput, kNowhere, kVariable };
  Target target = Target::kOutput;
  bool fold = false;
  const char* name = nullptr;  // kVariable: the variable's name
};
// False for a malformed word or an invalid variable name.
bool parse_expr_operator(const char* word, ExprOperator& op);

// Outcome of a substitution.
enum class SubstStatus { kOk, kOverflow, kBadGroup };

// What a substitution works on.  `subject` is the text whose bytes go into
// the result; `text` is what the engine matches (the subject itself, or
// its upper-cased copy), of the same length.  The engine holds the first
// match in `text` when expr_substitute is called.
struct SubstJob {
  std::string_view subject;
  std::string_view text;
  const char* replacement = "";
  bool global = false;   // "+" in the flags word: every match
  bool literal = false;  // "=" in the flags word: no "&", no escapes
  unsigned char esc = '%';
};

// Builds the subject with the match (or, global, every match) replaced
// into out[0 .. capacity): the result and a NUL, its length in *length.
// kOverflow when the result and its NUL do not fit; kBadGroup when the
// replacement names a group beyond the pattern's groups.  Leaves the
// engine's back-off limit cleared.
SubstStatus expr_substitute(Regex& rx, const SubstJob& job, char* out, std::size_t capacity,
                            std::size_t* length);

// ---------------------------------------------------------------- grep

}  // namespace vek
