// What every fuzz input goes through, shared with the regression test of the
// saved reproducers: load (with the analysis), Optimise and save. A clean
// rejection of the program is a KorvidError; anything else escaping is a fault.
#pragma once
#include <string>

#include "passes/Driver.h"
#include "source/Errors.h"
#include "source/LineList.h"

namespace korvid::fuzz {

inline void OptimiseText(const std::string& text) {
  // Two parse threads keep the pool in play without paying for eight thread starts per input.
  TLineList lines(2);
  try {
    lines.LoadFromText(text, "fuzz.asm");
    Optimise(lines, ".");
    (void)lines.SaveToText();
  } catch (const KorvidError&) {
  }
}

}  // namespace korvid::fuzz
