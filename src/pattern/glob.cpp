// File-name generation: the word is split into path components once,
// every wildcard component is compiled once, and the walk lists each
// directory it reaches exactly once per component.
#include "pattern/glob.h"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "pattern/wildcard.h"
#include "platform/platform.h"
#include "support/errors.h"
#include "support/strings.h"

namespace vek {

namespace {

constexpr int kComponentMax = 253;
// Every component takes at least one byte and one separator.
constexpr int kMaxComponents = kGlobWordMax / 2 + 1;

struct Component {
  int start = 0;      // offset in the word copy (NUL-terminated there)
  int length = 0;
  int compiled = -1;  // offset of the compiled pattern, -1: literal
};

// The state of one generation.  Generation never runs nested (nothing
// the walk calls runs commands), so one static instance serves.
struct Walk {
  std::array<char, kGlobWordMax + 2> word{};
  std::array<Component, kMaxComponents> comps{};
  int ncomps = 0;
  // Room for every component's compiled form.
  std::array<unsigned char, pattern_buffer_size(kGlobWordMax) + kMaxComponents> compiled{};
  // The path built so far; a name of up to 255 bytes may be appended
  // to a full path before its length is checked.
  std::array<char, kGlobPathMax + 260> path{};
  std::array<char, 260> upper{};  // an entry name in upper case
  unsigned char esc = '%';
  NameSink* out = nullptr;
  int count = 0;
};

Walk walk;

bool is_drive_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_wild(std::string_view s, unsigned char esc) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (static_cast<unsigned char>(c) == esc && i + 1 < s.size()) {
      ++i;  // the escaped byte stands for itself
      continue;
    }
    if (c == '?' || c == '*' || c == '[') return true;
  }
  return false;
}

char upper_of(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }

// Appends "\" (unless the path is empty or ends in one) and `text` to
// the path from `len` on; an escaped wildcard or escape character in a
// literal component stands for itself.  Returns the new length, or -1
// when the result is longer than a path may be.
int append(int len, std::string_view text, bool literal) {
  auto& p = walk.path;
  if (len > 0 && p[static_cast<std::size_t>(len - 1)] != '\\' && p[static_cast<std::size_t>(len - 1)] != ':') {
    if (len >= kGlobPathMax) return -1;
    p[static_cast<std::size_t>(len++)] = '\\';
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (literal && static_cast<unsigned char>(c) == walk.esc && i + 1 < text.size()) {
      const char d = text[i + 1];
      if (d == '*' || d == '?' || d == '[' || static_cast<unsigned char>(d) == walk.esc) {
        c = d;
        ++i;
      }
    }
    if (len >= kGlobPathMax) return -1;
    p[static_cast<std::size_t>(len++)] = c;
  }
  p[static_cast<std::size_t>(len)] = '\0';
  return len;
}

void produce(int len) {
  walk.out->add(walk.path.data(), len);
  ++walk.count;
}

void walk_from(int k, int len);

struct Visit {
  int k;
  int len;
};

bool visit_entry(void* context, const char* name) {
  const auto& v = *static_cast<const Visit*>(context);
  if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return true;
  std::size_t n = 0;
  for (; name[n]; ++n) {
    if (n + 1 >= walk.upper.size()) return true;  // longer than any name the interpreter can hold
    walk.upper[n] = upper_of(name[n]);
  }
  const Component& c = walk.comps[static_cast<std::size_t>(v.k)];
  const unsigned char* pattern = &walk.compiled[static_cast<std::size_t>(c.compiled)];
  if (pattern_match(std::string_view(walk.upper.data(), n), pattern, walk.esc) != 0) return true;
  const int len = append(v.len, std::string_view(name, n), false);
  if (len >= 0) {
    if (v.k + 1 == walk.ncomps) produce(len);
    else walk_from(v.k + 1, len);
  }
  walk.path[static_cast<std::size_t>(v.len)] = '\0';
  return true;
}

