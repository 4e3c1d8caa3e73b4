// What a call does to the caller's registers, flags and memory, and what a RET
// hands back to the caller. Every path search and the register states take
// calls and returns from here, so the per-routine summary replaces these two
// functions and nothing else.
#pragma once
#include <cstdint>

namespace korvid {

class TLineList;

// Registers are bits 0..31, the flags bits 32..39 in status-register order.
using TRegFlagSet = std::uint64_t;
inline constexpr int kFlagBit0 = 32;
inline constexpr TRegFlagSet kAllRegisters = 0xFFFFFFFFull;
inline constexpr TRegFlagSet kAllFlags = 0xFFull << kFlagBit0;
inline constexpr TRegFlagSet kAllRegsAndFlags = kAllRegisters | kAllFlags;
inline constexpr TRegFlagSet RegisterBit(int r) { return TRegFlagSet{1} << r; }
inline constexpr TRegFlagSet FlagBits(std::uint8_t flagMask) { return TRegFlagSet{flagMask} << kFlagBit0; }

struct TCallEffect {
  // Read by the called code before it writes them (the caller's values are used).
  TRegFlagSet Reads = kAllRegsAndFlags;
  // Written on every path through the called code: the caller's values die.
  TRegFlagSet MustWrite = 0;
  // Written on some path.
  TRegFlagSet MayWrite = kAllRegsAndFlags;
  bool MayLoad = true;
  bool MayStore = true;
};

// The effect of the call on line `callLine` (RCALL, CALL, ICALL, EICALL).
// Until routine summaries exist, every call reads and writes everything.
TCallEffect CallEffectOf(const TLineList& lines, int callLine);

struct TReturnEffect {
  // The routine's return size is known, so registers outside Returned are dead at the RET.
  bool Known = false;
  // What the caller may read after the RET: the return registers and the registers
  // the caller keeps across calls (the frame pointer Y).
  TRegFlagSet Returned = kAllRegsAndFlags;
};

// The effect of the RET on line `retLine`. The return size counts as known only
// when the analysis gave the RET its return registers (`RetHasValue`).
TReturnEffect ReturnEffectOf(const TLineList& lines, int retLine);

}  // namespace korvid
