// The peephole rules that change where control goes: threading jumps and
// branches through jumps, reversing branches and skips over jumps, dropping
// branches to the next instruction, shortening calls. The edit batch checks
// that every changed transfer still reaches its label.
#include <set>
#include <string>

#include "analysis/Analysis.h"
#include "analysis/LineKinds.h"
#include "passes/PeepholeWalk.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

// Jumps followed along a chain before it counts as endless.
constexpr int kMaxChain = 16;

bool BitFirst(TLineType type) { return type == lt::BRBS || type == lt::BRBC; }

}  // namespace

int TPeepholeWalk::InstructionFrom(int from) const {
  for (int k = from; k < Lines.Count(); ++k) {
    const TLine* line = Lines.Line(k);
    if (line == nullptr) return -1;
    if (line->Size > 0) return IsInstructionType(line->LineType) ? k : -1;
    if (!line->IsLabelLine() && !IsPassiveMarker(line->LineType)) return -1;
  }
  return -1;
}

int TPeepholeWalk::JumpAtLabel(std::string_view target) const {
  if (!IsPlainLabel(target)) return -1;
  const int label = FindLabelLine(Lines, Trim(target));
  if (label < 0) return -1;
  const int code = InstructionFrom(label);
  if (code < 0) return -1;
  const TLine& line = *Lines.Line(code);
  if (!line.IsJump() || line.InMarkedRegion || !IsPlainLabel(line.Op1)) return -1;
  return code;
}

bool TPeepholeWalk::JumpChainEnds(int jump) const {
  std::set<int> seen;
  for (int k = jump; k >= 0; k = JumpAtLabel(Lines.Line(k)->Op1)) {
    if (!seen.insert(k).second || static_cast<int>(seen.size()) > kMaxChain) return false;
  }
  return true;
}

// RJMP T ... T: RJMP U  ->  RJMP U; the jump keeps its own form and size.
bool TPeepholeWalk::JumpThread(int i, TEditBatch& batch) const {
  const TLine& jump = *Lines.Line(i);
  const int next = JumpAtLabel(jump.Op1);
  if (next < 0 || next == i || !JumpChainEnds(i)) return false;
  batch.Replace(i, jump.LineType, jump.Mnemonic, Lines.Line(next)->Op1);
  batch.ChangeBranchNote(i);
  return true;
}

// BREQ T ... T: RJMP U  ->  BREQ U, where U is in branch reach.
bool TPeepholeWalk::BranchThread(int i, TEditBatch& batch) const {
  const TLine& branch = *Lines.Line(i);
  const int next = JumpAtLabel(branch.TargetOperand());
  if (next < 0 || next == i || !JumpChainEnds(next)) return false;
  const std::string& target = Lines.Line(next)->Op1;
  if (BitFirst(branch.LineType))
    batch.Replace(i, branch.LineType, branch.Mnemonic, branch.Op1, target);
  else
    batch.Replace(i, branch.LineType, branch.Mnemonic, target);
  batch.ChangeBranchNote(i);
  return true;
}

// BREQ T / RJMP U / T:  ->  BRNE U / T:. A skip before the branch would skip
// the opposite branch instead of the jump, so the branch may not be skipped.
bool TPeepholeWalk::BranchReversal(int i, TEditBatch& batch) const {
  const TLine& branch = *Lines.Line(i);
  const int j = Facts.AdjacentInstruction(i, 1);
  if (j < 0 || Facts.MayBeSkipped(i)) return false;
  const TLine& jump = *Lines.Line(j);
  if (!jump.IsJump() || jump.IsJoin() || jump.InMarkedRegion || !IsPlainLabel(jump.Op1)) return false;
  if (Facts.LabelFollowing(j, Trim(branch.TargetOperand())) < 0) return false;
  const TLineType reverse = ReverseLineType(branch.LineType);
  if (reverse == lt::Unknown) return false;
  if (BitFirst(branch.LineType))
    batch.Replace(i, reverse, ReverseMnemonic(branch.LineType), branch.Op1, jump.Op1);
  else
    batch.Replace(i, reverse, ReverseMnemonic(branch.LineType), jump.Op1);
  batch.ChangeBranchNote(i);
  batch.Remove(j);
  batch.ChangeBranchNote(j);
  return true;
}

// BREQ T / T:  ->  T:
bool TPeepholeWalk::BranchToNext(int i, TEditBatch& batch) const {
  const TLine& branch = *Lines.Line(i);
  if (!IsPlainLabel(branch.TargetOperand()) || Facts.LabelFollowing(i, Trim(branch.TargetOperand())) < 0) return false;
  batch.Remove(i);
  batch.ChangeBranchNote(i);
  return true;
}

// SBRC R,b / RJMP X / RJMP Y / X:  ->  SBRS R,b / RJMP Y / X:
bool TPeepholeWalk::SkipReversal(int i, TEditBatch& batch) const {
  const TLine& skip = *Lines.Line(i);
  const int first = Facts.AdjacentInstruction(i, 1);
  if (first < 0 || Facts.MayBeSkipped(i)) return false;
  const int second = Facts.AdjacentInstruction(first, 1);
  if (second < 0) return false;
  const TLine& over = *Lines.Line(first);
  const TLine& jump = *Lines.Line(second);
  for (const TLine* line : {&over, &jump})
    if (!line->IsJump() || line->IsJoin() || line->InMarkedRegion || !IsPlainLabel(line->Op1)) return false;
  if (Facts.LabelFollowing(second, Trim(over.Op1)) < 0) return false;
  const TLineType reverse = ReverseLineType(skip.LineType);
  if (reverse == lt::Unknown) return false;
  batch.Replace(i, reverse, ReverseMnemonic(skip.LineType), skip.Op1, skip.Op2);
  batch.Remove(first);
  batch.ChangeBranchNote(first);
  return true;
}

// CALL f -> RCALL f where RCALL reaches; the delay routine counts its caller's cycles.
bool TPeepholeWalk::CallToRcall(int i, TEditBatch& batch) const {
  const TLine& call = *Lines.Line(i);
  if (!IsPlainLabel(call.Op1) || EqualsNoCase(Trim(call.Op1), "SYSTEM.UDELAY")) return false;
  batch.Replace(i, lt::RCALL, "RCALL", call.Op1);
  return true;
}

}  // namespace korvid
