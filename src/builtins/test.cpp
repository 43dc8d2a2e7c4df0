// test, [ and [[: conditional expressions.  The words are scanned from the
// last to the first: an operand is read before the operator that takes it,
// so unary and binary operators apply the moment they are met, and the
// logical operators wait on a stack for what stands to their left.
// Nothing here allocates: the stacks are fixed and as deep as the
// argument area has words.
#include <array>
#include <cstdint>
#include <string_view>

#include "builtins/builtins.h"
#include "core/words.h"
#include "io/fdio.h"
#include "pattern/wildcard.h"
#include "proc/search.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

enum class Kind : unsigned char { kFile, kNever, kUnavailable, kUnary, kNumeric, kFilePair, kString, kNot, kAnd, kOr };

struct Operator {
  std::string_view word;
  Kind kind;
  char code;  // which test of its kind
};

constexpr std::array<Operator, 40> kOperators = {{
    {"-r", Kind::kFile, 'r'},      {"-w", Kind::kFile, 'w'},      {"-x", Kind::kFile, 'x'},
    {"-f", Kind::kFile, 'f'},      {"-d", Kind::kFile, 'd'},      {"-c", Kind::kFile, 'c'},
    {"-s", Kind::kFile, 's'},      {"-e", Kind::kFile, 'e'},      {"-b", Kind::kNever, 'b'},
    {"-u", Kind::kNever, 'u'},     {"-g", Kind::kNever, 'g'},     {"-k", Kind::kNever, 'k'},
    {"-p", Kind::kNever, 'p'},     {"-L", Kind::kNever, 'L'},     {"-h", Kind::kNever, 'h'},
    {"-M", Kind::kNever, 'M'},     {"-H", Kind::kNever, 'H'},     {"-S", Kind::kNever, 'S'},
    {"-G", Kind::kUnavailable, 'G'}, {"-O", Kind::kUnavailable, 'O'}, {"-t", Kind::kUnary, 't'},
    {"-z", Kind::kUnary, 'z'},     {"-n", Kind::kUnary, 'n'},     {"-eq", Kind::kNumeric, '='},
    {"-ne", Kind::kNumeric, '!'},  {"-gt", Kind::kNumeric, '>'},  {"-ge", Kind::kNumeric, 'g'},
    {"-lt", Kind::kNumeric, '<'},  {"-le", Kind::kNumeric, 'l'},  {"-nt", Kind::kFilePair, 'n'},
    {"-ot", Kind::kFilePair, 'o'}, {"-ef", Kind::kFilePair, 'e'}, {"=", Kind::kString, '='},
    {"==", Kind::kString, '='},    {"!=", Kind::kString, '!'},    {"<", Kind::kString, '<'},
    {">", Kind::kString, '>'},     {"!", Kind::kNot, '!'},        {"-a", Kind::kAnd, 'a'},
    {"&&", Kind::kAnd, 'a'},
}};
// "-o" and "||" complete the table.
constexpr std::array<Operator, 2> kOrOperators = {{{"-o", Kind::kOr, 'o'}, {"||", Kind::kOr, 'o'}}};

const Operator* find_operator(std::string_view w) {
  // Every operator is 1 to 3 bytes long.
  if (w.empty() || w.size() > 3) return nullptr;
  for (const Operator& op : kOperators)
    if (op.word == w) return &op;
  for (const Operator& op : kOrOperators)
    if (op.word == w) return &op;
  return nullptr;
}

// Entries of the logical-operator stack.
constexpr unsigned char kStackAnd = 'a';
constexpr unsigned char kStackOr = 'o';
constexpr unsigned char kStackGroup = '(';  // the start of a parenthesised group

int precedence(unsigned char op) { return op == kStackAnd ? 64 : 56; }

// Writes the message and its CR LF to descriptor 2, sets $? to 2 and ends
// the command through error 0.
[[noreturn]] void fail(const char* message) {
  sys_write_message(2, message);
  sys_write(2, "\r\n");
  last_status = 2;
  fatal_error(VEK_ERR(kErrObjectOnly));
}

constexpr const char* kMsgInternal = "test: Interner Fehler.";
constexpr const char* kMsgClosing = "test: Abschlu\xE1" "argument ']' oder ']]' fehlt.";
constexpr const char* kMsgParens = "test: Ungleiche Anzahl '(', ')'.";
constexpr const char* kMsgUnknown = "test: Unbekannter Operator.";
constexpr const char* kMsgAfterParen = "test: Operator (-a,-o,&&,||) fehlt hinter ')'.";
constexpr const char* kMsgUnavailable = "test: Operator g\x81ltig, aber nicht verf\x81gbar.";
constexpr const char* kMsgMissing = "test: String-Argument fehlt.";
constexpr const char* kMsgNoFile = "test: Datei existiert nicht  (-nt,-ot,-ef).";
constexpr const char* kMsgNumber = "test: Falscher Zahlen-String  (-eq,...,-le).";
constexpr const char* kMsgDescriptor = "test: Falscher Zahlen-String  (-t n).";

