// Phase 4, the frame loads. The compiler keeps locals in the Y frame and
// stores a register to its slot only to load it back shortly after; it copies
// Y into a pointer to reach a slot, and tests booleans (0 or 255) with chains
// of compares:
//   STD Y+3,R24 / ... / LDD R25,Y+3          ->  STD Y+3,R24 / ... / MOV R25,R24
//   STD Y+3,R24 / ... / STD Y+3,R25          ->  ... / STD Y+3,R25
//   MOVW R30,R28 / ADIW R30,2 / LD R16,Z     ->  LDD R16,Y+002h
//   CPI R24,0 / BRLO L1                      ->  CPI R24,0
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> FrameLoadRules();

// True when the program changed.
bool FrameLoads(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
