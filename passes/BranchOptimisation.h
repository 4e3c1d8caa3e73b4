// Branch optimisation: the compiler evaluates every condition into
// a boolean register, 0 or 0FFh, and then tests it to decide a jump. The pass
// lets the flags decide the jump instead:
//   CP R20,R21 / LDI R16,0 / BRLO L / SER R16 / L: TST R16 / BREQ Z / RJMP X / Z:
//   -> CP R20,R21 / BRLO Z / RJMP X / Z:
// and folds tests of registers just cleared or set, moves a boolean kept in T
// to CLT/SET on the two paths, copies booleans without a test, drops ORI and
// COM in front of tests (under NO_BITTEST_OPT, in force from the start) and,
// when the program asks with SHORT_CIRCUIT_TESTS, evaluates the right operand
// of AND/OR only when it decides the result.
//
// Every rewrite is made only where nothing reads what it changes: the boolean
// register and the flags the removed lines wrote are dead where the decision
// leads, the label after the setter is entered by the head branches alone,
// and no line a skip may jump over is taken for a start. The pass runs once,
// before the iterations, under one frozen analysis: its rewrites only remove
// paths and reads, except the T-flag forms, which tell the analysis so.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> BranchOptimisationRules();

// True when the program changed.
bool BranchOptimisation(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
