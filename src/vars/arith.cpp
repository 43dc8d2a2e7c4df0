// The arithmetic evaluator: an operator-precedence evaluator that works
// while it reads.  A value stack and an operator stack of fixed size hold
// the pending parts; brackets and conditionals are entries of the
// operator stack (floors), so nesting costs no recursion and is bounded
// by the stack size.  Values that came from a variable carry its name
// (kept in a small name area, used like a stack) so that an assignment
// can store into it.
#include "vars/arith.h"

#include <array>
#include <climits>

#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/subscript.h"

namespace vek {

namespace {

constexpr int kEofByte = 0xFF;

// Operator codes.  The binary operators come first, in the order of
// kBinaryInfo.
enum Code : std::uint8_t {
  kMul, kDiv, kMod, kAdd, kSub, kShl, kShr, kLt, kGt, kLe, kGe, kEq, kNe,
  kAnd, kXor, kOr, kLogAnd, kLogXor, kLogOr,
  kAssign, kMulAssign, kDivAssign, kModAssign, kAddAssign, kSubAssign,
  kShlAssign, kShrAssign, kAndAssign, kXorAssign, kOrAssign,
  kQuest, kColon, kComma,
  kNot, kCompl,  // `!` `~`: unary only
  // Unary forms, applied to the value that follows.
  kUnaryNot, kUnaryCompl, kNegate, kUnaryPlus, kSquare,
  // Floors: a bracket, or an array subscript written as an expression.
  kParen, kBracket, kBrace, kSubscript,
};

struct OperatorInfo {
  const char* text;
  std::uint8_t precedence;
};

// Texts (for messages) and precedences of the operators before kNot.
constexpr std::array<OperatorInfo, kNot + 2> kInfo = {{
    {"*", 60},   {"/", 60},   {"%", 60},   {"+", 50},   {"-", 50},   {"<<", 45},  {">>", 45},
    {"<", 44},   {">", 44},   {"<=", 44},  {">=", 44},  {"==", 43},  {"!=", 43},  {"&", 42},
    {"^", 41},   {"|", 40},   {"&&", 39},  {"^^", 38},  {"||", 37},  {"=", 25},   {"*=", 25},
    {"/=", 25},  {"%=", 25},  {"+=", 25},  {"-=", 25},  {"<<=", 25}, {">>=", 25}, {"&=", 25},
    {"^=", 25},  {"|=", 25},  {"?", 28},   {":", 28},   {",", 22},   {"!", 0},    {"~", 0},
}};

constexpr int kConditionalPrecedence = 28;
constexpr int kCommaPrecedence = 22;
constexpr int kReduceAll = -1;

bool is_assignment(Code k) { return k >= kAssign && k <= kOrAssign; }

// The operation of a compound assignment (`+=` adds, ...).
constexpr std::array<Code, kOrAssign - kMulAssign + 1> kCompoundOperation = {
    kMul, kDiv, kMod, kAdd, kSub, kShl, kShr, kAnd, kXor, kOr};
bool is_unary(Code k) { return k >= kUnaryNot && k <= kSquare; }
bool is_floor(Code k) { return k >= kParen || k == kQuest; }

bool is_digit_char(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_name_start(int c) { return is_letter(c) || c == '_'; }
bool is_name_char(int c) { return is_name_start(c) || is_digit_char(c); }
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A; }

// The characters an operator token can start with.
constexpr auto kOperatorStart = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {'=', '<', '>', '&', '|', '+', '-', '*', '/', '%', '^', '!', '~', '?', ':', ','})
    t[c] = true;
  return t;
}();

// Error details.
constexpr const char* kFewValues = "Zuwenig Werte";
constexpr const char* kOrder = "Anzahl/Reihenfolge Werte/Operatoren";
constexpr const char* kBelowBottom = "?:,";
constexpr const char* kStackLimit = "Stack-Limit!";
constexpr const char* kCloserExpected = " )]} erwartet";
constexpr const char* kSubscriptExpected = "array[?]";
constexpr const char* kUnbalanced = "zuviel ( oder )";
constexpr const char* kDollar = "$name?";
constexpr const char* kDivision = "Division durch 0";

