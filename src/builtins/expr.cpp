// expr: matching and substitution with a regular expression on one string.
//
//   expr subject operator pattern [replacement]
//   expr subject operator pattern flags replacement
//
// The pattern is compiled into one 4095-byte buffer; the result is built
// behind the program in the same buffer, so a substitution allocates
// nothing and its result is bounded by what the program leaves free.
#include <array>
#include <cstddef>
#include <string_view>

#include "builtins/builtins.h"
#include "builtins/search.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

constexpr std::size_t kExprBuffer = 4095;
// The program, then the result (a substitution) or the group texts.
std::array<unsigned char, kExprBuffer> expr_buffer;
// The upper-cased subject matched when case is ignored.
std::array<char, 4096> expr_folded;

constexpr std::string_view kCrLf("\r\n", 2);

bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

// Writes "expr: TEXT." to descriptor 2 and ends the command with $? 2
// through error 0, which has no message of its own.
[[noreturn]] void expr_fail(const char* text) {
  sys_write(2, "expr: ");
  sys_write_message(2, text);
  sys_write(2, ".\r\n");
  last_status = 2;
  fatal_error(VEK_ERR(kErrObjectOnly));
}

constexpr const char* kBadPattern = "Fehlerhafter Regul\x84rer Ausdruck";

// Appends to a fixed result area; remembers when something did not fit.
class ResultText {
 public:
  ResultText(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ != 0) out_[0] = '\0';
  }

  enum class Case { kKeep, kUpper, kLower };

  void add(std::string_view s, Case mode = Case::kKeep) {
    if (overflow_) return;
    // Room is needed for the text and the NUL after it.
    if (capacity_ == 0 || s.size() > capacity_ - 1 - len_) {
      overflow_ = true;
      return;
    }
    for (char ch : s) {
      auto c = static_cast<unsigned char>(ch);
      if (mode == Case::kUpper && is_lower(c)) c = static_cast<unsigned char>(c - ('a' - 'A'));
      if (mode == Case::kLower && is_upper(c)) c = static_cast<unsigned char>(c + ('a' - 'A'));
      out_[len_++] = static_cast<char>(c);
    }
    out_[len_] = '\0';
  }
  void add(char c, Case mode = Case::kKeep) { add(std::string_view(&c, 1), mode); }

  bool overflow() const { return overflow_; }
  std::size_t size() const { return len_; }

 private:
  char* out_;
  std::size_t capacity_;
  std::size_t len_ = 0;
  bool overflow_ = false;
};

// Appends the replacement for the engine's current match: "&" is the
// matched text, E& and EE literal, E1..E9 group texts, EU/EL/EE switch
// the case of what follows; E before anything else stands for itself.
bool expand_replacement(const Regex& rx, const SubstJob& job, ResultText& res) {
  using Case = ResultText::Case;
  Case mode = Case::kKeep;
  const std::string_view rep(job.replacement);
  const unsigned char esc = job.esc;
  for (std::size_t i = 0; i < rep.size(); ++i) {
    const auto c = static_cast<unsigned char>(rep[i]);
    if (c == '&') {
      res.add(job.subject.substr(rx.match_start(), rx.match_end() - rx.match_start()), mode);
      continue;
    }
    if (c != esc || i + 1 >= rep.size()) {
      res.add(static_cast<char>(c), mode);
      continue;
    }
    const auto d = static_cast<unsigned char>(rep[i + 1]);
    if (d == '&' || d == esc) {
      res.add(static_cast<char>(d), mode);
      ++i;
    } else if (d >= '1' && d <= '9') {
      const int g = d - '0';
      if (g > rx.group_count()) return false;
      const RegexSpan span = rx.group(g);
      if (span.valid) res.add(job.subject.substr(span.start, span.end - span.start), mode);
      ++i;
    } else if (d == 'U' || d == 'L' || d == 'E') {
      mode = d == 'U' ? Case::kUpper : d == 'L' ? Case::kLower : Case::kKeep;
      ++i;
    } else {
      // The escape character itself; the next byte is read as usual.
      res.add(static_cast<char>(c), mode);
    }
  }
  return true;
}

}  // namespace

bool parse_expr_operator(const char* word, ExprOperator& op) {
  op = ExprOperator{};
  if (*word == '=') {
    op.fold = true;
    ++word;
  }
  if (*word != ':') return false;
  ++word;
  if (*word == '\0') return true;
  if (*word == ':') {
    op.target = ExprOperator::Target::kNowhere;
    return word[1] == '\0';
  }
  if (!name_check(word)) return false;
  op.target = ExprOperator::Target::kVariable;
  op.name = word;
  return true;
}

