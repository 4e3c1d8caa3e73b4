// The third optimisation phase: removes labels nothing names any more, among
// them the "_CSE" labels the optimiser generates itself, and routines nothing
// calls, from their ".FUNC" to their ".ENDFUNC":
//   RJMP done / _CSE0007: / done:                       -> RJMP done / done:
//   .FUNC Blink / MAIN.Blink: / ... / RET / .ENDFUNC    -> (gone)
// Under SMARTLINK_ONLY it is the only pass that runs.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

// The phase's rules, in the order they are tried.
std::span<const TRule> RemoveUnreferencedRules();

// True when the program changed.
bool RemoveUnreferenced(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