// Thrown after an error that its report let continue: the expression is
// abandoned.
struct Abandoned {};

using u32 = std::uint32_t;

std::int32_t wrap(u32 v) { return static_cast<std::int32_t>(v); }

class Evaluator {
 public:
  Evaluator(CharSource& src, const VarScope& scope, ArithText kind)
      : src_(src), scope_(scope), input_(kind == ArithText::kInput) {}

  ArithResult run() {
    ArithResult result;
    for (;;) {
      nv_ = nops_ = name_top_ = paren_depth_ = 0;
      const int end = expression();
      result.value = values_[0].v;
      if (end == ';') continue;
      finish(end);
      result.base = out_base_;
      result.ok = true;
      return result;
    }
  }

  bool closed() const { return closed_; }
  int paren_depth() const { return paren_depth_; }

 private:
  struct Value {
    std::int32_t v;
    std::int16_t name;  // offset in the name area, -1 for none
  };
  struct Op {
    Code code;
    std::uint8_t precedence;
    bool live;           // conditional: the condition was true
    unsigned saved;      // conditional: the skip bit before it
    std::int8_t vbase;   // value stack height when the entry was pushed
    std::int16_t name;   // subscript: offset of the array name
    std::uint8_t name_len;
  };

  CharSource& src_;
  const VarScope& scope_;
  const bool input_;
  bool closed_ = false;  // the closing "))" has been read
  int out_base_ = 0;
  int nv_ = 0;
  int nops_ = 0;
  int name_top_ = 0;
  int paren_depth_ = 0;
  std::array<Value, kArithValues> values_;
  std::array<Op, kArithOperators> ops_;
  std::array<char, kArithNameArea> names_;

  static bool skipping() { return skip_flags != 0; }

  [[noreturn]] void fail(int code, const char* detail) {
    shell_error(code, detail);
    throw Abandoned{};
  }
  [[noreturn]] void fail_char(int c) {
    char text[2] = {static_cast<char>(c), 0};
    fail(VEK_ERR(kErrArithmetic), text);
  }

  bool is_end(int c) const { return c == 0 || (input_ && c == kEofByte); }

  int next_token_char() {
    int c;
    do {
      c = src_.next();
    } while (is_blank(c));
    return c;
  }

  // ----- the token loop ------------------------------------------------

  // Reads one expression up to the character that ends it at the top
  // level (`;`, a closing bracket or the end), which is returned.
  int expression() {
    bool operand = true;
    for (;;) {
      const int c = next_token_char();
      if (c == ')' || c == ']' || c == '}' || c == ';' || is_end(c)) {
        if (close(c)) {
          operand = false;
          continue;
        }
        return c;
      }
      if (operand) {
        if (is_digit_char(c)) {
          number(c);
          operand = false;
        } else if (is_name_start(c) || c == '$') {
          operand = !variable(c);
        } else if (c == '(' || c == '[' || c == '{') {
          open(c == '(' ? kParen : c == '[' ? kBracket : kBrace, -1, 0);
        } else if (c == '?' || c == ':' || c == ',') {
          fail(VEK_ERR(kErrArithmetic), kBelowBottom);
        } else if (kOperatorStart[static_cast<unsigned char>(c)]) {
          unary(read_operator(c));
        } else {
          fail_char(c);
        }
      } else {
        if (kOperatorStart[static_cast<unsigned char>(c)]) {
          binary(read_operator(c));
          operand = true;
        } else if (is_digit_char(c) || is_name_start(c) || c == '$' || c == '(' || c == '[' || c == '{') {
          fail(VEK_ERR(kErrArithmetic), kOrder);
        } else {
          fail_char(c);
        }
      }
    }
  }

