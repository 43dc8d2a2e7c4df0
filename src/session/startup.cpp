// Start-up, invocation options, settings and the session loop.
#include "session/startup.h"

#include <array>

#include "core/classes.h"
#include "core/commands.h"
#include "core/exec.h"
#include "core/hooks.h"
#include "core/lists.h"
#include "core/nesting.h"
#include "core/shell.h"
#include "core/words.h"
#include "io/editor.h"
#include "io/fdio.h"
#include "platform/platform.h"
#include "proc/process.h"
#include "proc/redirect.h"
#include "proc/search.h"
#include "proc/tempfiles.h"
#include "session/diag.h"
#include "session/input.h"
#include "support/strings.h"
#include "vars/special.h"
#include "vars/varstore.h"

namespace vek {

const char* command_string = nullptr;
std::array<char, 16> terminal_name{};

namespace {

std::array<char, 260> script_path{};

bool option_allowed(char c) {
  switch (c) {
    case 'a': case 'f': case 'h': case 'i': case 'n': case 'p': case 's': case 't':
    case 'u': case 'v': case 'x': case 'B': case 'C': case 'E': case 'I': case 'N':
    case 'P': case 'S': case '9': case '!': case '_':
      return true;
    default:
      return false;
  }
}

void apply_option(char c, bool on) {
  set_opt(c, on);
  if (c == 'f') glob_name_count = 0;
  if (c == 'B') {
    escape_char = on ? '\\' : '%';
    change_escape_char(escape_char);
  }
  if (c == '!') plat::set_ignore_termination(on);
}

// Finds a script named on the command line as a command is found (along
// PATH with the extensions, the current directory last) and stores its
// full path.
bool find_script(const char* name, std::array<char, 260>& out) {
  const char* found = search_command(true, name);
  if (found == nullptr) return false;
  concat_strings_n(static_cast<int>(out.size()), out.data(), {found});
  return true;
}

}  // namespace

int parse_options(int count, char** words, bool from_set) {
  int i = 0;
  bool pending_c = false;
  bool pending_o = false;
  bool got_c = false;
  for (; i < count; ++i) {
    const char* w = words[i];
    if (w == nullptr) break;
    if (pending_c) {
      command_string = w;
      pending_c = false;
      ++i;
      break;
    }
    if (pending_o) {
      pending_o = false;
      continue;
    }
    if (w[0] != '-' && w[0] != '+') break;
    const bool on = w[0] == '-';
    if (on && (w[1] == 0 || (w[1] == '-' && w[2] == 0))) {
      ++i;  // "-" and "--" end the options
      break;
    }
    if (w[1] == 0 || (!on && w[1] == '-')) {
      shell_error(VEK_ERR(kErrUnknownOption), w);
      return 0;
    }
    for (int k = 1; w[k]; ++k) {
      char c = w[k];
      if (c == 'c' || c == 'o') {
        // Both must stand alone; -c only with '-' and never from set, while
        // -o is accepted with either sign.
        if ((c == 'c' && (!on || from_set)) || (k == 1 && w[2] != 0)) {
          shell_error(VEK_ERR(kErrUnknownOption), w);
          return 0;
        }
        if (k > 1) {
          shell_error(VEK_ERR(kErrOptionCombination), w);
          return 0;
        }
        if (c == 'c') {
          set_opt('c', true);
          pending_c = true;
          got_c = true;
        } else {
          pending_o = true;
        }
        continue;
      }
      if (c == '-') {
        shell_error(VEK_ERR(kErrOptionCombination), w);
        return 0;
      }
      if (!option_allowed(c) || (from_set && (c == 'i' || c == 's' || c == 'P' || c == 'n'))) {
        shell_error(VEK_ERR(kErrUnknownOption), w);
        return 0;
      }
      apply_option(c, on);
    }
  }
  if (got_c && (pending_c || command_string == nullptr || command_string[0] == 0)) {
    shell_error(VEK_ERR(kErrOptionC));
    return 0;
  }
  return count - i;
}

int load_settings(SettingsSource source) {
  if (source == SettingsSource::kShellVariables) {
    const VarScope scope = variable_scope();
    int path_exists = 0;
    if (VarRecord* r = var_find(scope, "PATH")) {
      build_search_list(command_search_list, r->value());
      path_exists = 1;
    }
    if (VarRecord* r = var_find(scope, "CDPATH")) build_search_list(cd_search_list, r->value());
    if (VarRecord* r = var_find(scope, "HOME")) {
      copy_truncated(home_directory, r->value());
      path_normalize(home_directory.data());
    }
    return path_exists;
  }
  // Temporary directory: the first of six environment variables.
  temp_directory[0] = 0;
  static constexpr const char* kTempVars[] = {"VEKTEMP", "DOCUMENT_ROOT", "TEMP", "TMP", "TEMPDIR", "TMPDIR"};
  for (const char* var : kTempVars) {
    const char* v = env_lookup(var);
    if (v == nullptr) continue;
    if (var[0] == 'D') concat_strings_n(static_cast<int>(temp_directory.size()), temp_directory.data(), {v, "\\tmp"});
    else concat_strings_n(static_cast<int>(temp_directory.size()), temp_directory.data(), {v});
    break;
  }
  if (temp_directory[0] == 0) {
    // The system's temporary directory where it has one, else the current
    // directory.
    const char* system_temp = plat::defaults().temp_directory;
    plat::FileInfo tmp;
    if (system_temp != nullptr) tmp = plat::stat_path(system_temp);
    if (tmp.exists && tmp.is_dir) copy_truncated(temp_directory, system_temp);
    else sys_getcwd(temp_directory.data(), static_cast<int>(temp_directory.size()));
  }
  path_normalize(temp_directory.data());
  const char* path = env_lookup("PATH");
  build_search_list(command_search_list, path != nullptr ? path : plat::defaults().search_path);
  const char* cdpath = env_lookup("CDPATH");
  build_search_list(cd_search_list, cdpath != nullptr ? cdpath : plat::defaults().cd_path);
  const char* home = env_lookup("HOME");
  copy_truncated(home_directory, home != nullptr ? home : "\\");
  path_normalize(home_directory.data());
  const char* term = env_lookup("TERM");
  copy_truncated(terminal_name, term != nullptr ? term : "", 15);
  return 0;
}

void reset_interpreter() {
  reset_shared_state();
  reset_core_state();
  nesting_depth = 0;
  diag_init();
  profile_running = false;
  command_ended_by_lf = false;
  command_string = nullptr;
  input = InputState{};
  prepared = PreparedSource{};
  varstore_init(input.local_store);
  build_class_tables();
  build_command_table();
  special_init();
  reset_redirections(ResetMode::kQuiet);
  default_output_base = 10;
  function_offset.fill(0);
  function_length.fill(0);
  function_file_end = 0;
  forget_body_positions();
  line_editor_reset();
}

namespace {

// Holds the closed ones of descriptors 3..9 on the null device, so that a
// user redirection always has something to save and restore.  A closed
// 0, 1 or 2 stays closed: a write to it fails like any system call.
void hold_descriptors() {
  const int nul = plat::open("NUL", plat::kReadWrite | plat::kBinary);
  if (nul < 0) return;
  for (int fd = 3; fd <= 9; ++fd)
    if (fd != nul && !plat::is_open(fd)) plat::dup2(nul, fd);
  if (nul < 3 || nul > 9) plat::close(nul);
}

// Start-up steps up to the creation of the initial variables.
void start_up(char* first_word) {
  reset_interpreter();
  plat::init_process();
  session_cleanup(CleanupMode::kStartup);
  load_settings(SettingsSource::kEnvironment);
  // The interpreter's own full path, for scripts it runs itself: what the
  // system says it started, else the first word searched like a command.
  if (!plat::program_file(program_path.data(), program_path.size())) {
    const char* found = first_word != nullptr ? search_command(true, first_word) : nullptr;
    copy_truncated(program_path, found != nullptr ? found : first_word != nullptr ? first_word : "vek", 259);
  }

  hold_descriptors();
  open_temp_files();
  start_time = plat::time_now();
  special_init();
  std::array<char, 260> cwd{};
  sys_getcwd(cwd.data(), static_cast<int>(cwd.size()));
  varstore_create_initial(variable_scope(), cwd.data());
}

// What the command line asks for.
struct SessionPlan {
  bool script = false;             // a script file is named
  bool interactive = false;
  const char* script_name = nullptr;
  char** operands = nullptr;       // the words after the options
};

// Applies the options and decides between script, -c text, standard
// input and the interactive console; sets the positional parameters.
SessionPlan plan_session(int argc, char** argv) {
  SessionPlan plan;
  const int mask = console_mask();
  input.param0 = argv[0];
  input.params = argv + 1;
  input.param_count = argc - 1;
  set_opt('S', true);
  // The line editor serves an interactive session on the console unless
  // the options switch it off.
  set_opt('E', true);
  int left = parse_options(argc - 1, argv + 1, false);
  plan.operands = argv + argc - left;
  if (opt('P')) {
    set_opt('t', false);
    set_opt('I', true);
    set_opt('i', true);
  }
  int counter = 0;
  if (opt('i') || opt('s') || opt('t')) {
    set_opt('c', false);
    --counter;
  }
  if (left > 0 && !opt('c')) ++counter;
  plan.script = counter == 1;
  if (opt('i') || (!opt('c') && !plan.script && mask >= 6)) {
    set_opt('i', true);
    set_opt('s', true);
  }
  if (plan.script) {
    input.param0 = plan.operands[0];
    if (find_script(plan.operands[0], script_path)) input.param0 = script_path.data();
    plan.script_name = input.param0;
    input.params = plan.operands + 1;
    input.param_count = left - 1;
  } else {
    input.params = plan.operands;
    input.param_count = left;
  }
  plan.interactive = opt('i');
  if (plan.interactive) {
    set_opt('n', false);
    if (mask != 7) set_opt('E', false);
  } else {
    set_opt('E', false);
  }
  return plan;
}

// Runs the profile.  An error inside it ends only the profile, also in a
// non-interactive run: the session goes on with its main input.  A
// profile that changes PATH changes where the script is found.
void run_profile(SessionPlan& plan, const InputState& base) {
  std::array<char, 260> profile{};
  concat_strings_n(static_cast<int>(profile.size()), profile.data(), {home_directory.data(), "\\autoexec.vek"});
  collapse_backslashes(profile.data());
  if (file_test('F', profile.data()) == 0) return;
  profile_running = true;
  try {
    run_source(profile.data(), 0, 0, kModeProfile);
  } catch (const TopLevelAbort&) {
    input = base;
    skip_flags = 0;
  }
  profile_running = false;
  if (load_settings(SettingsSource::kShellVariables) && plan.script) {
    if (find_script(plan.operands[0], script_path)) {
      input.param0 = script_path.data();
      plan.script_name = input.param0;
    }
  }
}

// Runs the main input until it ends; an abort returns to the base state
// and goes on (an interactive session shows its prompt again).
void run_main(const SessionPlan& plan, const InputState& base) {
  unsigned mode = (opt('c') && command_string != nullptr) ? kModeString : (plan.interactive ? kModeConsole : 0);
  mode |= kModeSession;
  for (;;) {
    int r;
    try {
      if (mode & kModeString) {
        prepared.text = command_string;
        prepared.text_length = str_len(command_string);
      }
      r = run_source(plan.script ? plan.script_name : nullptr, 0, 0, mode);
    } catch (const TopLevelAbort&) {
      input = base;
      skip_flags = 0;
      if (opt('n')) skip_flags |= kSkipNoExec;
      continue;
    }
    if (!(r >= kClosingBase && plan.interactive && !opt('t'))) break;
  }
}

int session(int argc, char** argv) {
  SessionPlan plan = plan_session(argc, argv);
  const InputState base = input;
  ++command_counter;
  if (!opt('p')) run_profile(plan, base);
  if (opt('n')) skip_flags |= kSkipNoExec;
  run_main(plan, base);
  return last_status;
}

}  // namespace

int vek_main(int argc, char** argv) {
  int status = 0;
  try {
    start_up(argc > 0 ? argv[0] : nullptr);
    status = session(argc, argv);
  } catch (const ProcessExit& e) {
    status = e.status;
  } catch (const TopLevelAbort&) {
    status = last_status;
  }
  session_cleanup(CleanupMode::kExit);
  return status;
}

}  // namespace vek
