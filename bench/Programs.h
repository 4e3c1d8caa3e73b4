// Generated programs of the benchmark sizes, made once per process.
#pragma once
#include <benchmark/benchmark.h>

#include <string>

namespace korvid::bench {

inline constexpr int kProgramSizes[] = {10'000, 100'000, 1'000'000};

// A random program of at least `lines` lines, the same on every run.
const std::string& GeneratedProgram(int lines);
// Runs the benchmark once per program size, its first argument, in milliseconds.
void ProgramSizes(benchmark::internal::Benchmark* b);

}  // namespace korvid::bench
