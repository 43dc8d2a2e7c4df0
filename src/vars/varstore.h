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
inline constexpr unsigned kBinary = 0x200;  // also the "raw bytes" request
inline constexpr unsigned kInteger = 0x400;
// Request-only bits.
inline constexpr unsigned kAsText = 0x800;
inline constexpr unsigned kIntValue = 0x1000;

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

// The stores.  The current local store and the caller-scope store belong
// to the running source (see core/input.h).
extern VarStore global_store;
VarStore* current_local_store();

// Resets the global store and the shared local arena (start-up).
void varstore_init();
// Creates the start-up variables __VLIM__, RANDOM, SECONDS, IFS, PS2, PS1,
// PWD and OLDPWD (the last two with cwd), in this order.
void varstore_create_initial(const char* cwd);
// Prepares a fresh local store over the given 6 records, taking its arena
// bytes after those of the store that is current now.  Call it before the
// current descriptor is cleared or replaced (`store` may be that very
// descriptor); restoring the previous descriptor gives the bytes back.
void local_store_open(VarStore& store, std::array<VarRecord, kLocalRecords>& records);

// The single entry for find ('r'), set ('s') and unset ('u'); upper-case
// codes work in the given store only, without local or static resolution.
// With a null value, the value is `length` words from `words` joined with
// the first IFS character.
VarRecord* varop(VarStore* store, char code, unsigned flags, const char* name,
                 const void* value, int length, char** words);

// Convenience forms.
VarRecord* var_find(const char* name);  // scoped, kind variable
VarRecord* var_set(const char* name, const char* value);  // scoped, text
void var_set_number(const char* name, std::int32_t number);

bool name_check(const char* name);
// Builds the qualified name of a static variable into out (260 bytes):
// script name tail, '@', function name (while a function body runs and
// with_function is set), '@', name.  Returns its length.
int static_name(char* out, const char* name, bool with_function);
// Takes an exported record out of the process environment: clears the
// export bit and turns the '=' separator back into NUL.  (Exporting is a
// set with kExported and the record's current value.)
void var_unexport(VarRecord* record);
// Joins words in place with the first IFS character; returns the length.
int join_words(int count, char** words);

// Store listing: selector 'g', 'l' or both; style '-' values, '+' names.
void list_store(char selector, unsigned kind_mask, char style);

// Number of static variables created so far (raised by static).
extern int static_var_count;

}  // namespace vek
