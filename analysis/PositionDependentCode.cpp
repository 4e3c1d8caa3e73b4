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
  // The names in address arithmetic ("lab+2"), then whether one labels code.
  std::unordered_set<std::string_view, TNoCaseHash, TNoCaseEqual> reckoned;
  for (int i = 0; i < lines.Count(); ++i) {
    const TLine* line = lines.Line(i);
    if (line == nullptr) continue;
    if (IsDirectTransferType(line->LineType)) {
      if (!IsPlainLabel(line->TargetOperand())) return true;
      continue;
    }
    const std::string& text = line->Operands;
    if (line->LineType == lt::Comment || text.find_first_of("+-") == std::string::npos) continue;
    for (std::string_view symbol : SymbolsOf(text)) reckoned.insert(symbol);
  }
  for (int i = 0; i < lines.Count() && !reckoned.empty(); ++i)
    if (const TLine* line = lines.Line(i); line != nullptr && line->IsJoin() && reckoned.contains(line->LabelName))
      return true;
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
