// What a call does to the caller's registers, flags and memory, and what a RET
// hands back to the caller. Every path search and the register states take
// calls and returns from here.
#pragma once
#include <cstdint>

namespace korvid {

class TLineList;
class TRoutineSummaries;

// Registers are bits 0..31, the flags bits 32..39 in status-register order.
using TRegFlagSet = std::uint64_t;
inline constexpr int kFlagBit0 = 32;
inline constexpr TRegFlagSet kAllRegisters = 0xFFFFFFFFull;
inline constexpr TRegFlagSet kAllFlags = 0xFFull << kFlagBit0;
inline constexpr TRegFlagSet kAllRegsAndFlags = kAllRegisters | kAllFlags;
inline constexpr TRegFlagSet RegisterBit(int r) { return TRegFlagSet{1} << r; }
inline constexpr TRegFlagSet FlagBits(std::uint8_t flagMask) { return TRegFlagSet{flagMask} << kFlagBit0; }

struct TCallEffect {
  // The line the called routine starts at, when its summary is known: what it
  // reads of the caller's values is what is live there. -1: it reads everything.
  int Entry = -1;
  // Written on every path through the called code: the caller's values die.
  TRegFlagSet MustWrite = 0;
  // Written on some path.
  TRegFlagSet MayWrite = kAllRegsAndFlags;
  bool MayLoad = true;
  bool MayStore = true;
};

// The routine summaries for the program as it is now, rebuilt after edits.
const TRoutineSummaries& CurrentRoutineSummaries(const TLineList& lines);

// The effect of the call on line `callLine` (RCALL, CALL, ICALL, EICALL), from
// the called routine's summary; everything for calls that cannot be followed.
TCallEffect CallEffectOf(const TLineList& lines, int callLine);

// What line `index` may write, a call's callee included; `addressTaken` as
// for LineRegisterBits.
struct TLineWrites {
  TRegFlagSet Registers = 0;  // registers and flags
  bool Memory = false;        // data memory other than the stack
};
TLineWrites LineMayWrite(const TLineList& lines, int index, TRegFlagSet addressTaken);

struct TReturnEffect {
  // Read by the caller whatever it does next: the return registers and the
  // frame pointer Y, which survives every call.
  TRegFlagSet Returned = kAllRegsAndFlags;
  // The routine whose return sites the RET goes back to (see TReturnSites); -1
  // outside every routine, where Returned is everything.
  int Routine = -1;
};

// The effect of the RET on line `retLine`: it reads what the analysis gave it
// (every register when its routine's return size is unknown) and, inside a
// routine, whatever the code at the routine's return sites reads.
TReturnEffect ReturnEffectOf(const TLineList& lines, int retLine);

}  // namespace korvid
