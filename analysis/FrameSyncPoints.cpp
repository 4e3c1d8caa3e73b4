#include "analysis/FrameSyncPoints.h"

#include "source/Text.h"

namespace korvid {

bool TFrameSyncPoints::Store(std::string_view label, const TFrameState& state) {
  auto [point, fresh] = Points.try_emplace(UpperCase(label), TPoint{state});
  return fresh || point->second.State == state;
}

bool TFrameSyncPoints::Arrive(std::string_view label, TFrameState& state, bool flowEnded) {
  auto [point, fresh] = Points.try_emplace(UpperCase(label), TPoint{state});
  point->second.Arrived = true;
  if (fresh) return true;
  if (flowEnded) {
    state = point->second.State;
    return true;
  }
  return point->second.State == state;
}

bool TFrameSyncPoints::AllArrived() const {
  for (const auto& [label, point] : Points)
    if (!point.Arrived) return false;
  return true;
}

}  // namespace korvid
