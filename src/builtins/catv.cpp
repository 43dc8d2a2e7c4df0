// Copying bytes between descriptors, variables and literal texts (catv),
// and editing (conv) and comparing (cmpv) variable values in place.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "builtins/builtins.h"
#include "builtins/readcopy.h"
#include "core/shell.h"
#include "io/fdio.h"
#include "session/input.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/varstore.h"

namespace vek {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

}  // namespace

CatvPart catv_parse_part(const char* p, int len) {
  CatvPart part;
  for (int i = 0; i < len; ++i) {
    const char c = p[i];
    switch (c) {
      case '+': part.plus = true; continue;
      case '-': part.minus = true; continue;
      case '.': part.dot = true; continue;
      case ':': part.colon = true; continue;
      default: break;
    }
    if (is_digit(c)) {
      if (part.has_number || part.name != nullptr) {
        part.bad = true;
        return part;
      }
      part.has_number = true;
      while (i < len && is_digit(p[i])) {
        if (part.number < 0x7fffffff) part.number = part.number * 10 + (p[i] - '0');
        ++i;
      }
      part.number = std::min<std::int64_t>(part.number, 0x7fffffff);
      --i;
    } else if (is_name_start(c)) {
      if (part.has_number || part.name != nullptr) {
        part.bad = true;
        return part;
      }
      part.name = p + i;
      while (i < len && is_name_char(p[i])) ++i;
      part.name_len = static_cast<int>(p + i - part.name);
      --i;
    } else {
      part.bad = true;
      return part;
    }
  }
  return part;
}

int catv_decode_literal(char* text, char esc) {
  const char* r = text;
  char* w = text;
  while (*r != 0) {
    const char c = *r++;
    if (c != esc || *r == 0) {
      *w++ = c;
      continue;
    }
    const char d = *r;
    if (d == esc) {
      *w++ = esc;
      ++r;
      continue;
    }
    if (is_digit(d)) {
      int value = 0;
      for (int k = 0; k < 3 && is_digit(*r); ++k) value = value * 10 + (*r++ - '0');
      if (value > 255) return -1;
      *w++ = static_cast<char>(value);
      continue;
    }
    char out = 0;
    switch (d) {
      case 'a': out = 7; break;
      case 'b': out = 8; break;
      case 'e': out = 27; break;
      case 'f': out = 12; break;
      case 'n': out = '\n'; break;
      case 'r': out = '\r'; break;
      case 's': out = '"'; break;
      case 't': out = '\t'; break;
      case 'v': out = 11; break;
      case 'z': out = 26; break;
      case 'j':
        *w++ = '\r';
        out = '\n';
        break;
      default:
        // Not an escape: the escape character stays, the next character
        // is taken as usual.
        *w++ = esc;
        continue;
    }
    *w++ = out;
    ++r;
  }
  *w = 0;
  return static_cast<int>(w - text);
}

