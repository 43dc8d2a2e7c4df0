// Builtins that tell about the session: times, env, ver, autor, and
// whence and type, which tell what a command name stands for.
#include <array>

#include "builtins/builtins.h"
#include "core/commands.h"
#include "core/exec.h"
#include "core/hooks.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {
void write_line(const char* text) { format_out(1, "%s\r\n", text); }
}  // namespace

// times: seconds since start-up.
int bi_times(const BuiltinCall& /*call*/) {
  format_out(1, "%ld\r\n", static_cast<std::int32_t>(plat::time_now() - start_time));
  return 0;
}

int bi_env(const BuiltinCall& /*call*/) {
  for (const char* const* e = plat::environment(); e != nullptr && *e != nullptr; ++e) write_line(*e);
  return 0;
}

int bi_ver(const BuiltinCall& call) {
  if (call.argc < 2) {
    format_out(1, "vek  Version 0.1  Kommandointerpreter (%s)\r\n", plat::defaults().system_name);
    return 0;
  }
  switch (call.argv[1][0]) {
    case 'o':
    case 's': write_line("dos32"); break;
    case 'n': write_line("344"); break;
    case 't': write_line("Apr  1 2003  07:30:22"); break;
    case 'i':
      write_line("prognam=VEK prognam2=VEK");
      write_line("profile=autoexec.vek tmpf=vek_tmpf. histfile=vek_hist.txt");
      format_out(1, "dflpath=%s dflcdpath=%s\r\n", plat::defaults().search_path, plat::defaults().cd_path);
      write_line("tty=CON devnul=NUL");
      break;
    case 'l':
      format_out(1, "pnlen=%d fnlen=%d dirslen=%d namlen=%d\r\n", 260, 256, 512, 31);
      format_out(1, "abufsz=%d nargs=%d\r\n", 262144, 16384);
      format_out(1, "vbufsz=%d vbufszl=%d ibufsz=%d\r\n", 32768, 2048, 2048);
      format_out(1, "fudefs=%d namdefs=%d namdefsl=%d\r\n", 8, 40, 6);
      format_out(1, "nesting=%d njmp=%d npipes=%d\r\n", 0, 8, 0);
      break;
    default: break;
  }
  return 0;
}

int bi_autor(const BuiltinCall& /*call*/) {
  sys_write_message(1, "vek - ein Kommandointerpreter f\x81r die Konsole. Autoren: das vek-Team.\r\n");
  return 0;
}

}  // namespace vek

