// Builtins on variables, aliases and the environment: set, unset,
// unsetenv, export, unexport, readonly, alias, unalias, local, global,
// static, typeset, ifdef, ifset, ifenv and localset.
#include <array>
#include <cstring>

#include "builtins/builtins.h"
#include "core/hooks.h"
#include "core/exec.h"
#include "core/shell.h"
#include "io/editor.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "session/input.h"
#include "session/startup.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

// Inside a file or function source, while `global` is not in force,
// aliases and typeset work on the source's own local store.
bool own_scope() { return (input.mode & (kModeFile | kModeBody)) != 0 && input.global_counter == 0; }

// The local store is searched only once something was created in it.
void mark_local_in_use() { input.local_store.in_use |= 0x80; }

bool is_word(const char* w, const char* text) { return str_compare(w, text) == 0; }

// The name part of an operand, up to '=' (and ':' when `colon`) or its
// end; returns the length of the name part in the operand.
std::size_t name_part(const char* op, std::array<char, 64>& name, bool colon) {
  std::size_t k = 0;
  while (op[k] != 0 && op[k] != '=' && !(colon && op[k] == ':')) {
    if (k + 1 < name.size()) name[k] = op[k];
    ++k;
  }
  name[k < name.size() ? k : name.size() - 1] = 0;
  return k;
}

// The bytes of a buffer variable, filled with one byte.
std::array<char, 32766> fill_bytes;

// One operand of local or set: name, name=value, name: (empty) or
// name:spec (a buffer variable of fixed length filled with one byte).
void assign_operand(const char* op, bool local, int max_length) {
  std::array<char, 64> name{};
  const std::size_t k = name_part(op, name, true);
  if (!name_check(name.data())) fatal_error(VEK_ERR(kErrBadName), name.data());
  const VarScope scope = variable_scope();
  VarStore& store = local ? input.local_store : global_store;
  const unsigned flags = kVar | (local ? kLocal : 0);
  if (local) mark_local_in_use();
  if (op[k] == ':' && op[k + 1] != 0) {
    const char* spec = op + k + 1;
    const char* dot = std::strchr(spec + 1, '.');
    int fill;
    std::int32_t length;
    if (dot != nullptr) {
      fill = parse_decimal(spec) & 0xFF;
      length = parse_decimal(dot + 1);
    } else {
      fill = static_cast<unsigned char>(spec[0]);
      length = parse_decimal(spec + 1);
    }
    if (length < 0) length = 0;
    if (length > max_length) length = max_length;
    std::memset(fill_bytes.data(), fill, static_cast<std::size_t>(length));
    store_set(scope, store, name.data(), VarValue::bytes(fill_bytes.data(), length),
              flags | (length != 4 ? kAsText : 0));
    return;
  }
  store_set(scope, store, name.data(), VarValue::text(op[k] == '=' ? op + k + 1 : ""), flags);
}

// Whether the process environment has an entry NAME=...
bool in_environment(const char* name) {
  const std::size_t n = str_len(name);
  for (const char* const* e = plat::environment(); e != nullptr && *e != nullptr; ++e)
    if (std::strncmp(*e, name, n) == 0 && (*e)[n] == '=') return true;
  return false;
}

}  // namespace

// set: lists the store; set -opts sets shell options; set name=value ...
// assigns global variables; set -A hands the command to the array builtin.
int bi_set(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  if (call.argc == 1) {
    list_store(scope, ListWhich::kGlobal, kVar | kFunc, ListStyle::kValues);
    return 0;
  }
  const char* first = call.argv[1];
  if (first[0] == '-' || first[0] == '+') {
    if (first[1] == 'A') {
      last_status = bi_array(call.argc, call.argv);
      return 0;
    }
    const bool editor = opt('E');
    parse_options(call.argc - 1, call.argv + 1, true);
    // The line editor serves only a console.
    if (!editor && opt('E') && !plat::isatty(2)) set_opt('E', false);
    if (editor && !opt('E')) line_editor_control('E');
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) assign_operand(call.argv[i], false, 32765);
  return 0;
}

