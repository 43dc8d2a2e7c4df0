// array: the elements of an array are ordinary variables, the array name
// followed by the index (`a1`, `a2`, ...).  The builtin assigns a run of
// elements, or copies one element into a variable; set -A and set +A
// come here too.
#include <array>
#include <cstdint>
#include <cstring>

#include "builtins/builtins.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

constexpr int kNameLimit = 31;

bool starts_with_digit(const char* w) { return w[0] >= '0' && w[0] <= '9'; }
bool is_option(const char* w) { return (w[0] == '-' || w[0] == '+') && w[1] == 'A' && w[2] == 0; }

// Unsets every variable of `store` whose name is `name` followed by
// digits only (the elements of the array).
void clear_elements(const VarScope& scope, VarStore& store, const char* name, std::size_t n) {
  if (store.first == nullptr) return;
  for (VarRecord* r = store.first; r != store.end && r->text != nullptr; ++r) {
    if (r->name_len < n + 2 || !(r->flags & kVar) || std::memcmp(r->text, name, n) != 0) continue;
    std::array<char, 33> element{};
    bool digits = true;
    for (std::size_t i = 0; i + 1 < r->name_len && i < 32; ++i) {
      element[i] = r->text[i];
      if (i >= n && !(element[i] >= '0' && element[i] <= '9')) digits = false;
    }
    if (!digits || r->name_len > 32) continue;
    if (r->flags & kReadOnly) fatal_error(VEK_ERR(kErrReadOnly), element.data());
    var_unexport(r);
    store_unset(scope, store, element.data());
  }
}

// array name=array2 index: the target gets the value of one element.
int read_element(const VarScope& scope, const char* target, const char* array, const char* index_arg) {
  std::array<char, 16> digits{};
  const char* index = index_arg;
  if (!starts_with_digit(index_arg)) {
    const VarRecord* r = var_find(scope, index_arg);
    if (r == nullptr) {
      shell_error(VEK_ERR(kErrUnset), index_arg);
      return 2;
    }
    if (r->is_integer()) {
      format_signed(digits.data(), r->int_value());
      index = digits.data();
    } else {
      index = r->value();
    }
  }
  std::array<char, 64> element{};
  std::size_t n = 0;
  for (const char* part : {array, index})
    for (; *part && n < element.size() - 1; ++part) element[n++] = *part;
  if (n > static_cast<std::size_t>(kNameLimit)) fatal_error(VEK_ERR(kErrNameLength), element.data());
  const VarRecord* e = var_find(scope, element.data());
  if (e == nullptr) {
    shell_error(VEK_ERR(kErrUnset), element.data());
    return 2;
  }
  if (e->is_integer()) var_set(scope, target, VarValue::integer(e->int_value()));
  else var_set(scope, target, VarValue::text(e->value()));
  return 0;
}

}  // namespace

int bi_array(int argc, char** argv) { return array_set_from_words(argc - 1, argv + 1); }

int array_set_from_words(int count, char** words) {
  int i = 0;
  char option = 0;  // '-' or '+' for -A / +A
  bool range = false;
  std::int32_t start = 1;
  std::int32_t end = 0;
  bool have_end = false;
  if (i < count && is_option(words[i])) {
    option = words[i++][0];
    start = 0;
  } else if (i < count && starts_with_digit(words[i])) {
    start = parse_decimal(words[i++]);
    range = true;
  }
  if ((option != 0 || range) && i < count && starts_with_digit(words[i])) {
    end = parse_decimal(words[i++]);
    have_end = true;
  }
  if (i >= count) return 1;

  // The name: up to 32 characters, up to an `=`.
  const char* name_arg = words[i++];
  std::array<char, 33> name{};
  std::size_t n = 0;
  while (name_arg[n] && name_arg[n] != '=' && n < 32) {
    name[n] = name_arg[n];
    ++n;
  }
  const bool read_form = std::strchr(name_arg, '=') != nullptr;
  const VarScope scope = variable_scope();
  if (read_form) {
    if (option != 0 || range || i >= count) fatal_error(VEK_ERR(kErrArguments), name_arg);
    if (!name_check(name.data())) fatal_error(VEK_ERR(kErrBadName), name.data());
    return read_element(scope, name.data(), std::strchr(name_arg, '=') + 1, words[i]);
  }
  if (!name_check(name.data()) || start < 0) fatal_error(VEK_ERR(kErrBadName), name.data());

  // In a function body the elements are local, unless -A, +A or global
  // say otherwise.
  const bool local = (input.mode & kModeBody) && option == 0 && input.global_counter == 0 && scope.local != nullptr;
  VarStore& store = local ? *scope.local : global_store;
  const int values = count - i;
  std::int64_t elements = values;
  int step = 1;
  if (have_end) {
    elements = (end < start ? std::int64_t{start} - end : std::int64_t{end} - start) + 1;
    if (end < start) step = -1;
  }
  if (option == '-' || (option == 0 && elements == 0)) clear_elements(scope, store, name.data(), n);

  std::int64_t index = start;
  for (std::int64_t k = 0; k < elements; ++k, index += step) {
    std::array<char, 48> element{};
    char digits[24];
    format_signed(digits, static_cast<std::int32_t>(index));
    const int len = concat_strings(element.data(), {name.data(), digits});
    if (len > kNameLimit) fatal_error(VEK_ERR(kErrBadName), element.data());
    const char* value = k < values ? words[i + k] : "";
    if (local) {
      store_set(scope, store, element.data(), VarValue::text(value), kVar | kLocal);
      store.in_use |= 0x80;
    } else {
      var_set(scope, element.data(), VarValue::text(value));
    }
  }
  return 0;
}

}  // namespace vek
