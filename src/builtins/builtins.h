// Handlers of the builtin commands that have their own function (class 1
// of the command table).  Contract: handler(word count, word list) ->
// exit status; words[0] is the command name, words[count] is null.  The
// executor stores the result in $?.
#pragma once

namespace vek {

using BuiltinHandler = int (*)(int argc, char** argv);

// Indexed by the class-1 index of the command table (36 entries).
inline constexpr int kBuiltinHandlerCount = 36;
extern const BuiltinHandler builtin_handlers[kBuiltinHandlerCount];

int bi_test(int argc, char** argv);    // [ [[ test
int bi_echo(int argc, char** argv);    // echo print
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
int bi_cd(int argc, char** argv);      // cd chdir
int bi_sum(int argc, char** argv);
int bi_base(int argc, char** argv);
int bi_list(int argc, char** argv);
int bi_move(int argc, char** argv);
int bi_remove(int argc, char** argv);
int bi_copy(int argc, char** argv);
int bi_mkdirs(int argc, char** argv);
int bi_fstat(int argc, char** argv);
int bi_ctime(int argc, char** argv);
int bi_systime(int argc, char** argv);
int bi_mktemp(int argc, char** argv);
int bi_sortl(int argc, char** argv);
int bi_prints(int argc, char** argv);

}  // namespace vek
