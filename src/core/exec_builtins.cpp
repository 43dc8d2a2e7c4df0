// The executor builtins (class 6 of the command table).
#include "core/exec_builtins.h"

#include <array>

#include "core/classes.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

// Attribute bits: 1 keeps $?, 2 means the first operand names a file.
constexpr unsigned kKeepStatus = 1;
constexpr unsigned kFileOperand = 2;

constexpr std::array<unsigned char, 61> kAttributes = [] {
  std::array<unsigned char, 61> a{};
  for (int i : {3, 17, 18, 19, 21, 22, 23, 24, 59}) a[static_cast<std::size_t>(i)] |= kKeepStatus;
  for (int i : {17, 24, 34}) a[static_cast<std::size_t>(i)] |= kFileOperand;
  return a;
}();

void write_line(const char* text) { format_out(1, "%s\r\n", text); }

int bi_pwd() {
  std::array<char, 260> cwd{};
  sys_getcwd(cwd.data(), static_cast<int>(cwd.size()));
  varop(&global_store, 'S', kVar, "PWD", cwd.data(), 0, nullptr);
  write_line(cwd.data());
  return 0;
}

int bi_env() {
  for (const char* const* e = plat::environment(); e != nullptr && *e != nullptr; ++e) write_line(*e);
  return 0;
}

int bi_ver(int argc, char** words) {
  if (argc < 2) {
    format_out(1, "vek  Version 0.1  Kommandointerpreter (%s)\r\n", plat::defaults().system_name);
    return 0;
  }
  switch (words[1][0]) {
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

// exit [-P] [n]: ends the process (under option P only when forced).
[[noreturn]] void bi_exit(int argc, char** words) {
  int i = 1;
  bool forced = false;
  if (i < argc && str_compare(words[i], "-P") == 0) {
    forced = true;
    ++i;
  }
  if (opt('P') && !(forced && argc - i <= 1)) {
    skip_flags = 0;
    if (input.mode & kModeConsole) sys_write(2, "Benutze  exit -P [n]\r\n");
    throw TopLevelAbort{};
  }
  int status = i < argc ? parse_decimal(words[i]) : last_status;
  run_trap(0, 0, 0);
  session_cleanup('e');
  throw ProcessExit{status};
}

}  // namespace

int run_executor_builtin(int index, int argc, char** words, int /*end*/, int /*pos*/) {
  if (skip_flags != 0) return index;
  if (index < 0 || index > kSystemLine) {
    shell_error(VEK_ERR(kErrInternal), "sw_dflt:execute()");
    return index;
  }
  const unsigned attr = kAttributes[static_cast<std::size_t>(index)];
  if ((attr & kFileOperand) && index != 17) {
    const char* file = argc > 1 ? words[1] : "";
    // Files are searched by the process layer; nothing can be found yet.
    shell_error(VEK_ERR(kErrNotFound), file);
    return index;
  }
  if (!(attr & kKeepStatus)) last_status = 0;
  int n = 1;
  if (argc > 1 && is_digit(words[1][0])) n = parse_decimal(words[1]);

  switch (index) {
    case 0:   // :
    case 1:   // true
    case 57:  // kill
    case 58:  // link
      break;
    case 2:  // false [n]
      last_status = n;
      break;
    case 3:  // inv
      last_status = last_status == 0 ? 1 : 0;
      break;
    case 4:
      bi_pwd();
      break;
    case 15:  // times: seconds since start-up
      format_out(1, "%ld\r\n", static_cast<std::int32_t>(plat::time_now() - start_time));
      break;
    case 22:
      bi_exit(argc, words);
    case 33:
      bi_env();
      break;
    case 46:
      bi_ver(argc, words);
      break;
    case 47:  // autor
      write_line("vek - ein Kommandointerpreter f\x81r die Konsole. Autoren: das vek-Team.");
      break;
    case 59:  // nop
      break;
    case kSystemLine: {
      // Joined with single blanks, the line would go to the system
      // command interpreter, which the process layer starts.
      for (int i = 1; i < argc; ++i) words[i][-1] = ' ';
      last_status = 1;
      shell_error(VEK_ERR(kErrNotFound), words[0]);
      break;
    }
    default:
      // Builtins of the layers still to come.
      shell_error(VEK_ERR(kErrUnavailable), words[0]);
      break;
  }
  return index;
}

}  // namespace vek
