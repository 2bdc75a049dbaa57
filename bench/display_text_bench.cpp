// The cost of display text: formatting every partial (a 60-word hypothesis, at most 20 us at the
// median) and reading the word list while the model loads.
#include <benchmark/benchmark.h>

#include <string>

#include "display_text/display_text.h"

namespace {

// 60 words with something for every rule: numbers, money, a time, a year, a month beside it,
// names, an ordinal, a decimal, a decade.
constexpr const char* kHypothesis =
    "remind me at three thirty p m to call john in new york about the twenty five dollars and "
    "fifty cents i owe him since august nineteen eighty four and the twenty first birthday party "
    "on monday in paris where fifteen thousand people paid fifty percent of two point five times "
    "what a hundred dollars bought in the nineteen sixties";

void BM_DisplayText60Words(benchmark::State& state) {
  const auto english = mic::makeDisplayText("en-us");
  for (auto _ : state) {
    benchmark::DoNotOptimize(english->format(kHypothesis));
  }
}
BENCHMARK(BM_DisplayText60Words);

void BM_DisplayTextLoad(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(mic::makeDisplayText("en-us"));
  }
}
BENCHMARK(BM_DisplayTextLoad)->Unit(benchmark::kMillisecond);

}  // namespace
