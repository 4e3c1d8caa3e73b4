// Loading: the worker pool classifies while the main thread analyses in order.
#include <benchmark/benchmark.h>

#include "bench/Programs.h"
#include "source/LineList.h"

namespace korvid::bench {
namespace {

void BM_Load(benchmark::State& state) {
  const std::string& text = GeneratedProgram(static_cast<int>(state.range(0)));
  const int threads = static_cast<int>(state.range(1));
  for (auto _ : state) {
    TLineList lines(threads);
    lines.LoadFromText(text, "bench.asm");
    benchmark::DoNotOptimize(lines.CodeSize);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One parse thread, the default, against two and eight.
void LoadArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"lines", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
  for (int lines : kProgramSizes)
    for (int threads : {1, 2, 8}) b->Args({lines, threads});
}

BENCHMARK(BM_Load)->Apply(LoadArgs);

}  // namespace
}  // namespace korvid::bench