namespace {

constexpr int kBlock = 4096;
constexpr std::int64_t kNoCount = 2147483647;

// The bytes the last copying catv took from its sources.
std::int64_t catv_total = 0;

std::array<char, kBlock> transfer_buf;
std::array<char, kBlock> rebuild_buf;

enum class Kind { kDescriptor, kVariable, kLiteral };

// One transfer operand, read and positioned when its turn comes.
struct Spec {
  Kind kind = Kind::kDescriptor;
  int fd = -1;
  std::array<char, 32> name{};
  VarRecord* record = nullptr;
  const char* data = nullptr;  // variable or literal: next byte to copy
  std::int64_t left = 0;       // ... and the bytes up to its end
  std::int64_t pos = 0;        // variable target: the write position
  std::int64_t count = kNoCount;
  std::int64_t saved = -1;     // position to restore (".")
  std::int32_t offset = 0;
  bool has_offset = false;
  bool relative = false;
  bool from_end = false;
  bool keep = false;
  bool truncate = false;
  bool tty = false;
};

// Reports error 19 with "catv: " and a text (cut to 32 characters).
void catv_error(const char* text, int len = -1) {
  if (len < 0) len = static_cast<int>(std::strlen(text));
  std::array<char, 6 + 32 + 1> msg{};
  std::memcpy(msg.data(), "catv: ", 6);
  len = std::min(len, 32);
  std::memcpy(msg.data() + 6, text, static_cast<std::size_t>(len));
  msg[static_cast<std::size_t>(6 + len)] = 0;
  shell_error(VEK_ERR(kErrArguments), msg.data());
}

// Splits and checks a transfer operand; false after the report.
bool parse_spec(const char* text, Spec& spec) {
  const int len = static_cast<int>(std::strlen(text));
  std::array<int, 3> commas{};
  int ncommas = 0;
  for (int i = 0; i < len; ++i) {
    if (text[i] != ',') continue;
    if (ncommas == 2) {
      catv_error("zuviel ,,,");
      return false;
    }
    commas[static_cast<std::size_t>(ncommas++)] = i;
  }
  struct Range {
    const char* p;
    int n;
  };
  Range off{nullptr, 0}, cnt{nullptr, 0}, obj{text, len};
  if (ncommas == 2) {
    off = {text, commas[0]};
    cnt = {text + commas[0] + 1, commas[1] - commas[0] - 1};
    obj = {text + commas[1] + 1, len - commas[1] - 1};
  } else if (ncommas == 1) {
    cnt = {text, commas[0]};
    obj = {text + commas[0] + 1, len - commas[0] - 1};
  }

  const CatvPart o = catv_parse_part(obj.p, obj.n);
  if (obj.n == 0 || o.bad || o.plus || o.minus || (!o.has_number && o.name == nullptr) ||
      (o.has_number && o.number > 9) || (o.name != nullptr && o.name_len > 31)) {
    catv_error(obj.p, obj.n);
    return false;
  }
  spec.keep = o.dot;
  spec.truncate = o.colon;
  if (o.has_number) {
    spec.kind = Kind::kDescriptor;
    spec.fd = static_cast<int>(o.number);
  } else {
    spec.kind = Kind::kVariable;
    std::memcpy(spec.name.data(), o.name, static_cast<std::size_t>(o.name_len));
    spec.name[static_cast<std::size_t>(o.name_len)] = 0;
  }
  if (cnt.n > 0) {
    const CatvPart c = catv_parse_part(cnt.p, cnt.n);
    if (c.bad || c.plus || c.minus || c.dot || c.colon || c.name != nullptr || !c.has_number) {
      catv_error(cnt.p, cnt.n);
      return false;
    }
    spec.count = c.number;
  }
  if (off.p != nullptr) {
    const CatvPart f = catv_parse_part(off.p, off.n);
    if (off.n == 0 || f.bad || f.dot || f.name != nullptr) {
      catv_error(off.p, off.n);
      return false;
    }
    spec.has_offset = true;
    spec.relative = f.plus || f.minus;
    spec.from_end = f.colon;
    spec.offset = static_cast<std::int32_t>(f.minus ? -f.number : f.number);
  }
  return true;
}

// Positions a parsed operand; false after the report.
bool position_spec(Spec& spec, bool target) {
  if (spec.kind == Kind::kDescriptor) {
    spec.tty = is_console(spec.fd);
    if (spec.tty) {
      if (spec.keep || spec.from_end || spec.offset < 0) {
        catv_error("tty!");
        return false;
      }
      // A console cannot seek: a source skips the offset by reading.
      std::int64_t skip = target ? 0 : spec.offset;
      std::array<char, 16> piece{};
      while (skip > 0) {
        const long want = static_cast<long>(std::min<std::int64_t>(skip, 16));
        const long r = sys_read(spec.fd, piece.data(), want);
        check_signal();
        skip -= r;
        if (r < want) break;
      }
      return true;
    }
    if (spec.keep) spec.saved = sys_lseek(spec.fd, 0, plat::kSeekCur);
    if (spec.has_offset) {
      if (spec.from_end) {
        sys_lseek(spec.fd, spec.offset, plat::kSeekEnd);
      } else if (spec.relative) {
        if (spec.offset != 0) sys_lseek(spec.fd, spec.offset, plat::kSeekCur);
      } else {
        sys_lseek(spec.fd, spec.offset, plat::kSeekSet);
      }
    }
    return true;
  }
  // A variable.
  if (spec.keep || spec.offset < -32767 || spec.offset > 32767 || (!spec.from_end && spec.offset < 0)) {
    catv_error("name!");
    return false;
  }
  spec.record = var_find(variable_scope(), spec.name.data());
  if (target && spec.record != nullptr && (spec.record->flags & kReadOnly)) {
    shell_error(VEK_ERR(kErrReadOnly), spec.name.data());
    return false;
  }
  const std::int64_t size = spec.record != nullptr ? spec.record->value_size() : 0;
  std::int64_t pos = spec.offset;
  if (spec.from_end) {
    if (spec.offset < 0 && -spec.offset > size) {
      catv_error("offset vor beginn!");
      return false;
    }
    pos = size + spec.offset;
  }
  spec.pos = pos;
  if (spec.record != nullptr && pos < size) {
    spec.data = spec.record->value() + pos;
    spec.left = size - pos;
  } else {
    spec.data = nullptr;
    spec.left = 0;
  }
  return true;
}

// Sets a variable to n bytes of the rebuild buffer.
void set_rebuilt(const char* name, int n) {
  rebuild_buf[static_cast<std::size_t>(n)] = 0;
  const bool has_nul = std::memchr(rebuild_buf.data(), 0, static_cast<std::size_t>(n)) != nullptr;
  const VarValue v = has_nul ? VarValue::bytes(rebuild_buf.data(), n) : VarValue::text(rebuild_buf.data());
  var_set(variable_scope(), name, v, kVar | kAsText);
}

class Transfer {
 public:
  explicit Transfer(Spec& target) : target_(target) {}