// Walks the components from k on, the path so far being `len` bytes.
void walk_from(int k, int len) {
  const Component& c = walk.comps[static_cast<std::size_t>(k)];
  const std::string_view text(&walk.word[static_cast<std::size_t>(c.start)], static_cast<std::size_t>(c.length));
  const bool last = k + 1 == walk.ncomps;
  if (c.compiled < 0) {
    const int n = append(len, text, true);
    if (n < 0) return;
    if (!last) walk_from(k + 1, n);
    else if (plat::path_exists(walk.path.data())) produce(n);
    walk.path[static_cast<std::size_t>(len)] = '\0';
    return;
  }
  Visit v{k, len};
  plat::list_directory(len == 0 ? "." : walk.path.data(), visit_entry, &v);
  walk.path[static_cast<std::size_t>(len)] = '\0';
}

}  // namespace

int expand_filenames(const char* word, unsigned char esc, NameSink& out) {
  std::size_t n = 0;
  while (word[n]) {
    if (n >= static_cast<std::size_t>(kGlobWordMax)) fatal_error(VEK_ERR(kErrPattern), word);
    ++n;
  }
  // "x:" followed by anything but a root names a drive's current
  // directory, which the interpreter's paths do not have.
  if (n >= 2 && is_drive_letter(word[0]) && word[1] == ':' && word[2] != '\\' && word[2] != '/') return 0;

  Walk& w = walk;
  w.esc = esc;
  w.out = &out;
  w.count = 0;
  w.ncomps = 0;
  for (std::size_t i = 0; i <= n; ++i) w.word[i] = word[i];
  path_normalize(w.word.data());
  if (plat::names_ignore_case()) upcase_string(w.word.data());

  // The root (drive and "\", or "\" alone, or the "\\" of a network
  // path) is where the walk starts.
  int i = 0;
  int len = 0;
  if (is_drive_letter(w.word[0]) && w.word[1] == ':') {
    i = 2;
    if (w.word[2] == '\\') i = 3;
  } else {
    while (w.word[static_cast<std::size_t>(i)] == '\\') ++i;
  }
  for (int j = 0; j < i; ++j) w.path[static_cast<std::size_t>(j)] = w.word[static_cast<std::size_t>(j)];
  len = i;
  w.path[static_cast<std::size_t>(len)] = '\0';

  // Components, each compiled once when it holds a wildcard.
  std::size_t compiled_at = 0;
  while (w.word[static_cast<std::size_t>(i)] != '\0') {
    int start = i;
    while (w.word[static_cast<std::size_t>(i)] != '\0' && w.word[static_cast<std::size_t>(i)] != '\\') ++i;
    const int length = i - start;
    const bool more = w.word[static_cast<std::size_t>(i)] == '\\';
    if (more) w.word[static_cast<std::size_t>(i++)] = '\0';
    if (length == 0) continue;
    char* text = &w.word[static_cast<std::size_t>(start)];
    if (length > kComponentMax) fatal_error(VEK_ERR(kErrPattern), text);
    Component& c = w.comps[static_cast<std::size_t>(w.ncomps++)];
    c = Component{start, length, -1};
    const std::string_view sv(text, static_cast<std::size_t>(length));
    if (!is_wild(sv, esc)) continue;
    // Names are compared in upper case, so the pattern is too.
    std::array<char, kComponentMax + 1> upper{};
    for (int j = 0; j < length; ++j) upper[static_cast<std::size_t>(j)] = upper_of(text[j]);
    const auto room = std::span<unsigned char>(w.compiled).subspan(compiled_at, pattern_buffer_size(static_cast<std::size_t>(length)));
    if (pattern_compile(room, std::string_view(upper.data(), static_cast<std::size_t>(length)), esc) != pattern_ok)
      fatal_error(VEK_ERR(kErrPattern), text);
    c.compiled = static_cast<int>(compiled_at);
    // The room a component of this length can need at most (the buffer
    // holds that much for all components together).
    compiled_at += pattern_buffer_size(static_cast<std::size_t>(length));
  }
  if (w.ncomps == 0) return 0;
  walk_from(0, len);
  return w.count;
}

}  // namespace vek
