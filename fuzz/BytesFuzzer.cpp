// Arbitrary bytes as an assembly file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korvid::fuzz::OptimiseText(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