  // An operator token starting with c: the pair table for the second
  // character, and `=` after `<<` and `>>`.
  Code read_operator(int c) {
    int d = src_.next();
    auto pair = [&](int want, Code yes, Code no) {
      if (d == want) return yes;
      src_.back();
      return no;
    };
    switch (c) {
      case '*': return pair('=', kMulAssign, kMul);
      case '/': return pair('=', kDivAssign, kDiv);
      case '%': return pair('=', kModAssign, kMod);
      case '+': return pair('=', kAddAssign, kAdd);
      case '-': return pair('=', kSubAssign, kSub);
      case '=': return pair('=', kEq, kAssign);
      case '!': return pair('=', kNe, kNot);
      case '<':
      case '>': {
        const bool left = c == '<';
        if (d == '=') return left ? kLe : kGe;
        if (d != c) {
          src_.back();
          return left ? kLt : kGt;
        }
        d = src_.next();
        return pair('=', left ? kShlAssign : kShrAssign, left ? kShl : kShr);
      }
      case '&':
        if (d == '&') return kLogAnd;
        return pair('=', kAndAssign, kAnd);
      case '|':
        if (d == '|') return kLogOr;
        return pair('=', kOrAssign, kOr);
      case '^':
        if (d == '^') return kLogXor;
        return pair('=', kXorAssign, kXor);
      case '~': src_.back(); return kCompl;
      case '?': src_.back(); return kQuest;
      case ':': src_.back(); return kColon;
      default: src_.back(); return kComma;
    }
  }

  // ----- operands ------------------------------------------------------

  // A number: decimal digits, or base#digits.  An empty digit part after
  // `b#` is 0 and makes b the output base.
  void number(int c) {
    std::array<char, kArithNumberText + 2> text{};
    int n = 0;
    bool too_long = false;
    auto add = [&](int ch) {
      if (n < kArithNumberText) text[static_cast<std::size_t>(n++)] = static_cast<char>(ch);
      else too_long = true;
    };
    int base = 0;
    while (is_digit_char(c)) {
      add(c);
      if (base <= 256) base = base * 10 + (c - '0');
      c = src_.next();
    }
    bool empty_digits = false;
    if (c == '#') {
      add(c);
      const int first = n;
      if (base == 256) {
        // Exactly four characters, taken as bytes.
        for (int k = 0; k < 4; ++k) {
          c = src_.next();
          if (is_end(c)) {
            src_.back();
            break;
          }
          add(c);
        }
      } else {
        c = src_.next();
        while (base <= 10 ? is_digit_char(c) : (is_letter(c) || is_digit_char(c))) {
          add(c);
          c = src_.next();
        }
        src_.back();
      }
      empty_digits = n == first;
    } else {
      src_.back();
    }
    if (too_long) fail(VEK_ERR(kErrArithmetic), text.data());
    int written = 0;
    // The number parser reports malformed words itself; such a report that
    // continues leaves $? at the error's status.
    const int status = last_status;
    last_status = 0;
    const std::int32_t v = parse_integer(&written, text.data());
    if (last_status == kErrArithmetic + 1) throw Abandoned{};
    last_status = status;
    if (empty_digits) out_base_ = written;
    push(v, -1);
    apply_unary();
  }

  // A name with an optional `$` before it, and its subscript.  Returns
  // whether a value was pushed (false: a subscript expression follows).
  bool variable(int c) {
    if (c == '$') {
      c = src_.next();
      if (!is_name_start(c)) fail(VEK_ERR(kErrArithmetic), kDollar);
    }
    ElementName name{};
    int n = 0;
    bool too_long = false;
    while (is_name_char(c)) {
      if (n < kElementNameSize - 1) name[static_cast<std::size_t>(n++)] = static_cast<char>(c);
      if (n > 31) too_long = true;
      c = src_.next();
    }
    if (too_long) fail(VEK_ERR(kErrArithmetic), name.data());
    if (c != '[') {
      src_.back();
      push_variable(name.data(), n);
      return true;
    }
    // A subscript that starts with a name is read as a subscript; any
    // other is an expression that must end with `]`.
    const int d = next_token_char();
    src_.back();
    if (is_name_start(d)) {
      n += subscript_to_index(src_, scope_, name, n);
      check_element(name.data());
      push_variable(name.data(), n);
      return true;
    }
    const int off = allocate_name(name.data(), n);
    open(kSubscript, off, n);
    return false;
  }

  void check_element(const char* name) {
    if (!skipping() && !name_check(name)) fail(VEK_ERR(kErrBadName), name);
  }

