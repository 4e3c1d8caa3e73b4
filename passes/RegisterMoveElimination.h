// Removes register copies by letting the neighbouring instructions use the
// other register directly:
//   LDS R24,v / SUBI R24,3 / MOV R16,R24     ->  LDS R16,v / SUBI R16,3
//   MOV R24,R16 / ST X+,R24                  ->  ST X+,R16
//   MOV R24,R16 / MOV R25,R17 / MOVW R20,R24 ->  MOVW R20,R16
//   LDS R24,v / LDS R25,v+1 / MOVW R16,R24   ->  LDS R16,v / LDS R17,v+1
// These rules belong to the peephole pass; until it exists, the driver runs
// them as part of the second phase.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> RegisterMoveEliminationRules();

// True when the program changed.
bool EliminateRegisterMoves(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
