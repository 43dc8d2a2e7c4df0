// Decoding of terminal input bytes into key events (shared between the
// POSIX console source and its unit test; no OS headers).
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace vek::plat::posix {

// Decodes the key at the start of p[0..n).  Returns the number of bytes
// it takes; 0 when the bytes are the beginning of a sequence that may
// still go on (only while `complete` is false: with it a lone ESC is the
// Escape key).  A recognised sequence of no key the interpreter knows
// gives an event with ch -1 and vk 0, which the reader skips.
std::size_t decode_key(const unsigned char* p, std::size_t n, bool complete, KeyEvent& ev);

}  // namespace vek::plat::posix