int bi_local(const BuiltinCall& call) {
  if (call.argc == 1) {
    input.global_counter = 0;
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) assign_operand(call.argv[i], true, 2045);
  return 0;
}

// global: plain names refer to global variables; `global +` ends that.
int bi_global(const BuiltinCall& call) {
  if (call.argc > 1 && is_word(call.argv[1], "+")) input.global_counter = 0;
  else ++input.global_counter;
  return 0;
}

// static name[=value] ...: a variable of the script or function that is
// created once and keeps its value across calls.
int bi_static(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  if (call.argc == 1) {
    list_store(scope, ListWhich::kGlobal, kStatic, ListStyle::kValues);
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) {
    const char* op = call.argv[i];
    std::array<char, 64> name{};
    const std::size_t k = name_part(op, name, false);
    if (!name_check(name.data())) fatal_error(VEK_ERR(kErrBadName), name.data());
    std::array<char, 260> qualified{};
    static_name(scope, qualified.data(), name.data(), true);
    if (store_find(scope, global_store, qualified.data()) != nullptr) continue;
    store_set(scope, global_store, qualified.data(), VarValue::text(op[k] == '=' ? op + k + 1 : ""), kVar | kStatic);
    ++static_var_count;
  }
  return 0;
}

// unset [-f|-s|-e] name ...
int bi_unset(const BuiltinCall& call) {
  int i = 1;
  char option = 0;
  if (i < call.argc && call.argv[i][0] == '-') {
    const char* w = call.argv[i];
    if ((w[1] != 'f' && w[1] != 's' && w[1] != 'e') || w[2] != 0) fatal_error(VEK_ERR(kErrArguments), w);
    option = w[1];
    ++i;
  }
  const VarScope scope = variable_scope();
  for (; i < call.argc; ++i) {
    const char* name = call.argv[i];
    if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
    if (option == 'f') {
      VarRecord* fn = store_find(scope, global_store, name, kFunc);
      if (fn == nullptr) {
        last_status += 2;
        continue;
      }
      const int slot = fn->int_value();
      if (store_unset(scope, global_store, name, kFunc) != nullptr && slot >= 0 && slot < kFunctionSlots)
        function_length[static_cast<std::size_t>(slot)] = 0;
      continue;
    }
    VarRecord* rec = var_find(scope, name);
    if (rec == nullptr) {
      last_status += 2;
      continue;
    }
    if (rec->flags & kReadOnly) fatal_error(VEK_ERR(kErrReadOnly), name);
    if (!(rec->flags & kExported)) {
      if (option == 'e') {
        ++last_status;
        continue;
      }
    } else {
      if (option == 's') {
        ++last_status;
        continue;
      }
      var_unexport(rec);
    }
    var_unset(scope, name);
  }
  return 0;
}

// unsetenv name ...: removes entries of the process environment (and the
// exported variable of that name).
int bi_unsetenv(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  for (int i = 1; i < call.argc; ++i) {
    const char* name = call.argv[i];
    const bool valid = name_check(name);
    if (!valid && str_len(name) >= 60) fatal_error(VEK_ERR(kErrBadName), name);
    if (!in_environment(name)) {
      last_status += 2;
      continue;
    }
    plat::env_unset(name);
    if (!valid) continue;
    VarRecord* rec = var_find(scope, name);
    if (rec != nullptr && (rec->flags & kExported)) {
      var_unexport(rec);
      var_unset(scope, name);
    }
  }
  return 0;
}

// export [name ...]: only a plain text variable becomes an environment
// entry.
int bi_export(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  if (call.argc == 1) {
    list_store(scope, ListWhich::kGlobal, kExported, ListStyle::kValues);
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) {
    const char* name = call.argv[i];
    if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
    VarRecord* rec = var_find(scope, name);
    if (rec == nullptr) {
      ++last_status;
      continue;
    }
    if (rec->flags & (kInteger | kBinary | kStatic | kLocal | kExported)) continue;
    store_set(scope, global_store, name, VarValue::text(rec->value()), kVar | kExported);
  }
  return 0;
}

