// A reference matcher for wildcard patterns, written independently of the
// engine: it works on the pattern text directly, as a list of tokens
// matched recursively.  Used by the randomized tests and the fuzz target.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vek::wildcard_reference {

struct WToken {
  enum Kind { literal, any, star, set } kind;
  std::string text;               // literal bytes (1 or 2)
  std::array<bool, 256> members;  // set
};

// Parses the pattern; returns 0 or the compile error number.
inline int ref_parse(std::string_view p, std::vector<WToken>& out, char wesc = '%') {
  out.clear();
  std::size_t i = 0;
  while (i < p.size()) {
    char c = p[i];
    WToken t{WToken::literal, "", {}};
    if (c == wesc) {
      char next = i + 1 < p.size() ? p[i + 1] : wesc;
      bool single = next == '*' || next == '?' || next == '[' || next == wesc;
      t.text = single ? std::string(1, next) : std::string{wesc, next};
      i += 2;
    } else if (c == '*' || c == '?') {
      // "*" and "?" commute in a run: its "?"s first, then one "*".
      bool star = false;
      for (; i < p.size() && (p[i] == '*' || p[i] == '?'); ++i) {
        if (p[i] == '*') star = true;
        else out.push_back({WToken::any, "", {}});
      }
      if (star) out.push_back({WToken::star, "", {}});
      continue;
    } else if (c == '[') {
      t.kind = WToken::set;
      ++i;
      bool neg = i < p.size() && p[i] == '!';
      if (neg) ++i;
      std::size_t body = i;
      int prev = -1;
      for (;; ++i) {
        if (i >= p.size()) return 2;
        auto b = static_cast<unsigned char>(p[i]);
        if (b == ']' && i > body) break;
        if (b == '-' && prev >= 0 && i + 1 < p.size() && p[i + 1] != ']') {
          auto hi = static_cast<unsigned char>(p[++i]);
          if (hi < prev) return 3;
          for (int v = prev; v <= hi; ++v) t.members[v] = true;
          prev = hi;
        } else {
          t.members[b] = true;
          prev = b;
        }
      }
      ++i;
      for (int v = 0; v < 256; ++v) t.members[v] = (t.members[v] != neg) && v != 0;
    } else {
      t.text = std::string(1, c);
      ++i;
    }
    out.push_back(t);
  }
  return 0;
}

// Length matched by a literal or set token at s[pos], or 0.
inline std::size_t ref_one(const WToken& t, std::string_view s, std::size_t pos) {
  if (t.kind == WToken::set)
    return pos < s.size() && t.members[static_cast<unsigned char>(s[pos])] ? 1 : 0;
  return s.substr(pos, t.text.size()) == t.text ? t.text.size() : 0;
}

inline bool ref_match(const std::vector<WToken>& toks, std::size_t ti, std::string_view s, std::size_t pos) {
  if (ti == toks.size()) return pos == s.size();
  const WToken& t = toks[ti];
  if (t.kind == WToken::any) return pos < s.size() && ref_match(toks, ti + 1, s, pos + 1);
  if (t.kind != WToken::star) {
    std::size_t k = ref_one(t, s, pos);
    return k > 0 && ref_match(toks, ti + 1, s, pos + k);
  }
  // The star: the literal run up to the next wildcard is placed at the
  // first position where it fits; if a wildcard follows, that placement is
  // final.
  std::size_t run_end = ti + 1;
  while (run_end < toks.size() && (toks[run_end].kind == WToken::literal || toks[run_end].kind == WToken::set))
    ++run_end;
  if (run_end == ti + 1) return run_end == toks.size() || ref_match(toks, run_end, s, pos);
  for (std::size_t anchor = pos; anchor < s.size(); ++anchor) {
    std::size_t at = anchor;
    bool fits = true;
    for (std::size_t k = ti + 1; k < run_end && fits; ++k) {
      std::size_t len = ref_one(toks[k], s, at);
      fits = len > 0;
      at += len;
    }
    if (!fits) continue;
    if (run_end < toks.size()) return ref_match(toks, run_end, s, at);
    if (at == s.size()) return true;
  }
  return false;
}

}  // namespace vek::wildcard_reference
