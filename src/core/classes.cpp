#include "core/classes.h"

#include <string_view>

#include "core/shell.h"

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

// ---------------------------------------------------------------------
// Command table

namespace {

struct CommandRecord {
  const char* name;
  unsigned char cls;
  unsigned char index;
  int bucket_next = -1;
  int chain_next = -1;
  unsigned char length = 0;
};

// Stored in this order of first characters: [ { } : . then letters a..w,
// then the extensions.
std::array<CommandRecord, 124> records = {{
    {"[", 1, 0},        {"[[", 1, 1},       {"{", 2, 0},        {"{{", 2, 3},       {"}", 4, 0},
    {"}}", 4, 8},       {":", 6, 0},        {".", 6, 24},       {"array", 1, 6},    {"alias", 6, 5},
    {"autor", 6, 47},   {"break", 6, 19},   {"by", 3, 3},       {"basename", 6, 51}, {"base", 1, 24},
    {"cat", 1, 7},      {"crc", 1, 12},     {"cut", 1, 14},     {"catv", 1, 20},    {"cd", 1, 21},
    {"chdir", 1, 22},   {"copy", 1, 28},    {"ctime", 1, 31},   {"case", 3, 0},     {"continue", 6, 20},
    {"conv", 6, 32},    {"cmpv", 6, 53},    {"do", 4, 1},       {"done", 4, 2},     {"dirname", 6, 50},
    {"echo", 1, 2},     {"expr", 1, 16},    {"else", 4, 4},     {"elif", 4, 5},     {"esac", 4, 7},
    {"export", 6, 10},  {"eval", 6, 12},    {"exec", 6, 17},    {"exit", 6, 22},    {"env", 6, 33},
    {"extern", 6, 34},  {"fstat", 1, 30},   {"for", 3, 1},      {"from", 3, 2},     {"fi", 4, 6},
    {"function", 5, 0}, {"false", 6, 2},    {"fsize", 6, 26},   {"fmode", 6, 27},   {"fprint", 6, 37},
    {"fullname", 6, 52}, {"fork", 6, 55},   {"grep", 1, 15},    {"goend", 6, 18},   {"goto", 6, 23},
    {"global", 6, 44},  {"if", 2, 2},       {"inv", 6, 3},      {"ifdef", 6, 29},   {"ifset", 6, 30},
    {"ifenv", 6, 31},   {"in", 7, 5},       {"kill", 6, 57},    {"let", 1, 5},      {"line", 1, 8},
    {"list", 1, 25},    {"local", 6, 43},   {"localset", 6, 54}, {"link", 6, 58},   {"move", 1, 26},
    {"mkdirs", 1, 29},  {"mktemp", 1, 33},  {"mtime", 6, 25},   {"nop", 6, 59},     {"print", 1, 3},
    {"prints", 1, 35},  {"pwd", 6, 4},      {"prompt", 6, 38},  {"rel", 1, 11},     {"read", 1, 17},
    {"readl", 1, 18},   {"remove", 1, 27},  {"repeat", 3, 5},   {"return", 6, 21},  {"readonly", 6, 14},
    {"seek", 1, 19},    {"sum", 1, 23},     {"systime", 1, 32}, {"sortl", 1, 34},   {"set", 6, 7},
    {"shift", 6, 13},   {"stime", 6, 28},   {"system", 6, 35},  {"sleep", 6, 42},   {"static", 6, 45},
    {"sane", 6, 48},    {"test", 1, 4},     {"tee", 1, 10},     {"tr", 1, 13},      {"to", 3, 4},
    {"then", 4, 3},     {"time", 5, 1},     {"true", 6, 1},     {"times", 6, 15},   {"trap", 6, 36},
    {"type", 6, 40},    {"typeset", 6, 41}, {"tz", 6, 49},      {"until", 2, 4},    {"unalias", 6, 6},
    {"unset", 6, 8},    {"unsetenv", 6, 9}, {"unexport", 6, 11}, {"umask", 6, 16},  {"ver", 6, 46},
    {"wc", 1, 9},       {"while", 2, 1},    {"whence", 6, 39},  {"wait", 6, 56},    {".EXE", 7, 0},
    {".COM", 7, 1},     {".BAT", 7, 2},     {".VEK", 7, 3},     {".CMD", 7, 4},
}};

std::array<int, 132> buckets;

// Compares name and word from position `from` on, including the NUL.
bool same_from(const char* name, const char* word, int from) {
  for (int i = from;; ++i) {
    if (name[i] != word[i]) return false;
    if (name[i] == 0) return true;
  }
}

}  // namespace

int command_table_size() { return static_cast<int>(records.size()); }

void build_command_table() {
  buckets.fill(-1);
  std::array<int, 132> tails;
  tails.fill(-1);
  for (int i = 0; i < static_cast<int>(records.size()); ++i) {
    CommandRecord& r = records[static_cast<std::size_t>(i)];
    int len = 0;
    while (r.name[len]) ++len;
    r.length = static_cast<unsigned char>(len);
    r.bucket_next = r.chain_next = -1;
    auto first = static_cast<unsigned char>(r.name[0]);
    if (tails[first] < 0) buckets[first] = i;
    else records[static_cast<std::size_t>(tails[first])].bucket_next = i;
    tails[first] = i;
  }
  for (int b = 0; b < 132; ++b) {
    for (int i = buckets[static_cast<std::size_t>(b)]; i >= 0; i = records[static_cast<std::size_t>(i)].bucket_next) {
      CommandRecord& r = records[static_cast<std::size_t>(i)];
      if (r.length < 2) continue;
      for (int j = r.bucket_next; j >= 0; j = records[static_cast<std::size_t>(j)].bucket_next) {
        if (records[static_cast<std::size_t>(j)].name[1] == r.name[1]) {
          r.chain_next = j;
          break;
        }
      }
    }
  }
}

int lookup_command(const char* word) {
  auto first = static_cast<unsigned char>(word[0]);
  if (first >= 132) return -1;
  for (int i = buckets[first]; i >= 0; i = records[static_cast<std::size_t>(i)].bucket_next) {
    const CommandRecord& r = records[static_cast<std::size_t>(i)];
    if (first == 0) return -1;
    if (r.name[1] != word[1]) continue;
    if (same_from(r.name, word, 1)) return r.cls | (r.index << 8);
    // Same second character: only the chain can hold the word now.
    for (int j = r.chain_next; j >= 0; j = records[static_cast<std::size_t>(j)].chain_next) {
      const CommandRecord& c = records[static_cast<std::size_t>(j)];
      if (same_from(c.name, word, 2)) return c.cls | (c.index << 8);
    }
    return -1;
  }
  return -1;
}

}  // namespace vek
