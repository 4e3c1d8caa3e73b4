// The call and frame pass. Inside a routine the compiler saves its frame
// pointer Y on the hardware stack around code that moves Y, typically to pass
// parameters on the Y frame to a routine that takes them off again:
//   PUSH R28 / PUSH R29 / ST -Y,R16 / RCALL g / POP R29 / POP R28
//   -> ST -Y,R16 / RCALL g / ADIW R28,1          (g releases nothing)
// When the net movement of Y over the stretch is known, Y is put back by that
// amount instead, or the save goes entirely when Y comes back by itself.
#pragma once
#include <span>

#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

std::span<const TRule> CallFrameRules();

// True when the program changed.
bool CallFrame(TLineList& lines, const TAnalysis& facts);

}  // namespace korvid