SubstStatus expr_substitute(Regex& rx, const SubstJob& job, char* out, std::size_t capacity,
                            std::size_t* length) {
  ResultText res(out, capacity);
  SubstStatus status = SubstStatus::kOk;
  std::size_t pos = 0;  // subject bytes before it are in the result
  int replaced = 0;
  for (;;) {
    res.add(job.subject.substr(pos, rx.match_start() - pos));
    if (job.literal) {
      res.add(std::string_view(job.replacement));
    } else if (!expand_replacement(rx, job, res)) {
      status = SubstStatus::kBadGroup;
      break;
    }
    ++replaced;
    pos = rx.match_end();
    if (!job.global || res.overflow()) break;
    // The rest is a continuation of the same subject: "^" and word starts
    // keep their meaning.  No repeated item may end where this match
    // ended, so the next match cannot be an empty one right here.
    rx.set_backoff_limit(job.text.data() + pos);
    if (pos == job.text.size() && replaced >= 2) break;
    bool found = rx.match_from(job.text, pos) != 0;
    // An empty match that consumes nothing where the last one ended (a
    // word start, "$" or an empty group, which the back-off limit does
    // not cover) is passed over; taking it would repeat forever.
    while (found && rx.match_end() == pos && rx.match_start() == pos)
      found = pos < job.text.size() && rx.match_from(job.text, pos + 1) != 0;
    if (!found) break;
  }
  rx.set_backoff_limit(nullptr);
  if (status == SubstStatus::kOk) res.add(job.subject.substr(pos));
  if (status == SubstStatus::kOk && res.overflow()) status = SubstStatus::kOverflow;
  *length = res.size();
  return status;
}

int bi_expr(int argc, char** argv) {
  const int nargs = argc - 1;
  if (nargs < 3 || nargs > 5) expr_fail("Falsche Argumenteanzahl");
  ExprOperator op;
  if (!parse_expr_operator(argv[2], op)) expr_fail("Unbekannter Operator");
  const bool tty = sys_isatty(1);
  const std::string_view subject(argv[1]);

  Regex& rx = regex_engine();
  unsigned char* const buf = expr_buffer.data();
  unsigned char* const buf_end = buf + expr_buffer.size();
  // An empty pattern compiles nothing: expr has no previous program to
  // reuse, since its results overwrite it.
  unsigned char* prog_end = rx.compile(argv[3], buf, buf_end, escape_char);
  if (prog_end == nullptr || prog_end == buf) expr_fail(kBadPattern);

  std::string_view text = subject;
  if (op.fold) {
    if (subject.size() >= expr_folded.size()) fatal_error(VEK_ERR(kErrLimit), "Ziel-Puffer");
    for (std::size_t i = 0; i < subject.size(); ++i) {
      auto c = static_cast<unsigned char>(subject[i]);
      expr_folded[i] = static_cast<char>(is_lower(c) ? c - ('a' - 'A') : c);
    }
    expr_folded[subject.size()] = '\0';
    text = std::string_view(expr_folded.data(), subject.size());
    regex_fold_literals_upper(buf);
  }

  const bool matched = rx.match(text) != 0;
  const VarScope scope = op.target == ExprOperator::Target::kVariable ? variable_scope() : VarScope{};

  if (nargs == 3 && rx.group_count() == 0) {
    // The length of the match, also when there is none.
    const auto len = static_cast<std::int32_t>(matched ? rx.match_end() - rx.match_start() : 0);
    if (op.target == ExprOperator::Target::kOutput)
      format_out(1, "%d%s", len, tty ? "\r\n" : "");
    else if (op.target == ExprOperator::Target::kVariable)
      var_set_number(scope, op.name, len);
    return matched ? 0 : 1;
  }
  if (!matched) return 1;

  char* const result = reinterpret_cast<char*>(nargs == 3 ? buf : prog_end);
  const std::size_t capacity = static_cast<std::size_t>(buf_end - reinterpret_cast<unsigned char*>(result));
  std::size_t length = 0;
  if (nargs == 3) {
    // The texts of all groups, in order; the program is not needed any
    // more, so they are collected at the buffer's start.
    std::array<RegexSpan, Regex::max_groups> spans;
    const int groups = rx.group_count();
    for (int g = 1; g <= groups; ++g) spans[static_cast<std::size_t>(g - 1)] = rx.group(g);
    ResultText res(result, capacity);
    for (int g = 0; g < groups; ++g) {
      const RegexSpan& s = spans[static_cast<std::size_t>(g)];
      if (s.valid) res.add(subject.substr(s.start, s.end - s.start));
    }
    if (op.target == ExprOperator::Target::kOutput && tty && res.size() != 0) res.add(kCrLf);
    if (res.overflow()) fatal_error(VEK_ERR(kErrMemory), "expr");
    length = res.size();
  } else {
    const char* flags = nargs == 5 ? argv[4] : "";
    SubstJob job;
    job.subject = subject;
    job.text = text;
    job.replacement = argv[nargs];
    job.global = std::string_view(flags).find('+') != std::string_view::npos;
    job.literal = std::string_view(flags).find('=') != std::string_view::npos;
    job.esc = escape_char;
    const SubstStatus st = expr_substitute(rx, job, result, capacity, &length);
    if (st == SubstStatus::kBadGroup) expr_fail(kBadPattern);
    ResultText tail(result + length, capacity - length);
    if (st == SubstStatus::kOk && op.target == ExprOperator::Target::kOutput && tty && length != 0) {
      tail.add(kCrLf);
      length += tail.size();
    }
    if (st == SubstStatus::kOverflow || tail.overflow()) fatal_error(VEK_ERR(kErrMemory), "expr");
  }

  if (op.target == ExprOperator::Target::kOutput)
    sys_write(1, result, static_cast<long>(length));
  else if (op.target == ExprOperator::Target::kVariable)
    var_set(scope, op.name, VarValue::text(result));
  return 0;
}

}  // namespace vek
