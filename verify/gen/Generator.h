// Random programs in the compiler's dialect, deterministic from a seed.
#pragma once
#include <cstdint>
#include <string>

namespace korvid::verify::gen {

struct GenOptions {
  int blocks = 36;  // idioms in main
  int lines = 0;    // more idioms until the program has at least this many lines
};

std::string GenerateProgram(std::uint64_t seed, const GenOptions& options = {});

}  // namespace korvid::verify::gen