  // Copies a name into the name area; returns its offset.
  int allocate_name(const char* name, int n) {
    if (name_top_ + n + 1 > kArithNameArea) fail(VEK_ERR(kErrArithmetic), kStackLimit);
    const int off = name_top_;
    for (int i = 0; i < n; ++i) names_[static_cast<std::size_t>(off + i)] = name[i];
    names_[static_cast<std::size_t>(off + n)] = 0;
    name_top_ += n + 1;
    return off;
  }

  void push_variable(const char* name, int n) { push_named(allocate_name(name, n)); }

  // Pushes the value of the variable whose name is at `off` in the name
  // area: an integer's value, a text's leading number, 0 when unset.
  void push_named(int off) {
    std::int32_t v = 0;
    if (!skipping()) {
      const char* name = &names_[static_cast<std::size_t>(off)];
      const VarRecord* r = var_find(scope_, name);
      if (r != nullptr) {
        v = r->is_integer() ? r->int_value() : parse_decimal(r->value());
      } else if (opt('u')) {
        fail(VEK_ERR(kErrUnset), name);
      }
    }
    push(v, static_cast<std::int16_t>(off));
    apply_unary();
  }

  // ----- the stacks ----------------------------------------------------

  void push(std::int32_t v, std::int16_t name) {
    if (nv_ >= kArithValues) fail(VEK_ERR(kErrArithmetic), kStackLimit);
    values_[static_cast<std::size_t>(nv_++)] = Value{v, name};
  }

  Value pop() {
    Value v = values_[static_cast<std::size_t>(--nv_)];
    if (v.name >= 0) name_top_ = v.name;
    return v;
  }

  Op& top_op() { return ops_[static_cast<std::size_t>(nops_ - 1)]; }

  Op& push_op(Code k) {
    if (nops_ >= kArithOperators) fail(VEK_ERR(kErrArithmetic), kStackLimit);
    Op& o = ops_[static_cast<std::size_t>(nops_++)];
    o = Op{k, k < kNot ? kInfo[k].precedence : std::uint8_t{0}, false, 0, static_cast<std::int8_t>(nv_), -1, 0};
    return o;
  }

  void open(Code k, int name_off, int name_len) {
    Op& o = push_op(k);
    o.name = static_cast<std::int16_t>(name_off);
    o.name_len = static_cast<std::uint8_t>(name_len);
    if (k == kParen) ++paren_depth_;
  }

  // ----- operators -----------------------------------------------------

  void unary(Code k) {
    switch (k) {
      case kNot: push_op(kUnaryNot); return;
      case kCompl: push_op(kUnaryCompl); return;
      case kSub: push_op(kNegate); return;
      case kAdd: push_op(kUnaryPlus); return;
      case kMul: push_op(kSquare); return;
      default: fail(VEK_ERR(kErrArithmetic), kInfo[k].text);
    }
  }

  // The unary operators waiting above the value just pushed, innermost
  // first.  Two `-` or two `+` directly before a variable decrement or
  // increment it.
  void apply_unary() {
    Value& v = values_[static_cast<std::size_t>(nv_ - 1)];
    while (nops_ > 0 && is_unary(top_op().code)) {
      const Code k = top_op().code;
      if ((k == kNegate || k == kUnaryPlus) && v.name >= 0 && nops_ >= 2 &&
          ops_[static_cast<std::size_t>(nops_ - 2)].code == k) {
        nops_ -= 2;
        if (!skipping()) {
          v.v = wrap(static_cast<u32>(v.v) + (k == kNegate ? 0xFFFFFFFFu : 1u));
          store(v.name, v.v);
        }
      } else {
        --nops_;
        if (!skipping()) {
          const u32 x = static_cast<u32>(v.v);
          switch (k) {
            case kUnaryNot: v.v = v.v == 0; break;
            case kUnaryCompl: v.v = wrap(~x); break;
            case kNegate: v.v = wrap(0u - x); break;
            case kSquare: v.v = wrap(x * x); break;
            default: break;
          }
        }
      }
      drop_name(v);
    }
  }

