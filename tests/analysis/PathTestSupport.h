// Small helpers shared by the path search tests.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

#include "analysis/CallEffects.h"
#include "source/LineList.h"

namespace korvid::testing {

// Gives the RET on line `index` a known return size returning these registers,
// as the routine table will.
inline void SetKnownReturn(TLineList& lines, int index, std::initializer_list<int> registers) {
  TLine& line = *lines.Line(index);
  line.RetHasValue = true;
  // Outside a routine the analysis lets a RET hand back everything; the test says what.
  std::vector<TVarUsage> kept = line.Usages.Items();
  line.Usages.Clear();
  for (const TVarUsage& usage : kept)
    if (!tVarList::IsRegister(*usage.Var)) line.Usages.Add(usage.Var, usage.Usage);
  for (int r : registers) line.Usages.Add(lines.RegisterVar[r], uRead);
  ++lines.Generation;
}

// Every RET of the program returns these registers.
inline void SetKnownReturns(TLineList& lines, std::initializer_list<int> registers) {
  for (int i = 0; i < lines.Count(); ++i)
    if (lines.Line(i)->LineType == lt::RET) SetKnownReturn(lines, i, registers);
}

// The index of the first line whose text contains `marker`.
inline int LineOf(const TLineList& lines, const std::string& marker) {
  for (int i = 0; i < lines.Count(); ++i)
    if (lines.Text(i).find(marker) != std::string::npos) return i;
  return -1;
}

}  // namespace korvid::testing
