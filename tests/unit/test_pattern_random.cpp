// Randomized differential tests of the two pattern engines: the wildcard
// matcher against the reference matcher in wildcard_reference.h, the
// regular expression engine against std::regex (ECMAScript) on the part
// of the syntax where the two dialects mean the same thing, and the
// regular expression engine against itself without its memo.  Fixed
// seeds keep every run identical.
#include "pattern/regex.h"
#include "pattern/wildcard.h"
#include "wildcard_reference.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
// GCC 12 warns inside its own <regex> at some optimisation levels.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif
#include <string>
#include <vector>

namespace vek {
namespace {

using namespace wildcard_reference;
constexpr char wesc = '%';

TEST(PatternRandom, WildcardAgainstReference) {
  std::mt19937 rng(20240611);
  auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  const std::vector<std::string> pieces = {"a", "b", "a", "b", "*", "*", "?", "%*", "%a", "%%", "-",
                                           "[ab]", "[!a]", "[]a]", "[a-]", "[a-b]", "[b-a]", "[!]-]",
                                           "[%]", "]", "%"};
  const std::string raw_chars = "ab*?[]!-%";
  const std::string subject_chars = "aab%*-]";
  int compared = 0, matched = 0, errors = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string pattern;
    std::size_t len = pick(7);
    for (std::size_t k = 0; k < len; ++k)
      pattern += round % 3 == 0 ? std::string(1, raw_chars[pick(raw_chars.size())]) : pieces[pick(pieces.size())];

    std::vector<WToken> toks;
    int want_rc = ref_parse(pattern, toks);
    std::vector<unsigned char> buf(pattern_buffer_size(pattern.size()));
    int rc = pattern_compile(buf, pattern, wesc);
    ASSERT_EQ(rc, want_rc) << "pattern '" << pattern << "'";
    if (rc != 0) {
      ++errors;
      continue;
    }
    for (int sub = 0; sub < 12; ++sub) {
      std::string subject;
      if (sub % 2 == 0) {
        std::size_t slen = pick(8);
        for (std::size_t k = 0; k < slen; ++k) subject += subject_chars[pick(subject_chars.size())];
      } else {
        // A string built from the pattern: it would match without the
        // committed-star rule, so it tests that rule.
        for (const WToken& t : toks) {
          if (t.kind == WToken::literal) subject += t.text;
          if (t.kind == WToken::any) subject += subject_chars[pick(subject_chars.size())];
          if (t.kind == WToken::star)
            for (std::size_t k = pick(4); k > 0; --k) subject += subject_chars[pick(subject_chars.size())];
          if (t.kind == WToken::set) {
            std::string choices;
            for (char c : subject_chars)
              if (t.members[static_cast<unsigned char>(c)]) choices += c;
            subject += choices.empty() ? 'a' : choices[pick(choices.size())];
          }
        }
      }
      bool want = ref_match(toks, 0, subject, 0);
      ASSERT_EQ(pattern_match(subject, buf.data(), wesc) == 0, want)
          << "pattern '" << pattern << "' subject '" << subject << "'";
      ++compared;
      matched += want;
    }
  }
  // The generator must produce a useful mix.
  EXPECT_GT(matched, compared / 20);
  EXPECT_GT(errors, 100);
}

// ---------------------------------------------------------------------
// Regular expressions against std::regex.
//
// A pattern is generated as a sequence of items and written out twice:
// in this dialect (escape "%") and as an ECMAScript expression.  Left out,
// because the dialects differ there: "$" (ours also matches before a final
// LF, CR LF or byte 26), word boundaries (ours are "start"/"end" only),
// byte 26, and newline anywhere (ECMAScript "." excludes it).  Groups are
// never repeated (ours cannot be), so capture-in-repetition rules of
// ECMAScript never come into play, and a back-reference only names a
// group already closed (ours refuses others; ECMAScript would match an
// unset group as empty).
// ---------------------------------------------------------------------

struct RxGen {
  std::mt19937 rng{977};
  std::string ours, ecma;
  int groups = 0;
  std::vector<int> closed;
  bool stacked = false;  // write some repeated atoms two to four times in a row

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

  // Appends pieces to one form.  (Plain appends: GCC 12 at -O3 warns
  // falsely about "literal" + std::string.)
  static void add(std::string& to, std::initializer_list<std::string_view> pieces) {
    for (std::string_view p : pieces) to += p;
  }