  // Delivers the n bytes of the buffer to the target; false when the
  // transfer ends here.
  bool flush(int n) {
    catv_total += n;
    const int deliver = static_cast<int>(std::min<std::int64_t>(n, target_.count));
    const char* buf = transfer_buf.data();
    if (target_.kind == Kind::kDescriptor) {
      if (deliver > 0) sys_write(target_.fd, buf, deliver);
      target_.count -= deliver;
      return deliver == n;
    }
    VarRecord* rec = target_.record;
    if (rec == nullptr) {
      // A new variable: zero fill up to the offset, then the bytes.
      const int zeros = static_cast<int>(std::min<std::int64_t>(target_.pos, kBlock));
      const int take = std::min(deliver, kBlock - zeros);
      std::memset(rebuild_buf.data(), 0, static_cast<std::size_t>(zeros));
      std::memcpy(rebuild_buf.data() + zeros, buf, static_cast<std::size_t>(take));
      if (zeros + take > 0 || target_.truncate) set_rebuilt(target_.name.data(), zeros + take);
      rebuilt_ = true;
      return false;
    }
    const std::int64_t size = rec->value_size();
    const int fit = target_.pos < size ? static_cast<int>(std::min<std::int64_t>(deliver, size - target_.pos)) : 0;
    if (fit > 0) {
      std::memcpy(rec->value() + target_.pos, buf, static_cast<std::size_t>(fit));
      if (!rec->is_integer() && std::memchr(buf, 0, static_cast<std::size_t>(fit)) != nullptr) rec->flags |= kBinary;
      target_.pos += fit;
      target_.count -= fit;
    }
    if (fit == deliver) return deliver == n;
    if (size >= kBlock) return false;
    // The rest does not fit: the value is rebuilt from its bytes before
    // the write position (zeros past its end) and the new bytes.
    const int keep = static_cast<int>(std::min<std::int64_t>(target_.pos, kBlock));
    const int old = static_cast<int>(std::min<std::int64_t>(keep, size));
    std::memcpy(rebuild_buf.data(), rec->value(), static_cast<std::size_t>(old));
    std::memset(rebuild_buf.data() + old, 0, static_cast<std::size_t>(keep - old));
    const int take = std::min(deliver - fit, kBlock - keep);
    std::memcpy(rebuild_buf.data() + keep, buf + fit, static_cast<std::size_t>(take));
    target_.record = nullptr;
    set_rebuilt(target_.name.data(), keep + take);
    rebuilt_ = true;
    return false;
  }

