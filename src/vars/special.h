// Special variables whose values take effect outside the store: IFS,
// RANDOM and SECONDS.
#pragma once

#include <array>

#include "vars/varstore.h"

namespace vek {

// The IFS text (at most 127 characters) and its separator table.
extern std::array<char, 128> ifs_text;
extern std::array<unsigned char, 256> ifs_table;
inline char ifs_join_char() { return ifs_text[0]; }

void special_init();
// Refreshes RANDOM or SECONDS before a read through parameter expansion.
void special_read(const VarScope& scope, const char* name);
// Acts on an assignment word name=value after it was stored.
void special_assign(const char* name, const char* value);

}  // namespace vek
