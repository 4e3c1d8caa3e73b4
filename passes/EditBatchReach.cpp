// Whether the transfers across a batch's edits still reach their labels, from
// the addresses the lines will have once the batch is made, and the repair of
// a conditional branch that no longer does.
#include <algorithm>

#include "analysis/Analysis.h"
#include "analysis/BranchReach.h"
#include "passes/EditBatch.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

// Beyond this many bytes from an edit no RJMP or branch can have reached across it.
constexpr int kReachWindow = 4200;

bool BreaksAddresses(TLineType type) {
  return type == lt::ORG || type == lt::PHASE || type == lt::DEPHASE || type == lt::ENDCODE;
}

bool HasReachLimit(TLineType type) { return IsBranchType(type) || type == lt::RJMP || type == lt::RCALL; }

bool BitFirst(TLineType type) { return type == lt::BRBS || type == lt::BRBC; }

// Bytes from the instruction after the transfer to its target, in the words its offset field holds:
// seven bits for branches, twelve for RJMP and RCALL.
bool OffsetFits(const TLineList& lines, TLineType type, int bytes) {
  if (!IsBranchType(type) && lines.Run.InjectedFaults.LongBranchesAlwaysReach) return true;
  const int words = bytes / 2;
  return IsBranchType(type) ? words >= -64 && words <= 63 : words >= -2048 && words <= 2047;
}

}  // namespace

int TEditBatch::Shift(int line) const {
  int shift = 0;
  for (const TEdit& edit : Edits) {
    if (edit.Inserts() ? edit.Line <= line : edit.Line < line) shift += edit.Delta;
  }
  return shift;
}

// Shrinking edits only bring labels nearer; a transfer the batch writes must
// reach as the lines stand now, a label the batch puts in standing where the
// line after it stands.
bool TEditBatch::ReplacedTransfersReach() const {
  for (const TEdit& edit : Edits) {
    if (edit.Kind != TKind::Replace || !HasReachLimit(edit.Type)) continue;
    std::string_view target = Trim(BitFirst(edit.Type) ? edit.Op2 : edit.Op1);
    const auto staged = std::find_if(Edits.begin(), Edits.end(), [&](const TEdit& label) {
      return label.Labels() && EqualsNoCase(label.Op1, target);
    });
    const int x = staged != Edits.end() ? staged->Line : IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
    if (x < 0) return false;
    // Forward: the lines between the two; backward: the target's line up to the transfer, and the transfer.
    const bool forward = x > edit.Line;
    int distance = forward ? 0 : 2;
    for (int k = forward ? edit.Line + 1 : x; k < (forward ? x : edit.Line); ++k) {
      if (BreaksAddresses(Lines.Line(k)->LineType)) return false;
      distance += Lines.Line(k)->Size;
      if (distance > kReachWindow) break;  // out of reach already
    }
    if (!OffsetFits(Lines, edit.Type, forward ? distance : -distance)) return false;
  }
  return true;
}

