// The line editor and its history: one line edited on the console with
// the keyboard, a ring of the last 128 lines kept in the history file.
#pragma once

namespace vek {

// Reads one edited line into buffer (more than 240 bytes): returns its
// length with "\r\n" appended, 0 at end of input (Ctrl-Z), -1 when the
// buffer is 240 bytes or smaller.  Ctrl-C aborts like the interrupt
// signal.  Also the way for a builtin to read one line from the console.
int edit_line(char* buffer, int size);

// 'p' prepare (on first use: the console and the history file), 'E'
// suspend (the history file is closed, the history kept), 'e' end.
void line_editor_control(char mode);

// The directory of the history file "vek_hist.txt" (taken at the next
// prepare that opens it).
void line_editor_history_dir(const char* directory);

// The next key code after repeats, macros and the Alt table.
int read_key();

// The history, for the tests: number of entries and logical entry i
// (0 = oldest) copied into out (at least 240 bytes); its length.
int history_count();
int history_entry(int i, char* out);
// Adds a line as Enter does (a duplicate moves to the newest place).
void history_record(const char* line, int length);
// Forgets everything (the interpreter's reset).
void line_editor_reset();

}  // namespace vek
