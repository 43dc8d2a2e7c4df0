// Lookup in the command table: 132 first-character buckets, each record
// chained to the next one of its bucket with the same second character.
#include "core/commands.h"

#include <cstddef>

#include "support/errors.h"

namespace vek {

namespace {

constexpr int kBuckets = 132;

// Links built at start-up, parallel to the table's entries.
struct Links {
  int bucket_next = -1;  // next record with the same first character
  int chain_next = -1;   // next record of the bucket with the same second character
};
std::array<Links, kCommandCount> links;
std::array<int, kBuckets> buckets;

// Entries by class index, for dispatch.
std::array<const CommandEntry*, builtin_ix::kCount> builtin_entries{};
std::array<const CommandEntry*, exec_ix::kCount> executor_entries{};

const CommandEntry& entry(int i) { return command_table[static_cast<std::size_t>(i)]; }
Links& link(int i) { return links[static_cast<std::size_t>(i)]; }

// Compares name and word from position `from` on, including the NUL.
bool same_from(const char* name, const char* word, int from) {
  for (int i = from;; ++i) {
    if (name[i] != word[i]) return false;
    if (name[i] == 0) return true;
  }
}

int packed(const CommandEntry& e) { return e.cls | (e.index << 8); }

}  // namespace

int command_table_size() { return kCommandCount; }

void build_command_table() {
  buckets.fill(-1);
  std::array<int, kBuckets> tails;
  tails.fill(-1);
  for (int i = 0; i < kCommandCount; ++i) {
    const CommandEntry& e = entry(i);
    link(i) = Links{};
    auto first = static_cast<unsigned char>(e.name[0]);
    if (tails[first] < 0) buckets[first] = i;
    else link(tails[first]).bucket_next = i;
    tails[first] = i;
    if (e.cls == kClassBuiltin) builtin_entries[e.index] = &e;
    if (e.cls == kClassExecutor) executor_entries[e.index] = &e;
  }
  executor_entries[exec_ix::kSystemLine] = &system_line_entry;
  for (int b = 0; b < kBuckets; ++b) {
    for (int i = buckets[static_cast<std::size_t>(b)]; i >= 0; i = link(i).bucket_next) {
      const char* name = entry(i).name;
      if (name[0] == 0 || name[1] == 0) continue;
      for (int j = link(i).bucket_next; j >= 0; j = link(j).bucket_next) {
        if (entry(j).name[1] == name[1]) {
          link(i).chain_next = j;
          break;
        }
      }
    }
  }
}

int lookup_command(const char* word) {
  auto first = static_cast<unsigned char>(word[0]);
  if (first >= kBuckets || first == 0) return -1;
  for (int i = buckets[first]; i >= 0; i = link(i).bucket_next) {
    const CommandEntry& e = entry(i);
    if (e.name[1] != word[1]) continue;
    if (same_from(e.name, word, 1)) return packed(e);
    // Same second character: only the chain can hold the word now.
    for (int j = link(i).chain_next; j >= 0; j = link(j).chain_next) {
      if (same_from(entry(j).name, word, 2)) return packed(entry(j));
    }
    return -1;
  }
  return -1;
}

const char* command_name(int cls, int index) {
  for (const CommandEntry& e : command_table)
    if (e.cls == cls && e.index == index) return e.name;
  return "";
}

const CommandEntry& builtin_entry(int index) {
  if (index < 0 || index >= builtin_ix::kCount || builtin_entries[static_cast<std::size_t>(index)] == nullptr)
    fatal_error(VEK_ERR(kErrInternal), "sw_dflt:execute()");
  return *builtin_entries[static_cast<std::size_t>(index)];
}

const CommandEntry& executor_entry(int index) {
  if (index < 0 || index >= exec_ix::kCount || executor_entries[static_cast<std::size_t>(index)] == nullptr)
    fatal_error(VEK_ERR(kErrInternal), "sw_dflt:execute()");
  return *executor_entries[static_cast<std::size_t>(index)];
}

}  // namespace vek
