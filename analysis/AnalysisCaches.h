// The answers the analysis keeps between questions. The line list carries them
// for the analysis without knowing their type, so every question about the
// same program shares them; each answers for one generation of the program.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "source/LineList.h"

namespace korvid {

class TSearchCache;
class TRoutineSummaries;
class TPointerTargets;
class TStackDepths;
class TLabelIndex;

struct TAnalysisCaches {
  // Where each label stands.
  std::shared_ptr<const TLabelIndex> LabelIndex;
  // Liveness and modification answers of the path searches.
  std::shared_ptr<TSearchCache> SearchCache;
  // What each routine may do to its callers.
  std::shared_ptr<const TRoutineSummaries> RoutineSummaries;
  // Where each pointer access reaches.
  std::shared_ptr<const TPointerTargets> PointerTargets;
  // The hardware stack depth at each line.
  std::shared_ptr<const TStackDepths> StackDepths;
  // Whether code depends on where instructions land.
  struct TPositionDependence {
    std::uint64_t Generation = 0;
    int LineCount = -1;
    bool Value = false;
  } PositionDependence;
  // While frozen, every answer is for the program as it was at this generation.
  std::uint64_t FrozenGeneration = 0;
  int FreezeDepth = 0;
  // While frozen: the points (before line k) where a rewrite may have made a
  // value live that the frozen answers think dead.
  std::vector<bool> StalePoints;
  // The answers made at generation KeptFrom still hold at generation KeptTo
  // (0: none): the edits between changed nothing they depend on.
  std::uint64_t KeptFrom = 0, KeptTo = 0;
};

// Read-only questions may fill the caches, so a const program has them too.
inline TAnalysisCaches& CachesOf(const TLineList& lines) {
  if (!lines.AnalysisCaches) lines.AnalysisCaches = std::make_shared<TAnalysisCaches>();
  return *lines.AnalysisCaches;
}

// The generation the caches answer for: the program's current one, unless
// frozen, or unless the answers made for an earlier one still hold.
inline std::uint64_t AnalysisGeneration(const TLineList& lines) {
  const TAnalysisCaches* caches = lines.AnalysisCaches.get();
  if (caches == nullptr) return lines.Generation;
  if (caches->FrozenGeneration != 0) return caches->FrozenGeneration;
  return caches->KeptTo != 0 && caches->KeptTo == lines.Generation ? caches->KeptFrom : lines.Generation;
}

}  // namespace korvid
