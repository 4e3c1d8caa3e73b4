// Random programs in the compiler's dialect, deterministic from a seed.
#pragma once
#include <cstdint>
#include <string>

namespace korvid::verify::gen {

struct GenOptions {
  int blocks = 24;  // idioms in main
};

std::string GenerateProgram(std::uint64_t seed, const GenOptions& options = {});

}  // namespace korvid::verify::gen