  void quantifier() {
    std::string m(1, static_cast<char>('0' + pick(3)));
    std::string n(1, static_cast<char>(m[0] + pick(3)));
    switch (pick(8)) {
      case 0:
      case 1:
        add(ours, {"*"});
        add(ecma, {"*"});
        break;
      case 2:  // exactly m
        add(ours, {"%{", m, "%}"});
        add(ecma, {"{", m, "}"});
        break;
      case 3:  // at least m
        add(ours, {"%{", m, ",%}"});
        add(ecma, {"{", m, ",}"});
        break;
      case 4:  // m to n, closed by a plain "}" in our form
        add(ours, {"%{", m, ",", n, "}"});
        add(ecma, {"{", m, ",", n, "}"});
        break;
      default: break;
    }
  }

  void atom() {
    std::size_t ours_at = ours.size(), ecma_at = ecma.size();
    one_atom();
    if (stacked && pick(3) == 0) {
      std::string o = ours.substr(ours_at), e = ecma.substr(ecma_at);
      for (std::size_t k = 1 + pick(3); k > 0; --k) {
        ours += o;
        ecma += e;
      }
    }
  }

  void one_atom() {
    switch (pick(12)) {
      case 0: case 1: case 2: case 3: {
        char c = "abc"[pick(3)];
        ours += c;
        ecma += c;
        break;
      }
      case 4:
        ours += ".";
        ecma += ".";
        break;
      case 5: {  // an escaped special character
        const char* specials[][2] = {{"%.", "\\."}, {"%*", "\\*"}, {"%[", "\\["}, {"%%", "%"}};
        auto& s = specials[pick(4)];
        ours += s[0];
        ecma += s[1];
        break;
      }
      case 6: case 7: {  // a list
        bool neg = pick(3) == 0;
        std::string body = pick(2) ? "a" : "";
        if (pick(2)) body += "c";
        if (pick(3) == 0) body += "A-Z";
        if (body.empty() || pick(3) == 0) body += "b";
        add(ours, {"[", neg ? "^" : "", body, "]"});
        add(ecma, {"[", neg ? "^" : "", body, "]"});
        break;
      }
      case 8: case 9: {  // a class escape, maybe negated
        const char* names = "ALUDW";
        const char* sets[] = {"A-Za-z", "a-z", "A-Z", "0-9", "A-Za-z0-9_"};
        std::size_t k = pick(5);
        bool neg = pick(3) == 0;
        add(ours, {neg ? "%!" : "", "%", std::string_view(&names[k], 1)});
        add(ecma, {"[", neg ? "^" : "", sets[k], "]"});
        break;
      }
      default:
        if (!closed.empty()) {
          int g = closed[pick(closed.size())];
          std::string digit = std::to_string(g);
          add(ours, {"%", digit});
          add(ecma, {"(?:\\", digit, ")"});  // keeps "\1" apart from a digit after it
        } else {
          ours += "b";
          ecma += "b";
        }
        break;
    }
    quantifier();
  }

  void sequence(int depth, std::size_t items) {
    for (std::size_t k = 0; k < items; ++k) {
      if (depth < 2 && groups < 5 && pick(5) == 0) {
        int g = ++groups;
        ours += "%(";
        ecma += "(";
        sequence(depth + 1, pick(3) + (depth == 0 ? 1 : 0));
        ours += "%)";
        ecma += ")";
        closed.push_back(g);
      } else {
        atom();
      }
    }
  }

