// Where the arithmetic evaluator and the subscript reader take their
// characters from: a text in memory (a builtin's argument, an assignment
// word) or the input reader's buffer, read in place.  Neither copies the
// text.
#pragma once

#include <cstddef>

namespace vek {

struct CharSource {
  unsigned char** rp;   // next character
  unsigned char** end;  // end of the characters at hand
  // Called when *rp has reached *end: delivers the next character and
  // leaves *rp just behind it, so that back() can return it once more.
  int (*refill)(CharSource&);

  int next() { return *rp < *end ? *(*rp)++ : refill(*this); }
  // Gives back the character just read (one at a time).
  void back() { --*rp; }
};

// A NUL-terminated text as a source; reading stops at its NUL, which
// next() keeps delivering.
class TextSource {
 public:
  explicit TextSource(const char* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    // The text is only read; the source type is shared with the input
    // reader, whose buffer is writable.
    p_ = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    e_ = p_ + n + 1;  // the NUL is part of what can be read
    src_ = CharSource{&p_, &e_, &past_end};
  }
  TextSource(const TextSource&) = delete;
  TextSource& operator=(const TextSource&) = delete;

  CharSource& source() { return src_; }
  // The next character to be read (the NUL once the text is used up).
  const char* position() const { return reinterpret_cast<const char*>(p_ < e_ ? p_ : e_ - 1); }

 private:
  static int past_end(CharSource& s) {
    ++*s.rp;
    return 0;
  }
  unsigned char* p_;
  unsigned char* e_;
  CharSource src_;
};

}  // namespace vek
