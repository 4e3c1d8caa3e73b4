// Which data-space bytes a variable occupies, so that accesses are compared by
// the bytes they touch rather than by the name used: two names at one address,
// a byte inside a word variable, a register reached through its data address.
#pragma once
#include <cstdint>

namespace korvid {

struct TVar;

struct TByteRange {
  bool Known = false;  // unknown: may be any byte
  bool Empty = false;  // occupies no data memory (flags, constants)
  std::int64_t Start = 0;
  std::int64_t Size = 0;
};

TByteRange DataRangeOf(const TVar& var);

// False only when both ranges are known and disjoint, or either occupies nothing.
bool MayOverlap(const TByteRange& a, const TByteRange& b);

bool MayOverlap(const TVar& a, const TVar& b);

// A variable of data memory (not a register, flag or constant).
bool IsMemoryVariable(const TVar& var);

}  // namespace korvid
