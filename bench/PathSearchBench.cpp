// Every liveness and modification question for every register of every line
// of generated programs, the way the passes ask them over a run. The time per
// line must stay flat from 10k to 1M lines.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include "analysis/PathSearch.h"
#include "source/LineList.h"

namespace korvid {
namespace {

// Routines of straight code, diamonds, loops, skips, calls and early returns.
std::string GenerateProgram(int lineCount) {
  std::mt19937 rng(7);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto reg = [&] { return "R" + std::to_string(16 + pick(12)); };
  std::string text;
  int lines = 0, routine = 0;
  while (lines < lineCount) {
    std::string name = "r" + std::to_string(routine);
    text += name + ":\n";
    int body = 20 + pick(60);
    for (int i = 0; i < body; ++i, ++lines) {
      std::string local = name + "_" + std::to_string(i);
      switch (pick(10)) {
        case 0: text += " CPI " + reg() + ",3\n BRNE " + local + "\n INC " + reg() + "\n" + local + ":\n"; break;
        case 1: text += local + ":\n DEC " + reg() + "\n BRNE " + local + "\n"; break;
        case 2: text += " SBRC " + reg() + ",2\n LDS " + reg() + ",0100h\n"; break;
        case 3: text += routine > 0 ? " RCALL r" + std::to_string(pick(routine)) + "\n" : " NOP\n"; break;
        case 4: text += " SBRS " + reg() + ",0\n RET\n"; break;
        case 5: text += " ADD " + reg() + "," + reg() + "\n ADC " + reg() + "," + reg() + "\n"; break;
        case 6: text += " LDI " + reg() + ",5\n"; break;
        case 7: text += " MOV " + reg() + "," + reg() + "\n"; break;
        case 8: text += " STS 0101h," + reg() + "\n"; break;
        default: text += " LD " + reg() + ",Z+\n"; break;
      }
    }
    text += " RET\n";
    ++routine;
  }
  return text;
}

TLineList& Program(int lineCount) {
  static std::map<int, std::unique_ptr<TLineList>> programs;
  auto& slot = programs[lineCount];
  if (!slot) {
    slot = std::make_unique<TLineList>();
    slot->LoadFromText(GenerateProgram(lineCount));
  }
  return *slot;
}

// One pass over the program after an edit: the answers are rebuilt, then asked.
void BM_IsUsedLaterEveryRegister(benchmark::State& state) {
  TLineList& lines = Program(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ++lines.Generation;
    int used = 0;
    for (int i = 0; i < lines.Count(); ++i)
      for (int r = 0; r < 32; ++r) used += IsUsedLater(lines, lines.RegisterVar[r], i);
    benchmark::DoNotOptimize(used);
  }
  state.counters["ns_per_line"] = benchmark::Counter(static_cast<double>(lines.Count()) * 1e-9,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void BM_IsModifiedBetweenEveryRegister(benchmark::State& state) {
  TLineList& lines = Program(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ++lines.Generation;
    int modified = 0;
    for (int i = 0; i < lines.Count(); ++i)
      for (int r = 0; r < 32; ++r) {
        modified += IsModifiedBetween(lines, lines.RegisterVar[r], i, -1);
        modified += IsModifiedBetween(lines, lines.RegisterVar[r], i, i + 4);
      }
    benchmark::DoNotOptimize(modified);
  }
  state.counters["ns_per_line"] = benchmark::Counter(static_cast<double>(lines.Count()) * 1e-9,
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

BENCHMARK(BM_IsUsedLaterEveryRegister)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IsModifiedBetweenEveryRegister)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvid
