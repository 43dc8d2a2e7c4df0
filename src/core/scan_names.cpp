// File-name generation for the words the scanner stores: the names a word
// matches replace it in the argument area, the first in its own place.
#include "core/scanner.h"
#include "core/shell.h"
#include "pattern/glob.h"
#include "support/strings.h"

namespace vek {

namespace {

// Stores the names one after another as words from slot `idx` and byte
// `pos` on.
struct ArgumentSink final : NameSink {
  int idx;
  int pos;
  ArgumentSink(int i, int p) : idx(i), pos(p) {}
  void add(const char* path, int len) override {
    if (idx > kMaxArgIndex) fatal_error(VEK_ERR(kErrLimit), "Anzahl Argumente");
    if (pos + len + 1 > kWordTextLimit) fatal_error(VEK_ERR(kErrLimit), "L\x84ngensumme Argumente");
    char* dst = &word_buf[static_cast<std::size_t>(pos)];
    for (int i = 0; i < len; ++i) dst[i] = path[i];
    dst[len] = '\0';
    arg_slots[static_cast<std::size_t>(idx++)] = dst;
    pos += len + 1;
  }
};

}  // namespace

void Scanner::generate_names(int index) {
  // Nothing is generated while commands are skipped, under option -f, or
  // between [[ and ]], whose operands are compared, not file names.
  if (skipping() || opt('f') || base_table_ == &test_table) return;
  if (!wildcard_ && !fields_) return;
  const char* word = at(word_start_);
  // A word whose wildcards were all escaped (or came with a redirection
  // that has been cut off) names itself.
  if (!has_unescaped_pattern_char(word)) return;
  ArgumentSink sink(index, word_start_);
  const int count = expand_filenames(word, escape_char, sink);
  glob_name_count = count;
  if (count == 0) return;
  if (count > 1 && index == ws_.first_word_index && base_table_ == &first_word_table)
    fatal_error(VEK_ERR(kErrArguments), "Mehrere Kommandonamen expandiert");
  ws_.idx = sink.idx;
  ws_.pos = sink.pos;
}

}  // namespace vek
