// The common exit step, run once when the iterations first settle. Paths that
// go on at the same label (by a jump, or by falling into it) often end with
// the same instructions: one copy of each shared tail stays, labelled, and
// the other paths jump to it in place of their own copy:
//   LDI R16,1 / STS flag,R16 / RJMP L9 / ... / LDI R16,1 / STS flag,R16 / L9:
//   ->  RJMP _CSE0001 / ... / _CSE0001: / LDI R16,1 / STS flag,R16 / L9:
// It starts with the PUSH/POP pairs around code that needs neither.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> CommonExitRules();

// True when the program changed.
bool CommonExit(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