int bi_unexport(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  for (int i = 1; i < call.argc; ++i) {
    const char* name = call.argv[i];
    if (!name_check(name)) fatal_error(VEK_ERR(kErrBadName), name);
    VarRecord* rec = var_find(scope, name);
    if (rec == nullptr) {
      ++last_status;
      continue;
    }
    var_unexport(rec);
  }
  return 0;
}

// readonly [name ...]: marks variables, functions and aliases.
int bi_readonly(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  if (call.argc == 1) {
    list_store(scope, ListWhich::kBoth, kReadOnly, ListStyle::kValues);
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) {
    const char* name = call.argv[i];
    VarRecord* rec = var_find(scope, name);
    if (rec == nullptr) rec = var_find(scope, name, kAlias);
    if (rec == nullptr) rec = store_find(scope, global_store, name, kFunc);
    if (rec == nullptr) {
      ++last_status;
      continue;
    }
    rec->flags |= kReadOnly;
  }
  return 0;
}

// alias [-t] [name[=text] ...]
int bi_alias(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  int i = 1;
  bool tracked = false;
  if (i < call.argc && is_word(call.argv[i], "-t")) {
    tracked = true;
    ++i;
  }
  if (i == call.argc) {
    list_store(scope, ListWhich::kBoth, tracked ? kTracked : kAlias, ListStyle::kValues);
    return 0;
  }
  const bool local = own_scope();
  VarStore& store = local ? input.local_store : global_store;
  const unsigned flags = kAlias | (local ? kLocal : 0);
  for (; i < call.argc; ++i) {
    const char* op = call.argv[i];
    std::array<char, 64> name{};
    const std::size_t k = name_part(op, name, false);
    if (k > 31) fatal_error(VEK_ERR(kErrNameLength), name.data());
    if (op[k] == '=') {
      if (local) mark_local_in_use();
      store_set(scope, store, name.data(), VarValue::text(op + k + 1), flags | (tracked ? kTracked : 0));
      continue;
    }
    if (tracked) {
      const char* found = search_command(true, name.data());
      if (found == nullptr) {
        ++last_status;
        continue;
      }
      std::array<char, 512> path{};
      copy_truncated(path, found);
      if (str_compare(path.data(), name.data()) != 0) {
        if (local) mark_local_in_use();
        store_set(scope, store, name.data(), VarValue::text(path.data()), flags | kTracked);
        format_out(1, "%s=%s\r\n", name.data(), path.data());
      }
      continue;
    }
    VarRecord* rec = store_find(scope, store, name.data(), kAlias);
    if (rec != nullptr && (rec->flags & kTracked) == 0) {
      format_out(1, "%s=%s\r\n", name.data(), rec->value());
    } else {
      ++last_status;
    }
  }
  return 0;
}

int bi_unalias(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  VarStore& store = own_scope() ? input.local_store : global_store;
  for (int i = 1; i < call.argc; ++i) {
    if (store_unset(scope, store, call.argv[i], kAlias) == nullptr) last_status = 1;
  }
  return 0;
}

