// Fuzz target: the wildcard compiler and matcher.
//
// Input: one flag byte, then the pattern, a NUL byte and the subject (no
// NUL byte: everything is the pattern, the subject is empty).
//   bit 0 of the flag byte   escape character "\" instead of "%"
//   bits 1-7                 size of a second, smaller compile buffer
// The pattern is compiled into a buffer of exactly the size
// pattern_buffer_size() promises and into the smaller one (which must
// either fail with pattern_buffer_full or give the same compiled form);
// the subject is matched from an unterminated heap copy, so that the
// sanitizers see every access beyond either.  The result must agree with
// the reference matcher of the unit tests.
#include "pattern/wildcard.h"
#include "wildcard_reference.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Length of a compiled pattern up to and including its terminating NUL.
std::size_t compiled_length(const unsigned char* p, unsigned char esc) {
  std::size_t k = 0;
  for (;;) {
    if (p[k] == 0) return k + 1;
    if (p[k] == esc) {
      k += 2;
    } else if (p[k] == '[') {
      std::size_t n1 = p[k + 1];
      k += 3 + n1 + 2 * std::size_t{p[k + 2 + n1]};
    } else {
      ++k;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned char esc = (data[0] & 1) ? '\\' : '%';
  const std::size_t small = data[0] >> 1;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t cut = rest.find('\0');
  std::string_view pattern = rest.substr(0, cut);
  std::string_view subject = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

  std::vector<unsigned char> buf(vek::pattern_buffer_size(pattern.size()));
  int rc = vek::pattern_compile(buf, pattern, esc);
  check(rc == vek::pattern_ok || rc == vek::pattern_unclosed_set || rc == vek::pattern_backward_range);

  std::vector<vek::wildcard_reference::WToken> tokens;
  check(vek::wildcard_reference::ref_parse(pattern, tokens, static_cast<char>(esc)) == rc);

  auto tight = std::make_unique<unsigned char[]>(small);
  int rc_small = vek::pattern_compile({tight.get(), small}, pattern, esc);
  if (rc == vek::pattern_ok) {
    std::size_t length = compiled_length(buf.data(), esc);
    check(length <= buf.size());
    if (length <= small) {
      check(rc_small == vek::pattern_ok);
      check(std::memcmp(tight.get(), buf.data(), length) == 0);
    } else {
      check(rc_small == vek::pattern_buffer_full);
    }
  } else {
    // An error in the pattern may be found before or after the buffer is full.
    check(rc_small == rc || rc_small == vek::pattern_buffer_full);
  }
  if (rc != vek::pattern_ok) return 0;

  auto text = std::make_unique<char[]>(subject.size());
  if (!subject.empty()) std::memcpy(text.get(), subject.data(), subject.size());
  std::string_view unterminated(text.get(), subject.size());
  int m = vek::pattern_match(unterminated, buf.data(), esc);
  check(m == 0 || m == 1);
  check((m == 0) == vek::wildcard_reference::ref_match(tokens, 0, unterminated, 0));
  return 0;
}
