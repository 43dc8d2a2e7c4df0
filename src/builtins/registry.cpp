// The handler table of the builtins with their own function, indexed by
// their class-1 index in the command table.
#include "builtins/builtins.h"

namespace vek {

const BuiltinHandler builtin_handlers[kBuiltinHandlerCount] = {
    bi_test,    // 0  [
    bi_test,    // 1  [[
    bi_echo,    // 2  echo
    bi_echo,    // 3  print
    bi_test,    // 4  test
    bi_let,     // 5  let
    bi_array,   // 6  array
    bi_cat,     // 7  cat
    bi_line,    // 8  line
    bi_wc,      // 9  wc
    bi_tee,     // 10 tee
    bi_rel,     // 11 rel
    bi_crc,     // 12 crc
    bi_tr,      // 13 tr
    bi_cut,     // 14 cut
    bi_grep,    // 15 grep
    bi_expr,    // 16 expr
    bi_read,    // 17 read
    bi_readl,   // 18 readl
    bi_seek,    // 19 seek
    bi_catv,    // 20 catv
    bi_cd,      // 21 cd
    bi_cd,      // 22 chdir
    bi_sum,     // 23 sum
    bi_base,    // 24 base
    bi_list,    // 25 list
    bi_move,    // 26 move
    bi_remove,  // 27 remove
    bi_copy,    // 28 copy
    bi_mkdirs,  // 29 mkdirs
    bi_fstat,   // 30 fstat
    bi_ctime,   // 31 ctime
    bi_systime, // 32 systime
    bi_mktemp,  // 33 mktemp
    bi_sortl,   // 34 sortl
    bi_prints,  // 35 prints
};

}  // namespace vek
