// The argument area shared by all nesting levels, and the word scanner.
#pragma once

#include <array>

#include "core/classes.h"
#include "proc/search.h"
#include "vars/varstore.h"

namespace vek {

inline constexpr int kArgSlots = 16384;
inline constexpr int kMaxArgIndex = 16379;   // highest index a word may take
inline constexpr int kWordBufferSize = 262144;
inline constexpr int kWordTextLimit = 262136;
// Prompt commands run in the top part of the area.
inline constexpr int kPromptSlotStart = kArgSlots - 60;
inline constexpr int kPromptBufStart = kWordBufferSize - 260;

extern std::array<char*, kArgSlots> arg_slots;
extern std::array<char, kWordBufferSize> word_buf;

// State of one scan_word call.  idx and pos are the next free slot and
// byte; they advance over every word the scan stores.
struct WordScan {
  int idx = 0;
  int pos = 0;
  int first_word_index = 0;      // slot of the command's first word
  const ClassTable* table = nullptr;
  int terminator = 0;            // 0, '`', ')' or '}'
  int assignments = 0;           // raised by name= in a first word
};

// Scans one word (and any fields its expansions split off) into the
// argument area.  Returns the number of words stored.
int scan_word(WordScan& ws);

// Replaces an alias name by the words of its value.
void split_alias_value(WordScan& ws, const VarRecord* alias);

}  // namespace vek
