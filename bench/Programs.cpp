#include "bench/Programs.h"

#include <map>

#include "verify/gen/Generator.h"

namespace korvid::bench {

const std::string& GeneratedProgram(int lines) {
  static std::map<int, std::string> programs;
  auto [it, added] = programs.try_emplace(lines);
  if (added) {
    verify::gen::GenOptions options;
    options.lines = lines;
    it->second = verify::gen::GenerateProgram(1, options);
  }
  return it->second;
}

void ProgramSizes(benchmark::internal::Benchmark* b) {
  b->ArgName("lines")->Unit(benchmark::kMillisecond);
  for (int lines : kProgramSizes) b->Arg(lines);
}

}  // namespace korvid::bench
