// The word scanner: reads one word at a time from the input and performs
// quoting, parameter expansion, field splitting, redirection recognition,
// here-documents, groups and substitutions while it reads.
#include <cstring>

#include "core/classes.h"
#include "core/hooks.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {

std::array<char, 260> home_directory{};
int default_output_base = 10;

namespace {

// How the character loop ended.
enum class End { kWord, kBrace, kAssign, kNoWord };

// Output base for an integer variable without its own.
int output_base(const VarRecord* r) { return r->base != 0 ? static_cast<int>(r->base) : default_output_base; }

class Scanner {
 public:
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
  bool end_word(bool force) {
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

  // File-name generation for words with wildcards comes with the pattern
  // layer; the word stays as written until then.
  void generate_names(int /*index*/) {}

  // Field splitting state, kept across the pieces of one expansion.
  struct SplitState {
    bool seen_text = false;  // separators before any text are dropped
    bool pending = false;    // separators seen since the last text
  };

  // Appends expansion text; outside quotes it is split into fields at
  // IFS characters (separators at either end are dropped).
  void emit_text(const char* s, int n, bool in_quotes, bool mark_fields = true) {
    SplitState st;
    emit_piece(s, n, in_quotes, st, mark_fields);
  }

  void emit_piece(const char* s, int n, bool in_quotes, SplitState& st, bool mark_fields = true) {
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

  void emit_number(std::int32_t v) {
    char num[16];
    int n = format_signed(num, v);
    emit_text(num, n, quote_ == '"');
  }

  End run(int term) {
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

  void escape() {
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

  // Handles '(' ; returns true when the word ends here.
  bool lparen(int term, End& end) {
    int d = next_char();
    if (d == '(') {
      // ((expression)): its value becomes the exit status.
      int mark = ws_.pos;
      collect_arithmetic(mark);
      if (!skipping()) last_status = arithmetic_evaluate(at(mark)) == 0 ? 1 : 0;
      ws_.pos = mark;
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

  void finish_group() {
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

  // Reads an arithmetic expression up to the matching "))" into the
  // word buffer at `mark` (not part of any word).
  void collect_arithmetic(int mark) {
    ws_.pos = mark;
    int depth = 0;
    for (;;) {
      int c = next_char();
      if (c == kEof) fatal_error(VEK_ERR(kErrSyntax), "((...))");
      if (c == '(') ++depth;
      if (c == ')') {
        if (depth == 0) {
          int d = next_char();
          if (d == ')') break;
          push_back();
        } else {
          --depth;
        }
      }
      put(c);
    }
    put(0);
  }

  void dollar() {
    int d = next_char();
    if (d == '(') {
      int e = next_char();
      if (e == '(') {
        int mark = ws_.pos;
        collect_arithmetic(mark);
        std::int32_t v = skipping() ? 0 : arithmetic_evaluate(at(mark));
        ws_.pos = mark;
        if (ws_.pos + 20 > kWordTextLimit) fatal_error(VEK_ERR(kErrLimit), "L\x84ngensumme Argumente");
        if (!skipping()) emit_number(v);
        return;
      }
      push_back();
      substitution(')');
      return;
    }
    push_back();
    expand_parameter();
  }

  void substitution(int closing) {
    // The output is split into the word being built, as one expansion.
    SubstitutionSink sink{this};
    command_substitution_run(closing, sink, ws_.idx + 1, ws_.pos + 1);
  }

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

  void redirection(int c) {
    // Only modifier letters and one digit may stand before the operator.
    const char* w = at(word_start_);
    int n = ws_.pos - word_start_;
    int i = 0;
    while (i < n && ((w[i] >= 'a' && w[i] <= 'z') || (w[i] >= 'A' && w[i] <= 'Z'))) ++i;
    if (i < n && is_digit(w[i])) ++i;
    if (i != n || redir_start_ >= 0) fatal_error(VEK_ERR(kErrSyntax), "..?.<>");
    redir_start_ = word_start_;
    put(c);
    int ops = 1;
    bool heredoc_op = false;
    int d;
    for (;;) {
      d = next_char();
      if (d != '<' && d != '>' && d != '|') break;
      put(d);
      ++ops;
      if (ops == 2 && c == '<' && d == '<') heredoc_op = true;
    }
    bool strip = false;
    if (heredoc_op && ops == 2 && d == '-') {
      put(d);
      strip = true;
      d = next_char();
    }
    if (heredoc_op && ops == 2) {
      push_back();
      if (heredoc.pending) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
      read_heredoc(strip);
      return;
    }
    while (d == ' ' || d == '\t') d = next_char();
    if (d == '&') {
      put(d);
      d = next_char();
      if (d == 'c' || d == 't') {
        put(d);
        d = next_char();
        if (d == '0' || d == '1') put(d);
        else push_back();
      } else {
        push_back();
      }
    } else {
      push_back();
    }
  }

  void finish_redirection() {
    if (redir_start_ < 0) return;
    put(0);
    char* text = at(redir_start_);
    if (!skipping()) apply_redirection(text, true);
    ws_.pos = redir_start_;
    redir_start_ = -1;
  }

  void read_heredoc(bool strip_tabs) {
    int c;
    do {
      c = next_char();
    } while (c == ' ' || c == '\t');
    std::array<char, 65> delim{};
    int dlen = 0;
    while (c > ' ' && c != kEof) {
      if (dlen >= 64) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
      delim[static_cast<std::size_t>(dlen++)] = static_cast<char>(c);
      c = next_char();
    }
    if (dlen == 0) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
    while (c != '\n' && c != kEof) c = next_char();

    const bool store = !skipping();
    std::int64_t start = 0;
    if (store) start = sys_lseek(subst_fd, 0, plat::kSeekEnd);
    std::array<char, 4096> chunk;
    int used = 0;
    std::int64_t length = 0;
    auto out = [&](int b) {
      if (!store) return;
      if (used == static_cast<int>(chunk.size())) {
        sys_write(subst_fd | kRawWrite, chunk.data(), used);
        length += used;
        used = 0;
      }
      chunk[static_cast<std::size_t>(used++)] = static_cast<char>(b);
    };
    if (c != kEof) {
      for (;;) {
        // Start of a body line.
        c = next_char();
        if (strip_tabs)
          while (c == '\t') c = next_char();
        int matched = 0;
        while (matched < dlen && c == static_cast<unsigned char>(delim[static_cast<std::size_t>(matched)])) {
          ++matched;
          c = next_char();
        }
        if (matched == dlen && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
          push_back();
          break;
        }
        for (int k = 0; k < matched; ++k) out(static_cast<unsigned char>(delim[static_cast<std::size_t>(k)]));
        while (c != '\n' && c != kEof) {
          out(c);
          c = next_char();
        }
        if (c == kEof) {
          push_back();
          break;
        }
        out('\n');
      }
    } else {
      push_back();
    }
    if (store) {
      if (used > 0) sys_write(subst_fd | kRawWrite, chunk.data(), used);
      length += used;
      sys_lseek(subst_fd, start, plat::kSeekSet);
      heredoc.pending = true;
      heredoc.start = start;
      heredoc.length = length;
    }
  }

  // ----- parameters -----------------------------------------------------

  void expand_parameter() {
    int c = next_char();
    const bool dq = quote_ == '"';
    switch (c) {
      case '$':
      case '!':
        if (!skipping()) emit_number(background_pid);
        return;
      case '#':
        if (!skipping()) emit_number(input.param_count);
        return;
      case '*':
      case '@':
        if (!skipping()) emit_positionals(c);
        return;
      case '-': {
        if (skipping()) return;
        std::array<char, kOptionCount + 1> letters{};
        int n = 0;
        for (int i = 0; i < kOptionCount; ++i)
          if (shell_options[static_cast<std::size_t>(i)]) letters[static_cast<std::size_t>(n++)] = static_cast<char>(i);
        emit_text(letters.data(), n, dq);
        return;
      }
      case '.':
        if (!skipping()) emit_number(aux_result);
        return;
      case ':':
        if (!skipping()) emit_number(command_counter);
        return;
      case '?':
        if (!skipping()) emit_number(last_status);
        return;
      case ']':
        if (!skipping()) emit_number(glob_name_count);
        return;
      case '}':
        if (!skipping()) emit_number(last_arg_count);
        return;
      case '{':
        brace_form();
        return;
      default:
        break;
    }
    if (is_digit(c)) {
      if (skipping()) return;
      char name[2] = {static_cast<char>(c), 0};
      const char* v = positional(c - '0');
      if (v == nullptr) {
        if (opt('u')) shell_error(VEK_ERR(kErrUnset), name);
        return;
      }
      emit_text(v, static_cast<int>(str_len(v)), dq);
      return;
    }
    push_back();
    std::array<char, 33> name{};
    int n = read_name(name);
    if (n == 0 || n > 31) fatal_error(VEK_ERR(kErrNameLength), name.data());
    if (skipping()) return;
    const char* v;
    int len;
    std::array<char, 40> num{};
    if (!lookup(name.data(), v, len, num)) {
      if (opt('u')) shell_error(VEK_ERR(kErrUnset), name.data());
      return;
    }
    emit_text(v, len, dq);
  }

  int read_name(std::array<char, 33>& name) {
    int n = 0;
    while (n < 32) {
      int c = next_char();
      if (!is_name_char(c)) {
        push_back();
        break;
      }
      name[static_cast<std::size_t>(n++)] = static_cast<char>(c);
    }
    name[static_cast<std::size_t>(n)] = 0;
    return n;
  }

  const char* positional(int n) {
    if (n == 0) return input.param0 != nullptr ? input.param0 : "";
    if (n > input.param_count || input.params == nullptr) return nullptr;
    return input.params[n - 1];
  }

  // Value of a variable, or of the environment entry of that name.
  bool lookup(const char* name, const char*& value, int& len, std::array<char, 40>& num) {
    const VarScope scope = variable_scope();
    special_read(scope, name);
    VarRecord* r = var_find(scope, name);
    if (r != nullptr) {
      if (r->is_integer()) {
        len = format_integer(num.data(), output_base(r), r->int_value());
        value = num.data();
      } else {
        value = r->value();
        len = (r->flags & kBinary) ? r->value_size() : static_cast<int>(str_len(r->value()));
      }
      return true;
    }
    const char* e = env_lookup(name);
    if (e == nullptr) return false;
    value = e;
    len = static_cast<int>(str_len(e));
    return true;
  }

  void emit_positionals(int which) {
    const int count = input.param_count;
    if (count == 0) {
      if (which == '@') empty_at_ = true;
      return;
    }
    if (quote_ == '"') {
      for (int i = 0; i < count; ++i) {
        if (i > 0) {
          if (which == '*') put(ifs_join_char());
          else end_word(true);
        }
        const char* p = input.params[i];
        put_text(p, static_cast<int>(str_len(p)));
      }
      return;
    }
    for (int i = 0; i < count; ++i) {
      if (i > 0 && ws_.pos > word_start_) end_word(false);
      const char* p = input.params[i];
      emit_text(p, static_cast<int>(str_len(p)), false);
    }
  }

  void brace_form() {
    std::array<char, 64> raw{};
    int raw_n = 0;
    auto note = [&](int c) {
      if (raw_n < 63) raw[static_cast<std::size_t>(raw_n++)] = static_cast<char>(c);
    };
    note('$');
    note('{');
    int braces = 1;
    int c = next_char();
    while (c == '{') {
      ++braces;
      note(c);
      c = next_char();
    }
    bool length = false;
    if (c == '#') {
      length = true;
      note(c);
      c = next_char();
    }
    std::array<char, 33> name{};
    int positional_n = -1;
    if (is_digit(c)) {
      int v = 0;
      int digits = 0;
      while (is_digit(c) && digits < 3) {
        note(c);
        v = v * 10 + (c - '0');
        ++digits;
        c = next_char();
      }
      positional_n = v;
      format_signed(name.data(), v);
    } else {
      push_back();
      int n = read_name(name);
      for (int i = 0; i < n; ++i) note(name[static_cast<std::size_t>(i)]);
      if (n == 0 || n > 31) fatal_error(VEK_ERR(kErrNameLength), name.data());
      c = next_char();
    }
    bool colon = false;
    int op = 0;
    if (c == ':') {
      colon = true;
      note(c);
      c = next_char();
    }
    if (c == '-' || c == '+' || c == '=') {
      op = c;
    } else if (c != '}' || colon) {
      note(c);
      fatal_error(VEK_ERR(kErrBadName), raw.data());
    }
    if (op != 0 && length) {
      note(c);
      fatal_error(VEK_ERR(kErrBadName), raw.data());
    }
    if (op == '=' && positional_n >= 0) {
      note(c);
      fatal_error(VEK_ERR(kErrBadName), raw.data());
    }

    const bool dq = quote_ == '"';
    const char* value = "";
    int vlen = 0;
    bool set = false;
    std::array<char, 40> num{};
    if (!skipping()) {
      if (positional_n >= 0) {
        const char* v = positional(positional_n);
        if (v != nullptr) {
          value = v;
          vlen = static_cast<int>(str_len(v));
          set = true;
        }
      } else {
        set = lookup(name.data(), value, vlen, num);
      }
      if (!set && op == 0 && (opt('u') || braces >= 2)) shell_error(VEK_ERR(kErrUnset), name.data());
      // Indirection: the value names the next variable, braces-1 times.
      for (int level = 1; level < braces && set; ++level) {
        std::array<char, 33> next{};
        if (vlen == 0 || vlen > 31) fatal_error(VEK_ERR(kErrBadName), value);
        for (int i = 0; i < vlen; ++i) next[static_cast<std::size_t>(i)] = value[i];
        if (!name_check(next.data())) fatal_error(VEK_ERR(kErrBadName), next.data());
        VarRecord* r = var_find(variable_scope(), next.data());
        if (r != nullptr && r->is_integer() && level + 1 < braces) fatal_error(VEK_ERR(kErrBadName), "{{ i-Flag!");
        name = next;
        set = lookup(name.data(), value, vlen, num);
        if (!set && (braces >= 3 || opt('u'))) shell_error(VEK_ERR(kErrUnset), name.data());
      }
    }

    if (op == 0) {
      if (!skipping()) {
        if (length) {
          if (set) emit_number(vlen);
        } else if (set) {
          emit_text(value, vlen, dq);
        }
      }
    } else {
      const bool missing = !set || (colon && vlen == 0);
      bool use_word = false;
      if (op == '-') use_word = missing;
      else if (op == '+') use_word = !missing;
      else use_word = missing;
      if (skipping()) use_word = false;
      if (!use_word) {
        if (!skipping() && op != '+' && set) emit_text(value, vlen, dq);
        scan_operator_word(false);
      } else if (op == '=') {
        const int mark = ws_.pos;
        scan_operator_word(true);
        assign_from(mark, name.data());
      } else {
        scan_operator_word(true);
      }
    }
    // Closing braces of an indirection: the second is optional, every one
    // after it is required.
    if (braces >= 2) {
      int d = next_char();
      if (d != '}') push_back();
      for (int i = 3; i <= braces; ++i) {
        d = next_char();
        if (d != '}') fatal_error(VEK_ERR(kErrSyntax), "}}");
      }
    }
  }

  // Scans the word of a ${name-word} form up to its '}'.  An unused word
  // is scanned in skip mode and dropped.
  void scan_operator_word(bool use) {
    const ClassTable* saved_table = table_;
    const ClassTable* saved_base = base_table_;
    if (quote_ == 0) table_ = base_table_ = &argument_table;
    else base_table_ = &argument_table;
    if (use) {
      End e = run('}');
      if (e != End::kBrace) fatal_error(VEK_ERR(kErrSyntax), "${ >}< erwartet");
    } else {
      const int idx = ws_.idx;
      const int pos = ws_.pos;
      const int start = word_start_;
      const bool q = quoted_, w = wildcard_, f = fields_;
      const unsigned skip = skip_flags;
      skip_flags |= kSkipOperatorWord;
      End e;
      try {
        e = run('}');
      } catch (...) {
        skip_flags = skip;
        throw;
      }
      skip_flags = skip;
      if (e != End::kBrace) fatal_error(VEK_ERR(kErrSyntax), "${ >}< erwartet");
      ws_.idx = idx;
      ws_.pos = pos;
      word_start_ = start;
      quoted_ = q;
      wildcard_ = w;
      fields_ = f;
    }
    table_ = saved_table;
    base_table_ = saved_base;
  }

  // ${name=word}: the fields the word produced, joined with the first IFS
  // character, become the variable's value.
  void assign_from(int mark, const char* name) {
    static std::array<char, kWordBufferSize> joined;
    int n = 0;
    for (int p = mark; p < ws_.pos; ++p) {
      char c = *at(p);
      joined[static_cast<std::size_t>(n++)] = c == 0 ? ifs_join_char() : c;
    }
    joined[static_cast<std::size_t>(n)] = 0;
    var_set(variable_scope(), name, VarValue::text(joined.data()), kVar | kAsText);
  }

};

}  // namespace

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
