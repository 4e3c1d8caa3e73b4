#include "passes/EditBatch.h"

#include <algorithm>

#include "analysis/Analysis.h"
#include "passes/Rule.h"
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

// Bytes from the instruction after the transfer to its target, in the words its offset field holds:
// seven bits for branches, twelve for RJMP and RCALL.
bool OffsetFits(const TLineList& lines, TLineType type, int bytes) {
  if (!IsBranchType(type) && lines.Run.InjectedFaults.LongBranchesAlwaysReach) return true;
  const int words = bytes / 2;
  return IsBranchType(type) ? words >= -64 && words <= 63 : words >= -2048 && words <= 2047;
}

}  // namespace

TEditBatch::TEditBatch(const TAnalysis& facts, const TRule& rule) : Facts(facts), Lines(facts.Lines()), Rule(rule) {}

void TEditBatch::Remove(int line) { Edits.push_back({TKind::Remove, line, 0, {}, {}, {}, -Lines.Line(line)->Size}); }

void TEditBatch::Replace(int line, TLineType type, std::string_view mnemonic, std::string_view op1,
                         std::string_view op2) {
  const int size = TAnalysis::InstructionSize(type);
  if (size == 0) Refused = true;
  Edits.push_back({TKind::Replace, line, type, std::string(mnemonic), std::string(op1), std::string(op2),
                   size - Lines.Line(line)->Size});
}

void TEditBatch::InsertBefore(int line, TLineType type, std::string_view mnemonic, std::string_view op1,
                              std::string_view op2) {
  const int size = TAnalysis::InstructionSize(type);
  if (size == 0) Refused = true;
  Edits.push_back({TKind::Insert, line, type, std::string(mnemonic), std::string(op1), std::string(op2), size});
}

bool TEditBatch::Apply() {
  if (Refused || Edits.empty() || !MayChangeAll() || !AllEncodable() || !KeepsSkipShadows() ||
      !TransfersStillReach())
    return false;
  const std::int32_t sizeBefore = Lines.CodeSize;
  Lines.Pass.Rule = Rule.Name;
  Make();
  Lines.Pass.Rule = {};
  TRuleCount& count = Lines.Pass.RuleCounts[std::string(Rule.Name)];
  ++count.Fired;
  count.BytesSaved += sizeBefore - Lines.CodeSize;
  return true;
}

bool TEditBatch::MayChangeAll() const {
  return std::all_of(Edits.begin(), Edits.end(), [this](const TEdit& edit) {
    if (edit.Kind == TKind::Insert && edit.Line >= Lines.Count()) return true;
    if (edit.Kind == TKind::Remove && !Lines.CanRemove(edit.Line)) return false;
    return Lines.MayChange(edit.Line);
  });
}

bool TEditBatch::AllEncodable() const {
  return std::all_of(Edits.begin(), Edits.end(), [this](const TEdit& edit) {
    return edit.Kind == TKind::Remove || Facts.EncodingFault(edit.Type, edit.Op1, edit.Op2).empty();
  });
}

bool TEditBatch::EditsLine(int line) const {
  return std::any_of(Edits.begin(), Edits.end(),
                     [line](const TEdit& edit) { return edit.Kind != TKind::Insert && edit.Line == line; });
}

// A skip jumps over exactly the next instruction, one or two words: that
// instruction may become another one, but not go, nor get one put before it.
bool TEditBatch::KeepsSkipShadows() const {
  for (const TEdit& edit : Edits) {
    if (edit.Kind == TKind::Replace || edit.Line >= Lines.Count()) continue;
    const bool movesShadow = edit.Kind == TKind::Insert ? edit.Delta != 0 : Lines.Line(edit.Line)->Size != 0;
    if (movesShadow && Facts.IsInSkipShadow(edit.Line) && !EditsLine(Facts.PreviousCodeLine(edit.Line)))
      return false;
  }
  return true;
}

int TEditBatch::Shift(int line) const {
  int shift = 0;
  for (const TEdit& edit : Edits)
    if (edit.Kind == TKind::Insert ? edit.Line <= line : edit.Line < line) shift += edit.Delta;
  return shift;
}

