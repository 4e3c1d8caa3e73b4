#include "analysis/LabelIndex.h"

#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// A commented-out label defines nothing.
const std::string* DefinedLabel(const TLine* line) {
  if (line == nullptr || line->LabelName.empty() || line->LineType == lt::Comment) return nullptr;
  return &line->LabelName;
}

}  // namespace

TLabelIndex::TLabelIndex(const TLineList& lines) : Generation(AnalysisGeneration(lines)), LineCount(lines.Count()) {
  // All names first, so the views into them stay valid.
  std::vector<std::pair<std::size_t, int>> defined;
  for (int i = 0; i < lines.Count(); ++i) {
    if (const std::string* label = DefinedLabel(lines.Line(i))) {
      defined.emplace_back(Names.size(), i);
      Names += *label;
    }
  }
  Entries.reserve(defined.size());
  for (std::size_t k = 0; k < defined.size(); ++k) {
    const std::size_t end = k + 1 < defined.size() ? defined[k + 1].first : Names.size();
    const std::string_view name(Names.data() + defined[k].first, end - defined[k].first);
    auto [at, added] = Entries.try_emplace(name, TEntry{defined[k].second, false});
    if (!added) at->second.Ambiguous = true;
  }
}

int TLabelIndex::LineOf(std::string_view name) const {
  auto found = Entries.find(name);
  return found == Entries.end() ? -1 : found->second.Line;
}

int TLabelIndex::UniqueLineOf(std::string_view name) const {
  auto found = Entries.find(name);
  return found == Entries.end() || found->second.Ambiguous ? -1 : found->second.Line;
}

const std::shared_ptr<const TLabelIndex>& CurrentLabelIndex(const TLineList& lines) {
  auto& cached = CachesOf(lines).LabelIndex;
  if (!cached || cached->Generation != AnalysisGeneration(lines) || cached->LineCount != lines.Count())
    cached = std::make_shared<const TLabelIndex>(lines);
  return cached;
}

}  // namespace korvid
