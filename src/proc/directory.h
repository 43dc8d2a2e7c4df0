// Absolute paths and changing the current directory.
#pragma once

#include <array>

namespace vek {

// The last known current directory, refreshed by cd, pwd and
// make_absolute.
extern std::array<char, 260> current_directory;
// Reads the current directory into current_directory; returns it.
const char* refresh_current_directory();

// Makes a path absolute into `result` (512 bytes): a path beginning with
// "\" gets the current drive (where there is one), a relative one the
// current directory and "\" ("." and ".." stay unresolved, a leading
// ".\" is dropped); a path with a drive stays as it is.  Error 26
// "Ziel-Puffer" past 510 bytes.
void make_absolute(std::array<char, 512>& result, const char* path);

// Changes to a directory (a drive prefix alone means that drive's root).
// Returns 0 on success, 1 when it is no directory or the change fails.
int change_directory(const char* path);

}  // namespace vek
