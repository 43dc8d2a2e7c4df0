// The word scanner: reads one word at a time from the input and performs
// quoting, parameter expansion, field splitting, redirection recognition,
// here-documents, groups and substitutions while it reads.
#include <cstring>

#include "core/classes.h"
#include "core/scanner.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {

int default_output_base = 10;

bool Scanner::end_word(bool force) {
  if (ws_.pos == word_start_ && !quoted_ && !force) {
    begin_word();
    return false;
  }
  if (ws_.idx > kMaxArgIndex) fatal_error(VEK_ERR(kErrLimit), "Anzahl Argumente");
  put(0);
  arg_slots[static_cast<std::size_t>(ws_.idx)] = at(word_start_);
  const int index = ws_.idx++;
  generate_names(index);
  begin_word();
  return true;
}

void Scanner::emit_text(const char* s, int n, bool in_quotes, bool mark_fields) {
  SplitState st;
  emit_piece(s, n, in_quotes, st, mark_fields);
}

void Scanner::emit_piece(const char* s, int n, bool in_quotes, SplitState& st, bool mark_fields) {
  // A redirection target and the text of a ( ) group stay one piece:
  // a split would cut them apart.
  if (in_quotes || redir_start_ >= 0 || group_start_ >= 0) {
    put_text(s, n);
    return;
  }
  if (mark_fields) fields_ = true;
  for (int i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (ifs_table[c]) {
      if (st.seen_text) st.pending = true;
      continue;
    }
    if (st.pending) {
      end_word(false);
      if (mark_fields) fields_ = true;
      st.pending = false;
    }
    st.seen_text = true;
    put(c);
  }
}

void Scanner::emit_number(std::int32_t v) {
  char num[16];
  int n = format_signed(num, v);
  emit_text(num, n, quote_ == '"');
}

Scanner::End Scanner::run(int term) {
  for (;;) {
    int c = next_char();
    switch ((*table_)[static_cast<unsigned char>(c)]) {
      case kClsNone:
        put(c);
        break;
      case kClsEscape:
        escape();
        break;
      case kClsDquote:
        if (quote_ == '"') {
          quote_ = 0;
          // "$@" without parameters produces no word at all.
          if (!(empty_at_ && ws_.pos == quote_start_)) quoted_ = true;
          table_ = base_table_;
        } else {
          quote_ = '"';
          quote_start_ = ws_.pos;
          empty_at_ = false;
          table_ = &dquote_table;
        }
        break;
      case kClsSquote:
        if (quote_ == '\'') {
          int d = next_char();
          if (d == '\'') {
            put('\'');
          } else {
            push_back();
            quote_ = 0;
            quoted_ = true;
            table_ = base_table_;
          }
        } else {
          quote_ = '\'';
          table_ = &squote_table;
        }
        break;
      case kClsBackquote:
        if (term == '`') {
          push_back();
          return End::kWord;
        }
        substitution('`');
        break;
      case kClsBlank:
      case kClsTab:
      case kClsCR:
      case kClsLF:
      case kClsSemicolon:
      case kClsAmp:
      case kClsBar:
      case kClsEof:
        push_back();
        return End::kWord;
      case kClsLess:
      case kClsGreater:
        redirection(c);
        break;
      case kClsHash:
        if (ws_.pos == word_start_ && !quoted_) {
          int d;
          do {
            d = next_char();
          } while (d != '\n' && d != kEof);
          push_back();
          return End::kNoWord;
        }
        put(c);
        break;
      case kClsLparen: {
        End e;
        if (lparen(term, e)) return e;
        break;
      }
      case kClsRparen:
        if (group_start_ >= 0) {
          finish_group();
          break;
        }
        if (term == ')') {
          push_back();
          return End::kWord;
        }
        fatal_error(VEK_ERR(kErrSyntax), " )  \x81" "berz\x84hlig");
      case kClsEquals:
        if (ws_.pos == word_start_) {
          put(c);
          break;
        }
        put(0);
        --ws_.pos;
        ++ws_.assignments;
        return End::kAssign;
      case kClsDollar:
        dollar();
        break;
      case kClsTilde:
        if (ws_.pos == word_start_ && !quoted_) {
          int n = static_cast<int>(str_len(home_directory.data()));
          if (ws_.pos + 260 > kWordTextLimit) fatal_error(VEK_ERR(kErrLimit), "L\x84ngensumme Argumente");
          put_text(home_directory.data(), n);
        } else {
          put(c);
        }
        break;
      case kClsQuestion:
      case kClsStar:
      case kClsBracket: {
        bool escaped = ws_.pos > word_start_ && static_cast<unsigned char>(*at(ws_.pos - 1)) == escape_char;
        put(c);
        if (!escaped) wildcard_ = true;
        break;
      }
      case kClsColon:
        if (ws_.pos - word_start_ >= 2) {
          int d = next_char();
          push_back();
          if (d == ' ' || d == '\t' || d == '\r' || d == '\n' || d == 0x1A) {
            put(0);
            define_label(at(word_start_));
            return End::kNoWord;
          }
        }
        put(c);
        break;
      case kClsRbrace:
        if (term == '}') return End::kBrace;
        put(c);
        break;
      default:
        fatal_error(VEK_ERR(kErrInternal), "sw_dflt:arg()");
    }
  }
}

