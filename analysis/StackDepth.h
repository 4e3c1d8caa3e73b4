// How many bytes each routine has on the hardware stack at every line, and
// whether code may read the stack pointer between two lines. A pass that
// removes PUSH/POP pairs, merges exits or inlines must leave the depth at every
// label, RET and RETI the same on every path, and leave code that reads SP
// seeing the same offsets.
//
// Depths count from the routine's entry, where a call has just pushed the
// return address: PUSH adds one, POP takes one, and a call adds nothing when
// every RET of the called routine (and of the routines it jumps into) is
// reached with depth 0. Everything else errs towards "unknown": a write of SP,
// an indirect call, a call whose routine cannot be summarised, paths that
// disagree, labels entered through their address, routines with indirect
// jumps or unknown code, programs with transfers by offset, and every line
// outside a routine.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "source/UsageBits.h"

namespace korvid {

class TLineList;
struct TLine;

// Usage bits of SPL or SPH on the line; an I/O access of unknown address names
// them too. PUSH, POP, calls and returns move SP as the depth counts, without
// reading or setting its value.
TUsageSet StackPointerUse(const TLine& line);

class TStackDepths {
 public:
  // One work-list pass over the line graph; questions are then lookups.
  explicit TStackDepths(TLineList& lines);

  // Bytes pushed since the routine's entry before line `index` executes, the
  // same on every path reaching it; nullopt when not known.
  std::optional<int> Before(int index) const;

  // The line list's Generation and size when this was built.
  std::uint64_t Generation = 0;
  int LineCount = 0;

 private:
  std::vector<std::int32_t> Depths;
};

// Whether a line on some path from `from` up to, not including, `to` (-1:
// none) may read SP: IN or LDS of SPL/SPH, or an I/O read of unknown address,
// in the routines it calls too. A path ends at a RET or RETI; an indirect
// call, unknown code or a transfer the line graph cannot follow counts as a read.
bool ReadsStackPointerBetween(TLineList& lines, int from, int to);

struct TLine;
// Whether the line moves SP or sees where it points: PUSH, POP, calls,
// returns, and any access of SPL or SPH (an I/O access of unknown address too).
bool TouchesStack(const TLine& line);

}  // namespace korvid
