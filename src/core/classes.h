// Character class tables: the scanner tables built from the reference
// string and its masks, and the membership tables.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// Class numbers: positions in the reference string.
enum CharClass : unsigned char {
  kClsNone = 0,
  kClsEscape = 1,
  kClsDquote = 2,
  kClsSquote = 3,
  kClsBackquote = 4,
  kClsBlank = 5,
  kClsTab = 6,
  kClsCR = 7,
  kClsLF = 8,
  kClsSemicolon = 9,
  kClsAmp = 10,
  kClsBar = 11,
  kClsLess = 12,
  kClsGreater = 13,
  kClsHash = 14,
  kClsLparen = 15,
  kClsRparen = 16,
  kClsEquals = 17,
  kClsDollar = 18,
  kClsTilde = 19,
  kClsQuestion = 20,
  kClsStar = 21,
  kClsBracket = 22,
  kClsColon = 23,
  kClsRbrace = 24,
  kClsEof = 25,
};

using ClassTable = std::array<unsigned char, 256>;

// The six scanner tables.
extern ClassTable first_word_table;
extern ClassTable argument_table;
extern ClassTable dquote_table;
extern ClassTable squote_table;
extern ClassTable test_table;
extern ClassTable subst_table;

// Membership tables.
extern ClassTable name_chars;
extern ClassTable digit_chars;
extern ClassTable ifs_blank_chars;
extern ClassTable leading_blank_chars;
extern ClassTable word_blank_chars;
extern ClassTable terminator_chars;
extern ClassTable list_operator_chars;
extern ClassTable pattern_chars;

inline bool is_name_char(int c) { return name_chars[static_cast<unsigned char>(c)] != 0; }
inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

void build_class_tables();
// Replaces the escape character in the tables (only when it changes).
void change_escape_char(unsigned char new_escape);

}  // namespace vek
