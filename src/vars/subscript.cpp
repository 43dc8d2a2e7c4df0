// Array subscripts: reading `[index]` from a text or from the input, and
// the element names of assignment words.
#include "vars/subscript.h"

#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"

namespace vek {

namespace {

// An index text, and the name of an index variable, have at most this
// many characters.
constexpr int kMaxIndex = 30;
// Subscripts inside subscripts (`a[b[c]]`) are read recursively; past this
// depth the stack limit is reported.
constexpr int kMaxDepth = 16;

bool is_digit_char(int c) { return c >= '0' && c <= '9'; }
bool is_name_start(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_name_char(int c) { return is_name_start(c) || is_digit_char(c); }

// The characters of one subscript as read, for messages.
struct Seen {
  std::array<char, 64> text{};
  int n = 0;
  void note(int c) {
    if (n < static_cast<int>(text.size()) - 1) text[static_cast<std::size_t>(n++)] = static_cast<char>(c);
  }
};

class SubscriptReader {
 public:
  SubscriptReader(CharSource& src, const VarScope& scope) : src_(src), scope_(scope) {}

  int read(ElementName& name, int len, int depth) {
    if (depth >= kMaxDepth) fatal_error(VEK_ERR(kErrStack));
    Seen seen;
    auto get = [&] {
      int c = src_.next();
      seen.note(c);
      return c;
    };
    int c = get();
    while (c == ' ' || c == '\t') c = get();
    std::array<char, kMaxIndex + 1> index{};
    int n = 0;
    bool too_long = false;
    if (is_digit_char(c)) {
      while (is_digit_char(c)) {
        if (n < kMaxIndex) index[static_cast<std::size_t>(n++)] = static_cast<char>(c);
        else too_long = true;
        c = get();
      }
    } else if (is_name_start(c)) {
      ElementName inner{};
      int m = 0;
      while (is_name_char(c)) {
        if (m < 32) inner[static_cast<std::size_t>(m++)] = static_cast<char>(c);
        c = get();
      }
      if (m > kMaxIndex) too_long = true;
      if (c == '[') {
        m += read(inner, m, depth + 1);
        c = get();
      }
      if (skip_flags == 0 && !too_long) {
        if (!name_check(inner.data())) fatal_error(VEK_ERR(kErrBadName), inner.data());
        n = variable_index(inner.data(), index, too_long);
      }
    } else {
      fatal_error(VEK_ERR(kErrBadName), seen.text.data());
    }
    while (c == ' ' || c == '\t') c = get();
    if (c != ']' || too_long) fatal_error(VEK_ERR(kErrSyntax), seen.text.data());
    // The caller's name has room for its 31 characters and an index.
    for (int i = 0; i < n && len + i < kElementNameSize - 1; ++i)
      name[static_cast<std::size_t>(len + i)] = index[static_cast<std::size_t>(i)];
    const int added = len + n < kElementNameSize - 1 ? n : kElementNameSize - 1 - len;
    name[static_cast<std::size_t>(len + added)] = 0;
    return added;
  }

 private:
  CharSource& src_;
  const VarScope& scope_;

  // The index a variable gives: its text, or an integer's decimal text.
  int variable_index(const char* var, std::array<char, kMaxIndex + 1>& index, bool& too_long) {
    VarRecord* r = var_find(scope_, var);
    if (r == nullptr) {
      shell_error(VEK_ERR(kErrUnset), var);
      return 0;
    }
    if (r->is_integer()) {
      char digits[16];
      format_signed(digits, r->int_value());
      return static_cast<int>(copy_truncated(index, digits));
    }
    const char* v = r->value();
    if (str_len(v) > static_cast<std::size_t>(kMaxIndex)) too_long = true;
    return static_cast<int>(copy_truncated(index, v));
  }
};

}  // namespace

int subscript_to_index(CharSource& src, const VarScope& scope, ElementName& name, int len) {
  SubscriptReader reader(src, scope);
  return reader.read(name, len, 0);
}

const char* element_name_of_word(const VarScope& scope, const char* word, ElementName& out) {
  int p = 0;
  while (word[p] && word[p] != '[') ++p;
  if (word[p] == 0) return word;
  if (p > 31) fatal_error(VEK_ERR(kErrBadName), word);
  for (int i = 0; i < p; ++i) out[static_cast<std::size_t>(i)] = word[i];
  out[static_cast<std::size_t>(p)] = 0;
  TextSource text(word + p + 1);
  subscript_to_index(text.source(), scope, out, p);
  if (*text.position() != 0 || !name_check(out.data())) fatal_error(VEK_ERR(kErrBadName), word);
  return out.data();
}

}  // namespace vek
