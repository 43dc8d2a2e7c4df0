// Function definitions and the other text kept in the function file:
// trap bodies and eval texts.  A body is copied byte by byte from the
// input to the end of the function file, followed by the end byte 0xFF;
// a call reads it back from there through the ordinary reader.
#include <climits>
#include <cstring>

#include "core/commands.h"
#include "core/control.h"
#include "core/exec.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "io/fdio.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

// Bytes are written in chunks of this size; the last two bytes stay in
// the buffer, so that the end of a one-line body can still be changed.
constexpr std::size_t kChunk = 4094;

bool is_line_end(int c) { return c == '\n' || c == '\r'; }

}  // namespace

// ---------------------------------------------------------------- the writer

BodyWriter::BodyWriter(bool enabled) : enabled_(enabled), offset_(function_file_end), written_(0), length_(0) {}

void BodyWriter::flush(std::size_t n) {
  if (enabled_ && n > 0) {
    forget_body_positions();
    function_file_write(chunk_.data(), static_cast<long>(n), offset_ + written_);
  }
  written_ += static_cast<std::int64_t>(n);
  std::memmove(chunk_.data(), chunk_.data() + n, used_ - n);
  used_ -= n;
}

void BodyWriter::put(char c) {
  if (used_ == chunk_.size()) flush(kChunk);
  chunk_[used_++] = c;
  ++length_;
}

void BodyWriter::put(const char* s) {
  for (; *s; ++s) put(*s);
}

void BodyWriter::drop(std::int64_t n) {
  if (n > length_) n = length_;
  length_ -= n;
  if (static_cast<std::size_t>(n) <= used_) {
    used_ -= static_cast<std::size_t>(n);
  } else {
    // Bytes already in the file are written over by what follows.
    written_ -= n - static_cast<std::int64_t>(used_);
    used_ = 0;
  }
}

void BodyWriter::replace_last(char c) {
  if (length_ == 0) return;
  if (used_ > 0) {
    chunk_[used_ - 1] = c;
  } else if (enabled_) {
    forget_body_positions();
    function_file_write(&c, 1, offset_ + written_ - 1);
  }
}

std::int64_t BodyWriter::finish() {
  put('\xff');
  flush(used_);
  return length_;
}

int free_function_slot() {
  for (int i = 0; i < kFunctionSlots; ++i)
    if (function_length[static_cast<std::size_t>(i)] == 0) return i;
  return -1;
}

void store_function(const char* name, int slot, const BodyWriter& body, std::int64_t length) {
  const std::int32_t v = slot;
  if (store_set(variable_scope(), global_store, name, VarValue::bytes(&v, sizeof v), kFunc) == nullptr) return;
  function_offset[static_cast<std::size_t>(slot)] = body.offset();
  function_length[static_cast<std::size_t>(slot)] = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  function_file_end = body.offset() + length;
}

// ---------------------------------------------------------------- definitions

void define_function(const char* word) {
  std::array<char, 40> name{};
  copy_truncated(name, word);
  const bool skipping = skip_flags != 0;
  // The name is checked now, but reported only after the body has been
  // read, so that its text never runs as commands.
  int bad = 0;
  if (!skipping) {
    if (!name_check(name.data())) bad = kErrBadName;
    else if (lookup_command(name.data()) >= 0) bad = kErrFunctionDef;
  }

  // name()) { ... )}: each further ')' must stand before the closing '}'.
  int extra = 0;
  int c;
  while ((c = next_char()) == ')') ++extra;
  while (c == ' ' || c == '\t') c = next_char();
  if (c != '{') fatal_error(VEK_ERR(kErrFunctionDef), "vermisse { ");

  const VarScope scope = variable_scope();
  const bool keep = !skipping && bad == 0 && store_find(scope, global_store, name.data(), kFunc) == nullptr;
  const int slot = keep ? free_function_slot() : -1;
  BodyWriter body(keep && slot >= 0);

  // A line end right after '{' is not part of the body.
  bool line_end_seen = false;
  c = next_char();
  if (c == '\n') {
    line_end_seen = true;
  } else if (c == '\r') {
    line_end_seen = true;
    if (next_char() != '\n') push_back();
  } else {
    push_back();
  }
  bool line_start = line_end_seen;
  int closing_parens = 0;    // ')' directly before the current byte
  int previous = 0;          // the byte before the current one
  bool one_line_end = false;  // the last non-blank byte is a '}' after a blank or ';'
  int trailing_blanks = 0;   // blanks and tabs after it
  for (;;) {
    c = next_char();
    if (c == kEof) fatal_error(VEK_ERR(kErrFunctionDef), "EOF unerwartet");
    if (extra == 0) {
      if (c == '}' && line_start) break;
      if (is_line_end(c) && !line_end_seen) {
        // One line: "{ commands; }" ends here; its '}' becomes the line
        // end (blanks after it are dropped).
        if (one_line_end) {
          body.drop(trailing_blanks);
          body.replace_last('\n');
          push_back();
          break;
        }
        line_end_seen = true;
      }
    } else if (c == '}' && closing_parens == extra) {
      body.drop(extra);
      break;
    }
    body.put(static_cast<char>(c));
    line_start = c == '\n';
    closing_parens = c == ')' ? closing_parens + 1 : 0;
    if (c == ' ' || c == '\t') {
      ++trailing_blanks;
    } else {
      one_line_end = c == '}' && (previous == ' ' || previous == '\t' || previous == ';');
      trailing_blanks = 0;
    }
    previous = c;
  }

  if (bad != 0) fatal_error(VEK_ERR(bad), name.data());
  if (!keep) return;
  if (slot < 0) fatal_error(VEK_ERR(kErrFunctionDef), "#Limit");
  const std::int64_t length = body.finish();
  store_function(name.data(), slot, body, length);
}

