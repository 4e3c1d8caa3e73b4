// Registers and flags a line reads and writes, as bit sets, read from its
// usage list. Shared by the routine table and the routine summaries.
#pragma once
#include <bitset>

namespace korvid {

struct TLine;
struct TVar;

using TRegisterSet = std::bitset<32>;
using TFlagSet = std::bitset<8>;

// The registers a variable stands for: R0..R31, the pairs X, Y, Z and their
// halves, and data memory below address 32, which is the register file.
TRegisterSet RegistersOf(const TVar& var);
TFlagSet FlagsOf(const TVar& var);

struct TLineEffects {
  TRegisterSet RegsRead, RegsWritten;
  TFlagSet FlagsRead, FlagsWritten;
};

// Modify counts as read and write, push as read, pop as write.
TLineEffects EffectsOf(const TLine& line);
// True when the line touches the register in any way.
bool TouchesRegister(const TLine& line, int reg);

}  // namespace korvid
