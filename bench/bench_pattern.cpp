// Micro-benchmarks of the pattern engines on one 4 KB line.
#include "pattern/regex.h"
#include "pattern/wildcard.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

namespace {

// A 4 KB line of words with the interesting text near its end.
std::string make_line() {
  std::string line;
  const char* words[] = {"lorem ", "ipsum ", "dolor ", "sit ", "amet ", "consectetur ", "elit "};
  for (std::size_t k = 0; line.size() < 4000; ++k) line += words[k % 7];
  line += "needle=needle ";
  line.resize(4096, '.');
  return line;
}

void run_regex(benchmark::State& state, const char* pattern) {
  std::string line = make_line();
  std::array<unsigned char, 4095> buf{};
  vek::Regex re;
  if (re.compile(pattern, buf.data(), buf.data() + buf.size(), '%') == nullptr) {
    state.SkipWithError("pattern does not compile");
    return;
  }
  int hits = 0;
  for (auto _ : state) {
    hits += re.match(line.c_str());
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
  state.counters["match"] = re.match(line.c_str());
}

// Starts with a literal: only positions holding "n" are tried.
void BM_RegexLiteral(benchmark::State& state) { run_regex(state, "needle"); }
// The same text behind a one-byte class: every position is tried.
void BM_RegexLiteralNoShortcut(benchmark::State& state) { run_regex(state, "[n]eedle"); }
void BM_RegexClassStar(benchmark::State& state) { run_regex(state, "[a-z]*=[a-z]*"); }
void BM_RegexBackReference(benchmark::State& state) { run_regex(state, "%(n[a-z]*%)=%1"); }
void BM_RegexNoMatch(benchmark::State& state) { run_regex(state, "xyz"); }

void run_wildcard(benchmark::State& state, const char* pattern) {
  std::string line = make_line();
  std::vector<unsigned char> buf(vek::pattern_buffer_size(std::string_view(pattern).size()));
  if (vek::pattern_compile(buf, pattern, '%') != vek::pattern_ok) {
    state.SkipWithError("pattern does not compile");
    return;
  }
  int misses = 0;
  for (auto _ : state) {
    misses += vek::pattern_match(line, buf.data(), '%');
    benchmark::DoNotOptimize(misses);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
}

void BM_WildcardStarLiteral(benchmark::State& state) { run_wildcard(state, "*needle=*"); }
void BM_WildcardSetStar(benchmark::State& state) { run_wildcard(state, "lorem*[=]n*[.]"); }

}  // namespace

BENCHMARK(BM_RegexLiteral);
BENCHMARK(BM_RegexLiteralNoShortcut);
BENCHMARK(BM_RegexClassStar);
BENCHMARK(BM_RegexBackReference);
BENCHMARK(BM_RegexNoMatch);
BENCHMARK(BM_WildcardStarLiteral);
BENCHMARK(BM_WildcardSetStar);
