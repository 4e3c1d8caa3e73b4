#include "analysis/PositionDependentCode.h"

#include <string>
#include <unordered_set>

#include "source/Labels.h"
#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

bool FindPositionDependentCode(const TLineList& lines) {
  std::unordered_set<std::string> codeLabels;
  for (int i = 0; i < lines.Count(); ++i)
    if (const TLine* line = lines.Line(i); line != nullptr && line->IsJoin()) codeLabels.insert(UpperCase(line->LabelName));
  for (int i = 0; i < lines.Count(); ++i) {
    const TLine* line = lines.Line(i);
    if (line == nullptr) continue;
    if (IsDirectTransferType(line->LineType)) {
      if (!IsPlainLabel(line->TargetOperand())) return true;
      continue;
    }
    const std::string& text = line->Operands;
    if (line->LineType == lt::Comment || text.find_first_of("+-") == std::string::npos) continue;
    for (std::string_view symbol : SymbolsOf(text))
      if (codeLabels.contains(UpperCase(symbol))) return true;
  }
  return false;
}

}  // namespace

bool HasPositionDependentCode(const TLineList& lines) {
  TAnalysisCaches::TPositionDependence& cached = CachesOf(lines).PositionDependence;
  if (cached.Generation != AnalysisGeneration(lines) || cached.LineCount != lines.Count())
    cached = {AnalysisGeneration(lines), lines.Count(), FindPositionDependentCode(lines)};
  return cached.Value;
}

}  // namespace korvid
