// The variable store: variables, functions and aliases as fixed records
// with their bytes in fixed arenas.
#pragma once

#include <array>
#include <cstdint>

namespace vek {

// Kind and attribute bits of a record.
inline constexpr unsigned kVar = 0x001;
inline constexpr unsigned kFunc = 0x002;
inline constexpr unsigned kAlias = 0x004;
inline constexpr unsigned kTracked = 0x010;
inline constexpr unsigned kExported = 0x020;
inline constexpr unsigned kReadOnly = 0x040;
inline constexpr unsigned kLocal = 0x080;
inline constexpr unsigned kStatic = 0x100;
inline constexpr unsigned kBinary = 0x200;  // value is raw bytes
inline constexpr unsigned kInteger = 0x400;
// Request-only bit: store the value as text even into an integer variable.
inline constexpr unsigned kAsText = 0x800;

struct VarRecord {
  char* text = nullptr;        // null: never used (ends every table scan)
  std::uint32_t capacity = 0;  // arena bytes owned by this record
  std::uint32_t name_len = 0;  // characters + 1; 0 = free slot
  std::uint32_t value_len = 0; // value bytes + 1
  std::uint32_t flags = 0;
  std::uint32_t base = 0;      // output base of an integer variable

  const char* name() const { return text; }
  char* value() const { return text + name_len; }
  int value_size() const { return static_cast<int>(value_len) - 1; }
  bool is_integer() const { return (flags & kInteger) != 0; }
  std::int32_t int_value() const;
};

struct VarStore {
  VarRecord* first = nullptr;
  VarRecord* end = nullptr;
  std::uint32_t in_use = 0;
  char* next_free = nullptr;
  char* arena_end = nullptr;
  char* arena_begin = nullptr;  // where this store's bytes begin
  bool is_global = false;
};

inline constexpr int kGlobalRecords = 40;
inline constexpr int kGlobalArena = 32768;
inline constexpr int kLocalRecords = 6;
inline constexpr int kLocalArena = 2048;

// Where a scoped operation looks for a name: the running source's local
// store, the calling source's store (read only), the static variables of
// the script or function, then the global store.  The input reader builds
// it from the running source; the store never looks at the reader itself.
struct VarScope {
  VarStore* local = nullptr;         // the running source's local store
  const VarStore* caller = nullptr;  // store of the source that called this one
  bool global_forced = false;        // `global` in force: only the global store
  const char* script = "";           // script name (for static names)
  const char* function = nullptr;    // running function, null outside bodies
};

// The value of a set.
struct VarValue {
  enum class Kind { kText, kBytes, kNumber, kWords };
  Kind kind = Kind::kText;
  const void* data = nullptr;  // text or bytes
  int count = 0;               // byte count, or word count
  char** words = nullptr;      // words joined with the first IFS character
  std::int32_t number = 0;

  static VarValue text(const char* s) { return {Kind::kText, s, 0, nullptr, 0}; }
  static VarValue bytes(const void* p, int n) { return {Kind::kBytes, p, n, nullptr, 0}; }
  static VarValue integer(std::int32_t v) { return {Kind::kNumber, nullptr, 0, nullptr, v}; }
  static VarValue joined(int n, char** w) { return {Kind::kWords, nullptr, n, w, 0}; }
};

// The global store.  Local stores belong to the running sources.
extern VarStore global_store;

// Resets the global store and the shared local arena, and makes `local`
// an empty store at the arena's start (start-up).
void varstore_init(VarStore& local);
// Creates the start-up variables __VLIM__, RANDOM, SECONDS, IFS, PS2, PS1,
// PWD and OLDPWD (the last two with cwd), in this order.
void varstore_create_initial(const VarScope& scope, const char* cwd);
// Prepares a fresh local store over the given 6 records, taking its arena
// bytes after those of `current`, the store that is current now.  Call it
// before the current descriptor is cleared or replaced (`store` may be
// that very descriptor); restoring the previous descriptor gives the bytes
// back.
void local_store_open(VarStore& store, std::array<VarRecord, kLocalRecords>& records, const VarStore& current);

// Scoped find, set and unset of a variable, function or alias (`kind` is
// kVar, kFunc or kAlias; a set takes the record's attribute bits too).
// A set that cannot find room, or meets a read-only record, reports its
// error and returns null.
VarRecord* var_find(const VarScope& scope, const char* name, unsigned kind = kVar);
VarRecord* var_set(const VarScope& scope, const char* name, const VarValue& value, unsigned flags = kVar);
VarRecord* var_unset(const VarScope& scope, const char* name, unsigned kind = kVar);
// The same in one store only, without local or static resolution.
VarRecord* store_find(const VarScope& scope, VarStore& store, const char* name, unsigned kind = kVar);
VarRecord* store_set(const VarScope& scope, VarStore& store, const char* name, const VarValue& value,
                     unsigned flags = kVar);
VarRecord* store_unset(const VarScope& scope, VarStore& store, const char* name, unsigned kind = kVar);
// Sets a variable to a number written in decimal (error 12 for a bad name).
void var_set_number(const VarScope& scope, const char* name, std::int32_t number);

bool name_check(const char* name);
// Builds the qualified name of a static variable into out (260 bytes):
// script name tail, '@', function name (while a function body runs and
// with_function is set), '@', name.  Returns its length.
int static_name(const VarScope& scope, char* out, const char* name, bool with_function);
// Takes an exported record out of the process environment: clears the
// export bit and turns the '=' separator back into NUL.  (Exporting is a
// set with kExported and the record's current value.)
void var_unexport(VarRecord* record);
// Joins words in place with the first IFS character; returns the length.
int join_words(int count, char** words);

// Store listings.
enum class ListWhich { kGlobal, kLocal, kBoth };
enum class ListStyle { kValues, kNames };
void list_store(const VarScope& scope, ListWhich which, unsigned kind_mask, ListStyle style);

// Number of static variables created so far (raised by static).
extern int static_var_count;

}  // namespace vek
