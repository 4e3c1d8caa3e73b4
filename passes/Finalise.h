// The closing rewrites of a run: a shift by four as a nibble swap, register
// pair moves as MOVW, and flag or move instructions their neighbours make useless.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> FinaliseRules();

// True when the program changed.
bool Finalise(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