  // The bytes of one source into the buffer; false when the transfer
  // ends.  *took is raised by the bytes taken.
  bool copy(Spec& src, std::int64_t* took) {
    for (;;) {
      if (used_ == kBlock) {
        const bool go_on = flush(used_);
        used_ = 0;
        if (!go_on) {
          ended_ = true;
          return false;
        }
      }
      const long want = static_cast<long>(std::min<std::int64_t>(kBlock - used_, src.count));
      if (want <= 0) return true;
      long got;
      if (src.kind == Kind::kDescriptor) {
        got = sys_read(src.fd, transfer_buf.data() + used_, want);
        check_signal();
      } else {
        got = static_cast<long>(std::min<std::int64_t>(want, src.left));
        if (got > 0) std::memcpy(transfer_buf.data() + used_, src.data, static_cast<std::size_t>(got));
        src.data += got;
        src.left -= got;
      }
      used_ += static_cast<int>(got);
      src.count -= got;
      *took += got;
      if (got == 0) return true;
      // A console hands out one line per read; a pipe may deliver less
      // than asked before its end, so only its end (0) ends it.
      if (got < want && (src.kind != Kind::kDescriptor || src.tty)) return true;
    }
  }

  // The final flush after the last source.
  void finish() {
    if (!ended_) flush(used_);
    used_ = 0;
  }
  bool rebuilt() const { return rebuilt_; }

 private:
  Spec& target_;
  int used_ = 0;
  bool ended_ = false;
  bool rebuilt_ = false;
};

// Whether the decimal escapes of a "/" literal stay within a byte.
bool literal_ok(const char* p) {
  const char esc = static_cast<char>(escape_char);
  for (; *p != 0; ++p) {
    if (*p != esc || p[1] == 0) continue;
    ++p;
    if (*p == esc || !is_digit(*p)) continue;
    int value = 0;
    for (int k = 0; k < 3 && is_digit(*p); ++k) value = value * 10 + (*p++ - '0');
    if (value > 255) return false;
    --p;
  }
  return true;
}

// Restores a saved position.
void restore(const Spec& spec) {
  if (spec.kind == Kind::kDescriptor && spec.saved >= 0) sys_lseek(spec.fd, spec.saved, plat::kSeekSet);
}

}  // namespace

