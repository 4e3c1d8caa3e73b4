// Turns accesses through a pointer loaded with a known address into direct ones:
//   LDI R30,buf AND 0FFh / LDI R31,buf SHRB 8 / LDD R16,Z+2 / ST Z,R17 / RET
//   -> LDS R16,buf + 2 / STS buf,R17 / RET          (when the RET does not return Z)
// Only for X and Z (Y is the frame pointer), over straight-line code that
// nothing enters or skips, when the pair is dead where the walk ends, the
// flags of a removed ADIW/SBIW are not read, and the code does not grow.
// These rules belong to the peephole pass; until it exists, the driver runs
// them as the second phase.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> PointerToDirectRules();

// True when the program changed.
bool PointerToDirect(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
