// Array subscripts: element `i` of array `a` is the ordinary variable
// named `a` followed by the index text (`a[3]` is `a3`).
#pragma once

#include <array>

#include "vars/charsource.h"
#include "vars/varstore.h"

namespace vek {

// An element name while it is built: the array name (at most 31
// characters) and an index of at most 30; only names of at most 31
// characters in all are valid.
inline constexpr int kElementNameSize = 64;
using ElementName = std::array<char, kElementNameSize>;

// Reads a subscript after its `[` up to and including the `]` and appends
// the index text to `name`, which holds `len` characters.  The index is a
// run of digits, taken as written, or the value of a variable (which may
// itself be subscripted; an integer variable gives its decimal text).
// Returns the number of characters appended.  Errors: 12 for a subscript
// that starts with another character, 17 for one that is not closed or
// too long, 22 for a missing variable (the index is then empty).  While
// skip flags are set nothing is looked up.
int subscript_to_index(CharSource& src, const VarScope& scope, ElementName& name, int len);

// The variable an assignment word names: a word without `[` is returned
// as it is; `a[i]` gives its element name, built in `out`.  A word whose
// subscript is not all of its rest, or whose element name is not a valid
// name, is error 12 with the word.
const char* element_name_of_word(const VarScope& scope, const char* word, ElementName& out);

}  // namespace vek
