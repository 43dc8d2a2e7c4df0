// The working parts of sortl that can be tried on their own: its options,
// the key fields of a line and the order of two lines.  The builtin is
// declared in builtins.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vek::sortl {

inline constexpr int kMaxKeys = 4;
inline constexpr std::size_t kMaxLine = 8191;  // bytes of a line without its LF

struct Key {
  std::int32_t field = 0;  // 1-based
  bool numeric = false;
  bool reverse = false;
};

struct Options {
  std::array<Key, kMaxKeys> keys{};
  int key_count = 0;
  bool reverse = false;
  std::array<bool, 256> delimiter{};
  char* output = nullptr;  // the -o path, inside its option word
};

// Reads the option words argv[first..]; returns the index of the first
// word that is not an option.  A bad word is error 19 with that word.
int parse_options(int argc, char** argv, Options& opt);

// One line of the input.
struct Line {
  std::uint32_t pos = 0;  // offset in the text
  std::uint16_t len = 0;  // bytes, its LF included when it has one
  std::uint8_t present = 0;  // bit k: the field of key k was found
  std::uint8_t first = 0;    // 1 for the first line of its input
  struct Field {
    std::uint16_t off = 0;  // from the line's start
    std::uint16_t len = 0;
    std::int32_t num = 0;   // value of a numeric key
  };
  std::array<Field, kMaxKeys> field{};
};

// The fields the keys ask for, ordered for one scan from left to right.
class KeyScanner {
 public:
  explicit KeyScanner(const Options& opt);
  // Fills the key fields of a line whose text (without LF) is p[0..n).
  void scan(const unsigned char* p, std::size_t n, Line& line) const;

 private:
  struct Step {
    std::int32_t field;
    int key;
  };
  const Options& opt_;
  std::array<Step, kMaxKeys> steps_{};
  int step_count_ = 0;
};

// The order of two lines (negative: a first) under the options; text is
// the buffer the lines point into.
int compare(const Options& opt, const unsigned char* text, const Line& a, const Line& b);

// The decimal value of a field as parse_decimal reads a text.
std::int32_t field_decimal(const unsigned char* p, std::size_t n);

// Caps the memory sortl takes (for tests); 0 restores the host's limit.
void set_memory_cap(std::uint64_t bytes);

}  // namespace vek::sortl