namespace vek {

namespace {

// The classes of whence, by their distance from "a" (unknown).
enum WhenceClass : int {
  kUnknown, kKeyword, kAliasName, kInternal, kFunction, kVariable, kEnvironment, kSystemWord, kBatch, kScript,
  kExternal
};

constexpr std::array<const char*, 11> kClassText = {
    "-",
    "Internes Kommando oder Schl\x81sselwort",
    "Alias-Name",
    "Internes Kommando",
    "Shell-Funktion",
    "Shell-Variable",
    "Environment-Variable",
    "Kommando f\x81r 'system()'",
    "Batch-Datei",
    "Shell-Script f\x81r: ",
    "Externes Kommando",
};

struct Classified {
  int cls = kUnknown;
  std::array<char, 512> path{};         // the found file, if any
  std::array<char, 260> interpreter{};  // the program that runs a script
};

bool has_backslash(const char* w) {
  for (; *w; ++w)
    if (*w == '\\') return true;
  return false;
}

// The interpreter named by a "#!" line: a path (beginning with "\", or
// "." or a drive prefix and "\" followed by a printable character), else
// vek itself.  False when the file has no such line.
bool script_interpreter(const char* path, std::array<char, 260>& out) {
  std::array<char, 260> head{};
  int fd = plat::open(path, plat::kRead | plat::kBinary);
  if (fd < 0) return false;
  const long n = plat::read(fd, head.data(), head.size() - 1);
  plat::close(fd);
  if (n <= 5 || head[0] != '#' || head[1] != '!') return false;
  long i = 2;
  while (i < n && (head[static_cast<std::size_t>(i)] == ' ' || head[static_cast<std::size_t>(i)] == '\t')) ++i;
  std::size_t k = 0;
  for (; i < n && static_cast<unsigned char>(head[static_cast<std::size_t>(i)]) >= '!' && k + 1 < out.size(); ++i)
    out[k++] = head[static_cast<std::size_t>(i)] == '/' ? '\\' : head[static_cast<std::size_t>(i)];
  out[k] = 0;
  const auto printable = [](char c) { return static_cast<unsigned char>(c) > ' '; };
  const bool is_path = out[0] == '\\' || (out[0] == '.' && printable(out[1])) ||
                       (((out[0] | 0x20) >= 'a' && (out[0] | 0x20) <= 'z') && out[1] == ':' && out[2] == '\\' &&
                        printable(out[3]));
  if (!is_path) copy_truncated(out, program_path.data());
  return true;
}

// Batch file, script or program, by the found file's extension and
// first line.
void classify_file(Classified& c) {
  const char* path = c.path.data();
  const std::size_t len = str_len(path);
  std::array<char, 5> ext{};
  if (len >= 4) {
    for (std::size_t i = 0; i < 4; ++i) ext[i] = path[len - 4 + i];
    upcase_string(ext.data());
  }
  const int found = lookup_command(ext.data());
  if (found >= 0 && command_class(found) == kClassExtension) {
    switch (command_index(found)) {
      case extension_ix::kBat: c.cls = kBatch; return;
      case extension_ix::kVek:
        c.cls = kScript;
        copy_truncated(c.interpreter, program_path.data());
        return;
      case extension_ix::kIn: break;
      default: c.cls = kExternal; return;
    }
  }
  if (script_interpreter(path, c.interpreter)) {
    c.cls = kScript;
    return;
  }
  const plat::FileInfo fi = plat::stat_path(path);
  if (fi.exists && fi.is_regular && fi.size > 0 && fi.executable) c.cls = kExternal;
}

Classified classify(const char* name, bool search_only) {
  Classified c;
  const VarScope scope = variable_scope();
  search_only = search_only || has_backslash(name);
  if (!search_only) {
    const int found = lookup_command(name);
    const int cls = found < 0 ? 0 : command_class(found);
    if (cls >= kClassCompound && cls <= kClassFunctionTime) {
      c.cls = kKeyword;
      return c;
    }
    const VarRecord* alias = var_find(scope, name, kAlias);
    if (alias != nullptr && alias->value_size() > 0) {
      c.cls = kAliasName;
      return c;
    }
    if (cls == kClassBuiltin || cls == kClassExecutor) {
      c.cls = kInternal;
      return c;
    }
    if (name_check(name)) {
      if (store_find(scope, global_store, name, kFunc) != nullptr) c.cls = kFunction;
      else if (var_find(scope, name) != nullptr) c.cls = kVariable;
      else if (env_lookup(name) != nullptr) c.cls = kEnvironment;
      if (c.cls != kUnknown) return c;
    }
    if (is_system_word(name)) {
      c.cls = kSystemWord;
      return c;
    }
  }
  const char* found = search_command(true, name);
  if (found == nullptr) return c;
  copy_truncated(c.path, found);
  classify_file(c);
  if (c.cls == kUnknown) c.path[0] = 0;
  return c;
}

}  // namespace

// whence [-pev] [var] name ... and type name ...: what each name stands
// for, in the order a command is looked for.
int bi_whence(const BuiltinCall& call) {
  bool search_only = false, status_only = false, to_variable = false;
  int i = 1;
  if (str_compare(call.argv[0], "whence") == 0 && i < call.argc && call.argv[i][0] == '-') {
    const char* w = call.argv[i++];
    int letters = 0;
    for (int k = 1; w[k] != 0; ++k) {
      switch (w[k]) {
        case 'p': search_only = true; ++letters; break;
        case 'e': status_only = true; ++letters; break;
        case 'v': to_variable = true; ++letters; break;
        case '-': break;
        default: fatal_error(VEK_ERR(kErrArguments), w);
      }
    }
    if (letters > 3) fatal_error(VEK_ERR(kErrArguments), w);
  }
  const char* variable = nullptr;
  if (to_variable) {
    if (i >= call.argc) {
      last_status = status_only ? 0 : 2;
      return 0;
    }
    variable = call.argv[i++];
    if (!name_check(variable)) fatal_error(VEK_ERR(kErrBadName), variable);
  }
  const bool quiet = status_only || to_variable;
  bool any_unknown = false;
  int last_class = kUnknown;
  for (; i < call.argc; ++i) {
    const char* name = call.argv[i];
    const Classified c = classify(name, search_only);
    last_class = c.cls;
    if (c.cls == kUnknown) any_unknown = true;
    if (to_variable) {
      if (c.cls != kUnknown)
        var_set(variable_scope(), variable, VarValue::text(c.path[0] != 0 ? c.path.data() : name));
      else if (!status_only)
        last_status = 1;
    }
    if (quiet) continue;
    std::array<char, 1024> line{};
    const std::size_t n = str_len(name);
    concat_strings_n(static_cast<int>(line.size()), line.data(),
                     {name, "\t", n < 8 ? "\t" : "", c.path.data(), c.path[0] != 0 ? ":  " : ""});
    sys_write_text(1, line.data());
    sys_write_message(1, kClassText[static_cast<std::size_t>(c.cls)]);
    concat_strings_n(static_cast<int>(line.size()), line.data(),
                     {c.cls == kScript ? c.interpreter.data() : "", "\r\n"});
    sys_write_text(1, line.data());
  }
  if (status_only) last_status = any_unknown ? 0 : last_class;
  if (!quiet) sys_write(1, "\r\n");
  return 0;
}

}  // namespace vek
