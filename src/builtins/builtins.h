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
// inv; exit.                                            flow.cpp
int bi_nothing(const BuiltinCall& call);
int bi_false(const BuiltinCall& call);
int bi_inv(const BuiltinCall& call);
int bi_exit(const BuiltinCall& call);

// Information about the session: times, env, ver, autor.   info.cpp
int bi_times(const BuiltinCall& call);
int bi_env(const BuiltinCall& call);
int bi_ver(const BuiltinCall& call);
int bi_autor(const BuiltinCall& call);

// Directories: pwd.                                     dirs.cpp
int bi_pwd(const BuiltinCall& call);

// Other programs: the line for the system command interpreter.
//                                                       process.cpp
int bi_system_line(const BuiltinCall& call);

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

// Builtins whose layers are still to come.              unbuilt.cpp
int bi_unavailable(const BuiltinCall& call);
int bi_test(int argc, char** argv);  // [ [[ test
int bi_let(int argc, char** argv);
int bi_array(int argc, char** argv);
int bi_cat(int argc, char** argv);
int bi_line(int argc, char** argv);
int bi_wc(int argc, char** argv);
int bi_tee(int argc, char** argv);
int bi_rel(int argc, char** argv);
int bi_crc(int argc, char** argv);
int bi_tr(int argc, char** argv);
int bi_cut(int argc, char** argv);
int bi_grep(int argc, char** argv);
int bi_expr(int argc, char** argv);
int bi_read(int argc, char** argv);
int bi_readl(int argc, char** argv);
int bi_seek(int argc, char** argv);
int bi_catv(int argc, char** argv);
int bi_cd(int argc, char** argv);  // cd chdir
int bi_sum(int argc, char** argv);
int bi_base(int argc, char** argv);
int bi_sortl(int argc, char** argv);

}  // namespace vek
