// How far code moves the compiler's frame pointer Y (R28:R29), counted as the
// bytes it pushes onto the Y frame: SBIW R28,2 and ST -Y push, ADIW R28,2 and
// LD Y+ release. A routine's frame effect is that count from its entry to its
// returns, the same on every path; its pop reach says whether it pops bytes
// its caller pushed. Both are worked out once per routine and kept for the
// evaluator's life, so a pass asks as often as it likes.
//   f: ST -Y,R16 / ST -Y,R17 / RCALL g / RET     with g: ADIW R28,2 / RET
//   -> f's effect is 0, g's is -2, and neither pops what its caller pushed.
#pragma once
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace korvid {

class TAnalysis;
class TLineList;

class TFrameEffects {
 public:
  explicit TFrameEffects(const TAnalysis& facts);

  // The bytes line k pushes onto the Y frame: 0 for a line that leaves Y
  // alone, none when it changes Y by an amount not known. A call counts what
  // its routine does; an indirect call is not known, as its routine may take
  // parameters off the Y frame.
  std::optional<int> Step(int k);
  // The frame effect of the routine a direct call on line k enters; none when
  // it is not known, differs between paths or the routine cannot be followed.
  std::optional<int> OfCall(int k);
  // Whether the routine a call on line k enters may pop more than it pushed
  // on some path (and so read or drop its caller's bytes), or leave bytes
  // pushed; true when that is not known.
  bool PopsCallersBytes(int k);

 private:
  struct TRoutineFrame {
    std::optional<int> Net;
    bool Balanced = false;
  };
  const TRoutineFrame& Evaluate(int entry);
  TRoutineFrame Walk(int entry);
  // Steps of one line other than calls; the second line of a SUBI/SBCI or
  // SUB/SBC pair moves nothing, the first counts both.
  std::optional<int> OwnStep(int k) const;
  std::optional<int> PairedStep(int k) const;
  bool SecondOfPair(int k) const;

  const TAnalysis& Facts;
  TLineList& Lines;
  std::unordered_map<int, TRoutineFrame> Routines;
  std::unordered_map<int, bool> InProgress;
};

}  // namespace korvid
