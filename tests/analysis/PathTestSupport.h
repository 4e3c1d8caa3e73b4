// Small helpers shared by the path search tests.
#pragma once
#include <string>

#include "source/LineList.h"

namespace korvid::testing {

// The program as the body of a routine with the return size `returns` (no
// return size directive when empty), called once by code that reads nothing
// afterwards: its RETs hand back the return registers and the frame pointer.
// The body starts at line kRoutineBodyLine.
inline constexpr int kRoutineBodyLine = 3;
inline std::string AsCalledRoutine(const std::string& body, const std::string& returns = "1") {
  std::string head = ".FUNC shape\n" + (returns.empty() ? std::string(";\n") : ".RETURNS " + returns + "\n") + "shape:\n";
  return head + body + ".ENDFUNC\n.FUNC caller\ncaller:\n RCALL shape\nstop: RJMP stop\n.ENDFUNC\n";
}

// The index of the first line whose text contains `marker`.
inline int LineOf(const TLineList& lines, const std::string& marker) {
  for (int i = 0; i < lines.Count(); ++i)
    if (lines.Text(i).find(marker) != std::string::npos) return i;
  return -1;
}

}  // namespace korvid::testing