  void drop_name(Value& v) {
    if (v.name >= 0) name_top_ = v.name;
    v.name = -1;
  }

  void store(std::int16_t name, std::int32_t v) {
    var_set(scope_, &names_[static_cast<std::size_t>(name)], VarValue::integer(v));
  }

  void binary(Code k) {
    switch (k) {
      case kNot:
      case kCompl:
        fail(VEK_ERR(kErrArithmetic), kInfo[k].text);
      case kQuest: {
        reduce(kConditionalPrecedence, true);
        if (nv_ <= floor_base()) fail(VEK_ERR(kErrArithmetic), kBelowBottom);
        const bool live = pop().v != 0;
        const unsigned saved = skip_flags & kSkipArithmetic;
        Op& q = push_op(kQuest);
        q.live = live;
        q.saved = saved;
        if (!live) skip_flags |= kSkipArithmetic;
        return;
      }
      case kColon: {
        reduce(kConditionalPrecedence, false);
        if (nops_ == 0 || top_op().code != kQuest) fail(VEK_ERR(kErrArithmetic), kOrder);
        Op& q = top_op();
        if (nv_ != q.vbase + 1) fail(VEK_ERR(kErrArithmetic), kFewValues);
        q.code = kColon;
        q.vbase = static_cast<std::int8_t>(nv_);
        set_skip(q.saved != 0 || q.live);
        return;
      }
      case kComma:
        reduce(kCommaPrecedence, false);
        if (nv_ <= floor_base()) fail(VEK_ERR(kErrArithmetic), kBelowBottom);
        pop();
        return;
      default:
        reduce(kInfo[k].precedence, is_assignment(k));
        push_op(k);
    }
  }

  static void set_skip(bool on) {
    if (on) skip_flags |= kSkipArithmetic;
    else skip_flags &= ~kSkipArithmetic;
  }

  // Height of the value stack at the innermost floor.
  int floor_base() const {
    for (int i = nops_ - 1; i >= 0; --i) {
      const Op& o = ops_[static_cast<std::size_t>(i)];
      if (is_floor(o.code) || o.code == kColon) return o.vbase;
    }
    return 0;
  }

  // Applies the operators above the innermost floor while they bind at
  // least as tightly as precedence p (more tightly for right-associative
  // p); kReduceAll applies all of them.
  void reduce(int p, bool right) {
    while (nops_ > 0) {
      Op& t = top_op();
      if (is_floor(t.code)) return;
      if (is_unary(t.code)) fail(VEK_ERR(kErrArithmetic), kFewValues);
      if (!(t.precedence > p || (t.precedence == p && !right))) return;
      if (nv_ <= t.vbase) fail(VEK_ERR(kErrArithmetic), kFewValues);
      if (t.code == kColon) {
        const Value no = pop();
        const Value yes = pop();
        const Op q = t;
        --nops_;
        skip_flags = (skip_flags & ~kSkipArithmetic) | q.saved;
        push(q.live ? yes.v : no.v, -1);
        continue;
      }
      const Code k = t.code;
      --nops_;
      const Value r = pop();
      const Value l = pop();
      std::int32_t v = 0;
      if (!skipping()) {
        if (k == kAssign) v = r.v;
        else if (is_assignment(k)) v = compute(kCompoundOperation[k - kMulAssign], l.v, r.v);
        else v = compute(k, l.v, r.v);
        if (is_assignment(k) && l.name >= 0) store(l.name, v);
      }
      push(v, -1);
    }
  }

  std::int32_t compute(Code k, std::int32_t a, std::int32_t b) {
    const u32 x = static_cast<u32>(a);
    const u32 y = static_cast<u32>(b);
    switch (k) {
      case kMul: return wrap(x * y);
      case kDiv:
        if (b == 0) fail(VEK_ERR(kErrArithmetic), kDivision);
        // The one quotient that does not fit wraps like every other result.
        if (b == -1) return wrap(0u - x);
        return a / b;
      case kMod:
        if (b == 0) fail(VEK_ERR(kErrArithmetic), kDivision);
        if (b == -1) return 0;
        return a % b;
      case kAdd: return wrap(x + y);
      case kSub: return wrap(x - y);
      case kShl: return wrap(x << (y & 31u));
      case kShr: return wrap(x >> (y & 31u));
      case kLt: return a < b;
      case kGt: return a > b;
      case kLe: return a <= b;
      case kGe: return a >= b;
      case kEq: return a == b;
      case kNe: return a != b;
      case kAnd: return wrap(x & y);
      case kXor: return wrap(x ^ y);
      case kOr: return wrap(x | y);
      case kLogAnd: return a != 0 && b != 0;
      case kLogXor: return (a != 0) != (b != 0);
      case kLogOr: return a != 0 || b != 0;
      default: return 0;
    }
  }

