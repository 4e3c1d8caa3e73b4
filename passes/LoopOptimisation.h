// The loop pass. At the head of a loop the compiler copies the frame address
// into Z and pushes that copy onto the Y frame, so that the body reaches the
// frame through Z. The pass drops the copy and reaches the frame through Y:
//   .LOOP / MOVW R30,R28 / ST -Y,R31 / ST -Y,R30 / top: LDD R16,Z+1 / LDD R17,Y+4 /
//   ... / BRNE top / ADIW R28,2 / .ENDLOOP
//   -> .LOOP / top: LDD R16,Y+001h / LDD R17,Y+002h / ... / BRNE top / .ENDLOOP
// Accesses through Z while it holds the copy are rebased onto Y; displacements
// from Y past the copy, copies of Y and the release of the copy lose its two
// bytes. A loop whose code the walk cannot follow stays as it was; the shapes
// the compiler should never write stop the optimisation with a numbered
// message. All edits of a loop are made together once its walk completes.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> LoopOptimisationRules();

// True when the program changed.
bool LoopOptimisation(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
