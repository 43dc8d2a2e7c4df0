// Control structures: the compound commands, labels and goto, function
// definitions and the text that runs from the function file (function
// bodies, traps, eval texts).  The handlers are reached through the hooks
// of core/hooks.h; the builtins that steer them use the calls below.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// break/continue [n] and goend [n]: n must not exceed the loop depth (the
// if/case depth for goend) of the running source.  n below 1 does
// nothing (result 0); otherwise the pending count is stored and the
// control code is the result.
int request_break(int n);
int request_continue(int n);
int request_goend(int n);

// goto label: a known label moves the reader there and restarts the
// source's command loop (GotoRestart); an unknown one starts the forward
// search (everything up to its definition is read without running).
void goto_label(const char* name);

// ---- the function file ------------------------------------------------

// First free function slot, or -1 when all are in use.
int free_function_slot();

// Writes text at the end of the function file.  Bytes are collected in a
// small buffer and written in chunks; nothing is written when disabled.
class BodyWriter {
 public:
  explicit BodyWriter(bool enabled);
  void put(char c);
  void put(const char* s);
  // Drops the last n bytes written so far.
  void drop(std::int64_t n);
  // Replaces the last byte written so far.
  void replace_last(char c);
  // Writes what is left, followed by the end byte 0xFF; returns the
  // whole length including it.
  std::int64_t finish();
  std::int64_t length() const { return length_; }
  std::int64_t offset() const { return offset_; }

 private:
  void flush(std::size_t n);
  bool enabled_;
  std::int64_t offset_;   // where the text begins in the file
  std::int64_t written_;  // bytes already in the file
  std::int64_t length_;   // bytes put so far
  std::array<char, 4096> chunk_{};
  std::size_t used_ = 0;
};

// Records a body written by a BodyWriter in `slot` and raises the end of
// the function file past it; stores the function record `name`.
void store_function(const char* name, int slot, const BodyWriter& body, std::int64_t length);

// Runs text of the function file (offset, length) as a source: function
// name for messages, input mode, the argument area after the caller's
// words.  The read position of the function file is kept.
int run_function_text(const char* name, std::int64_t offset, std::int64_t length, unsigned mode, int start,
                      int pos);

// eval: runs the words, joined by blanks, as commands of their own source
// with the current positional parameters.
void run_eval(int count, char** words, int start, int pos);

// trap text n: stores `text` as trap n (0, 1 or 2) unless that trap is
// already defined.
void define_trap(int n, const char* text);

// Writes a function's text to standard output, line by line, each line
// after `prefix` (may be null).
void print_function_text(int slot, const char* prefix);

}  // namespace vek
