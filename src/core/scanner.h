// The word scanner's state for one scan_word call.  Internal to the
// scanner's sources: scan.cpp (the character loop, quoting, groups and
// substitutions), scan_params.cpp (parameter expansion) and
// scan_redirect.cpp (redirection texts and here-documents).
#pragma once

#include <array>
#include <cstdint>

#include "core/hooks.h"
#include "core/words.h"
#include "support/errors.h"
#include "support/state.h"

namespace vek {

class Scanner {
 public:
  // How the character loop ended.
  enum class End { kWord, kBrace, kAssign, kNoWord };

  explicit Scanner(WordScan& ws) : ws_(ws), base_table_(ws.table), table_(ws.table) { begin_word(); }

  int scan() {
    const int first_idx = ws_.idx;
    End end = run(ws_.terminator);
    if (ws_.terminator == '}' && end != End::kBrace) fatal_error(VEK_ERR(kErrSyntax), "${ >}< erwartet");
    if (end == End::kNoWord) {
      ws_.pos = word_start_;
      return ws_.idx - first_idx;
    }
    finish_redirection();
    if (group_start_ >= 0) fatal_error(VEK_ERR(kErrSyntax), "Sub-Shell (...)");
    end_word(false);
    return ws_.idx - first_idx;
  }

  // Alias values: fields at IFS characters, no name generation.
  void split_value(const char* text, int len) {
    emit_text(text, len, false, false);
    end_word(false);
  }

 private:
  WordScan& ws_;
  const ClassTable* base_table_;
  const ClassTable* table_;
  int quote_ = 0;  // 0, '"' or '\''
  int word_start_ = 0;
  bool quoted_ = false;
  bool wildcard_ = false;
  bool fields_ = false;
  int redir_start_ = -1;
  int group_start_ = -1;
  int quote_start_ = 0;     // word position where the double quote opened
  bool empty_at_ = false;   // "$@" expanded to nothing inside these quotes

  bool skipping() const { return skip_flags != 0; }

  void begin_word() {
    word_start_ = ws_.pos;
    quoted_ = wildcard_ = fields_ = false;
  }

  void put(int c) {
    if (ws_.pos >= kWordTextLimit) fatal_error(VEK_ERR(kErrLimit), "L\x84ngensumme Argumente");
    word_buf[static_cast<std::size_t>(ws_.pos++)] = static_cast<char>(c);
  }
  void put_text(const char* s, int n) {
    for (int i = 0; i < n; ++i) put(static_cast<unsigned char>(s[i]));
  }
  char* at(int p) { return &word_buf[static_cast<std::size_t>(p)]; }

  // Completes the current word; an empty word counts only when quoted
  // (or when forced, for "$@" fields).  Returns whether a word was stored.
  bool end_word(bool force);

  // File-name generation for the word just stored in slot `index`: the
  // names it matches replace it (scan_names.cpp).
  void generate_names(int index);

  // Field splitting state, kept across the pieces of one expansion.
  struct SplitState {
    bool seen_text = false;  // separators before any text are dropped
    bool pending = false;    // separators seen since the last text
  };

  // Appends expansion text; outside quotes it is split into fields at
  // IFS characters (separators at either end are dropped).
  void emit_text(const char* s, int n, bool in_quotes, bool mark_fields = true);

  void emit_piece(const char* s, int n, bool in_quotes, SplitState& st, bool mark_fields = true);

  void emit_number(std::int32_t v);

  End run(int term);

  void escape();

  // Handles '(' ; returns true when the word ends here.
  bool lparen(int term, End& end);

  void finish_group();

  void dollar();

  void substitution(int closing);

 public:
  // Receives the output of a command substitution.
  struct SubstitutionSink final : SubstitutionOutput {
    Scanner* s;
    SplitState split;
    explicit SubstitutionSink(Scanner* sc) : s(sc) {}
    void append(const char* text, int n) override { s->emit_piece(text, n, s->quote_ == '"', split); }
  };

 private:
  // ----- redirections -------------------------------------------------

  void redirection(int c);

  void finish_redirection();

  void read_heredoc(bool strip_tabs);

  // ----- parameters -----------------------------------------------------

  void expand_parameter();

  int read_name(std::array<char, 33>& name);

  // After a name: a `[index]` that follows makes it an element name.
  // Returns whether there was one.
  bool read_subscript(std::array<char, 33>& name);

  const char* positional(int n);

  // Value of a variable, or of the environment entry of that name.
  bool lookup(const char* name, const char*& value, int& len, std::array<char, 40>& num);

  void emit_positionals(int which);

  // The parts of a ${...} form as its header is read.
  struct BraceForm {
    std::array<char, 64> raw{};  // the text read so far, for messages
    int raw_n = 0;
    int braces = 1;              // 2 or more: indirection
    bool length = false;         // ${#name}
    std::array<char, 33> name{};
    int positional_n = -1;       // ${1} ... ${999}
    bool colon = false;
    int op = 0;                  // '-', '+', '=' or 0
    const char* value = "";
    int vlen = 0;
    bool set = false;
    std::array<char, 40> num{};  // an integer variable's digits
    void note(int c);
  };
  void brace_form();
  void read_brace_header(BraceForm& f);
  void resolve_brace_value(BraceForm& f);
  void apply_brace_operator(const BraceForm& f);
  void close_indirection(int braces);

  // Where the scanner stands in the word being built.
  struct WordMark {
    int idx, pos, word_start;
    bool quoted, wildcard, fields;
  };
  WordMark mark_word() const { return {ws_.idx, ws_.pos, word_start_, quoted_, wildcard_, fields_}; }
  void back_to(const WordMark& m) {
    ws_.idx = m.idx;
    ws_.pos = m.pos;
    word_start_ = m.word_start;
    quoted_ = m.quoted;
    wildcard_ = m.wildcard;
    fields_ = m.fields;
  }

  // Scans the word of a ${name-word} form up to its '}'.  An unused word
  // is scanned in skip mode and dropped.
  void scan_operator_word(bool use);

  // ${name=word}: the fields the word produced, joined with the first IFS
  // character, become the variable's value.
  void assign_from(int mark, const char* name);

};

}  // namespace vek
