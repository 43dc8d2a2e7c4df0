#include "core/classes.h"

#include <string_view>

#include "support/state.h"

namespace vek {

ClassTable first_word_table{};
ClassTable argument_table{};
ClassTable dquote_table{};
ClassTable squote_table{};
ClassTable test_table{};
ClassTable subst_table{};
ClassTable name_chars{};
ClassTable digit_chars{};
ClassTable ifs_blank_chars{};
ClassTable leading_blank_chars{};
ClassTable word_blank_chars{};
ClassTable terminator_chars{};
ClassTable list_operator_chars{};
ClassTable pattern_chars{};

namespace {

// Reference string: a character's class is its position (1..25).
std::array<unsigned char, 26> reference = {0,   '%', '"', '\'', '`', ' ', '\t', '\r', '\n', ';', '&', '|', '<',
                                           '>', '#', '(', ')',  '=', '$', '~',  '?',  '*',  '[', ':', '}', 0xFF};

// Masks over positions 1..25: '0' = not a member.
constexpr std::string_view kFirstWordMask = "1111111111111111111110111";
constexpr std::string_view kArgumentMask = "1111111111111111011111011";
constexpr std::string_view kDquoteMask = "1101000000000000010000011";
constexpr std::string_view kSquoteMask = "0010000000000000000000001";
constexpr std::string_view kTestMask = "1111111100000000010000011";
constexpr std::string_view kSubstMask = "1001000000000001010000011";

struct MaskedTable {
  ClassTable* table;
  std::string_view mask;
};

const std::array<MaskedTable, 6> kMasked = {{{&first_word_table, kFirstWordMask},
                                             {&argument_table, kArgumentMask},
                                             {&dquote_table, kDquoteMask},
                                             {&squote_table, kSquoteMask},
                                             {&test_table, kTestMask},
                                             {&subst_table, kSubstMask}}};

}  // namespace

void build_class_tables() {
  reference[1] = escape_char;
  for (const auto& m : kMasked) m.table->fill(0);
  for (int p = 1; p <= 25; ++p) {
    for (const auto& m : kMasked)
      if (m.mask[static_cast<std::size_t>(p - 1)] != '0') (*m.table)[reference[static_cast<std::size_t>(p)]] = static_cast<unsigned char>(p);
  }
  name_chars.fill(0);
  digit_chars.fill(0);
  for (int c = '0'; c <= '9'; ++c) name_chars[c] = digit_chars[c] = 1;
  for (int c = 'A'; c <= 'Z'; ++c) name_chars[c] = 1;
  for (int c = 'a'; c <= 'z'; ++c) name_chars[c] = 1;
  name_chars['_'] = 1;
  ifs_blank_chars.fill(0);
  for (unsigned char c : {'\t', ' ', '\r', '\n'}) ifs_blank_chars[c] = 1;
  leading_blank_chars.fill(0);
  for (unsigned char c : {' ', '\t', '\r', '\n', '\x1a'}) leading_blank_chars[c] = 1;
  word_blank_chars.fill(0);
  word_blank_chars[' '] = word_blank_chars['\t'] = 1;
  terminator_chars.fill(0);
  for (unsigned char c : {'\r', '\n', ';', '\xff'}) terminator_chars[c] = 1;
  list_operator_chars.fill(0);
  list_operator_chars['&'] = list_operator_chars['|'] = 1;
  pattern_chars.fill(0);
  pattern_chars['?'] = pattern_chars['*'] = pattern_chars['['] = 1;
}

void change_escape_char(unsigned char new_escape) {
  unsigned char old = reference[1];
  if (old == new_escape) return;
  reference[1] = new_escape;
  for (const auto& m : kMasked) {
    if (m.mask[0] == '0') continue;  // the single-quote table is untouched
    // The old character gets back the class it has as an ordinary
    // reference character (none, unless it is one of the others).
    (*m.table)[old] = 0;
    (*m.table)[new_escape] = 1;
  }
}

}  // namespace vek
