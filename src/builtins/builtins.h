// The handlers of the builtin commands, by family.  The command table
// (table.cpp) names each one.
//
// Builtins with their own handler (class 1) take the plain form:
// handler(word count, word list) -> exit status; words[0] is the command
// name, words[count] is null.  The executor stores the result in $?.
//
// Builtins inside the executor (class 6) take the whole call and return 0
// or a control code; they set $? themselves (the executor has already set
// it to 0 unless the builtin keeps it).
#pragma once

#include "core/commands.h"

namespace vek {

// Output: echo and print (one handler), prints.        print.cpp
int bi_echo(int argc, char** argv);
int bi_prints(int argc, char** argv);

// Status and flow: `:`, true, kill, link and nop do nothing; false [n];
// inv; exit; the control codes; the text runners eval, `.`, trap,
// prompt and extern; shift and fprint.                 flow.cpp
int bi_nothing(const BuiltinCall& call);
int bi_false(const BuiltinCall& call);
int bi_inv(const BuiltinCall& call);
int bi_exit(const BuiltinCall& call);
int bi_break(const BuiltinCall& call);
int bi_continue(const BuiltinCall& call);
int bi_goend(const BuiltinCall& call);
int bi_return(const BuiltinCall& call);
int bi_goto(const BuiltinCall& call);
int bi_shift(const BuiltinCall& call);
int bi_eval(const BuiltinCall& call);
int bi_dot(const BuiltinCall& call);
int bi_extern(const BuiltinCall& call);
int bi_trap(const BuiltinCall& call);
int bi_fprint(const BuiltinCall& call);
int bi_prompt(const BuiltinCall& call);

// Variables, aliases and the environment.               vars.cpp
int bi_set(const BuiltinCall& call);
int bi_unset(const BuiltinCall& call);
int bi_unsetenv(const BuiltinCall& call);
int bi_export(const BuiltinCall& call);
int bi_unexport(const BuiltinCall& call);
int bi_readonly(const BuiltinCall& call);
int bi_alias(const BuiltinCall& call);
int bi_unalias(const BuiltinCall& call);
int bi_local(const BuiltinCall& call);
int bi_global(const BuiltinCall& call);
int bi_static(const BuiltinCall& call);
int bi_typeset(const BuiltinCall& call);
int bi_ifdef(const BuiltinCall& call);  // ifdef ifset
int bi_ifenv(const BuiltinCall& call);
int bi_localset(const BuiltinCall& call);

// Information about the session and the command names: times, env, ver,
// autor, whence and type.                               info.cpp
int bi_times(const BuiltinCall& call);
int bi_env(const BuiltinCall& call);
int bi_ver(const BuiltinCall& call);
int bi_autor(const BuiltinCall& call);
int bi_whence(const BuiltinCall& call);  // whence type

// Small utilities: umask, sleep, tz, mtime, fsize, fmode, stime.
//                                                       misc.cpp
int bi_umask(const BuiltinCall& call);
int bi_sleep(const BuiltinCall& call);
int bi_tz(const BuiltinCall& call);
int bi_mtime(const BuiltinCall& call);
int bi_fsize(const BuiltinCall& call);
int bi_fmode(const BuiltinCall& call);
int bi_stime(const BuiltinCall& call);

// Paths: dirname, basename, fullname.                   paths.cpp
int bi_dirname(const BuiltinCall& call);
int bi_basename(const BuiltinCall& call);
int bi_fullname(const BuiltinCall& call);

// Directories: pwd, cd and chdir.                      dirs.cpp
int bi_pwd(const BuiltinCall& call);
int bi_cd(int argc, char** argv);  // cd chdir

// Other programs and descriptors: the line for the system command
// interpreter, system, exec, fork, wait, sane.          process.cpp
int bi_system_line(const BuiltinCall& call);
int bi_system(const BuiltinCall& call);
int bi_exec(const BuiltinCall& call);
int bi_fork(const BuiltinCall& call);
int bi_wait(const BuiltinCall& call);
int bi_sane(const BuiltinCall& call);

// Arithmetic: let.                                      arith.cpp
int bi_let(int argc, char** argv);

// Arrays: array, and what set -A / set +A hand on.      array.cpp
int bi_array(int argc, char** argv);
// The assigning and reading forms of array; `words` are the operands
// (for set: "-A" or "+A" and the rest).  Returns the exit status.
int array_set_from_words(int count, char** words);

// File management: list (list.cpp); remove, mkdirs, copy and move on
// one operation executor and directory walker (files.cpp, fileops.cpp).
int bi_list(int argc, char** argv);
int bi_remove(int argc, char** argv);
int bi_mkdirs(int argc, char** argv);
int bi_copy(int argc, char** argv);
int bi_move(int argc, char** argv);

// File status and time: fstat (fstat.cpp); ctime, systime and mktemp
// (time.cpp).
int bi_fstat(int argc, char** argv);
int bi_ctime(int argc, char** argv);
int bi_systime(int argc, char** argv);
int bi_mktemp(int argc, char** argv);
// fstat with `option` ("-m", "-s", "-p", "+m") as its letter word and
// argv[1..argc-1] as the rest: what mtime, fsize, fmode and stime run.
// Returns the exit status.
int fstat_with_option(const char* option, int argc, char** argv);

// Byte filters: cat, wc, tee, rel, crc.               filters.cpp
int bi_cat(int argc, char** argv);
int bi_wc(int argc, char** argv);
int bi_tee(int argc, char** argv);
int bi_rel(int argc, char** argv);
int bi_crc(int argc, char** argv);
// tr and cut.                                           filters_tr_cut.cpp
int bi_tr(int argc, char** argv);
int bi_cut(int argc, char** argv);
// sum and base.                                         filters_sum_base.cpp
int bi_sum(int argc, char** argv);
int bi_base(int argc, char** argv);

// Sorting lines: sortl.                                sortl.cpp
int bi_sortl(int argc, char** argv);

// Reading lines and positioning: read, readl, line, seek.  read.cpp
int bi_read(int argc, char** argv);
int bi_readl(int argc, char** argv);
int bi_line(int argc, char** argv);
int bi_seek(int argc, char** argv);
// Copying and editing bytes: catv; conv and cmpv run inside the executor.
//                                                       catv.cpp
int bi_catv(int argc, char** argv);
int bi_conv(const BuiltinCall& call);
int bi_cmpv(const BuiltinCall& call);

// Regular expressions: line selection and matching with
// substitution (helpers in search.h).           grep.cpp, expr.cpp
int bi_grep(int argc, char** argv);
int bi_expr(int argc, char** argv);

// Tests: test, [ and [[ (one handler).                test.cpp
int bi_test(int argc, char** argv);

}  // namespace vek
