// The classifier alone on one thread: the work the parse pool shares out.
#include <benchmark/benchmark.h>

#include <string_view>
#include <vector>

#include "bench/Programs.h"
#include "source/Classifier.h"

namespace korvid::bench {
namespace {

std::vector<std::string_view> SplitLines(const std::string& text) {
  std::vector<std::string_view> lines;
  std::string_view rest(text);
  for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1))
    lines.push_back(rest.substr(0, end));
  return lines;
}

void BM_Classify(benchmark::State& state) {
  const std::vector<std::string_view> lines = SplitLines(GeneratedProgram(static_cast<int>(state.range(0))));
  for (auto _ : state)
    for (std::string_view line : lines) benchmark::DoNotOptimize(ParseLine(line));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(lines.size()));
}

BENCHMARK(BM_Classify)->Apply(ProgramSizes);

}  // namespace
}  // namespace korvid::bench
