// File-name generation: the names of existing files that a wildcard path
// pattern matches, walked one path component at a time.
#pragma once

namespace vek {

// Receives each path that generation produces (NUL-terminated, `len`
// bytes without the NUL).  The text is valid only during the call.
class NameSink {
 public:
  virtual void add(const char* path, int len) = 0;

 protected:
  ~NameSink() = default;
};

// Longest word generation takes, and longest path it produces.
inline constexpr int kGlobWordMax = 262;
inline constexpr int kGlobPathMax = 260;

// Hands every existing path that `word` matches to `out`, in the order
// the directory listings return the names, and returns their number (0:
// nothing matched, the caller keeps the word as written).
//
// The word is taken as a path ("/" and "\" both separate).  Each
// component holding "?", "*" or "[" not preceded by the escape character
// `esc` is a pattern that is matched, without regard to ASCII letter
// case, against the entries of the directory reached so far ("." and
// ".." are never produced; names beginning with "." are not special).
// Other components are taken as written (an escaped wildcard in them
// stands for the character itself); where the host's names ignore case
// they are given in upper case, elsewhere they keep their case.  A last
// component without wildcards is produced only if that file exists.  A
// directory that cannot be read contributes nothing.
//
// A word that names a drive without a root ("x:*") names no file: 0.
// Error 20 (with the word or the component) for a word longer than
// kGlobWordMax, a component longer than 253 bytes, or a pattern that
// does not compile.
int expand_filenames(const char* word, unsigned char esc, NameSink& out);

}  // namespace vek
