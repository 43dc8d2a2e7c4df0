// The error table, shell_error, the abort path and the exit clean-up.
#include "session/diag.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/shell.h"
#include "io/console.h"
#include "io/editor.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "support/strings.h"

namespace vek {

namespace {

struct ErrorEntry {
  int number;
  bool continuable;
  const char* message;
};

// Umlauts are code page 850 bytes.
constexpr std::array<ErrorEntry, 32> kErrorTable{{
    {0, false, ""},
    {1, false, "Interner Fehler"},
    {2, true, "Unbekannte Option"},
    {3, true, "Unbekannte Optionskombination"},
    {4, true, "Option -o: Unbekanntes Argument"},
    {5, true, "Option -c: Fehlendes oder leeres Argument"},
    {6, true, "Kommando nicht gefunden"},
    {7, false, "Datei nicht ausf\x81hrbar"},
    {8, true, "Fehler bei Kommandoausf\x81hrung"},
    {9, false, "\x99" "ffnen fehlgeschlagen bei Datei"},
    {10, false, "Zuviel tempor\x84re Dateien"},
    {11, false, "Datei existiert. Benutze ggf. '>|' "},
    {12, false, "Fehlerhafter Bezeichner/Name"},
    {13, false, "Parametername falsche Laenge"},
    {14, false, "Limit des globalen Variablenspeichers"},
    {15, false, "Fehler oder Limit bei Umlenkung"},
    {16, false, "Fehler bei Systemfunktion"},
    {17, false, "Syntaxfehler"},
    {18, false, "for-,while-,until-Schleife"},
    {19, false, "Falsche Argumente(anzahl)"},
    {20, false, "Fehlerhaftes Suchmuster (pattern ?*[])"},
    {21, true, "Directory nicht gefunden"},
    {22, true, "Undefinierter Parameter"},
    {23, false, "Fehlerhafte Funktionsdefinition"},
    {24, true, "Arithmetischer Ausdruck"},
    {25, false, "READ ONLY!"},
    {26, false, "Limit erreicht"},
    {27, false, "Label: Name/#Limit/doppelt/nicht gefunden"},
    {28, false, "Stack-Limit (Verschachtelung/Rekursion?!)"},
    {29, false, "Limit des lokalen Variablenspeichers"},
    {30, false, "Zuwenig Arbeitsspeicher"},
    {31, false, "Funktion(s-Kombination) nicht verf\x81gbar"},
}};

static_assert([] {
  for (std::size_t i = 0; i < kErrorTable.size(); ++i)
    if (kErrorTable[i].number != static_cast<int>(i)) return false;
  return true;
}(), "the error table is indexed by error number");

const ErrorEntry* find_error(int number) {
  if (number < 0 || number >= static_cast<int>(kErrorTable.size())) return nullptr;
  return &kErrorTable[static_cast<std::size_t>(number)];
}

constexpr std::string_view kSynopsis = "vek  [-afhinpstuvxBCEINPSU9!] [-c cmd_string] [arg ...]\r\n";

const char* signal_name(int s) {
  switch (s % 32) {
    case 2: return "Interrupt";
    case 4: return "Illegale Instruktion";
    case 6: return "Abort";
    case 8: return "Floating Point Exception";
    case 11: return "Speicherbereich: Segment-Verletzung";
    case 15: return "Prozess-Terminierung";
    case 16: return "User1";
    case 17: return "User2";
    case 21: return "Break";
    case 22: return "Abort";
    default: return "";
  }
}

// Guard bits of one abort.
constexpr unsigned kGuardMessage = 0x01;
constexpr unsigned kGuardTrap = 0x02;
constexpr unsigned kGuardSortl = 0x04;
constexpr unsigned kGuardEditor = 0x08;
constexpr unsigned kGuardRedirect = 0x10;
constexpr unsigned kGuardCleanup = 0x20;
unsigned abort_guards = 0;
// The exit status of an abort that ends the process, once one is under
// way; -1 otherwise.
int ending_status = -1;
bool cleanup_done = false;

// Appends text to a fixed line buffer, never past its end.
struct LineBuilder {
  std::array<char, 1024> buf;
  std::size_t n = 0;
  void add(std::string_view s) {
    for (char c : s) {
      if (n < buf.size()) buf[n++] = c;
    }
  }
};

// Line of the failing command: line feeds from the source's start up to
// the read position, not counting the line feed that ended the command.
unsigned current_line() {
  std::int64_t here = input_position(0, true);
  if (here < 0) return 0;
  std::int64_t stop = here;
  if (command_ended_by_lf && stop > 0) --stop;
  std::int64_t start = (input.mode & kModeBody) ? input.body_offset : 0;
  if (stop < start) stop = start;
  std::int64_t lines = input_count_lines(start, stop);
  input_position(here, false);
  return lines < 0 ? 0 : static_cast<unsigned>(lines + 1);
}

}  // namespace

bool command_ended_by_lf = false;
bool profile_running = false;

bool error_is_continuable(int number) {
  const ErrorEntry* e = find_error(number);
  return e != nullptr && e->continuable;
}

void shell_error(int code, const char* object) {
  int number = code & 0xFFFF;
  int src_line = (code >> 16) & 0xFFFF;
  if (opt('_')) format_out(2, "e=%d, __LINE__=%d\r\n", number, src_line);

  const ErrorEntry* entry = find_error(number);
  const char* message = entry != nullptr ? entry->message : "";
  const bool continuable = entry != nullptr && entry->continuable;
  std::string_view obj;
  bool has_obj = object != nullptr;
  if (has_obj) obj = object;
  if (*message == 0 && has_obj) {
    message = object;
    has_obj = false;
  }
  if (obj.size() > 520) obj = obj.substr(0, 520);

  std::string_view script = input.script_name.data();
  bool body = (input.mode & kModeBody) != 0;
  std::string_view func = body ? std::string_view(input.function_name.data()) : std::string_view();
  char pos_text[32] = {0};
  if (input.mode & (kModeFile | kModeBody)) {
    unsigned line = current_line();
    if (line > 0) format_buf(pos_text, "%s[%u]", body ? "()" : "", line);
  }
  std::string_view pos = pos_text;
  std::string_view msg = message;

  if (!(msg.empty() && script.empty() && func.empty() && pos.empty())) {
    LineBuilder lb;
    lb.add("vek: ");
    lb.add(script);
    if (!script.empty() && !func.empty()) lb.add(":");
    lb.add(func);
    lb.add(pos);
    if (!script.empty() || !func.empty() || !pos.empty()) lb.add(": ");
    const std::size_t msg_at = lb.n;
    lb.add(msg);
    const std::size_t obj_at = lb.n + 3;
    if (has_obj) {
      lb.add(": '");
      lb.add(obj);
      lb.add("'\r\n");
    } else {
      lb.add(".\r\n");
    }
    const std::string_view line(lb.buf.data(), lb.n);
    if (is_console(2) && plat::terminal_shows_utf8()) {
      // Each part in the form the terminal shows: the message as the
      // interpreter's own text, names and the object as they came.
      auto part = [&line](std::size_t a, std::size_t b) {
        a = std::min(a, line.size());
        return line.substr(a, std::min(std::max(a, b), line.size()) - a);
      };
      const std::size_t msg_end = msg_at + msg.size();
      sys_write_text(2, part(0, msg_at));
      sys_write_message(2, part(msg_at, msg_end));
      if (has_obj) {
        const std::size_t obj_end = obj_at + obj.size();
        sys_write(2, part(msg_end, obj_at));
        sys_write_text(2, part(obj_at, obj_end));
        sys_write(2, part(obj_end, line.size()));
      } else {
        sys_write(2, part(msg_end, line.size()));
      }
    } else {
      sys_write(2, line);
    }
  }
  if (number >= 2 && number <= 5) sys_write(2, kSynopsis);
  last_status = number + 1;

  if (continuable && opt('C') && !opt('i') &&
      (input.mode & (kModeFile | kModeDot | kModeBody | kModePrompt)))
    return;
  session_abort(1);
}

void fatal_error(int code, const char* object) {
  shell_error(code, object);
  // Only continuable errors come back; a caller that cannot go on ends
  // the command the same way as a non-continuable error would.
  session_abort(1);
}

void check_signal() {
  int s = plat::pending_signal();
  if (s != 0) session_abort(s * 256 + 2);
}

void session_abort(int code) {
  int s = code / 256;
  int t = code % 256;
  plat::clear_pending_signal();
  if (ending_status >= 0) {
    // The process is already ending: an error on the way (a message that
    // cannot be written, an error in the trap) ends it with the status
    // first decided, never back at the prompt.
    t = ending_status;
  } else {
    const bool to_prompt =
        (s == 0 || s == 2) && ((input.mode & kModeConsole) || opt('i') || profile_running);
    if (!to_prompt) ending_status = t;
  }
  skip_flags = 0;
  last_status |= 16;
  if (s != 0 && !(abort_guards & kGuardMessage)) {
    abort_guards |= kGuardMessage;
    WriteFailuresDropped quiet;
    format_out(2, "*** SIGNAL ***  %d  %s\r\n", s, signal_name(s));
  }
  if (!(abort_guards & kGuardTrap)) {
    abort_guards |= kGuardTrap;
    run_trap(t, 0, 0);
  }
  abort_guards |= kGuardSortl;
  if (!(abort_guards & kGuardEditor)) {
    abort_guards |= kGuardEditor;
    line_editor_control('E');
  }
  if (ending_status < 0) {
    if (!(abort_guards & kGuardRedirect)) {
      abort_guards |= kGuardRedirect;
      reset_redirections(ResetMode::kErrorRecovery);
    }
    in_prompt = 0;
    abort_guards = 0;
    throw TopLevelAbort{};
  }
  if (!(abort_guards & kGuardCleanup)) {
    abort_guards |= kGuardCleanup;
    session_cleanup(CleanupMode::kExit);
  }
  throw ProcessExit{t};
}

void end_on_broken_pipe() {
  if (!(abort_guards & kGuardCleanup)) {
    abort_guards |= kGuardCleanup;
    session_cleanup(CleanupMode::kExit);
  }
  throw ProcessExit{plat::broken_pipe_status()};
}

void diag_init() {
  abort_guards = 0;
  ending_status = -1;
  cleanup_done = false;
}

void session_cleanup(CleanupMode mode) {
  if (mode == CleanupMode::kStartup) {
    plat::install_signal_handlers();
    return;
  }
  if (cleanup_done) return;
  if (mode == CleanupMode::kBeforeExec) {
    // The program that replaces the interpreter takes over the process:
    // the internal files lose their names now and their descriptors with
    // the replacement.  Should it fail, the session goes on working.
    unlink_temp_files();
    line_editor_control('E');
    console_end();
    plat::console_restore();
    return;
  }
  cleanup_done = true;
  close_temp_files();
  line_editor_control('e');
  console_end();
  plat::console_restore();
}

}  // namespace vek
