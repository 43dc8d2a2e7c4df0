// Command search along PATH, the directory lists, the HOME directory and
// the shared file test.
#pragma once

#include <array>

#include "platform/platform.h"

namespace vek {

// PATH and CDPATH lists: NUL-terminated entries followed by the byte
// 0xFF.  Built from the environment at start-up and once more from the
// shell variables after the profile; later assignments do not change them.
inline constexpr int kSearchListSize = 512;
using SearchList = std::array<char, kSearchListSize>;
extern SearchList command_search_list;
extern SearchList cd_search_list;
// The HOME directory (also the text of `~`).
extern std::array<char, 260> home_directory;

// Builds a list from a text whose entries are separated by the platform's
// list separators.  A separator at the start or end adds the entry "."
// there, and "." always ends the list.  Error 26 "(CD)PATH" past 508
// bytes.
void build_search_list(SearchList& list, const char* text);
// Calls f(entry) for each entry of a list until it returns true; returns
// whether one did.
template <typename F>
bool for_each_entry(const SearchList& list, F f) {
  for (std::size_t i = 0; i < list.size() && list[i] != 0 && static_cast<unsigned char>(list[i]) != 0xFF;) {
    const char* entry = &list[i];
    if (f(entry)) return true;
    while (i < list.size() && list[i] != 0) ++i;
    ++i;
  }
  return false;
}

// File test bits.
inline constexpr int kFileExists = 0x001;
inline constexpr int kFileReadable = 0x002;
inline constexpr int kFileWritable = 0x004;
inline constexpr int kFileExecutable = 0x008;  // non-empty, startable by name or permission
inline constexpr int kFileRegular = 0x010;
inline constexpr int kFileDirectory = 0x020;
inline constexpr int kFileCharDevice = 0x040;
inline constexpr int kFileNonEmpty = 0x100;

// Classifies a path (normalised on a copy).  letter 'F' needs a non-empty
// regular file, 'X' one that can be started, 'd' a directory, 'f' a
// regular file; 0 asks for the bits as they are.  0 when the path does not
// exist or the letter's condition fails.  The status is copied out when
// `status` is given.
int file_test(int letter, const char* path, plat::FileInfo* status = nullptr);

// The kind of a file by the last four characters of its name, compared
// without regard to case.
enum class Extension { kNone, kExe, kCom, kBat, kVek, kCmd };
Extension extension_of(const char* name);

// Searches a command name: a name with "\" as it is, else along the PATH
// list (the current directory last), each candidate as written and, unless
// the name has an extension, with .com .exe .bat .vek .cmd appended.  The
// first non-empty regular file is the result, in the 512-byte result
// buffer (absolute mode: made absolute); null when nothing is found.
// Callers copy the result before the next search.
const char* search_command(bool absolute, const char* name);

}  // namespace vek
