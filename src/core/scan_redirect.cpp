// Redirection texts and here-documents as the scanner reads them: the
// operator and its target are collected into one text for the redirection
// layer; a here-document's body goes into the substitution file.  The
// count of the redirections that belong to the command being read lives
// in the source's input state.
#include "core/classes.h"
#include "core/scanner.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "proc/redirect.h"
#include "proc/tempfiles.h"
#include "session/input.h"
#include "support/strings.h"

namespace vek {

void apply_redirection(char* text, bool temporary) {
  int added = redirect_text(text);
  if (!temporary) return;
  input.redirection_count += added;
  if (input.redirection_count < 0) input.redirection_count = 0;
}

void undo_redirections() {
  int n = input.redirection_count;
  input.redirection_count = 0;
  undo_last_redirections(n);
}

void keep_redirections() {
  int n = input.redirection_count;
  input.redirection_count = 0;
  keep_last_redirections(n);
}

void Scanner::redirection(int c) {
  // Only modifier letters and one digit may stand before the operator.
  const char* w = at(word_start_);
  int n = ws_.pos - word_start_;
  int i = 0;
  while (i < n && ((w[i] >= 'a' && w[i] <= 'z') || (w[i] >= 'A' && w[i] <= 'Z'))) ++i;
  if (i < n && is_digit(w[i])) ++i;
  if (i != n || redir_start_ >= 0) fatal_error(VEK_ERR(kErrSyntax), "..?.<>");
  redir_start_ = word_start_;
  put(c);
  int ops = 1;
  bool heredoc_op = false;
  int d;
  for (;;) {
    d = next_char();
    if (d != '<' && d != '>' && d != '|') break;
    put(d);
    ++ops;
    if (ops == 2 && c == '<' && d == '<') heredoc_op = true;
  }
  bool strip = false;
  if (heredoc_op && ops == 2 && d == '-') {
    put(d);
    strip = true;
    d = next_char();
  }
  if (heredoc_op && ops == 2) {
    push_back();
    // One here-document per command.
    if (heredoc.pending || (!skipping() && heredoc_among_last(input.redirection_count)))
      fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
    read_heredoc(strip);
    return;
  }
  while (d == ' ' || d == '\t') d = next_char();
  if (d == '&') {
    put(d);
    d = next_char();
    if (d == 'c' || d == 't') {
      put(d);
      d = next_char();
      if (d == '0' || d == '1') put(d);
      else push_back();
    } else {
      push_back();
    }
  } else {
    push_back();
  }
}

void Scanner::finish_redirection() {
  if (redir_start_ < 0) return;
  put(0);
  char* text = at(redir_start_);
  if (!skipping()) apply_redirection(text, true);
  ws_.pos = redir_start_;
  redir_start_ = -1;
  // Quotes around the target belong to the redirection: they make no
  // (empty) word of their own.
  quoted_ = false;
}

void Scanner::read_heredoc(bool strip_tabs) {
  int c;
  do {
    c = next_char();
  } while (c == ' ' || c == '\t');
  std::array<char, 65> delim{};
  int dlen = 0;
  while (c > ' ' && c != kEof) {
    if (dlen >= 64) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
    delim[static_cast<std::size_t>(dlen++)] = static_cast<char>(c);
    c = next_char();
  }
  if (dlen == 0) fatal_error(VEK_ERR(kErrSyntax), "<< HEREdoc");
  while (c != '\n' && c != kEof) c = next_char();

  const bool store = !skipping();
  std::int64_t start = 0;
  std::int64_t position = 0;
  if (store) {
    position = sys_lseek(subst_fd, 0, plat::kSeekCur);
    start = sys_lseek(subst_fd, 0, plat::kSeekEnd);
  }
  std::array<char, 4096> chunk;
  int used = 0;
  std::int64_t length = 0;
  auto out = [&](int b) {
    if (!store) return;
    if (used == static_cast<int>(chunk.size())) {
      sys_write(subst_fd | kRawWrite, chunk.data(), used);
      length += used;
      used = 0;
    }
    chunk[static_cast<std::size_t>(used++)] = static_cast<char>(b);
  };
  if (c != kEof) {
    for (;;) {
      // Start of a body line.
      c = next_char();
      if (strip_tabs)
        while (c == '\t') c = next_char();
      int matched = 0;
      while (matched < dlen && c == static_cast<unsigned char>(delim[static_cast<std::size_t>(matched)])) {
        ++matched;
        c = next_char();
      }
      if (matched == dlen && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
        push_back();
        break;
      }
      for (int k = 0; k < matched; ++k) out(static_cast<unsigned char>(delim[static_cast<std::size_t>(k)]));
      while (c != '\n' && c != kEof) {
        out(c);
        c = next_char();
      }
      if (c == kEof) {
        push_back();
        break;
      }
      out('\n');
    }
  } else {
    push_back();
  }
  if (store) {
    if (used > 0) sys_write(subst_fd | kRawWrite, chunk.data(), used);
    length += used;
    // The substitution file stays positioned after the body: output that
    // the command appends to it (a substitution) goes behind the body.
    heredoc.pending = true;
    heredoc.start = start;
    heredoc.length = length;
    heredoc.position = position;
  }
}
}  // namespace vek
