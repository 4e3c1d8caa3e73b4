// Tests single bits with the skip instructions instead of a call or a mask:
//   LDI _ACCA,3 / RCALL SYSTEM.TestBit8
//   -> LD _ACCB,X / SER _ACCA / SBRS _ACCB,3 / CLR _ACCA
//   ANDI R24,8 / BREQ L1 / RCALL P / L1:
//   -> SBRC R24,3 / RCALL P / L1:
// The TestBit8 inline runs once, before the iterations. It grows the code and
// does only what the routine promises, so it is made only where _ACCB, the
// flags and whatever else the routine writes are dead after the call. The
// ANDI rules belong to the peephole pass, and NO_BITTEST_OPT, in force from
// the start, switches them off unless a run asks for them.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> TestBit8Rules();
std::span<const TRule> AndiBitTestRules();

// True when the program changed.
bool InlineTestBit8(TLineList& lines, const TAnalysis& facts);
// Tries the ANDI rules on every ANDI; true when the program changed.
bool OptimiseAndiBitTests(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
