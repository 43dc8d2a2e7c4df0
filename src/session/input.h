// The input reader: the record of the current source, the character
// reader, refills, positions and prompts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vars/varstore.h"

namespace vek {

// Input mode bits.
inline constexpr unsigned kModeProfile = 0x001;
inline constexpr unsigned kModeSession = 0x002;
inline constexpr unsigned kModeConsole = 0x004;
inline constexpr unsigned kModeString = 0x008;
inline constexpr unsigned kModeFile = 0x010;
inline constexpr unsigned kModeDot = 0x020;
inline constexpr unsigned kModeBody = 0x040;
inline constexpr unsigned kModeEval = 0x080;
inline constexpr unsigned kModeTrap = 0x100;
inline constexpr unsigned kModeParams = 0x200;
inline constexpr unsigned kModePrompt = 0x400;

inline constexpr int kInputBufferSize = 2048;
inline constexpr unsigned char kEof = 0xFF;

// One label of a source: its name (at most 7 characters) and the input
// position after it, stored + 1 (0 = free entry).
inline constexpr int kLabelCount = 8;
inline constexpr int kLabelNameMax = 7;
struct Label {
  std::array<char, kLabelNameMax + 1> name{};
  std::int64_t position = 0;
};

// Text a source that cannot seek (a pipe, the console) must keep while a
// loop may read it again: the bytes from the hold position on stay in
// memory across refills.  Owned by the source's activation; it grows only
// when a loop spans a refill, never per iteration.
inline constexpr std::size_t kHoldLimit = 1u << 20;
using HoldArea = std::vector<unsigned char>;

struct InputState {
  unsigned char* rp = nullptr;   // next character to deliver
  unsigned char* end = nullptr;  // end of the valid data
  unsigned char* buf = nullptr;  // start of the buffer
  std::array<char, 128> script_name{};
  std::array<char, 36> function_name{};
  std::array<Label, kLabelCount> labels{};
  std::array<char, kLabelNameMax + 1> pending_label{};  // forward goto target ("" none)
  int fd = -1;
  bool position_unknown = true;
  bool stray_ff = false;  // the text goes on with a byte 0xFF: report it at the next refill
  int read_limit = 0;
  int redirection_count = 0;
  int loop_depth = 0;
  int break_count = 0;
  int continue_count = 0;
  int cond_depth = 0;
  int goend_count = 0;
  int global_counter = 0;
  unsigned mode = 0;
  std::int64_t body_offset = 0;
  std::int64_t fill_position = 0;  // absolute position after the last refill
  // Sources that cannot seek: the earliest position a running loop may
  // return to, and the earliest label (-1: none); the area that keeps the
  // text from there on.
  std::int64_t loop_hold = -1;
  std::int64_t label_hold = -1;
  HoldArea* hold_area = nullptr;
  VarStore local_store{};
  const VarStore* caller_store = nullptr;  // the calling source's store
  int param_count = 0;
  const char* param0 = nullptr;
  char** params = nullptr;
  // Tells apart the texts positions refer to, for what the compound
  // commands remember about positions: each source activation has its
  // own; bodies in the function file share 0 (their positions are
  // offsets in that file).
  std::uint64_t text_serial = 0;
  // A string source is read in buffer-sized pieces from here.
  const char* string_text = nullptr;
  std::size_t string_length = 0;
};

extern InputState input;

// A source that cannot seek keeps its text from `from` on while it lives,
// so that a loop or a construct read ahead can read it again.
class HoldText {
 public:
  explicit HoldText(std::int64_t from) : saved_(input.loop_hold) {
    if (input.loop_hold < 0 || from < input.loop_hold) input.loop_hold = from;
  }
  ~HoldText() { input.loop_hold = saved_; }
  HoldText(const HoldText&) = delete;
  HoldText& operator=(const HoldText&) = delete;

 private:
  std::int64_t saved_;
};

// The variable scope of the running source: its local store, its caller's
// store, `global`, and the names that qualify static variables.
inline VarScope variable_scope() {
  VarScope s;
  s.local = &input.local_store;
  s.caller = input.caller_store;
  s.global_forced = input.global_counter != 0;
  s.script = input.script_name.data();
  s.function = (input.mode & kModeBody) ? input.function_name.data() : nullptr;
  return s;
}
inline VarStore* current_local_store() { return &input.local_store; }

// Delivers the next byte of the current source (0..255).
int fill_input();
// A byte 0xFF in the text: error 17 with the line it stands on.
[[noreturn]] void report_stray_ff();
inline int next_char() {
  if (input.rp < input.end) return *input.rp++;
  return fill_input();
}
inline void push_back() { --input.rp; }

// Moves to absolute position pos, or (relative) pos bytes from the
// current position; returns the new absolute position or -1.
std::int64_t input_position(std::int64_t pos, bool relative);

// Whether the source can move to any position (a file, a string, a body
// in the function file); the others only within the text they keep.
bool input_seekable();

// Counts the line feeds between two absolute positions by re-reading the
// source; the caller moves back afterwards.  -1 if the source cannot.
std::int64_t input_count_lines(std::int64_t from, std::int64_t to);

// Runs PS1 (continuation false) or PS2.
void show_prompt(bool continuation);

// Console mask: 4 stdin, 2 stdout, 1 stderr are consoles.
int console_mask();

// Prepared values for the next function/trap/eval source.
struct PreparedSource {
  std::array<char, 36> function_name{};
  std::int64_t body_offset = 0;
  int body_length = 0;
  int param_count = 0;
  const char* param0 = nullptr;
  char** params = nullptr;
  // String sources
  const char* text = nullptr;
  std::size_t text_length = 0;
};
extern PreparedSource prepared;

}  // namespace vek