  void make() {
    ours.clear();
    ecma.clear();
    groups = 0;
    closed.clear();
    if (pick(6) == 0) {
      ours += "^";
      ecma += "^";
    }
    sequence(0, 1 + pick(5));
  }
};

TEST(PatternRandom, RegexAgainstStdRegex) {
  RxGen gen;
  std::mt19937 srng(4242);
  const std::string subject_chars = "aaabbbcc.*[%AZ1_ ";
  std::array<unsigned char, 1024> buf{};
  Regex re;
  int compared = 0, found = 0, grouped = 0;
  for (int round = 0; round < 4000; ++round) {
    gen.make();
    ASSERT_NE(re.compile(gen.ours, buf.data(), buf.data() + buf.size(), '%'), nullptr)
        << gen.ours << " error " << re.last_error();
    std::regex ecma(gen.ecma, std::regex::ECMAScript);
    ASSERT_EQ(static_cast<unsigned>(re.group_count()), ecma.mark_count()) << gen.ours;
    for (int sub = 0; sub < 10; ++sub) {
      std::string subject;
      std::size_t slen = std::uniform_int_distribution<std::size_t>(0, 10)(srng);
      for (std::size_t k = 0; k < slen; ++k)
        subject += subject_chars[std::uniform_int_distribution<std::size_t>(0, subject_chars.size() - 1)(srng)];
      std::smatch m;
      bool want = std::regex_search(subject, m, ecma);
      std::string where;
      RxGen::add(where, {"ours '", gen.ours, "' ecma '", gen.ecma, "' subject '", subject, "'"});
      ASSERT_EQ(re.match(subject.c_str()) == 1, want) << where;
      ++compared;
      if (!want) continue;
      ++found;
      ASSERT_EQ(re.match_start(), static_cast<std::size_t>(m.position(0))) << where;
      ASSERT_EQ(re.match_end(), static_cast<std::size_t>(m.position(0) + m.length(0))) << where;
      for (int g = 1; g <= re.group_count(); ++g) {
        RegexSpan span = re.group(g);
        ASSERT_TRUE(span.valid && m[g].matched) << where << " group " << g;
        ASSERT_EQ(span.start, static_cast<std::size_t>(m.position(g))) << where << " group " << g;
        ASSERT_EQ(span.end, static_cast<std::size_t>(m.position(g) + m.length(g))) << where << " group " << g;
        grouped += span.end > span.start;
      }
    }
  }
  EXPECT_GT(found, compared / 5);
  EXPECT_GT(grouped, 500);
}

// Stacked repetitions ("a*a*a*", "%D%{1,2%}%D%{1,2%}", runs after groups
// with back-references) against std::regex, on subjects short enough for
// its own backtracking.
TEST(PatternRandom, StackedRepetitionsAgainstStdRegex) {
  RxGen gen;
  gen.rng.seed(31337);
  gen.stacked = true;
  std::mt19937 srng(2718);
  const std::string subject_chars = "aaaabbbc1_ ";
  std::array<unsigned char, 1024> buf{};
  Regex re;
  int compared = 0, found = 0;
  for (int round = 0; round < 1200; ++round) {
    gen.make();
    ASSERT_NE(re.compile(gen.ours, buf.data(), buf.data() + buf.size(), '%'), nullptr)
        << gen.ours << " error " << re.last_error();
    std::regex ecma(gen.ecma, std::regex::ECMAScript);
    for (int sub = 0; sub < 8; ++sub) {
      std::string subject;
      std::size_t slen = std::uniform_int_distribution<std::size_t>(0, 14)(srng);
      for (std::size_t k = 0; k < slen; ++k)
        subject += subject_chars[std::uniform_int_distribution<std::size_t>(0, subject_chars.size() - 1)(srng)];
      std::smatch m;
      bool want = std::regex_search(subject, m, ecma);
      std::string where;
      RxGen::add(where, {"ours '", gen.ours, "' ecma '", gen.ecma, "' subject '", subject, "'"});
      ASSERT_EQ(re.match(subject.c_str()) == 1, want) << where;
      ++compared;
      if (!want) continue;
      ++found;
      ASSERT_EQ(re.match_start(), static_cast<std::size_t>(m.position(0))) << where;
      ASSERT_EQ(re.match_end(), static_cast<std::size_t>(m.position(0) + m.length(0))) << where;
      for (int g = 1; g <= re.group_count(); ++g) {
        RegexSpan span = re.group(g);
        ASSERT_TRUE(span.valid && m[g].matched) << where << " group " << g;
        ASSERT_EQ(span.start, static_cast<std::size_t>(m.position(g))) << where << " group " << g;
        ASSERT_EQ(span.end, static_cast<std::size_t>(m.position(g) + m.length(g))) << where << " group " << g;
      }
    }
  }
  EXPECT_GT(found, compared / 5);
}

// ---------------------------------------------------------------------
// The memo of failed continuations against plain backtracking, on the
// whole dialect (word boundaries, "$", back-references to any closed
// group, repeated back-references), with back-off limits and with memo
// tables too small for every item or for the subject.  Every result must
// be the same, and the memo may only save work.
// ---------------------------------------------------------------------

struct OwnGen {
  std::mt19937 rng{5150};
  std::string out;
  int groups = 0;
  int repeated = 0;
  std::vector<int> closed;

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

  std::string quantifier() {
    if (repeated >= 7) return "";
    std::string m(1, static_cast<char>('0' + pick(3)));
    std::string n(1, static_cast<char>(m[0] + pick(3)));
    std::string q;
    switch (pick(9)) {
      case 0: case 1: case 2: q = "*"; break;
      case 3: q = "%{" + m + "%}"; break;
      case 4: q = "%{" + m + ",%}"; break;
      case 5: q = "%{" + m + "," + n + "}"; break;
      default: return "";
    }
    ++repeated;
    return q;
  }

