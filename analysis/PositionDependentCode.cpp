#include "analysis/PositionDependentCode.h"

#include "analysis/AnalysisCaches.h"
#include "analysis/LabelIndex.h"
#include "source/Labels.h"
#include "source/LineList.h"

namespace korvid {

namespace {

bool FindPositionDependentCode(const TLineList& lines) {
  const TLabelIndex& labels = *CurrentLabelIndex(lines);
  // A name defined twice may name code through its second definition.
  auto namesCode = [&](std::string_view symbol) {
    const int at = labels.LineOf(symbol);
    if (at < 0) return false;
    const TLine* line = lines.Line(at);
    return labels.UniqueLineOf(symbol) < 0 || line == nullptr || line->IsJoin();
  };
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
      if (namesCode(symbol)) return true;
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
