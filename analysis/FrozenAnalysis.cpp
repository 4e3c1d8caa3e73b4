#include "analysis/FrozenAnalysis.h"

#include "analysis/CallEffects.h"
#include "analysis/PointerTargets.h"
#include "analysis/SearchCache.h"
#include "source/LineList.h"

namespace korvid {

TFrozenAnalysis::TFrozenAnalysis(TLineList& lines) : Lines(lines) {
  CurrentRoutineSummaries(lines);
  CurrentSearchCache(lines);
  CurrentPointerTargets(lines);
  lines.FrozenGeneration = lines.Generation;
}

TFrozenAnalysis::~TFrozenAnalysis() { Lines.FrozenGeneration = 0; }

}  // namespace korvid
