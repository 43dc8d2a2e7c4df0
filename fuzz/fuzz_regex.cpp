// Fuzz target: the regular-expression compiler and matcher.
//
// Input: two control bytes, then the pattern, a NUL byte and the subject
// (no NUL byte: everything is the pattern, the subject is empty).
//   byte 0, bit 0     escape character "\" instead of "%"
//   byte 0, bit 1     also match with the literals folded to upper case
//                     against an upper-cased subject
//   byte 0, bit 2     the pattern bytes are not compiled but copied into
//                     the program buffer as they are, and an empty
//                     pattern is compiled to reuse them (the compiler
//                     must refuse anything that is not a program)
//   byte 0, bits 3-4  memo table size: the default or (for subjects of
//                     up to 10 bytes) a tiny one
//   byte 0, bits 5-7  program buffer size
//   byte 1            back-off limit: 255 none, else that position
//                     modulo (subject length + 1)
// Every compiled program is also reused through an empty pattern, which
// must give the same results.  Results are checked for consistency
// (spans inside the subject and the match, anchoring), and on small
// inputs against plain backtracking (the memo switched off): match,
// start, end and every group span must be the same.  Buffer and subject
// are heap blocks of their exact size, so the sanitizers see every access
// beyond them.
#include "pattern/regex.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

struct Outcome {
  int matched = 0;
  std::size_t start = 0, end = 0;
  std::array<vek::RegexSpan, vek::Regex::max_groups> groups{};

  bool operator==(const Outcome& o) const {
    if (matched != o.matched || start != o.start || end != o.end) return false;
    for (std::size_t g = 0; g < groups.size(); ++g)
      if (groups[g].valid != o.groups[g].valid || groups[g].start != o.groups[g].start ||
          groups[g].end != o.groups[g].end)
        return false;
    return true;
  }
};

// Matches and checks what any match must satisfy.
Outcome run(vek::Regex& re, std::string_view subject, std::size_t limit, bool well_formed) {
  re.set_backoff_limit(limit == std::string_view::npos ? nullptr : subject.data() + limit);
  Outcome out;
  out.matched = re.match(subject);
  check(out.matched == 0 || out.matched == 1);
  out.start = re.match_start();
  out.end = re.match_end();
  check(out.start <= out.end && out.end <= subject.size());
  if (!out.matched) check(out.start == 0 && out.end == 0);
  if (out.matched && re.anchored()) check(out.start == 0);
  for (int n = 1; n <= vek::Regex::max_groups; ++n) {
    vek::RegexSpan span = re.group(n);
    out.groups[static_cast<std::size_t>(n - 1)] = span;
    if (!span.valid) continue;
    check(out.matched && n <= re.group_count());
    check(span.start <= span.end && span.end <= subject.size());
    // In a compiled program every group opens and closes between the
    // match's start and end.
    if (well_formed) check(out.start <= span.start && span.end <= out.end);
  }
  return out;
}

// Number of repeated items in a program: what plain backtracking's work
// grows with.
std::size_t repeated_items(const unsigned char* program) {
  std::size_t count = 0;
  for (std::size_t pc = 0; program[pc] != vek::rx_end;) {
    int size = vek::regex_operand_size(program[pc]);
    if (size < 0) break;
    if ((program[pc] & 3) == vek::rx_star || (program[pc] & 3) == vek::rx_interval) ++count;
    pc += 1 + static_cast<std::size_t>(size);
  }
  return count;
}

// Matches with the memo and, when plain backtracking is affordable,
// without it; both must agree.
Outcome match_both(vek::Regex& re, const unsigned char* program, std::string_view subject,
                   std::size_t limit, bool well_formed) {
  Outcome with_memo = run(re, subject, limit, well_formed);
  std::size_t memo_steps = re.steps();
  if (subject.size() <= 10 && repeated_items(program) <= 5) {
    re.set_memoize(false);
    Outcome plain = run(re, subject, limit, well_formed);
    check(plain == with_memo);
    check(memo_steps <= re.steps());
    re.set_memoize(true);
  }
  return with_memo;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned char esc = (data[0] & 1) ? '\\' : '%';
  const bool fold = (data[0] & 2) != 0;
  const bool raw = (data[0] & 4) != 0;
  const std::size_t memo_sizes[] = {vek::Regex::memo_max_bits, 64, 12, 1};
  const std::size_t buffer_sizes[] = {4095, 4095, 4095, 4095, 256, 64, 35, 8};
  std::size_t memo_bits = memo_sizes[(data[0] >> 3) & 3];
  const std::size_t buf_size = buffer_sizes[data[0] >> 5];

  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  std::size_t cut = rest.find('\0');
  std::string_view pattern = rest.substr(0, cut);
  std::string_view subject_in = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  auto text = std::make_unique<char[]>(subject_in.size());
  if (!subject_in.empty()) std::memcpy(text.get(), subject_in.data(), subject_in.size());
  std::string_view subject(text.get(), subject_in.size());
  const std::size_t limit = data[1] == 255 ? std::string_view::npos : data[1] % (subject.size() + 1);
  // A table too small for the subject leaves stacked repetitions to plain
  // backtracking, which takes exponential time: tiny tables only where
  // plain backtracking is compared anyway.
  if (subject.size() > 10) memo_bits = vek::Regex::memo_max_bits;

  auto buf = std::make_unique<unsigned char[]>(buf_size);
  unsigned char* begin = buf.get();
  unsigned char* end = begin + buf_size;
  vek::Regex re;
  re.set_memo_bits(memo_bits);

  unsigned char* past = nullptr;
  if (raw) {
    std::memcpy(begin, pattern.data(), std::min(pattern.size(), buf_size));
    past = re.compile("", begin, end, esc);
    if (past == nullptr) {
      check(re.last_error() == vek::rx_err_nothing_compiled);
      return 0;
    }
  } else {
    past = re.compile(pattern, begin, end, esc);
    if (past == nullptr) {
      check(re.last_error() != 0);
      // A failed compile leaves nothing to match with.
      check(re.match(subject) == 0);
      return 0;
    }
    check(re.last_error() == 0 && past > begin && past <= end);
    check(past[-2] == vek::rx_end);
  }
  check(re.group_count() >= 0 && re.group_count() <= vek::Regex::max_groups);

  Outcome first = match_both(re, begin, subject, limit, !raw);

  // The same program again through an empty pattern.
  const bool anchored = re.anchored();
  const int groups = re.group_count();
  check(re.compile("", begin, end, esc) == begin);
  check(re.anchored() == anchored && re.group_count() == groups);
  check(match_both(re, begin, subject, limit, !raw) == first);

  if (fold) {
    std::vector<unsigned char> before(begin, end);
    vek::regex_fold_literals_upper(begin);
    std::string upper(subject);
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    auto upper_text = std::make_unique<char[]>(upper.size());
    if (!upper.empty()) std::memcpy(upper_text.get(), upper.data(), upper.size());
    std::string_view upper_view(upper_text.get(), upper.size());
    check(re.compile("", begin, end, esc) == begin);
    Outcome folded = match_both(re, begin, upper_view, limit, !raw);
    // Folding changes nothing when the program has no lower-case literal
    // and the subject no lower-case letter.
    if (upper_view == subject && std::equal(before.begin(), before.end(), begin)) check(folded == first);
  }
  return 0;
}
