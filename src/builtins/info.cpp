// Builtins that tell about the session: times, env, ver and autor.
#include "builtins/builtins.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "platform/platform.h"

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
  write_line("vek - ein Kommandointerpreter f\x81r die Konsole. Autoren: das vek-Team.");
  return 0;
}

}  // namespace vek
