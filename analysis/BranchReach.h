// Whether a branch, jump or call at a line still reaches its label. Distances
// are bytes between the two lines; code between ".PHASE" and ".DEPHASE" runs
// elsewhere and does not count.
#pragma once
#include <string_view>

namespace korvid {

class TLineList;

// Conditional branches: less than 126 bytes either way.
bool ShortBranchReach(const TLineList& lines, int index, std::string_view label, int& distance);
// RJMP and RCALL: less than 4080 bytes either way.
bool LongBranchReach(const TLineList& lines, int index, std::string_view label, int& distance);

}  // namespace korvid
