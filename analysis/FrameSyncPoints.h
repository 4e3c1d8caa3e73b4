// The frame state a walk through a stretch of code carries to each label: a
// pass that follows how far Y has moved and whether Z holds a copy of it must
// see the same state on every path into a label, or it cannot rewrite the
// code after it. Each label keeps the first state that reached it, by a jump
// or by falling in; every later arrival must bring the same one.
//   BREQ Lb (copy in Z) / LDI R30,.. / LDI R31,.. / RJMP Lb   -> the states at Lb differ
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>

#include "analysis/PointerRegisters.h"

namespace korvid {

// What a walk knows at one point of a loop whose copy of Y it drops.
struct TFrameState {
  // The hardware stack depth and Y's movement are known: no call of unknown effect since.
  bool DepthKnown = true;
  // Bytes Y is below the frame address the copy held (pushed in the loop).
  int Extra = 0;
  // Bytes of the copy still on the Y frame in the code as written: 2, or 0 once released.
  int Removed = 2;
  // Registers pushed since the loop's head, and whether Z holds the copy.
  tZStack ZStack;

  bool operator==(const TFrameState& other) const = default;
};

class TFrameSyncPoints {
 public:
  // A jump to `label` carries `state`. False when the label holds another state.
  bool Store(std::string_view label, const TFrameState& state);
  // The walk arrives at `label`. After an unconditional transfer the state is
  // the one a jump stored, or the one the walk has is taken as the label's;
  // falling in, the state must match what jumps stored. False on a mismatch.
  bool Arrive(std::string_view label, TFrameState& state, bool flowEnded);
  // Whether every label a jump stored a state for was arrived at: no jump
  // left the stretch walked.
  bool AllArrived() const;

 private:
  struct TPoint {
    TFrameState State;
    bool Arrived = false;
  };
  std::unordered_map<std::string, TPoint> Points;
};

}  // namespace korvid
