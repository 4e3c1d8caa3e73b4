// The peephole pass: small local rewrites chosen by the line's instruction.
//   ADIW R24,3 / ADIW R24,5          ->  ADIW R24,0008h   (carry and sign dead)
//   STS v,R16 / LDS R17,v            ->  STS v,R16 / MOV R17,R16
//   BREQ L1 / RJMP L2 / L1:          ->  BRNE L2 / L1:
//   SBRC R16,2 / RJMP L1 / RJMP L2 / L1:  ->  SBRS R16,2 / RJMP L2 / L1:
// and the address folding, direct accesses, bit tests and copy eliminations,
// each a walk of its own, after the pass's own walk.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> PeepholeRules();
// The rules of the walk that inline calls of small routines.
std::span<const TRule> InliningRules();

// True when the program changed.
bool PeepholePass(TLineList& lines, const TAnalysis& facts);
// Only the removal of PUSH/POP pairs around code that needs neither: the
// common exit step starts with it.
bool RemovePushPopPairs(const TAnalysis& facts);

}  // namespace korvid
