// The peephole pass's walk, shared by the files that hold its rules: the
// register rules (Peephole.cpp), the transfer rules (PeepholeTransfers.cpp)
// and the inlining of calls (Inlining.cpp). Phase 1 keeps one too, to remove
// a branch its removals leave pointing at the next line.
#pragma once
#include <span>
#include <string_view>

#include "analysis/CallEffects.h"
#include "passes/EditBatch.h"
#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;
struct TLine;

class TPeepholeWalk {
 public:
  explicit TPeepholeWalk(const TAnalysis& facts);
  bool Run();
  bool RunPushPopPairs();
  // Only the rule that removes a branch to the next instruction, at line i.
  bool RunBranchToNext(int i);

 private:
  using TMatch = bool (TPeepholeWalk::*)(int i, TEditBatch& batch) const;
  bool Try(const TRule& rule, TMatch match, int i);
  void Step(int i);
  // Notes the entry; false for lines no rule looks at.
  bool Examine(const TLine* line);
  void TryPushPopPair(int i);

  // Register rules.
  bool AdiwMerge(int i, TEditBatch& batch) const;
  bool ReloadAfterStore(int i, TEditBatch& batch) const;
  bool MaskMerge(int i, TEditBatch& batch) const;
  bool KnownCompare(int i, TEditBatch& batch) const;
  bool FramePushPop(int i, TEditBatch& batch) const;
  bool DeadPostIncrement(int i, TEditBatch& batch) const;
  bool PushPopPair(int i, TEditBatch& batch) const;

  // Transfer rules.
  bool JumpThread(int i, TEditBatch& batch) const;
  bool BranchThread(int i, TEditBatch& batch) const;
  bool BranchReversal(int i, TEditBatch& batch) const;
  bool BranchToNext(int i, TEditBatch& batch) const;
  bool SkipReversal(int i, TEditBatch& batch) const;
  bool CallToRcall(int i, TEditBatch& batch) const;

  // Inlining rules (Inlining.cpp).
  void NoteInlineDirective(const TLine& line);
  bool TryInline(int i);
  bool InlineEmpty(int i, TEditBatch& batch) const;
  bool InlineOne(int i, TEditBatch& batch) const;
  bool InlineJumpCall(int i, TEditBatch& batch) const;
  bool InlineParameter(int i, TEditBatch& batch) const;
  // The first instruction of the routine the call on line `call` names, when
  // the call may be inlined at all; -1 otherwise.
  int InlineBody(int call) const;
  // Line k does the same wherever it runs, at any stack depth.
  bool RunsAnywhere(int k) const;
  bool ReturnsAfter(int k) const;

  // The first instruction at or after line `from` with only labels and
  // passive markers before it; -1 when anything else comes first.
  int InstructionFrom(int from) const;
  // Whether the chain of jumps that starts with the jump at line `jump` ends
  // at code other than a jump, rather than running in a circle: threading a
  // transfer through a circle would never stop changing it.
  bool JumpChainEnds(int jump) const;
  // The jump at the first instruction after label `target`; -1 when none.
  int JumpAtLabel(std::string_view target) const;

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRegFlagSet Shared;  // registers interrupts or pointers may see
  bool PastEntry = false;
  bool Changed = false;
  // The last ALLOW_INLINE or NO_ALLOW_INLINE above the line walked decides.
  bool AllowInline = true;
};

}  // namespace korvid
