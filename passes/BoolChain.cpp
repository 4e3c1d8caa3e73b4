// The boolean chains of the frame load pass. The compiler tests a boolean
// (0 or 255) with CPI and then branches on the carry:
//   CPI R24,0 / BRLO L1                        ->  CPI R24,0
//   CPI R24,0FFh / BREQ L2 / BRLO L3           ->  CPI R24,0FFh / BREQ L2 / RJMP L3
// After CPI R,0 the carry is clear; after CPI R,255 it is set exactly when Z
// is clear, and a BREQ or BRNE that falls through tells Z. A chain of such
// compares, each joined by BREQ/BRNE to a label only the chain enters, keeps
// the same at its end:
//   CPI R24,0 / BRNE T / CPI R25,0 / T: BRLO L1  ->  ... / T:
#include <optional>

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "passes/FrameLoadsWalk.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

bool IsZeroBranch(TLineType type) { return type == lt::BREQ || type == lt::BRNE; }

// Taken when the carry is set (true) or clear (false); none for other lines.
std::optional<bool> CarryCondition(TLineType type) {
  if (type == lt::BRLO || type == lt::BRCS) return true;
  if (type == lt::BRSH || type == lt::BRCC) return false;
  return std::nullopt;
}

std::optional<std::int64_t> BooleanCompare(const TLine& line) {
  if (line.LineType != lt::CPI || !line.ValueKnown) return std::nullopt;
  const std::int64_t value = line.Value & 0xFF;
  if (value != 0 && value != 0xFF) return std::nullopt;
  return value;
}

}  // namespace

int TFrameLoadWalk::ChainLabel(int branch, int compare) const {
  const std::string_view name = Trim(Lines.Line(branch)->Op1);
  const int t = NextLine(compare);
  if (t < 0 || !Lines.Line(t)->IsJoin() || !EqualsNoCase(Lines.Line(t)->LabelName, name)) return -1;
  const TASMLabel* label = Lines.Labels.Find(name);
  if (label == nullptr || label->RefCount != 1 || TLineList::IsSystemLabel(name)) return -1;
  const TPredecessors into = Facts.Predecessors(t);
  if (into.Entered) return -1;
  for (int from : into.Lines)
    if (from < branch || from >= t) return -1;
  return t;
}

bool TFrameLoadWalk::BoolChain(int i, TEditBatch& batch) const {
  const std::optional<std::int64_t> value = BooleanCompare(*Lines.Line(i));
  if (!value || Facts.MayBeSkipped(i)) return false;
  const bool inverted = *value == 0xFF;
  // Z where the tail starts, when a branch that fell through fixed it.
  std::optional<bool> zero;
  int start = -1;  // the first line of the tail
  int join = -1;   // the chain label, when it is on the line the tail starts with
  for (int b = Facts.AdjacentInstruction(i, 1);;) {
    if (b < 0 || (Lines.Line(b)->IsJoin() && b != join)) return false;
    const TLine& line = *Lines.Line(b);
    if (!IsZeroBranch(line.LineType)) {
      if (CarryCondition(line.LineType)) {
        start = b;
      } else {
        // A line that leaves the flags and the path as they were may stand first.
        const bool keepsFlags = (Facts.Writes(b) & FlagBits(sreg::C | sreg::Z)) == 0;
        if (!keepsFlags || line.UnknownEffect || line.IsTransfer() || line.IsSkip()) return false;
        start = Facts.AdjacentInstruction(b, 1);
      }
      break;
    }
    const int c = Facts.AdjacentInstruction(b, 1);
    const std::optional<std::int64_t> next = c >= 0 ? BooleanCompare(*Lines.Line(c)) : std::nullopt;
    if (!next || Lines.Line(c)->IsJoin()) {
      zero = line.LineType == lt::BRNE;
      start = c;
      break;
    }
    const int t = *next == *value && !Facts.MayBeSkipped(c) ? ChainLabel(b, c) : -1;
    if (t < 0) return false;
    join = Lines.Line(t)->IsLabelLine() ? -1 : t;
    b = join >= 0 ? t : Facts.AdjacentInstruction(t, 1);
  }
  bool staged = false;
  for (int k = start; k >= 0; k = Facts.AdjacentInstruction(k, 1)) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin() && k != join) break;
    if (IsZeroBranch(line.LineType)) {
      const bool takenOnZero = line.LineType == lt::BREQ;
      if (zero && *zero == takenOnZero) break;  // always taken
      zero = !takenOnZero;
      continue;
    }
    const std::optional<bool> onCarry = CarryCondition(line.LineType);
    const std::optional<bool> carry = !inverted ? std::optional(false) : zero ? std::optional(!*zero) : std::nullopt;
    if (!onCarry || !carry) break;
    batch.ChangeBranchNote(k);
    staged = true;
    if (*onCarry == *carry) {
      batch.Replace(k, lt::RJMP, "RJMP", line.Op1);
      break;
    }
    batch.Remove(k);
  }
  return staged;
}

}  // namespace korvid
