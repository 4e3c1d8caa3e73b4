// The closing pointer rewrites: moves of Z after a load from the Y frame
// folded into the displacements of the accesses that follow, and reloads of Z
// from the same slots dropped once nothing moves it any more.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> PointerOptimisationRules();

// True when the program changed.
bool PointerOptimisation(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
