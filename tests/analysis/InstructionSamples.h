// One assembled line per instruction form, with the operand values the line analysis
// would hand to the effect table. Shared by the size and the simulation checks.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace korvid::test {

struct TSample {
  std::string_view Mnemonic;  // the entry's mnemonic
  std::string_view Asm;       // the line for avr-as
  std::optional<std::int64_t> Op1 = std::nullopt;  // register, pointer low register, address or bit
  std::optional<std::int64_t> Op2 = std::nullopt;
  bool Steps = false;      // pointer post-increment or pre-decrement
  bool Simulated = true;   // the simulated ATmega2560 core executes it
};

std::span<const TSample> InstructionSamples();

bool HasOperands(const TSample& s);

}  // namespace korvid::test
