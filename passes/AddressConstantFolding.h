// Folds the adjustment of an address pair into the two loads that set it:
//   LDI R30,buf AND 0FFh / LDI R31,buf SHRB 8 / ADIW R30,3
//   -> LDI R30,buf + 3 AND 0FFh / LDI R31,buf + 3 SHRB 8
//   LDI R26,tab + 4 AND 0FFh / LDI R27,tab + 4 SHRB 8 / SUBI R26,6 AND 0FFh / SBCI R27,6 SHRB 8
//   -> LDI R26,tab - 2 AND 0FFh / LDI R27,tab - 2 SHRB 8
// Only when nothing enters or skips a line between the loads and the adjustment,
// the adjustment's flags are not read afterwards, and the folded address is a
// known value that needs no carry beyond 16 bits. These rules belong to the
// peephole pass; until it exists, the driver runs them as the second phase.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> AddressConstantFoldingRules();

// True when the program changed.
bool FoldAddressConstants(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