std::optional<std::vector<int>> TEditBatch::BranchesOutOfReach() const {
  const bool grows = std::any_of(Edits.begin(), Edits.end(), [](const TEdit& edit) { return edit.Delta > 0; });
  if (!grows) return ReplacedTransfersReach() ? std::optional(std::vector<int>{}) : std::nullopt;
  if (Facts.HasPositionDependentCode()) return std::nullopt;
  int first = Lines.Count(), last = 0;
  for (const TEdit& edit : Edits) {
    first = std::min(first, edit.Line);
    last = std::max(last, std::min(edit.Line, Lines.Count() - 1));
  }
  int lo = first, hi = last;
  for (int bytes = 0; lo > 0 && bytes < kReachWindow;) bytes += Lines.Line(--lo)->Size;
  for (int bytes = 0; hi + 1 < Lines.Count() && bytes < kReachWindow;) bytes += Lines.Line(++hi)->Size;
  std::vector<int> address(static_cast<std::size_t>(hi - lo + 2), 0);
  for (int k = lo; k <= hi; ++k) {
    if (BreaksAddresses(Lines.Line(k)->LineType)) return std::nullopt;
    address[static_cast<std::size_t>(k - lo + 1)] = address[static_cast<std::size_t>(k - lo)] + Lines.Line(k)->Size;
  }
  auto newAddress = [&](int k) { return address[static_cast<std::size_t>(k - lo)] + Shift(k); };
  // Where the staged insertion i ends: after what the batch puts before it.
  auto insertEnd = [&](std::size_t i) {
    const TEdit& insert = Edits[i];
    int at = address[static_cast<std::size_t>(insert.Line - lo)];
    for (std::size_t j = 0; j < Edits.size(); ++j) {
      const TEdit& edit = Edits[j];
      if (edit.Line < insert.Line || (edit.Inserts() && edit.Line == insert.Line && j <= i)) at += edit.Delta;
    }
    return at;
  };
  // The label's address once the batch is made; none when unknown or beyond the window.
  auto labelAddress = [&](std::string_view name) -> std::optional<int> {
    int x = IsPlainLabel(name) ? -2 : -1;
    for (std::size_t i = 0; i < Edits.size(); ++i) {
      if (!Edits[i].Labels() || !EqualsNoCase(Edits[i].Op1, name)) continue;
      if (Edits[i].Kind == TKind::InsertLabel) return insertEnd(i);
      x = Edits[i].Line;
    }
    if (x == -2) x = FindLabelLine(Lines, name);
    if (x < lo || x > hi) return std::nullopt;
    return newAddress(x);
  };

  std::vector<int> lost;
  for (int t = lo; t <= hi; ++t) {
    TLineType type = Lines.Line(t)->LineType;
    std::string_view target = Trim(Lines.Line(t)->TargetOperand());
    int size = Lines.Line(t)->Size;
    bool removed = false;
    for (const TEdit& edit : Edits) {
      if (edit.Line != t || (edit.Kind != TKind::Replace && edit.Kind != TKind::Remove)) continue;
      removed = edit.Kind == TKind::Remove;
      type = edit.Type;
      target = Trim(BitFirst(edit.Type) ? edit.Op2 : edit.Op1);
      size += edit.Delta;
    }
    if (removed || !HasReachLimit(type)) continue;
    const bool edited = EditsLine(t);
    const int x = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
    // The same distance as before: whatever the edits are, none changes it.
    if (x >= 0 && !edited && Shift(x) == Shift(t)) continue;
    std::optional<int> to = labelAddress(target);
    if (!to) {
      // Beyond the window: either no edit lies between, or the transfer never reached.
      if (x < 0 || edited || (x < lo ? first <= t : last > t)) return std::nullopt;
      continue;
    }
    if (OffsetFits(Lines, type, *to - (newAddress(t) + size))) continue;
    if (edited || !IsBranchType(type)) return std::nullopt;
    lost.push_back(t);
  }
  for (std::size_t i = 0; i < Edits.size(); ++i) {
    const TEdit& insert = Edits[i];
    if (insert.Kind != TKind::Insert || !HasReachLimit(insert.Type)) continue;
    std::optional<int> to = labelAddress(Trim(BitFirst(insert.Type) ? insert.Op2 : insert.Op1));
    if (!to || !OffsetFits(Lines, insert.Type, *to - insertEnd(i))) return std::nullopt;
  }
  return lost;
}

// The branch jumps on the opposite condition over a jump to its label. It must
// not stand in a skip's shadow, where it has to stay one instruction, and
// nothing else may be put right after it.
bool TEditBatch::StageReachRepairs(const std::vector<int>& branches) {
  for (int t : branches) {
    const TLine& branch = *Lines.Line(t);
    const TLineType opposite = IsBranchType(branch.LineType) ? ReverseLineType(branch.LineType) : lt::Unknown;
    if (opposite == lt::Unknown || t + 1 >= Lines.Count() || InsertsBefore(t + 1) || Facts.IsInSkipShadow(t) ||
        !Lines.MayChange(t) || !Lines.MayChange(t + 1))
      return false;
    const std::string target(Trim(branch.TargetOperand()));
    int distance = 0;
    const bool near = LongBranchReach(Lines, t, target, distance);
    if (!near && !Facts.Device().JmpCall) return false;
    const std::string label = FreshLabel(t);
    const std::string_view mnemonic = ReverseMnemonic(branch.LineType);
    if (BitFirst(branch.LineType))
      Replace(t, opposite, mnemonic, branch.Op1, label);
    else
      Replace(t, opposite, mnemonic, label);
    InsertBefore(t + 1, near ? lt::RJMP : lt::JMP, near ? "RJMP" : "JMP", target);
    InsertLabelBefore(t + 1, label);
  }
  return true;
}

std::string TEditBatch::FreshLabel(int line) const {
  const std::string stem = "reach." + std::to_string(Lines.Line(line)->LineIndex) + ".";
  for (int n = 0;; ++n) {
    std::string name = stem + std::to_string(n);
    const bool staged = std::any_of(Edits.begin(), Edits.end(), [&](const TEdit& edit) {
      return edit.Labels() && EqualsNoCase(edit.Op1, name);
    });
    if (!staged && Lines.Labels.Find(name) == nullptr) return name;
  }
}

}  // namespace korvid
