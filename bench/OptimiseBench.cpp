// The whole optimisation of a freshly loaded program; loading is not timed.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/Programs.h"
#include "passes/Driver.h"
#include "source/LineList.h"

namespace korvid::bench {
namespace {

void BM_Optimise(benchmark::State& state) {
  const std::string& text = GeneratedProgram(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto lines = std::make_unique<TLineList>();
    lines->LoadFromText(text, "bench.asm");
    state.ResumeTiming();
    Optimise(*lines, ".");
    benchmark::DoNotOptimize(lines->CodeSize);
    state.PauseTiming();
    lines.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Fixed iterations: each one needs an untimed load, and a cheap Optimise would
// otherwise make the library load the program thousands of times.
BENCHMARK(BM_Optimise)->Apply(ProgramSizes)->Iterations(3);

}  // namespace
}  // namespace korvid::bench