// 0 true, 1 false, like exit statuses.
int truth(bool b) { return b ? 0 : 1; }

// A path normalised for a test; error 26 when it is too long.
struct NormalPath {
  std::array<char, 520> text{};
  explicit NormalPath(const char* path) {
    concat_strings_n(static_cast<int>(text.size()), text.data(), {path});
    path_normalize(text.data());
  }
};

bool file_operator(char code, const char* path) {
  if (code == 'e') return plat::path_exists(NormalPath(path).text.data());
  const int bits = file_test(0, path);
  switch (code) {
    case 'r': return (bits & kFileReadable) != 0;
    case 'w': return (bits & kFileWritable) != 0;
    case 'x': return file_test('X', path) != 0;
    case 'f': return (bits & kFileRegular) != 0;
    case 'd': return (bits & kFileDirectory) != 0;
    case 'c': return (bits & kFileCharDevice) != 0;
    case 's': return (bits & kFileNonEmpty) != 0;
    default: return false;
  }
}

bool unary_operator(char code, const char* operand) {
  switch (code) {
    case 'z': return operand[0] == '\0';
    case 'n': return operand[0] != '\0';
    default: {  // -t
      if (is_decimal_word(operand) != 0) fail(kMsgDescriptor);
      const std::int32_t fd = parse_decimal(operand);
      return fd >= 0 && sys_isatty(fd);
    }
  }
}

// A numeric operand: a word beginning with a letter or "_" names a
// variable; anything else is a decimal number.
std::int64_t number_of(const char* w) {
  const auto c = static_cast<unsigned char>(w[0]);
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') {
    const VarRecord* rec = var_find(variable_scope(), w, kVar);
    if (rec == nullptr) fail(kMsgNumber);
    return rec->is_integer() ? rec->int_value() : parse_decimal(rec->value());
  }
  return parse_decimal(w);
}

bool numeric_operator(char code, const char* left, const char* right) {
  // The difference of two 32-bit numbers is taken in 64 bits, so that it
  // cannot wrap and turn the comparison round.
  const std::int64_t d = number_of(left) - number_of(right);
  switch (code) {
    case '=': return d == 0;
    case '!': return d != 0;
    case '>': return d > 0;
    case 'g': return d >= 0;
    case '<': return d < 0;
    default: return d <= 0;
  }
}

bool file_pair_operator(char code, const char* left, const char* right) {
  plat::FileInfo a;
  plat::FileInfo b;
  if (stat_on_drive(NormalPath(left).text.data(), a) != 0 || stat_on_drive(NormalPath(right).text.data(), b) != 0)
    fail(kMsgNoFile);
  switch (code) {
    case 'n': return a.mtime > b.mtime;
    case 'o': return a.mtime < b.mtime;
    default: return a.device == b.device;  // -ef: on the same drive
  }
}

int compare_bytes(const char* a, const char* b) {
  std::size_t i = 0;
  while (a[i] != '\0' && a[i] == b[i]) ++i;
  return static_cast<int>(static_cast<unsigned char>(a[i])) - static_cast<int>(static_cast<unsigned char>(b[i]));
}

// The compiled pattern of [[ x = pattern ]]; a word is at most the whole
// word buffer long, but a pattern longer than a path is compiled only as
// far as this buffer reaches (it then reports the internal error).
std::array<unsigned char, pattern_buffer_size(1024)> compiled_pattern;

bool string_operator(char code, const char* left, const char* right, bool patterns) {
  bool equal;
  if (patterns && code != '<' && code != '>' && has_unescaped_pattern_char(right)) {
    if (pattern_compile(compiled_pattern, right, escape_char) != pattern_ok) fail(kMsgInternal);
    equal = pattern_match(left, compiled_pattern.data(), escape_char) == 0;
  } else {
    const int d = compare_bytes(left, right);
    if (code == '<') return d < 0;
    if (code == '>') return d > 0;
    equal = d == 0;
  }
  return code == '!' ? !equal : equal;
}

// The evaluation stacks, as deep as a command can have words.
std::array<unsigned char, kArgSlots> values;
std::array<unsigned char, kArgSlots> operators;

class Evaluator {
 public:
  explicit Evaluator(bool patterns) : patterns_(patterns) {}

  int run(char** words, int count) {
    for (int i = count - 1; i >= 0; --i) step(words[i]);
    if (state_ != State::kOperator) fail(kMsgMissing);
    if (depth_ != 0) fail(kMsgParens);
    settle_pending();
    apply_logical();
    return values[static_cast<std::size_t>(nvalues_ - 1)];
  }

