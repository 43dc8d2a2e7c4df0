// The parts of read, catv, conv and cmpv that work on bytes alone, for
// their handlers and their tests.
#pragma once

#include <cstdint>

namespace vek {

// One part of a catv transfer operand, split at its commas.
struct CatvPart {
  bool plus = false;
  bool minus = false;
  bool dot = false;
  bool colon = false;
  bool has_number = false;
  std::int64_t number = 0;
  const char* name = nullptr;  // start of the name (within the part)
  int name_len = 0;
  bool bad = false;  // a character outside the grammar
};
// Parses the `len` bytes of one part at p.
CatvPart catv_parse_part(const char* p, int len);

// Decodes a "/" literal in place (escape sequences of the escape
// character esc); returns the byte count, or -1 when a decimal escape is
// above 255.
int catv_decode_literal(char* text, char esc);

// Applies the conv operations `ops` to the `len` bytes at v; returns the
// new length.  *aux gets the position of the last byte met by an
// operation that looks for one (unchanged when none was met); *status
// gets 1 or 2 when an `O` search failed.
int conv_apply(const char* ops, char* v, int len, int* aux, int* status);

// Compares a (length na) with b (length nb) as cmpv does; returns the
// exit status and stores the position of the first difference (or the
// compared length) in *pos.
int cmpv_compare(const char* a, int na, const char* b, int nb, bool fold, int* pos);

}  // namespace vek
