// Generated and example programs, mutated line by line; now and then a plain
// byte mutation so the fuzzer still reaches odd characters inside a line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "fuzz/Harness.h"
#include "fuzz/LineMutations.h"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korvid::fuzz::OptimiseText(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
  std::mt19937 rng(seed);
  if (rng() % 8 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  std::string mutated = korvid::fuzz::MutateProgram(std::string(reinterpret_cast<const char*>(data), size), rng);
  if (mutated.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, mutated.data(), mutated.size());
  return mutated.size();
}
