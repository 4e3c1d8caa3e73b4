// The first optimisation phase: one walk over the whole program that removes
//   instructions whose results nobody reads   LDI R16,5 / LDI R16,7 / STS v,R16  -> LDI R16,7 / STS v,R16
//   loads of a value the register holds       STS v,R16 / LDS R16,v                -> STS v,R16
//   stores overwritten before any read        STS v,R16 / STS v,R17                -> STS v,R17
//   code no path reaches                      RJMP a / INC R16 / a:                 -> RJMP a / a:
// and makes JMP an RJMP where it reaches (or drops it before its own target).
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

// The phase's rules, in the order they are tried.
std::span<const TRule> RemoveRedundantRules();

// True when the program changed.
bool RemoveRedundant(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