bool TEditBatch::TransfersStillReach() const {
  const bool grows = std::any_of(Edits.begin(), Edits.end(), [](const TEdit& edit) { return edit.Delta > 0; });
  if (!grows) {
    // Distances only shrink; a transfer the batch writes must reach as the lines stand now.
    for (const TEdit& edit : Edits) {
      if (edit.Kind == TKind::Remove || !HasReachLimit(edit.Type)) continue;
      if (edit.Kind == TKind::Insert || edit.Type == lt::BRBS || edit.Type == lt::BRBC) return false;
      std::string_view target = Trim(edit.Op1);
      if (!IsPlainLabel(target)) return false;
      const int x = FindLabelLine(Lines, target);
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
  if (Facts.HasPositionDependentCode()) return false;
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
    if (BreaksAddresses(Lines.Line(k)->LineType)) return false;
    address[static_cast<std::size_t>(k - lo + 1)] = address[static_cast<std::size_t>(k - lo)] + Lines.Line(k)->Size;
  }
  auto newAddress = [&](int k) { return address[static_cast<std::size_t>(k - lo)] + Shift(k); };
  // Whether a transfer whose next instruction lands at `after` still reaches its label.
  auto reaches = [&](TLineType type, std::string_view target, int after) {
    if (!IsPlainLabel(target)) return false;
    const int x = FindLabelLine(Lines, target);
    return x >= lo && x <= hi && OffsetFits(Lines, type, newAddress(x) - after);
  };
  for (int t = lo; t <= hi; ++t) {
    TLineType type = Lines.Line(t)->LineType;
    std::string_view target = Trim(Lines.Line(t)->TargetOperand());
    int size = Lines.Line(t)->Size;
    bool removed = false;
    for (const TEdit& edit : Edits) {
      if (edit.Line != t || edit.Kind == TKind::Insert) continue;
      removed = edit.Kind == TKind::Remove;
      type = edit.Type;
      target = Trim(edit.Type == lt::BRBS || edit.Type == lt::BRBC ? edit.Op2 : edit.Op1);
      size += edit.Delta;
    }
    if (removed || !HasReachLimit(type)) continue;
    const int x = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
    if (x < 0) return false;
    if (x < lo || x > hi) {
      // Beyond the window: either no edit lies between, or the transfer never reached.
      if (EditsLine(t) || (x < lo ? first <= t : last > t)) return false;
      continue;
    }
    if (Shift(x) == Shift(t) && !EditsLine(t)) continue;
    if (!reaches(type, target, newAddress(t) + size)) return false;
  }
  // Inserted transfers: each lands after what the batch puts before it.
  for (std::size_t i = 0; i < Edits.size(); ++i) {
    const TEdit& insert = Edits[i];
    if (insert.Kind != TKind::Insert || !HasReachLimit(insert.Type)) continue;
    int at = address[static_cast<std::size_t>(insert.Line - lo)];
    for (std::size_t j = 0; j < Edits.size(); ++j) {
      const TEdit& edit = Edits[j];
      if (edit.Line < insert.Line || (edit.Kind == TKind::Insert && edit.Line == insert.Line && j <= i))
        at += edit.Delta;
    }
    const bool bitFirst = insert.Type == lt::BRBS || insert.Type == lt::BRBC;
    if (!reaches(insert.Type, Trim(bitFirst ? insert.Op2 : insert.Op1), at)) return false;
  }
  return true;
}

void TEditBatch::Make() {
  // From the last line back, so the staged line numbers stay valid; at one
  // line the replacement first, then the insertions in the order staged.
  std::vector<const TEdit*> order;
  for (const TEdit& edit : Edits) order.push_back(&edit);
  std::stable_sort(order.begin(), order.end(), [](const TEdit* a, const TEdit* b) {
    if (a->Line != b->Line) return a->Line > b->Line;
    return a->Kind != TKind::Insert && b->Kind == TKind::Insert;
  });
  std::vector<const TEdit*> inserts;
  auto flushInserts = [&] {
    for (auto it = inserts.rbegin(); it != inserts.rend(); ++it) {
      const TEdit& edit = **it;
      const TLine* anchor = edit.Line < Lines.Count() ? Lines.Line(edit.Line) : nullptr;
      Lines.InsertLine(edit.Line, anchor != nullptr ? anchor->LineIndex : 0);
      Lines.SetLineOps(edit.Line, edit.Type, "", edit.Mnemonic, edit.Op1, edit.Op2,
                       anchor != nullptr ? anchor->Func : nullptr);
    }
    inserts.clear();
  };
  for (const TEdit* edit : order) {
    if (!inserts.empty() && inserts.front()->Line != edit->Line) flushInserts();
    const TLine& line = *Lines.Line(std::min(edit->Line, Lines.Count() - 1));
    switch (edit->Kind) {
      case TKind::Remove:
        Lines.RemoveLine(edit->Line);
        break;
      case TKind::Replace:
        Lines.SetLineOps(edit->Line, edit->Type, line.LabelName, edit->Mnemonic, edit->Op1, edit->Op2, line.Func);
        break;
      case TKind::Insert:
        inserts.push_back(edit);
        break;
    }
  }
  flushInserts();
}

}  // namespace korvid
