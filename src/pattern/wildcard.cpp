// Wildcard pattern compiler and matcher.  See wildcard.h for the compiled
// form and the committed-star rule.
#include "pattern/wildcard.h"

#include <array>

namespace vek {

namespace {

// Appends bytes to the caller's buffer without ever passing its end.
class Writer {
 public:
  explicit Writer(std::span<unsigned char> out) : out_(out) {}
  bool put(unsigned char b) {
    if (pos_ >= out_.size()) return false;
    out_[pos_++] = b;
    return true;
  }

 private:
  std::span<unsigned char> out_;
  std::size_t pos_ = 0;
};

using ByteSet = std::array<bool, 256>;

// Reads the set whose "[" is at pattern[i]; on success stores the member
// table in `members` and the index just past the closing "]" in `i`.
int read_set(std::string_view pattern, std::size_t& i, ByteSet& members) {
  members.fill(false);
  ++i;  // "["
  bool negated = false;
  if (i < pattern.size() && pattern[i] == '!') {
    negated = true;
    ++i;
  }
  bool first = true;
  int prev = -1;  // last member or range end, the start of a following "-"
  for (;;) {
    if (i >= pattern.size()) return pattern_unclosed_set;
    auto c = static_cast<unsigned char>(pattern[i]);
    if (c == ']' && !first) {
      ++i;
      break;
    }
    first = false;
    if (c == '-' && prev >= 0 && i + 1 < pattern.size() && pattern[i + 1] != ']') {
      auto high = static_cast<unsigned char>(pattern[i + 1]);
      if (high < prev) return pattern_backward_range;
      for (int b = prev; b <= high; ++b) members[b] = true;
      prev = high;
      i += 2;
      continue;
    }
    members[c] = true;
    prev = c;
    ++i;
  }
  if (negated)
    for (bool& m : members) m = !m;
  members[0] = false;
  return pattern_ok;
}

// Writes a member table as "[", singles, ranges.
bool write_set(Writer& w, const ByteSet& members) {
  // Runs of consecutive members; a run of one is a single, longer runs are
  // ranges.  Byte 0 is never a member, so runs start at 1 or later.
  std::array<unsigned char, 128> singles{};
  std::array<unsigned char, 2 * 85> ranges{};
  std::size_t n1 = 0, n2 = 0;
  int b = 1;
  while (b < 256) {
    if (!members[b]) {
      ++b;
      continue;
    }
    int start = b;
    while (b < 256 && members[b]) ++b;
    int last = b - 1;
    if (last == start) {
      singles[n1++] = static_cast<unsigned char>(start);
    } else {
      ranges[2 * n2] = static_cast<unsigned char>(start);
      ranges[2 * n2 + 1] = static_cast<unsigned char>(last);
      ++n2;
    }
  }
  if (!w.put('[') || !w.put(static_cast<unsigned char>(n1))) return false;
  for (std::size_t k = 0; k < n1; ++k)
    if (!w.put(singles[k])) return false;
  if (!w.put(static_cast<unsigned char>(n2))) return false;
  for (std::size_t k = 0; k < 2 * n2; ++k)
    if (!w.put(ranges[k])) return false;
  return true;
}

bool set_contains(const unsigned char* set, unsigned char c) {
  if (c == 0) return false;
  std::size_t n1 = set[1];
  for (std::size_t k = 0; k < n1; ++k)
    if (set[2 + k] == c) return true;
  const unsigned char* ranges = set + 2 + n1;
  std::size_t n2 = ranges[0];
  for (std::size_t k = 0; k < n2; ++k)
    if (ranges[1 + 2 * k] <= c && c <= ranges[2 + 2 * k]) return true;
  return false;
}

bool escape_stands_for_next(unsigned char b, unsigned char esc) {
  return b == '*' || b == '?' || b == '[' || b == esc;
}

// Size of one non-wildcard element of a compiled pattern: an ordinary
// byte, an escape pair or a set.
std::size_t element_size(const unsigned char* p, unsigned char esc) {
  if (p[0] == esc) return 2;
  if (p[0] == '[') return std::size_t{p[1]} + 2 * std::size_t{p[2 + p[1]]} + 3;
  return 1;
}

// Number of subject bytes the element at p matches at subject[s], or 0.
std::size_t element_match(const unsigned char* p, std::string_view subject,
                          std::size_t s, unsigned char esc) {
  if (s >= subject.size()) return 0;
  auto c = static_cast<unsigned char>(subject[s]);
  if (p[0] == esc) {
    if (escape_stands_for_next(p[1], esc)) return c == p[1] ? 1 : 0;
    if (c != esc || s + 1 >= subject.size()) return 0;
    return static_cast<unsigned char>(subject[s + 1]) == p[1] ? 2 : 0;
  }
  if (p[0] == '[') return set_contains(p, c) ? 1 : 0;
  return c == p[0] ? 1 : 0;
}

}  // namespace

int pattern_compile(std::span<unsigned char> out, std::string_view pattern,
                    unsigned char esc) {
  pattern = pattern.substr(0, pattern.find('\0'));
  Writer w(out);
  std::size_t i = 0;
  while (i < pattern.size()) {
    auto c = static_cast<unsigned char>(pattern[i]);
    if (c == esc) {
      // A trailing escape character stands for itself: "esc esc".
      unsigned char next = i + 1 < pattern.size() ? static_cast<unsigned char>(pattern[i + 1]) : esc;
      if (!w.put(esc) || !w.put(next)) return pattern_buffer_full;
      i += 2;
    } else if (c == '*' || c == '?') {
      bool star = false;
      for (; i < pattern.size() && (pattern[i] == '*' || pattern[i] == '?'); ++i) {
        if (pattern[i] == '*')
          star = true;
        else if (!w.put('?'))
          return pattern_buffer_full;
      }
      if (star && !w.put('*')) return pattern_buffer_full;
    } else if (c == '[') {
      ByteSet members;
      if (int rc = read_set(pattern, i, members); rc != pattern_ok) return rc;
      if (!write_set(w, members)) return pattern_buffer_full;
    } else {
      if (!w.put(c)) return pattern_buffer_full;
      ++i;
    }
  }
  return w.put(0) ? pattern_ok : pattern_buffer_full;
}

int pattern_match(std::string_view subject, const unsigned char* compiled,
                  unsigned char esc) {
  const unsigned char* p = compiled;
  std::size_t s = 0;
  const std::size_t n = subject.size();
  for (;;) {
    if (*p == 0) return s == n ? 0 : 1;

    if (*p == '?') {
      for (; *p == '?'; ++p, ++s)
        if (s >= n) return 1;
      if (*p == 0) return s == n ? 0 : 1;
      if (s == n && *p != '*') return 1;
      continue;
    }

    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == 0) return 0;
      if (*p == '?') continue;  // not produced by the compiler: empty star
      // Try each position where the first element after the star matches
      // as the anchor of the literal run that follows.  Reaching the next
      // "*" or "?" commits the star to that anchor.
      const unsigned char* run = p;
      const unsigned char* committed = nullptr;
      std::size_t committed_s = 0;
      const bool plain_first = *run != esc && *run != '[';
      for (std::size_t anchor = s; anchor < n && committed == nullptr; ++anchor) {
        if (plain_first) {  // skip straight to the next candidate
          anchor = subject.find(static_cast<char>(*run), anchor);
          if (anchor == std::string_view::npos) break;
        }
        const unsigned char* q = run;
        std::size_t t = anchor;
        for (;;) {
          if (*q == 0) {
            if (t == n) return 0;
            break;
          }
          if (*q == '*' || *q == '?') {
            committed = q;
            committed_s = t;
            break;
          }
          std::size_t k = element_match(q, subject, t, esc);
          if (k == 0) break;
          t += k;
          q += element_size(q, esc);
        }
      }
      if (committed == nullptr) return 1;
      p = committed;
      s = committed_s;
      continue;
    }

    std::size_t k = element_match(p, subject, s, esc);
    if (k == 0) return 1;
    s += k;
    p += element_size(p, esc);
  }
}

}  // namespace vek
