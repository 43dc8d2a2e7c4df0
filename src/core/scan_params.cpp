// Parameter expansion: $name, the special parameters, the positional
// parameters and every ${...} form.
#include "core/classes.h"
#include "core/input_source.h"
#include "core/nesting.h"
#include "core/scanner.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/subscript.h"
#include "vars/varstore.h"

namespace vek {

namespace {

// Output base for an integer variable without its own.
int output_base(const VarRecord* r) { return r->base != 0 ? static_cast<int>(r->base) : default_output_base; }

}  // namespace

void Scanner::expand_parameter() {
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
  // "$a[i]" is an element; unquoted, $a[i] is $a followed by the text [i].
  if (dq) read_subscript(name);
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

bool Scanner::read_subscript(std::array<char, 33>& name) {
  if (next_char() != '[') {
    push_back();
    return false;
  }
  ElementName element{};
  const int len = static_cast<int>(copy_truncated(element, name.data()));
  subscript_to_index(input_char_source(), variable_scope(), element, len);
  if (!skipping() && !name_check(element.data())) fatal_error(VEK_ERR(kErrBadName), element.data());
  copy_truncated(name, element.data());
  return true;
}

int Scanner::read_name(std::array<char, 33>& name) {
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

const char* Scanner::positional(int n) {
  if (n == 0) return input.param0 != nullptr ? input.param0 : "";
  if (n > input.param_count || input.params == nullptr) return nullptr;
  return input.params[n - 1];
}

bool Scanner::lookup(const char* name, const char*& value, int& len, std::array<char, 40>& num) {
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

void Scanner::emit_positionals(int which) {
  const int count = input.param_count;
  if (count == 0) {
    if (which == '@') empty_at_ = true;
    return;
  }
  if (quote_ == '"') {
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        // An empty IFS has no join character: the parameters run together.
        if (which == '*') {
          if (ifs_join_char() != 0) put(ifs_join_char());
        }
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

// ${...}: the header (braces, '#', name or positional number, ':' and
// operator), the value (through indirections), then what the operator
// makes of it, and the closing braces of an indirection.
void Scanner::brace_form() {
  NestingGuard level;
  BraceForm f;
  read_brace_header(f);
  if (!skipping()) resolve_brace_value(f);
  apply_brace_operator(f);
  close_indirection(f.braces);
}

void Scanner::BraceForm::note(int c) {
  if (raw_n < 63) raw[static_cast<std::size_t>(raw_n++)] = static_cast<char>(c);
}

void Scanner::read_brace_header(BraceForm& f) {
  f.note('$');
  f.note('{');
  int c = next_char();
  while (c == '{') {
    ++f.braces;
    f.note(c);
    c = next_char();
  }
  if (c == '#') {
    f.length = true;
    f.note(c);
    c = next_char();
  }
  if (is_digit(c)) {
    int v = 0;
    int digits = 0;
    while (is_digit(c) && digits < 3) {
      f.note(c);
      v = v * 10 + (c - '0');
      ++digits;
      c = next_char();
    }
    f.positional_n = v;
    format_signed(f.name.data(), v);
  } else {
    push_back();
    int n = read_name(f.name);
    for (int i = 0; i < n; ++i) f.note(f.name[static_cast<std::size_t>(i)]);
    if (n == 0 || n > 31) fatal_error(VEK_ERR(kErrNameLength), f.name.data());
    if (read_subscript(f.name)) {
      f.note('[');
      for (int i = n; f.name[static_cast<std::size_t>(i)]; ++i) f.note(f.name[static_cast<std::size_t>(i)]);
      f.note(']');
    }
    c = next_char();
  }
  if (c == ':') {
    f.colon = true;
    f.note(c);
    c = next_char();
  }
  if (c == '-' || c == '+' || c == '=') {
    f.op = c;
  } else if (c != '}' || f.colon) {
    f.note(c);
    fatal_error(VEK_ERR(kErrBadName), f.raw.data());
  }
  if ((f.op != 0 && f.length) || (f.op == '=' && f.positional_n >= 0)) {
    f.note(c);
    fatal_error(VEK_ERR(kErrBadName), f.raw.data());
  }
}

void Scanner::resolve_brace_value(BraceForm& f) {
  if (f.positional_n >= 0) {
    const char* v = positional(f.positional_n);
    if (v != nullptr) {
      f.value = v;
      f.vlen = static_cast<int>(str_len(v));
      f.set = true;
    }
  } else {
    f.set = lookup(f.name.data(), f.value, f.vlen, f.num);
  }
  if (!f.set && f.op == 0 && (opt('u') || f.braces >= 2)) shell_error(VEK_ERR(kErrUnset), f.name.data());
  // Indirection: the value names the next variable, braces-1 times.
  for (int level = 1; level < f.braces && f.set; ++level) {
    std::array<char, 33> next{};
    if (f.vlen == 0 || f.vlen > 31) fatal_error(VEK_ERR(kErrBadName), f.value);
    for (int i = 0; i < f.vlen; ++i) next[static_cast<std::size_t>(i)] = f.value[i];
    if (!name_check(next.data())) fatal_error(VEK_ERR(kErrBadName), next.data());
    VarRecord* r = var_find(variable_scope(), next.data());
    if (r != nullptr && r->is_integer() && level + 1 < f.braces) fatal_error(VEK_ERR(kErrBadName), "{{ i-Flag!");
    f.name = next;
    f.set = lookup(f.name.data(), f.value, f.vlen, f.num);
    if (!f.set && (f.braces >= 3 || opt('u'))) shell_error(VEK_ERR(kErrUnset), f.name.data());
  }
}

void Scanner::apply_brace_operator(const BraceForm& f) {
  const bool dq = quote_ == '"';
  if (f.op == 0) {
    if (skipping() || !f.set) return;
    if (f.length) emit_number(f.vlen);
    else emit_text(f.value, f.vlen, dq);
    return;
  }
  const bool missing = !f.set || (f.colon && f.vlen == 0);
  // '-' and '=' use the word when the value is missing, '+' when it is not.
  bool use_word = f.op == '+' ? !missing : missing;
  if (skipping()) use_word = false;
  if (!use_word) {
    if (!skipping() && f.op != '+' && f.set) emit_text(f.value, f.vlen, dq);
    scan_operator_word(false);
  } else if (f.op == '=') {
    // The word becomes the value; the form then gives the new value as
    // $name would (split into fields outside double quotes), not the word
    // as it was written.
    const WordMark mark = mark_word();
    scan_operator_word(true);
    assign_from(mark.pos, f.name.data());
    back_to(mark);
    const char* value = "";
    int vlen = 0;
    std::array<char, 40> num{};
    if (lookup(f.name.data(), value, vlen, num)) emit_text(value, vlen, dq);
  } else {
    scan_operator_word(true);
  }
}

// Closing braces of an indirection: the second is optional, every one
// after it is required.
void Scanner::close_indirection(int braces) {
  if (braces < 2) return;
  int d = next_char();
  if (d != '}') push_back();
  for (int i = 3; i <= braces; ++i) {
    d = next_char();
    if (d != '}') fatal_error(VEK_ERR(kErrSyntax), "}}");
  }
}

void Scanner::scan_operator_word(bool use) {
  const ClassTable* saved_table = table_;
  const ClassTable* saved_base = base_table_;
  if (quote_ == 0) table_ = base_table_ = &argument_table;
  else base_table_ = &argument_table;
  if (use) {
    End e = run('}');
    if (e != End::kBrace) fatal_error(VEK_ERR(kErrSyntax), "${ >}< erwartet");
  } else {
    const WordMark mark = mark_word();
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
    back_to(mark);
  }
  table_ = saved_table;
  base_table_ = saved_base;
}

void Scanner::assign_from(int mark, const char* name) {
  static std::array<char, kWordBufferSize> joined;
  int n = 0;
  for (int p = mark; p < ws_.pos; ++p) {
    char c = *at(p);
    if (c == 0) c = ifs_join_char();
    // An empty IFS has no join character: the fields run together.
    if (c != 0) joined[static_cast<std::size_t>(n++)] = c;
  }
  joined[static_cast<std::size_t>(n)] = 0;
  var_set(variable_scope(), name, VarValue::text(joined.data()), kVar | kAsText);
}
}  // namespace vek
