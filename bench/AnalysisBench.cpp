// The line analysis as the passes pay for it: every instruction set again
// through SetLine, which re-analyses it.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/Programs.h"
#include "source/Classifier.h"
#include "source/LineList.h"

namespace korvid::bench {
namespace {

void BM_ReanalyseInstructions(benchmark::State& state) {
  TLineList lines;
  lines.LoadFromText(GeneratedProgram(static_cast<int>(state.range(0))), "bench.asm");
  std::int64_t analysed = 0;
  for (auto _ : state) {
    for (int i = 0; i < lines.Count(); ++i) {
      const TLine& line = *lines.Line(i);
      if (!IsInstructionType(line.LineType)) continue;
      // Copies, since SetLine resets the fields it is given.
      const std::string label = line.LabelName, mnemonic = line.Mnemonic, operands = line.Operands;
      lines.SetLine(i, line.LineType, label, mnemonic, operands, line.Func);
      ++analysed;
    }
  }
  state.SetItemsProcessed(analysed);
}

BENCHMARK(BM_ReanalyseInstructions)->Apply(ProgramSizes);

}  // namespace
}  // namespace korvid::bench
