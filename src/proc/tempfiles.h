// The internal temporary files: substitution file, function file and the
// two pipe files, open from start-up to exit on descriptors 10 and above.
#pragma once

#include <array>

namespace vek {

extern std::array<char, 260> temp_directory;
extern std::array<std::array<char, 260>, 4> temp_file_names;

// Descriptors of the internal files (-1 while closed).
extern int subst_fd;       // substitution temporary file, read-write
extern int func_write_fd;  // function file, appended through this one
extern int func_read_fd;   // function file, bodies read back through this
extern int pipe_a_fd;      // pipe file A
extern int pipe_b_fd;      // pipe file B

// Creates a new empty file "dir\prefixN" with N from `first` (negative
// means 100) up to 999 and stores its name in `result`.
void create_temp_file(std::array<char, 260>& result, const char* dir, const char* prefix, int first);

// Creates and opens the four internal files.
void open_temp_files();
// Closes the five descriptors and deletes the four files (idempotent).
void close_temp_files();

}  // namespace vek
