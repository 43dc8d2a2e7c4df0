// Code page 850, the character set of the interpreter's own texts, and its
// UTF-8 form for terminals that show UTF-8.
#pragma once

#include <string_view>

namespace vek {

// The UTF-8 bytes of code page 850 byte c (1 to 3 of them) into out;
// returns their number.
int cp850_to_utf8(unsigned char c, char out[3]);

// Whether text is well-formed UTF-8 that uses more than ASCII: such text
// (a file name typed on a UTF-8 terminal, say) is shown as it is.
bool is_utf8_text(std::string_view text);

}  // namespace vek
