// Runs one machine instruction on simavr's ATmega2560 core from many random states
// and records what it visibly wrote and which inputs changed its outcome.
#pragma once
#include <cstdint>
#include <memory>
#include <span>

namespace korvid::test {

struct TObservation {
  std::uint32_t RegsRead = 0, RegsWritten = 0;
  std::uint8_t FlagsRead = 0, FlagsWritten = 0;
  std::uint64_t IoRead = 0, IoWritten = 0;  // bit n: I/O location n (SREG excluded)
  bool MemRead = false, MemWritten = false;  // data memory (stack included)
  bool FellThrough = false, Skipped = false, Transferred = false;
};

class TAvrOracle {
 public:
  // nullptr when simavr is not linked in or cannot build the core.
  static TAvrOracle* Get();
  virtual ~TAvrOracle() = default;
  virtual TObservation Observe(std::span<const std::uint8_t> code, int trials, unsigned seed) = 0;
};

}  // namespace korvid::test
