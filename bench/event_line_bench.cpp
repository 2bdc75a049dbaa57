// The cost of writing one event line, as the session pays it for every changed partial.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/event_line.h"

namespace {

// Points standard output at /dev/null for the life of the object, so the benchmark measures
// formatting and the system call, not a terminal.
class StdoutToNull {
 public:
  StdoutToNull() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~StdoutToNull() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  StdoutToNull(const StdoutToNull&) = delete;
  StdoutToNull& operator=(const StdoutToNull&) = delete;

 private:
  int saved_ = -1;
};

// About 200 characters, with the quotation marks and a non-ASCII letter that take the escaping
// and UTF-8 paths.
std::string transcript() {
  std::string text =
      "the weather tomorrow will be cloudy in the morning with \"light\" rain expected by the "
      "afternoon and a cool wind from the north so take a coat café and an umbrella when you "
      "leave the house early";
  text.resize(200, 'x');
  return text;
}

void BM_EmitPartial(benchmark::State& state) {
  const std::string text = transcript();
  StdoutToNull quiet;
  for (auto _ : state) {
    mic::emit("partial", text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_EmitPartial);

void BM_FormatEventLine(benchmark::State& state) {
  const mic::EventLine event{"partial", transcript()};
  for (auto _ : state) {
    benchmark::DoNotOptimize(mic::formatEventLine(event));
  }
}
BENCHMARK(BM_FormatEventLine);

}  // namespace