// catv [source ...] [=target]; catv , | ,r | ,.
int bi_catv(int argc, char** argv) {
  if (argc == 2 && argv[1][0] == ',' && (argv[1][1] == 0 || argv[1][2] == 0)) {
    const char q = argv[1][1];
    if (q == 0) {
      std::array<char, 24> text{};
      format_i64(text.data(), catv_total);
      format_out(1, "%s\r\n", text.data());
      return 0;
    }
    if (q == 'r') return static_cast<int>(catv_total);
    if (q == '.') {
      aux_result = static_cast<int>(catv_total);
      return 0;
    }
  }
  catv_total = 0;
  int nsrc = argc - 1;
  const char* target_text = "1";
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '=') continue;
    if (i != argc - 1) {
      catv_error("=... ...");
      return 1;
    }
    target_text = argv[i] + 1;
    nsrc = argc - 2;
  }
  // Every operand is checked before a byte moves.
  {
    Spec probe;
    if (!parse_spec(target_text, probe)) return 1;
    for (int i = 1; i <= nsrc; ++i) {
      const char* a = argv[i];
      if (a[0] == '.') continue;
      if (a[0] == '/') {
        if (!literal_ok(a + 1)) {
          catv_error("%ddd>255");
          return 1;
        }
        continue;
      }
      Spec s;
      if (!parse_spec(a, s)) return 1;
    }
  }

  Spec target;
  parse_spec(target_text, target);
  if (!position_spec(target, true)) return 1;
  Transfer transfer(target);
  std::int64_t took = 0;
  bool going = true;
  static char zero_source[] = "0";
  char** sources = argv + 1;
  if (nsrc == 0) {
    sources = nullptr;
    nsrc = 1;
  }
  for (int i = 0; i < nsrc && going; ++i) {
    char* a = sources != nullptr ? sources[i] : zero_source;
    Spec src;
    if (a[0] == '/' || a[0] == '.') {
      src.kind = Kind::kLiteral;
      const int n = a[0] == '/' ? catv_decode_literal(a + 1, static_cast<char>(escape_char))
                                : static_cast<int>(std::strlen(a + 1));
      src.data = a + 1;
      src.left = n;
    } else {
      parse_spec(a, src);
      if (!position_spec(src, false)) {
        restore(target);
        return 1;
      }
    }
    going = transfer.copy(src, &took);
    restore(src);
  }
  if (going) transfer.finish();
  if (target.keep) {
    restore(target);
  } else if (target.truncate) {
    if (target.kind == Kind::kDescriptor) {
      if (!target.tty) sys_ftruncate(target.fd, sys_lseek(target.fd, 0, plat::kSeekCur));
    } else if (!transfer.rebuilt() && target.record != nullptr) {
      VarRecord* rec = target.record;
      std::int64_t cut = target.pos;
      if (rec->is_integer()) cut = std::max<std::int64_t>(cut, 4);
      if (cut < rec->value_size()) {
        rec->value()[cut] = 0;
        rec->value_len = static_cast<std::uint32_t>(cut + 1);
      }
    }
  }
  return took > 0 ? 0 : 1;
}

// ------------------------------------------------------------------ conv

namespace {

// Deletes the first byte at or after `from` that `deletable` accepts,
// again and again; returns the new length.  Since a deletion changes
// nothing before the byte in front of it, each search goes on from there.
template <typename Pred>
int delete_repeatedly(char* v, int len, int off, Pred deletable, int* last) {
  int i = off;
  while (i < len) {
    if (!deletable(v, len, i)) {
      ++i;
      continue;
    }
    std::memmove(v + i, v + i + 1, static_cast<std::size_t>(len - i - 1));
    --len;
    *last = i;
    i = std::max(off, i - 1);
  }
  return len;
}

}  // namespace

