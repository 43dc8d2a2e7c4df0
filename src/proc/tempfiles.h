// The internal temporary files: substitution file, function file and the
// two pipe files, open from start-up to exit on descriptors 10 and above.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

extern std::array<char, 260> temp_directory;
extern std::array<std::array<char, 260>, 4> temp_file_names;

// Descriptors of the internal files (-1 while closed).
extern int subst_fd;       // substitution temporary file, read-write
extern int subst_read_fd;  // the same file read-only: here-documents are read through it
extern int func_write_fd;  // function file, appended through this one
extern int func_read_fd;   // function file, bodies read back through this
extern int pipe_a_fd;      // pipe file A
extern int pipe_b_fd;      // pipe file B, written between the stages
extern int pipe_b_read_fd; // the same file read-only: the stages read it through this

// Creates a new empty file "dir\prefixN" with N from `first` (negative
// means 100) up to 999 and stores its name in `result`.  A name that is
// taken by anything, a dangling link included, is skipped; the file is
// created exclusively, so no link is ever followed.  Returns -1 with the
// file closed; with `internal` the file is readable and writable by its
// owner only and stays open for reading and writing on a descriptor of
// 10 or above, which is returned.
int create_temp_file(std::array<char, 260>& result, const char* dir, const char* prefix, int first,
                     bool internal = false);

// The function file is written and read only through these two.  Its
// first kFunctionMirror bytes are also kept in memory, so that calling a
// function, running a trap or an eval text there reads no file.
inline constexpr long kFunctionMirror = 16384;
// Writes n bytes at offset (error 16 when the write fails).
void function_file_write(const void* data, long n, std::int64_t offset);
// Reads up to n bytes from offset, as a read there would: fewer at the end
// of the file; -1 when the read fails.
long function_file_read(void* data, long n, std::int64_t offset);

// Creates and opens the four internal files.
void open_temp_files();
// Closes the descriptors and deletes the four files (idempotent).
void close_temp_files();
// Deletes the four files but keeps their descriptors (before another
// program replaces the interpreter: the descriptors go with the
// interpreter, and should that fail, the session still works).
void unlink_temp_files();

}  // namespace vek