  void item() {
    static const char* const atoms[] = {"a", "a", "b", "_", ".", "[ab]", "[^a]", "%W", "%!%D", "%A", "%!%W"};
    switch (pick(16)) {
      case 0:
        out += pick(2) ? "%<" : "%>";
        return;
      case 1: case 2:
        if (!closed.empty()) {
          std::string ref = "%" + std::to_string(closed[pick(closed.size())]) + quantifier();
          out += ref;
          if (pick(4) == 0) out += ref;
          return;
        }
        break;
      default: break;
    }
    std::string one = atoms[pick(std::size(atoms))] + quantifier();
    out += one;
    // Stacked: the same repeated item again.
    for (std::size_t k = pick(4) == 0 ? 1 + pick(3) : 0; k > 0 && repeated < 7; --k) {
      out += one;
      if (one.find_first_of("*{") != std::string::npos) ++repeated;
    }
  }

  void sequence(int depth, std::size_t items) {
    for (std::size_t k = 0; k < items; ++k) {
      if (depth < 3 && groups < 9 && pick(4) == 0) {
        int g = ++groups;
        out += "%(";
        sequence(depth + 1, pick(3));
        out += "%)";
        closed.push_back(g);
      } else {
        item();
      }
    }
  }

  void make() {
    out.clear();
    groups = repeated = 0;
    closed.clear();
    if (pick(5) == 0) out += "^";
    sequence(0, 1 + pick(6));
    if (pick(5) == 0) out += "$";
  }
};

TEST(PatternRandom, RegexMemoAgainstPlainBacktracking) {
  OwnGen gen;
  std::mt19937 srng(8086);
  auto spick = [&srng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(srng); };
  const std::string subject_chars = "aaaabbb_1 \n";
  std::array<unsigned char, 1024> plain_buf{}, memo_buf{};
  Regex plain, memo;
  plain.set_memoize(false);
  int compared = 0, found = 0;
  std::size_t plain_steps = 0, memo_steps = 0;
  for (int round = 0; round < 3000; ++round) {
    gen.make();
    ASSERT_NE(plain.compile(gen.out, plain_buf.data(), plain_buf.data() + plain_buf.size(), '%'), nullptr)
        << gen.out << " error " << plain.last_error();
    ASSERT_NE(memo.compile(gen.out, memo_buf.data(), memo_buf.data() + memo_buf.size(), '%'), nullptr);
    const std::size_t sizes[] = {Regex::memo_max_bits, 64, 20, 7};
    memo.set_memo_bits(sizes[spick(4)]);
    for (int sub = 0; sub < 8; ++sub) {
      std::string subject;
      for (std::size_t k = spick(13); k > 0; --k) subject += subject_chars[spick(subject_chars.size())];
      // Sometimes a back-off limit somewhere in the subject.
      std::size_t limit = spick(3) == 0 ? spick(subject.size() + 1) : std::string::npos;
      plain.set_backoff_limit(limit == std::string::npos ? nullptr : subject.c_str() + limit);
      memo.set_backoff_limit(plain.backoff_limit());
      std::string where = "pattern '" + gen.out + "' subject '" + subject + "' limit " +
                          std::to_string(static_cast<long>(limit));
      int want = plain.match(subject.c_str());
      ASSERT_EQ(memo.match(subject.c_str()), want) << where;
      ASSERT_EQ(memo.match_start(), plain.match_start()) << where;
      ASSERT_EQ(memo.match_end(), plain.match_end()) << where;
      for (int g = 1; g <= plain.group_count(); ++g) {
        RegexSpan p = plain.group(g), m = memo.group(g);
        ASSERT_EQ(m.valid, p.valid) << where << " group " << g;
        ASSERT_EQ(m.start, p.start) << where << " group " << g;
        ASSERT_EQ(m.end, p.end) << where << " group " << g;
      }
      ASSERT_LE(memo.steps(), plain.steps()) << where;
      ++compared;
      found += want;
      plain_steps += plain.steps();
      memo_steps += memo.steps();
    }
  }
  EXPECT_GT(found, compared / 5);
  EXPECT_LT(found, compared * 4 / 5);
  EXPECT_LT(memo_steps, plain_steps);
}

}  // namespace
}  // namespace vek