void define_trap(int n, const char* text) {
  char name[] = "trap_F_0";
  name[7] = static_cast<char>('0' + n);
  if (store_find(variable_scope(), global_store, name, kFunc) != nullptr) return;
  const int slot = free_function_slot();
  if (slot < 0) fatal_error(VEK_ERR(kErrFunctionDef), "trap: #Limit");
  BodyWriter body(true);
  body.put(text);
  body.put("\r\n");
  const std::int64_t length = body.finish();
  store_function(name, slot, body, length);
}

// ---------------------------------------------------------------- running text

int run_function_text(const char* name, std::int64_t offset, std::int64_t length, unsigned mode, int start,
                      int pos) {
  copy_truncated(prepared.function_name, name);
  prepared.body_offset = offset;
  prepared.body_length = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  return run_source(nullptr, start, pos, mode);
}

void run_eval(int count, char** words, int start, int pos) {
  if (count <= 0) return;
  BodyWriter text(true);
  for (int i = 0; i < count; ++i) {
    if (i > 0) text.put(' ');
    text.put(words[i]);
  }
  text.put("\r\n");
  const std::int64_t length = text.finish();
  const std::int64_t begin = text.offset();
  function_file_end = begin + length;
  // The text's room is used again afterwards, unless a definition inside
  // it has put a body behind it.
  struct GiveBack {
    std::int64_t begin;
    std::int64_t end;
    ~GiveBack() {
      if (function_file_end == end) function_file_end = begin;
    }
  } give_back{begin, begin + length};
  prepared.param_count = input.param_count;
  prepared.params = input.params;
  prepared.param0 = input.param0;
  run_function_text("eval_", begin, length, kModeBody | kModeEval | kModeParams, start, pos);
}

void print_function_text(int slot, const char* prefix) {
  std::int64_t at = function_offset[static_cast<std::size_t>(slot)];
  std::array<char, 512> out;
  std::size_t n = 0;
  auto emit = [&](const char* s, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
      if (n == out.size()) {
        sys_write(1, out.data(), static_cast<long>(n));
        n = 0;
      }
      out[n++] = s[i];
    }
  };
  const std::size_t prefix_len = prefix != nullptr ? str_len(prefix) : 0;
  bool line_start = true;
  bool ends_with_lf = false;
  bool pending_cr = false;
  std::array<char, 56> block;
  bool done = false;
  while (!done) {
    long got = function_file_read(block.data(), static_cast<long>(block.size()), at);
    if (got < 0) fatal_error(VEK_ERR(kErrSystem), "read()");
    if (got == 0) break;
    at += got;
    for (long i = 0; i < got; ++i) {
      const char b = block[static_cast<std::size_t>(i)];
      if (static_cast<unsigned char>(b) == kEof) {
        done = true;
        break;
      }
      if (line_start && prefix_len > 0) emit(prefix, prefix_len);
      line_start = false;
      if (b == '\n') {
        // Lines are written with CR LF, whether the text had it or not.
        emit("\r\n", 2);
        line_start = true;
        ends_with_lf = true;
        pending_cr = false;
        continue;
      }
      if (pending_cr) emit("\r", 1);
      pending_cr = b == '\r';
      if (!pending_cr) emit(&b, 1);
      ends_with_lf = false;
    }
  }
  if (pending_cr) emit("\r", 1);
  if (!ends_with_lf) emit("\r\n", 2);
  if (n > 0) sys_write(1, out.data(), static_cast<long>(n));
}

}  // namespace vek