int conv_apply(const char* ops, char* v, int len, int* aux, int* status) {
  int off = 0;
  for (const char* p = ops; *p != 0; ++p) {
    const char op = *p;
    if (op == 'o') {
      off = std::max(0, static_cast<int>(parse_decimal(p + 1)));
      while (p[1] == '-' || p[1] == '+' || is_digit(p[1])) ++p;
      continue;
    }
    if (op == 'u' || op == 'U' || op == 'l' || op == 'L') {
      const bool up = op == 'u' || op == 'U';
      for (int i = off; i < len; ++i) {
        const char c = v[i];
        if (up && c >= 'a' && c <= 'z') v[i] = static_cast<char>(c - 32);
        if (!up && c >= 'A' && c <= 'Z') v[i] = static_cast<char>(c + 32);
      }
      continue;
    }
    const bool two = op == 't' || op == 'T';
    const bool one = op == 'd' || op == 'D' || op == 'O' || op == 'f' || op == 'F';
    if (!two && !one) continue;
    if (p[1] == 0 || (two && p[2] == 0)) break;
    const char x = *++p;
    const char y = two ? *++p : 0;
    int last = -1;
    switch (op) {
      case 't':
        for (int i = off; i < len; ++i) {
          if (v[i] == x) {
            v[i] = y;
            last = i;
          }
        }
        break;
      case 'T':
      case 'D':
      case 'O': {
        int at = -1;
        for (int i = off; i < len; ++i) {
          if (v[i] == x) {
            at = i;
            break;
          }
        }
        last = at;
        if (at < 0) {
          if (op == 'O') *status = off >= len ? 2 : 1;
        } else if (op == 'T') {
          v[at] = y;
        } else if (op == 'D') {
          std::memmove(v + at, v + at + 1, static_cast<std::size_t>(len - at - 1));
          --len;
        }
        break;
      }
      case 'd': {
        if (off >= len) break;
        int w = off;
        for (int i = off; i < len; ++i) {
          if (v[i] == x) {
            last = w;
          } else {
            v[w++] = v[i];
          }
        }
        len = w;
        break;
      }
      default: {
        const bool strip_first = op == 'f';
        len = delete_repeatedly(
            v, len, off,
            [x, strip_first](const char* s, int n, int i) {
              if (s[i] != x) return false;
              if (i + 1 < n && s[i + 1] == x) return true;
              if (strip_first && i == 0) return true;
              return i == n - 1 && (strip_first || i != 0);
            },
            &last);
        // The last scan meets the bytes x that stay.
        for (int i = len - 1; i >= off; --i) {
          if (v[i] == x) {
            last = i;
            break;
          }
        }
        break;
      }
    }
    if (last >= 0) *aux = last;
  }
  return len;
}

// conv -operations name ...
int bi_conv(const BuiltinCall& call) {
  if (call.argc < 2 || call.argv[1][0] != '-' || call.argv[1][1] == 0) return 0;
  aux_result = -1;
  for (int i = 2; i < call.argc; ++i) {
    VarRecord* rec = var_find(variable_scope(), call.argv[i]);
    if (rec == nullptr || (rec->flags & kExported) || rec->is_integer()) continue;
    if (rec->flags & kReadOnly) {
      shell_error(VEK_ERR(kErrReadOnly), call.argv[i]);
      return 0;
    }
    int aux = aux_result;
    int status = last_status;
    const int len = conv_apply(call.argv[1] + 1, rec->value(), rec->value_size(), &aux, &status);
    rec->value()[len] = 0;
    rec->value_len = static_cast<std::uint32_t>(len + 1);
    aux_result = aux;
    last_status = status;
  }
  return 0;
}

// ------------------------------------------------------------------ cmpv

int cmpv_compare(const char* a, int na, const char* b, int nb, bool fold, int* pos) {
  int status = 0;
  int n = na;
  if (nb < na) {
    status = 4;
    n = nb;
  } else if (nb > na) {
    status = 8;
  }
  for (int i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (fold) {
      if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
      if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    }
    if (ca != cb) {
      *pos = i;
      return ca > cb ? 1 : 2;
    }
  }
  *pos = n;
  return status;
}

// cmpv [-i] name1 name2
int bi_cmpv(const BuiltinCall& call) {
  int first = 1;
  bool fold = false;
  if (call.argc == 4 && call.argv[1][0] == '-') {
    fold = call.argv[1][1] == 'i';
    first = 2;
  } else if (call.argc != 3) {
    last_status = 16;
    return 0;
  }
  aux_result = -1;
  const VarRecord* a = var_find(variable_scope(), call.argv[first]);
  const VarRecord* b = var_find(variable_scope(), call.argv[first + 1]);
  if (a == nullptr || b == nullptr) {
    last_status = 16;
    return 0;
  }
  int pos = 0;
  last_status = cmpv_compare(a->value(), a->value_size(), b->value(), b->value_size(), fold, &pos);
  aux_result = pos;
  return 0;
}

}  // namespace vek
