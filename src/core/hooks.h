// The places where constructs of later layers plug into the scanner and
// the command-list loops: compound commands, redirections, pipelines,
// substitutions, groups, arithmetic, labels and function definitions.
#pragma once

#include <cstdint>

#include "proc/process.h"
#include "proc/search.h"

namespace vek {

struct WordScan;

// Compound starter (class 2) called as soon as its word is read; its
// commands use the argument area from slot idx and byte pos on, and the
// terminator of the command it stands in (the end of a substitution).
int run_compound(int index, int idx, int pos, int terminator);
// Loop or case header (class 3) called when the header line ends.
int run_header(int index, int end, int start, int pos, int terminator);

// Applies one redirection text (operator and target); a temporary one
// counts for the command being read.
void apply_redirection(char* text, bool temporary);
// Undoes the redirections of the command that just ran.
void undo_redirections();
// The command had no command words: its redirections stay in force.
void keep_redirections();

// Receives the output of a command substitution for the word being
// scanned.
class SubstitutionOutput {
 public:
  virtual void append(const char* text, int n) = 0;

 protected:
  ~SubstitutionOutput() = default;
};

// $(...) or `...`: runs the command lists up to the closing character and
// hands their output to `out`.  The nested commands use the argument
// area from slot `start` and byte `pos` on.
void command_substitution_run(int closing, SubstitutionOutput& out, int start, int pos);

// Output base of integer variables that have none of their own.
extern int default_output_base;
// ((...)) and $((...)): evaluates the expression that follows in the
// input, up to and including its closing "))".  Returns false when an
// error that continued abandoned it; otherwise the value and the output
// base the expression selected (0: none).
bool arithmetic_evaluate(std::int32_t& value, int& base);

// name: at the start of a command (not while skipping the result is the
// same: the label is recorded).
void define_label(const char* name);
// name() followed by the body.
void define_function(const char* name);

}  // namespace vek
