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
};

// Read-only questions may fill the caches, so a const program has them too.
inline TAnalysisCaches& CachesOf(const TLineList& lines) {
  if (!lines.AnalysisCaches) lines.AnalysisCaches = std::make_shared<TAnalysisCaches>();
  return *lines.AnalysisCaches;
}

// The generation the caches answer for: the program's current one, unless frozen.
inline std::uint64_t AnalysisGeneration(const TLineList& lines) {
  const std::uint64_t frozen = lines.AnalysisCaches ? lines.AnalysisCaches->FrozenGeneration : 0;
  return frozen != 0 ? frozen : lines.Generation;
}

}  // namespace korvid
