// Interrupt handlers that save for themselves only what they write, entered
// by the vector instead of through a stub that saves every register.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> InterruptRegsRules();

// True when the program changed.
bool InterruptRegisterSaving(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