// typeset: integer variables and their output bases.
int bi_typeset(const BuiltinCall& call) {
  const VarScope scope = variable_scope();
  if (call.argc == 1) {
    list_store(scope, ListWhich::kBoth, kInteger, ListStyle::kValues);
    return 0;
  }
  const char* w = call.argv[1];
  if (w[0] != '-' && w[0] != '+') return 0;
  const bool minus = w[0] == '-';
  bool integer = false;
  bool default_base = false;
  int base = 0;
  for (int k = 1; w[k] != 0;) {
    const char c = w[k];
    if (c >= '0' && c <= '9') {
      int count = 0;
      base = parse_small_decimal(&count, w + k);
      k += count;
      if (!((base >= 2 && base <= 36) || base == 256)) fatal_error(VEK_ERR(kErrArguments), w);
      continue;
    }
    if (c == 'i') integer = true;
    else if (c == 's') default_base = true;
    else if (c == 'S') format_out(1, "%u\r\n", 4);
    else fatal_error(VEK_ERR(kErrArguments), w);
    ++k;
  }
  if (default_base) {
    if (base > 0) default_output_base = base;
    else format_out(1, "%d\r\n", default_output_base);
    return 0;
  }
  const bool local = own_scope();
  if (call.argc == 2) {
    if (integer)
      list_store(scope, local ? ListWhich::kLocal : ListWhich::kGlobal, kInteger,
                 minus ? ListStyle::kValues : ListStyle::kNames);
    return 0;
  }
  VarStore& store = local ? input.local_store : global_store;
  if (local) mark_local_in_use();
  for (int i = 2; i < call.argc; ++i) {
    const char* op = call.argv[i];
    std::array<char, 64> name{};
    const std::size_t k = name_part(op, name, false);
    if (!name_check(name.data())) fatal_error(VEK_ERR(kErrBadName), name.data());
    if (minus && integer) {
      int out_base = 0;
      std::int32_t value = 0;
      if (op[k] == '=') {
        value = parse_integer(&out_base, op + k + 1);
      } else if (VarRecord* cur = var_find(scope, name.data());
                 cur != nullptr && !(cur->flags & (kInteger | kBinary))) {
        value = parse_decimal(cur->value());
      }
      if (base > 0) out_base = base;
      VarRecord* rec = store_set(scope, store, name.data(), VarValue::integer(value),
                                 kVar | kInteger | (local ? kLocal : 0));
      if (rec == nullptr) {
        last_status += 2;
        continue;
      }
      rec->base = static_cast<std::uint32_t>(out_base);
      continue;
    }
    VarRecord* rec = var_find(scope, name.data());
    if (rec == nullptr || !rec->is_integer()) {
      ++last_status;
      continue;
    }
    if (minus) {
      if (base > 0) rec->base = static_cast<std::uint32_t>(base);
    } else if (integer) {
      var_set(scope, name.data(), VarValue::integer(rec->int_value()), kVar | kAsText);
    }
  }
  return 0;
}

// ifdef / ifset [-seEf] name ...: 0 when every name is defined (ifset:
// and not empty), 2 at the first that is not, 1 without names.
int bi_ifdef(const BuiltinCall& call) {
  const bool need_value = is_word(call.argv[0], "ifset");
  int i = 1;
  bool shell = true, exported = true, environ = true, function = false;
  if (i < call.argc && call.argv[i][0] == '-') {
    const char* w = call.argv[i++];
    shell = exported = environ = false;
    int letters = 0;
    for (int k = 1; w[k] != 0; ++k, ++letters) {
      switch (w[k]) {
        case 's': shell = true; break;
        case 'e': exported = true; break;
        case 'E': environ = true; break;
        case 'f': function = true; break;
        default: fatal_error(VEK_ERR(kErrArguments), w);
      }
    }
    if (letters > 4) fatal_error(VEK_ERR(kErrArguments), w);
  }
  if (i >= call.argc) {
    last_status = 1;
    return 0;
  }
  const VarScope scope = variable_scope();
  for (; i < call.argc; ++i) {
    const char* name = call.argv[i];
    bool pass = false;
    if (name_check(name)) {
      if (function) pass = store_find(scope, global_store, name, kFunc) != nullptr;
      if (!pass && (shell || exported)) {
        const VarRecord* rec = var_find(scope, name);
        if (rec != nullptr) {
          const bool is_exported = (rec->flags & kExported) != 0;
          pass = (is_exported ? exported : shell) && (!need_value || function || rec->value_size() > 0);
        }
      }
    }
    if (!pass && environ) {
      const char* v = env_lookup(name);
      pass = v != nullptr && (!need_value || v[0] != 0);
    }
    if (!pass) {
      last_status = 2;
      return 0;
    }
  }
  return 0;
}

int bi_ifenv(const BuiltinCall& call) {
  if (call.argc == 1) {
    last_status = 1;
    return 0;
  }
  for (int i = 1; i < call.argc; ++i) {
    if (env_lookup(call.argv[i]) == nullptr) {
      last_status = 2;
      return 0;
    }
  }
  return 0;
}

int bi_localset(const BuiltinCall& /*call*/) {
  list_store(variable_scope(), ListWhich::kLocal, kVar, ListStyle::kValues);
  return 0;
}

}  // namespace vek
