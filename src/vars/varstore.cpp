// The variable store: fixed record tables over fixed arenas, scoped name
// resolution, compaction and the listings.
#include "vars/varstore.h"

#include <cstddef>
#include <cstring>
#include <functional>

#include "io/fdio.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/state.h"
#include "support/strings.h"
#include "vars/special.h"

namespace vek {

VarStore global_store;
int static_var_count = 0;

namespace {

std::array<VarRecord, kGlobalRecords> global_records;
std::array<char, kGlobalArena> global_arena;
// One arena for all local stores: each newly opened store takes the bytes
// after those of the store that was current when it was opened.
std::array<char, kLocalArena> local_arena;

// Running totals of all compactions, shown in __VLIM__.
struct Totals {
  std::uint32_t compactions = 0;
  std::uint32_t slots = 0;
  std::uint32_t bytes = 0;
} totals;

// A name or value handed to a set may itself live in an arena (another
// record's value, or the record's own name).  Compaction and borrowing move
// arena bytes, so such text is copied here before anything moves.
std::array<char, kGlobalArena> name_scratch;
std::array<char, kGlobalArena> value_scratch;

// Request bits that keep a lookup away from the local stores, and from the
// static names.
constexpr unsigned kNoLocalLookup = kFunc | kTracked | kExported | kStatic;
constexpr unsigned kNoStaticLookup = kFunc | kAlias | kTracked | kExported | kLocal;
// Attributes a record keeps across a re-assignment.
constexpr unsigned kSurviving = kExported | kReadOnly | kLocal | kStatic | kInteger;
// Bits that keep a record out of the environment.
constexpr unsigned kNoExport = kLocal | kStatic | kBinary | kInteger;
constexpr unsigned kNoAllExport = kFunc | kAlias | kNoExport;

constexpr int kStaticNameSize = 260;

// Internal request bit: the value is a 32-bit number.
constexpr unsigned kIntValue = 0x1000;

bool in_range(const char* p, const char* begin, const char* end) {
  return std::less_equal<const char*>()(begin, p) && std::less<const char*>()(p, end);
}

bool in_any_arena(const char* p) {
  return in_range(p, global_arena.data(), global_arena.data() + global_arena.size()) ||
         in_range(p, local_arena.data(), local_arena.data() + local_arena.size());
}

bool is_name_start(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool is_name_char(unsigned char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }

bool at_table_end(const VarStore& st, const VarRecord* r) { return r == st.end || r->text == nullptr; }

// Search of one store: n is the name's character count + 1.
VarRecord* search(const VarStore& st, unsigned kind, const char* name, std::size_t n) {
  if (n < 2) return nullptr;
  for (VarRecord* r = st.first; !at_table_end(st, r); ++r) {
    if (r->name_len == n && r->text[0] == name[0] && (r->flags & kind & 7u) != 0 &&
        std::memcmp(r->text + 1, name + 1, n - 2) == 0)
      return r;
  }
  return nullptr;
}

// Registers an exported record's current text in the process environment.
void register_env(VarRecord* r) {
  char* sep = r->text + r->name_len - 1;
  *sep = '\0';
  plat::env_set(r->text, r->value());
  *sep = '=';
}

// The qualified name of a static variable: tail of the script name, '@',
// the function name (while a function body runs, if wanted), '@', name.
int build_static_name(const VarScope& scope, char* out, const char* name, bool with_function) {
  const char* script = scope.script != nullptr ? scope.script : "";
  std::size_t slen = std::strlen(script);
  if (slen > 130) script += slen - 130;
  const char* func = "";
  if (with_function && scope.function != nullptr) func = scope.function;
  return concat_strings_n(kStaticNameSize, out, {script, "@", func, "@", name});
}

// The byte room a store may still take fresh: the global store and the
// scope's local store up to their arena's end; any other local store only
// inside its own bytes, since the bytes after them belong to newer scopes.
std::size_t fresh_room(const VarScope& scope, const VarStore& st) {
  if (!st.next_free) return 0;
  if (st.is_global || &st == scope.local)
    return static_cast<std::size_t>(st.arena_end - st.next_free);
  return 0;
}

// Writes the three totals into __VLIM__ (in place, NUL padded); false when
// they do not fit into its present value length.
bool update_vlim() {
  static const char kName[] = "__VLIM__";
  VarRecord* r = search(global_store, kVar, kName, sizeof kName);
  if (!r) return true;
  char text[48];
  int len = format_buf(text, "%d %ld %ld", totals.compactions, totals.slots, totals.bytes);
  if (static_cast<std::uint32_t>(len) + 1 > r->value_len) return false;
  char* v = r->value();
  std::memcpy(v, text, static_cast<std::size_t>(len));
  std::memset(v + len, 0, r->value_len - static_cast<std::uint32_t>(len));
  if (r->flags & kExported) register_env(r);
  return true;
}

// Compacts one store.  short_bytes: bytes that must be reclaimed (0 when
// the arena was not short); want_slot: a record slot is needed.  Returns
// false when the compaction could not provide what was asked for.
bool compact(VarStore& st, std::size_t short_bytes, bool want_slot, const char* name) {
  // Close the gaps: every used record moves down to the end of the one
  // before it and keeps exactly its bytes; free slots end with capacity 0.
  char* dst = st.arena_begin;
  VarRecord* r = st.first;
  for (; !at_table_end(st, r); ++r) {
    if (r->name_len == 0) {
      r->capacity = 0;
      continue;
    }
    std::uint32_t used = r->name_len + r->value_len;
    bool moved = r->text != dst;
    if (moved) {
      std::memmove(dst, r->text, used);
      r->text = dst;
    }
    r->capacity = used;
    dst += used;
    if (moved && (r->flags & kExported)) register_env(r);
  }
  std::size_t reclaimed = static_cast<std::size_t>(st.next_free - dst);
  st.next_free = dst;

  // Squeeze the table, order kept; the slots left over become never-used.
  VarRecord* w = st.first;
  for (VarRecord* q = st.first; q != r; ++q) {
    if (q->capacity == 0) continue;
    if (w != q) *w = *q;
    ++w;
  }
  int slots = static_cast<int>(r - w);
  for (; w != r; ++w) *w = VarRecord{};

  ++totals.compactions;
  totals.slots += static_cast<std::uint32_t>(slots);
  totals.bytes += static_cast<std::uint32_t>(reclaimed);

  bool ok = update_vlim();
  if (short_bytes > 0 && reclaimed < short_bytes) ok = false;
  if (want_slot && slots == 0) ok = false;

  if (opt('i') || !ok || opt('_'))
    format_out(2, "Variablenspeicher : '%s' : b=%d : n=%d : ... : b=%d : n=%d\r\n", name,
               -static_cast<std::int32_t>(short_bytes), want_slot ? -1 : 0,
               static_cast<std::int32_t>(reclaimed), slots);
  return ok;
}

// Finds a place for a record of `need` bytes: a free slot that is large
// enough, else a never-used slot with fresh arena bytes, compacting the
// store when slots or bytes run out.  Null when there is no room (the
// caller reports it).
VarRecord* seek_place(const VarScope& scope, VarStore& st, std::size_t need, const char* msg_name) {
  for (int attempt = 0;; ++attempt) {
    VarRecord* r = st.first;
    for (; !at_table_end(st, r); ++r) {
      if (r->name_len == 0 && r->capacity >= need) return r;
    }
    bool have_slot = r != st.end;
    std::size_t room = fresh_room(scope, st);
    if (have_slot && room > need) {
      r->text = st.next_free;
      r->capacity = static_cast<std::uint32_t>(need);
      st.next_free += need;
      return r;
    }
    // A successful compaction always makes room; a second round means
    // something else is wrong, so it is reported the same way.
    bool ok = false;
    if (attempt == 0) {
      std::size_t short_bytes = room > need ? 0 : need + 1 - room;
      ok = compact(st, short_bytes, !have_slot, msg_name);
    }
    if (!ok) return nullptr;
  }
}

void report_full(const VarStore& st, const char* msg_name) {
  shell_error(st.is_global ? VEK_ERR(kErrGlobalStore) : VEK_ERR(kErrLocalStore), msg_name);
}

// The previous contents of a record that had to move, kept until its new
// place is found so that a failed assignment does not lose the variable.
struct MovingRecord {
  std::array<char, kGlobalArena> bytes;
  std::size_t name_len = 0;
  std::size_t value_bytes = 0;
  unsigned flags = 0;
  std::uint32_t base = 0;
};
MovingRecord moving;

void write_record(VarRecord* r, const char* name, std::size_t n, const char* src,
                  std::size_t vbytes, unsigned flags, std::uint32_t base) {
  std::memmove(r->text, name, n - 1);
  r->text[n - 1] = '\0';
  if (vbytes) std::memmove(r->text + n, src, vbytes);
  r->text[n + vbytes] = '\0';
  r->name_len = static_cast<std::uint32_t>(n);
  r->value_len = static_cast<std::uint32_t>(vbytes + 1);
  r->flags = flags;
  r->base = base;
}

// The bytes a set stores, worked out from the request before anything in
// the store moves.
struct PreparedValue {
  const char* src = "";
  std::size_t bytes = 0;
  unsigned stored = 0;  // the record's attribute bits after the set
  char number[16];      // room for a number's text or its four bytes
};

// Turns the request into value bytes: text, raw bytes, joined words, or a
// number (binary in an integer variable, decimal text elsewhere).
void prepare_value(PreparedValue& pv, const VarRecord* rec, unsigned flags, const VarValue& value) {
  unsigned prev = rec ? rec->flags : 0;
  pv.stored = (flags | (prev & kSurviving)) & ~kIntValue;
  bool int_target = ((prev | flags) & kInteger) != 0 && !(flags & kAsText);
  std::int32_t iv = 0;
  bool text = true;
  switch (value.kind) {
    case VarValue::Kind::kNumber:
      iv = value.number;
      if (int_target) {
        text = false;
      } else {
        format_signed(pv.number, iv);
        pv.src = pv.number;
        pv.bytes = std::strlen(pv.number);
        pv.stored &= ~kBinary;
      }
      break;
    case VarValue::Kind::kWords:
      if (value.count > 0 && value.words) {
        pv.bytes = static_cast<std::size_t>(join_words(value.count, value.words));
        if (value.words[0]) pv.src = value.words[0];
      }
      pv.stored &= ~kBinary;
      break;
    case VarValue::Kind::kBytes:
      pv.stored |= kBinary;
      pv.src = static_cast<const char*>(value.data);
      pv.bytes = value.count > 0 ? static_cast<std::size_t>(value.count) : 0;
      break;
    case VarValue::Kind::kText:
      pv.src = value.data ? static_cast<const char*>(value.data) : "";
      pv.bytes = std::strlen(pv.src);
      break;
  }
  if (text && int_target && !(pv.stored & kBinary)) {
    iv = parse_integer(nullptr, pv.src);
    text = false;
  }
  if (!text) {
    std::memcpy(pv.number, &iv, sizeof iv);
    pv.src = pv.number;
    pv.bytes = sizeof iv;
    pv.stored |= kBinary;
  }
  if (pv.stored & kAsText) pv.stored &= ~(kInteger | kAsText);
  // An integer is always exactly 4 bytes; other raw lengths stay bytes.
  if ((pv.stored & kInteger) && pv.bytes != sizeof iv) pv.stored &= ~kInteger;
}

// A record that must grow first borrows half the slack of the record
// before it; if that is not enough, it gives up its place (its old bytes
// are kept in `moving`) and returns null.
VarRecord* grow_in_place(VarStore& st, VarRecord* rec, std::size_t need, bool& had_old) {
  if (rec->capacity >= need) return rec;
  if (rec != st.first) {
    VarRecord* p = rec - 1;
    std::uint32_t slack = p->capacity - p->name_len - p->value_len;
    if (slack >= 2) {
      std::uint32_t d = slack / 2;
      p->capacity -= d;
      rec->text -= d;
      rec->capacity += d;
    }
  }
  if (rec->capacity >= need) return rec;
  moving.name_len = rec->name_len;
  moving.value_bytes = rec->value_len - 1;
  moving.flags = rec->flags;
  moving.base = rec->base;
  std::memcpy(moving.bytes.data(), rec->text, rec->name_len + rec->value_len);
  had_old = true;
  rec->name_len = 0;
  rec->value_len = 0;
  rec->flags = 0;
  rec->base = 0;
  return nullptr;
}

// After a failed move: puts the old value back where room was made for it.
void restore_moved(const VarScope& scope, VarStore& st, const char* msg_name) {
  VarRecord* back = seek_place(scope, st, moving.name_len + moving.value_bytes + 1, msg_name);
  if (!back) return;
  write_record(back, moving.bytes.data(), moving.name_len, moving.bytes.data() + moving.name_len,
               moving.value_bytes, moving.flags, moving.base);
  if (moving.flags & kExported) {
    back->text[moving.name_len - 1] = '=';
    register_env(back);
  }
}

// Set: rec is the record found for the name in st (or null).  name is the
// record's name (qualified for a static variable); msg_name the name as the
// caller gave it, for messages.
VarRecord* set_record(const VarScope& scope, VarStore& st, VarRecord* rec, unsigned flags, const char* name,
                      const char* msg_name, const VarValue& value) {
  if (rec && (rec->flags & kReadOnly)) {
    shell_error(VEK_ERR(kErrReadOnly), msg_name);
    return nullptr;
  }
  std::size_t n = std::strlen(name) + 1;
  unsigned prev = rec ? rec->flags : 0;
  PreparedValue pv;
  prepare_value(pv, rec, flags, value);
  if (pv.bytes && in_any_arena(pv.src)) {
    if (pv.bytes > value_scratch.size()) {
      // More than a whole arena can never be stored.
      report_full(st, msg_name);
      return nullptr;
    }
    std::memcpy(value_scratch.data(), pv.src, pv.bytes);
    pv.src = value_scratch.data();
  }

  // Only a plain text variable can be an environment entry.
  bool unexport = false;
  if ((pv.stored & kExported) && (pv.stored & kNoExport)) {
    pv.stored &= ~kExported;
    unexport = (prev & kExported) != 0;
  }
  if (opt('a') && !(pv.stored & kNoAllExport)) pv.stored |= kExported;

  std::size_t need = n + pv.bytes + 1;
  std::uint32_t base = rec ? rec->base : 0;
  bool had_old = false;
  if (rec) rec = grow_in_place(st, rec, need, had_old);
  if (!rec) {
    rec = seek_place(scope, st, need, msg_name);
    if (!rec) {
      if (had_old) restore_moved(scope, st, msg_name);
      report_full(st, msg_name);
      return nullptr;
    }
  }
  write_record(rec, name, n, pv.src, pv.bytes, pv.stored, base);
  if (unexport) plat::env_unset(rec->text);
  if (pv.stored & kExported) {
    rec->text[n - 1] = '=';
    register_env(rec);
  }
  return rec;
}

VarRecord* unset_record(VarRecord* rec, const char* msg_name) {
  if (!rec) return nullptr;
  if (rec->flags & kReadOnly) {
    shell_error(VEK_ERR(kErrReadOnly), msg_name);
    return nullptr;
  }
  rec->name_len = 0;
  rec->value_len = 0;
  rec->flags = 0;
  rec->base = 0;
  return rec;
}

void list_one(const VarStore& st, unsigned mask, ListStyle style) {
  for (const VarRecord* r = st.first; !at_table_end(st, r); ++r) {
    if (!(r->flags & mask) || r->name_len < 2) continue;
    // The name is written by length: an exported record's text continues
    // with '=' and the value.
    sys_write(1, r->text, static_cast<long>(r->name_len - 1));
    if (style == ListStyle::kNames) {
      sys_write(1, "\r\n", 2);
    } else if (r->flags & kFunc) {
      sys_write(1, "()  { ... }\r\n");
    } else if (r->flags & kInteger) {
      int base = r->base > 0 ? static_cast<int>(r->base) : 10;
      char digits[40];
      format_integer(digits, base, r->int_value());
      format_out(1, "=%d#%s\r\n", base, digits);
    } else {
      format_out(1, "=%s\r\n", r->value());
    }
  }
}

// One find, set or unset.  A scoped operation on the global store
// resolves the name through the scope's local store, the caller's store
// and the static names first.
enum class Op { kFind, kSet, kUnset };

VarRecord* operate(const VarScope& scope, VarStore& store, Op op, bool scoped, unsigned flags, const char* name,
                   const VarValue& value) {
  if (skip_flags != 0 && !(flags & kFunc)) return nullptr;
  if (!name) return nullptr;
  scoped = scoped && &store == &global_store && !scope.global_forced;
  std::size_t n = std::strlen(name) + 1;
  if (n < 2) return nullptr;
  unsigned kind = flags & 7u;
  if (op == Op::kSet && in_any_arena(name)) {
    // The name may be a record's own text, which a set can move.
    if (n > name_scratch.size()) n = name_scratch.size();
    std::memcpy(name_scratch.data(), name, n - 1);
    name_scratch[n - 1] = '\0';
    name = name_scratch.data();
  }

  VarStore* target = &store;
  VarRecord* rec = nullptr;
  const char* rec_name = name;
  char qualified[kStaticNameSize];
  bool resolved = false;
  if (scoped) {
    if (!(flags & kNoLocalLookup)) {
      VarStore* loc = scope.local;
      if (loc && loc->in_use && (rec = search(*loc, kind, name, n)) != nullptr) {
        target = loc;
        resolved = true;
      }
      const VarStore* caller = scope.caller;
      if (!resolved && caller && caller != loc && caller->in_use &&
          (rec = search(*caller, kind, name, n)) != nullptr) {
        if (op == Op::kSet) {
          shell_error(VEK_ERR(kErrReadOnly), name);
          return nullptr;
        }
        resolved = true;  // found in the caller's store: not for sets
      }
    }
    if (!resolved && static_var_count > 0 && !(flags & kNoStaticLookup)) {
      if (!name_check(name)) {
        shell_error(VEK_ERR(kErrBadName), name);
        return nullptr;
      }
      int qlen = build_static_name(scope, qualified, name, true);
      rec = search(global_store, kVar, qualified, static_cast<std::size_t>(qlen) + 1);
      if (!rec && scope.function != nullptr) {
        qlen = build_static_name(scope, qualified, name, false);
        rec = search(global_store, kVar, qualified, static_cast<std::size_t>(qlen) + 1);
      }
      if (rec) {
        target = &global_store;
        rec_name = qualified;
        resolved = true;
      }
    }
  }
  if (!resolved) rec = search(store, kind, name, n);

  switch (op) {
    case Op::kFind:
      return rec;
    case Op::kUnset:
      return unset_record(rec, name);
    case Op::kSet:
      break;
  }
  return set_record(scope, *target, rec, flags, rec_name, name, value);
}

const VarValue kNoValue{};

}  // namespace

std::int32_t VarRecord::int_value() const {
  if (!text || name_len == 0) return 0;
  if (flags & (kInteger | kFunc)) {
    std::int32_t v = 0;
    std::size_t n = value_len > 0 ? value_len - 1 : 0;
    std::memcpy(&v, value(), n < sizeof v ? n : sizeof v);
    return v;
  }
  return parse_decimal(value());
}

void varstore_init(VarStore& local) {
  global_records.fill(VarRecord{});
  global_store.first = global_records.data();
  global_store.end = global_records.data() + global_records.size();
  global_store.in_use = 0;
  global_store.arena_begin = global_arena.data();
  global_store.next_free = global_arena.data();
  global_store.arena_end = global_arena.data() + global_arena.size();
  global_store.is_global = true;
  // No local table until a source opens one; the shared arena starts empty.
  local = VarStore{};
  local.arena_begin = local_arena.data();
  local.next_free = local_arena.data();
  local.arena_end = local_arena.data() + local_arena.size();
  totals = Totals{};
  static_var_count = 0;
}

void varstore_create_initial(const VarScope& scope, const char* cwd) {
  if (!cwd) cwd = "";
  const char* const initial[][2] = {
      {"__VLIM__", "00000 00000 0000000000"},
      {"RANDOM", "00000"},
      {"SECONDS", "00000"},
      {"IFS", "\t \r\n"},
      {"PS2", " print -nu2 \"$:>  \""},
      {"PS1", " print -nu2 \"$:#  \""},
      {"PWD", cwd},
      {"OLDPWD", cwd},
  };
  for (const auto& v : initial) store_set(scope, global_store, v[0], VarValue::text(v[1]));
}

void local_store_open(VarStore& store, std::array<VarRecord, kLocalRecords>& records, const VarStore& current) {
  const char* arena_end = local_arena.data() + local_arena.size();
  char* start = local_arena.data();
  const VarStore* cur = &current;
  if (cur->first == records.data()) {
    // Re-opening the current table: its bytes are given up.
    if (cur->arena_begin && in_range(cur->arena_begin, local_arena.data(), arena_end + 1))
      start = cur->arena_begin;
  } else if (cur->next_free && in_range(cur->next_free, local_arena.data(), arena_end + 1)) {
    start = cur->next_free;
  }
  records.fill(VarRecord{});
  store.first = records.data();
  store.end = records.data() + records.size();
  store.in_use = 0;
  store.arena_begin = start;
  store.next_free = start;
  store.arena_end = local_arena.data() + local_arena.size();
  store.is_global = false;
}

VarRecord* var_find(const VarScope& scope, const char* name, unsigned kind) {
  return operate(scope, global_store, Op::kFind, true, kind, name, kNoValue);
}

VarRecord* var_set(const VarScope& scope, const char* name, const VarValue& value, unsigned flags) {
  return operate(scope, global_store, Op::kSet, true, flags, name, value);
}

VarRecord* var_unset(const VarScope& scope, const char* name, unsigned kind) {
  return operate(scope, global_store, Op::kUnset, true, kind, name, kNoValue);
}

VarRecord* store_find(const VarScope& scope, VarStore& store, const char* name, unsigned kind) {
  return operate(scope, store, Op::kFind, false, kind, name, kNoValue);
}

VarRecord* store_set(const VarScope& scope, VarStore& store, const char* name, const VarValue& value,
                     unsigned flags) {
  return operate(scope, store, Op::kSet, false, flags, name, value);
}

VarRecord* store_unset(const VarScope& scope, VarStore& store, const char* name, unsigned kind) {
  return operate(scope, store, Op::kUnset, false, kind, name, kNoValue);
}

void var_set_number(const VarScope& scope, const char* name, std::int32_t number) {
  if (!name_check(name)) {
    shell_error(VEK_ERR(kErrBadName), name);
    return;
  }
  char text[16];
  format_signed(text, number);
  var_set(scope, name, VarValue::text(text));
}

bool name_check(const char* name) {
  if (!name || !is_name_start(static_cast<unsigned char>(name[0]))) return false;
  int i = 1;
  for (; name[i]; ++i) {
    if (i >= 31 || !is_name_char(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

int join_words(int count, char** words) {
  if (count <= 0 || !words || !words[0]) return 0;
  // An empty IFS has no join character: the words are run together.
  char sep = ifs_join_char();
  char* dst = words[0] + std::strlen(words[0]);
  for (int i = 1; i < count; ++i) {
    if (!words[i]) continue;
    if (sep) *dst++ = sep;
    std::size_t len = std::strlen(words[i]);
    std::memmove(dst, words[i], len + 1);
    dst += len;
  }
  *dst = '\0';
  return static_cast<int>(dst - words[0]);
}

int static_name(const VarScope& scope, char* out, const char* name, bool with_function) {
  return build_static_name(scope, out, name, with_function);
}

void var_unexport(VarRecord* r) {
  if (!r || !r->text || r->name_len == 0 || !(r->flags & kExported)) return;
  r->text[r->name_len - 1] = '\0';
  plat::env_unset(r->text);
  r->flags &= ~kExported;
}

void list_store(const VarScope& scope, ListWhich which, unsigned kind_mask, ListStyle style) {
  if (which != ListWhich::kLocal) list_one(global_store, kind_mask, style);
  if (which != ListWhich::kGlobal && scope.local != nullptr) list_one(*scope.local, kind_mask, style);
}

}  // namespace vek