void Scanner::escape() {
  const int esc = escape_char;
  int d = next_char();
  if (d == kEof) {
    // Nothing to quote: the escape character stands for itself.
    put(esc);
    push_back();
    return;
  }
  int cls = (*table_)[static_cast<unsigned char>(d)];
  bool at_start = ws_.pos == word_start_;
  if (cls == kClsNone || d == '?' || d == '*' || d == '[' || ((d == '#' || d == '~') && !at_start) || d == '}') {
    put(esc);
    push_back();
    return;
  }
  if (d == '\n') return;  // line continuation
  if (d == '\r') {
    next_char();  // the line feed after it
    return;
  }
  put(d);
}

bool Scanner::lparen(int term, End& end) {
  int d = next_char();
  if (d == '(') {
    // ((expression)): its value becomes the exit status.
    std::int32_t v;
    int base;
    if (arithmetic_evaluate(v, base) && !skipping()) last_status = v == 0 ? 1 : 0;
    return false;
  }
  if (d == ')') {
    if (term == 0 && ws_.idx == ws_.first_word_index && ws_.pos > word_start_) {
      put(0);
      define_function(at(word_start_));
      end = End::kNoWord;
      return true;
    }
    return false;  // "()" is dropped
  }
  push_back();
  group_start_ = ws_.pos;
  table_ = &subst_table;
  return false;
}

void Scanner::finish_group() {
  put(0);
  char* text = at(group_start_);
  if (!skipping()) {
    for (char* p = text; *p; ++p) *p = blank_to_control(*p);
    run_group(text);
  }
  ws_.pos = group_start_;
  group_start_ = -1;
  table_ = quote_ == '"' ? &dquote_table : base_table_;
}

void Scanner::dollar() {
  int d = next_char();
  if (d == '(') {
    int e = next_char();
    if (e == '(') {
      // $((expression)): the value as text in the output base.
      std::int32_t v;
      int base;
      const bool ok = arithmetic_evaluate(v, base);
      if (ws_.pos + 20 > kWordTextLimit) fatal_error(VEK_ERR(kErrLimit), "L\x84ngensumme Argumente");
      if (ok && !skipping()) {
        char text[40];
        int n = format_integer(text, base != 0 ? base : default_output_base, v);
        // Base 256 gives the value's bytes; a NUL among them cannot be
        // part of a word and is left out.
        int k = 0;
        for (int i = 0; i < n; ++i)
          if (text[i] != 0) text[k++] = text[i];
        n = k;
        emit_text(text, n, quote_ == '"');
      }
      return;
    }
    push_back();
    substitution(')');
    return;
  }
  push_back();
  expand_parameter();
}

void Scanner::substitution(int closing) {
  // The output is split into the word being built, as one expansion.
  SubstitutionSink sink{this};
  command_substitution_run(closing, sink, ws_.idx + 1, ws_.pos + 1);
}


int scan_word(WordScan& ws) {
  Scanner s(ws);
  return s.scan();
}

void split_alias_value(WordScan& ws, const VarRecord* alias) {
  // The alias text is copied first: splitting writes into the word area,
  // and the value lives in the store.
  static std::array<char, kGlobalArena> text;
  int n = alias->value_size();
  if (n > static_cast<int>(text.size())) n = static_cast<int>(text.size());
  std::memcpy(text.data(), alias->value(), static_cast<std::size_t>(n));
  Scanner s(ws);
  s.split_value(text.data(), n);
}

}  // namespace vek
