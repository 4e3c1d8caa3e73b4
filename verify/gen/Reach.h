// Long programs as the compiler writes them: a call or jump whose target lies beyond
// RCALL/RJMP reach becomes CALL/JMP.
#pragma once
#include <string>
#include <vector>

namespace korvid::verify::gen {

void FitTransfersToReach(std::vector<std::string>& lines);

}  // namespace korvid::verify::gen