 private:
  enum class State { kOperand, kOperator, kLeft };
  bool patterns_;
  State state_ = State::kOperand;
  const char* pending_ = nullptr;  // a plain operand not yet used
  const Operator* binary_ = nullptr;
  int nvalues_ = 0;
  int nops_ = 0;
  int depth_ = 0;

  void push(int v) { values[static_cast<std::size_t>(nvalues_++)] = static_cast<unsigned char>(v); }

  // A lone word is true when it is not empty.
  void settle_pending() {
    if (pending_ == nullptr) return;
    push(truth(pending_[0] != '\0'));
    pending_ = nullptr;
  }

  // The operand of a unary or binary operator: the pending word.  Where
  // a group's value stands instead (outside the grammar), the value is
  // dropped and the operand is empty.
  const char* take_operand() {
    const char* w = pending_;
    pending_ = nullptr;
    if (w != nullptr) return w;
    if (nvalues_ > 0) --nvalues_;
    return "";
  }

  // Applies the stacked logical operators down to the innermost group.
  void apply_logical() {
    while (nops_ > 0 && operators[static_cast<std::size_t>(nops_ - 1)] != kStackGroup) {
      const unsigned char op = operators[static_cast<std::size_t>(--nops_)];
      if (nvalues_ < 2) fail(kMsgMissing);
      const bool left = values[static_cast<std::size_t>(nvalues_ - 1)] == 0;
      const bool right = values[static_cast<std::size_t>(nvalues_ - 2)] == 0;
      nvalues_ -= 2;
      push(truth(op == kStackAnd ? (left && right) : (left || right)));
    }
  }

  void step(const char* w) {
    switch (state_) {
      case State::kOperand:
        if (w[0] == ')' && w[1] == '\0') {
          operators[static_cast<std::size_t>(nops_++)] = kStackGroup;
          ++depth_;
          return;
        }
        pending_ = w;
        state_ = State::kOperator;
        return;
      case State::kLeft:
        push(truth(binary(*binary_, w, take_operand())));
        state_ = State::kOperator;
        return;
      case State::kOperator:
        break;
    }
    if (w[0] == '(' && w[1] == '\0') {
      if (depth_ == 0) fail(kMsgParens);
      settle_pending();
      apply_logical();
      --nops_;  // the group's mark
      --depth_;
      return;
    }
    if (w[0] == ')' && w[1] == '\0') fail(kMsgAfterParen);
    const Operator* op = find_operator(w);
    if (op == nullptr) fail(kMsgUnknown);
    switch (op->kind) {
      case Kind::kNumeric:
      case Kind::kFilePair:
      case Kind::kString:
        binary_ = op;
        state_ = State::kLeft;
        return;
      case Kind::kFile:
        push(truth(file_operator(op->code, take_operand())));
        return;
      case Kind::kNever:
        take_operand();
        push(truth(false));
        return;
      case Kind::kUnavailable:
        fail(kMsgUnavailable);
      case Kind::kUnary:
        push(truth(unary_operator(op->code, take_operand())));
        return;
      case Kind::kNot:
        settle_pending();
        if (nvalues_ == 0) push(truth(false));  // outside the grammar
        values[static_cast<std::size_t>(nvalues_ - 1)] ^= 1;
        return;
      case Kind::kAnd:
      case Kind::kOr: {
        settle_pending();
        state_ = State::kOperand;
        const unsigned char mine = op->kind == Kind::kAnd ? kStackAnd : kStackOr;
        if (nops_ > 0 && operators[static_cast<std::size_t>(nops_ - 1)] != kStackGroup &&
            precedence(mine) <= precedence(operators[static_cast<std::size_t>(nops_ - 1)]))
          apply_logical();
        operators[static_cast<std::size_t>(nops_++)] = mine;
        return;
      }
    }
  }

  bool binary(const Operator& op, const char* left, const char* right) {
    switch (op.kind) {
      case Kind::kNumeric: return numeric_operator(op.code, left, right);
      case Kind::kFilePair: return file_pair_operator(op.code, left, right);
      default: return string_operator(op.code, left, right, patterns_);
    }
  }
};

}  // namespace

int bi_test(int argc, char** argv) {
  const char* name = argv[0];
  const bool double_bracket = name[0] == '[' && name[1] == '[';
  int count = argc - 1;
  if (name[0] == '[') {
    // "[" ends with "]", "[[" with "]]"; the closing word is no operand.
    const char* last = argc > 1 ? argv[argc - 1] : "";
    const bool closed = double_bracket ? std::string_view(last) == "]]" : std::string_view(last) == "]";
    if (!closed) fail(kMsgClosing);
    --count;
  }
  if (count <= 0) return 1;
  Evaluator e(double_bracket);
  return e.run(argv + 1, count);
}

}  // namespace vek
