// Runs an assembled program on simavr from reset to its end and records what it did.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "verify/Mcu.h"
#include "verify/Toolchain.h"

namespace korvid::verify {

struct IoWrite {
  std::uint64_t cycle = 0;
  std::uint32_t pc = 0;       // byte address of the writing instruction
  std::uint16_t address = 0;  // data-space address
  std::uint8_t value = 0;
};

struct Observation {
  enum class End { Finished, BudgetExceeded, Crashed };
  End end = End::Finished;
  std::uint64_t cycles = 0;
  std::uint32_t pc = 0;             // where it stopped
  std::vector<IoWrite> writes;      // in order; SREG and the stack pointer are CPU state, not I/O
  std::vector<std::uint8_t> data;   // data space at the end (registers, I/O, SRAM)
};

Observation Simulate(const Image& image, const Mcu& mcu, std::uint64_t budget);

// The last instruction that changed a data-space byte before the run ended.
struct LastChange {
  bool found = false;
  std::uint32_t pc = 0;
  std::uint64_t cycle = 0;
};
LastChange FindLastChange(const Image& image, const Mcu& mcu, std::uint64_t budget, unsigned address);

}  // namespace korvid::verify