  // A closing bracket, `;` or the end.  Closes the innermost bracket and
  // returns true, or completes the top-level expression and returns false.
  bool close(int c) {
    reduce(kReduceAll, false);
    if (nops_ == 0) {
      if (nv_ != 1) fail(VEK_ERR(kErrArithmetic), kOrder);
      return false;
    }
    const Op f = top_op();
    if (f.code == kQuest) fail(VEK_ERR(kErrArithmetic), kOrder);
    const int want = f.code == kParen ? ')' : f.code == kBrace ? '}' : ']';
    if (c != want) {
      if (f.code == kSubscript) fail(VEK_ERR(kErrArithmetic), kSubscriptExpected);
      if (is_end(c) && paren_depth_ > 0) fail(VEK_ERR(kErrArithmetic), kUnbalanced);
      fail(VEK_ERR(kErrArithmetic), kCloserExpected);
    }
    if (nv_ != f.vbase + 1) fail(VEK_ERR(kErrArithmetic), kOrder);
    const Value v = pop();
    --nops_;
    if (f.code == kParen) --paren_depth_;
    if (f.code == kSubscript) {
      // The index's decimal text goes after the array name.
      char digits[16];
      const int n = format_signed(digits, skipping() ? 0 : v.v);
      if (f.name + f.name_len + n + 1 > kArithNameArea) fail(VEK_ERR(kErrArithmetic), kStackLimit);
      char* name = &names_[static_cast<std::size_t>(f.name)];
      for (int i = 0; i <= n; ++i) name[f.name_len + i] = digits[i];
      name_top_ = f.name + f.name_len + n + 1;
      check_element(name);
      push_named(f.name);
      return true;
    }
    push(v.v, -1);
    apply_unary();
    return true;
  }

  // The end of the last expression: the input form must end with "))",
  // an argument at its end.
  void finish(int end) {
    if (input_) {
      if (end == ')') {
        closed_ = true;
        if (src_.next() == ')') return;
        src_.back();
      } else if (is_end(end)) {
        src_.back();
      }
      fail(VEK_ERR(kErrArithmetic), "Abschlu\xE1 ))");
    }
    if (end == 0) return;
    if (end == ')') fail(VEK_ERR(kErrArithmetic), kUnbalanced);
    fail(VEK_ERR(kErrArithmetic), "Abschlu\xE1");
  }
};

// After an abandoned input expression: passes over the rest of it up to
// the "))" that closes it, so that reading goes on behind it.
void pass_over_rest(CharSource& src, int depth) {
  for (;;) {
    const int c = src.next();
    if (c == kEofByte) {
      src.back();
      return;
    }
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth > 0) {
        --depth;
      } else {
        if (src.next() != ')') src.back();
        return;
      }
    }
  }
}

}  // namespace

ArithResult arith_evaluate(CharSource& src, const VarScope& scope, ArithText kind) {
  const unsigned saved = skip_flags & kSkipArithmetic;
  // Only the conditional's own bit is put back: an abort has cleared all
  // skip flags on purpose.
  struct RestoreSkip {
    unsigned saved;
    ~RestoreSkip() { skip_flags = (skip_flags & ~kSkipArithmetic) | saved; }
  } restore{saved};
  Evaluator ev(src, scope, kind);
  try {
    return ev.run();
  } catch (const Abandoned&) {
    if (kind == ArithText::kInput && !ev.closed()) pass_over_rest(src, ev.paren_depth());
    return ArithResult{};
  }
}

}  // namespace vek
