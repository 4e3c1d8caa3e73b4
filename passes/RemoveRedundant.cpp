#include "passes/RemoveRedundant.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>

#include "analysis/Analysis.h"
#include "analysis/LineKinds.h"
#include "analysis/RegisterStates.h"
#include "passes/EditBatch.h"
#include "passes/PeepholeWalk.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Phase1";

// In the order the walk tries them.
constexpr TRule kRules[] = {
    {"code-island", kPass, D::No_Remove_Code_Islands,
     "in unreachable code, a label only its own loop jumps back to is entered by nothing"},
    {"unreachable-code", kPass, std::nullopt,
     "no path reaches an instruction between an unconditional transfer and the next label"},
    {"jump-to-next", kPass, std::nullopt, "a jump to the next instruction does what falling through does"},
    {"jmp-to-rjmp", kPass, std::nullopt, "RJMP reaches the same label in one word less"},
    {"overwritten-store", kPass, D::NO_CHECK_REDUNDANT_SAVE,
     "another store covers the byte before anything can read it"},
    {"redundant-load", kPass, D::NO_CHECK_REDUNDANT_LOAD,
     "the register already holds the value, and the flags the load sets are not read"},
    {"dead-result", kPass, std::nullopt, "no path reads a register or flag the instruction writes"},
};
const TRule& CodeIslandRule = kRules[0];
const TRule& UnreachableCodeRule = kRules[1];
const TRule& JumpToNextRule = kRules[2];
const TRule& JmpToRjmpRule = kRules[3];
const TRule& OverwrittenStoreRule = kRules[4];
const TRule& RedundantLoadRule = kRules[5];
const TRule& DeadResultRule = kRules[6];

class TRedundantWalk {
 public:
  explicit TRedundantWalk(const TAnalysis& facts)
      : Facts(facts), Lines(facts.Lines()), Flags(Lines.Run.Directives), Peephole(facts) {
    for (std::size_t r = 0; r < std::size(kRules); ++r) Enabled[r] = RuleEnabled(Lines, kRules[r]);
  }

  bool Run() {
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      EnterRegisterStates(Lines, i, States);
      Step(i);
      UpdateRegisterStates(Lines, i, States);
    }
    return Changed;
  }

  // Every edit only removed lines whose results nothing read, or that nothing
  // reached: the answers of the analysis still hold, or err towards "used".
  bool OnlyRemovedDeadLines() const { return OnlyDead; }

 private:
  using TMatch = bool (TRedundantWalk::*)(int i, TEditBatch& batch) const;

  // Matches and guards the rule at line i; when it holds, stages the rewrite
  // and makes it if the batch's own checks pass.
  bool Try(const TRule& rule, TMatch match, int i) {
    if (!Enabled[static_cast<std::size_t>(&rule - kRules)]) return false;
    TEditBatch batch(Facts, rule);
    if (!(this->*match)(i, batch) || !batch.Apply()) return false;
    Changed = true;
    // A held value read again, a shorter jump or a removed label changes what the answers rest on.
    OnlyDead = OnlyDead && &rule != &RedundantLoadRule && &rule != &JmpToRjmpRule && &rule != &CodeIslandRule;
    return true;
  }

  void Step(int i) {
    const TLine* found = Lines.Line(i);
    if (found == nullptr) return;
    const TLine& line = *found;
    const TLineType type = line.LineType;
    if (type == lt::ENTRY) PastEntry = true;
    // The rows after a label whose address is loaded are a jump table: every
    // row is entered by an indirect jump and keeps its size.
    if (line.IsJoin()) InJumpTable = Facts.IsAddressTaken(line.LabelName);
    if (DeadCode) {
      if (Try(CodeIslandRule, &TRedundantWalk::CodeIsland, i)) return;
      if (!line.IsJoin() && !EndsUnreachableCode(type)) {
        Try(UnreachableCodeRule, &TRedundantWalk::UnreachableCode, i);
        return;
      }
      DeadCode = false;
    }
    if (line.Size == 0) return;
    if (!IsInstructionType(type)) {
      InJumpTable = false;
      return;
    }
    if (InJumpTable && !line.IsJump()) InJumpTable = false;
    const bool shadowed = Facts.IsInSkipShadow(i);
    if (line.IsUnconditionalTransfer()) {
      // Vector rows, marked or found at the program's start, and jump table rows keep their size and place.
      const bool fixedLayout = line.InMarkedRegion || InJumpTable;
      if (fixedLayout) return;
      if (!shadowed && Try(JumpToNextRule, &TRedundantWalk::JumpToNext, i)) {
        RevisitBefore(i);
        return;
      }
      Try(JmpToRjmpRule, &TRedundantWalk::JmpToRjmp, i);
      if (!shadowed) DeadCode = true;
      return;
    }
    if (Facts.MayBeSkipped(i) || PastEntry || line.InMarkedRegion) return;
    if (RemoveBranchToNext(i)) {
      RevisitBefore(i);
      return;
    }
    if (Try(OverwrittenStoreRule, &TRedundantWalk::OverwrittenStore, i)) {
      RevisitBefore(i);
      return;
    }
    if (Try(RedundantLoadRule, &TRedundantWalk::RedundantLoad, i)) {
      // The value loaded before is now read here: answers above this line
      // may call it dead, so no line above is revisited.
      RevisitFloor = i;
      return;
    }
    if (Try(DeadResultRule, &TRedundantWalk::DeadResult, i)) RevisitBefore(i);
  }

  // Line i went, and what it read may now be dead above it: the lines whose
  // results fed only it go in the same walk, not one per iteration. So does
  // a branch whose label now follows it, and then the compare that fed it.
  void RevisitBefore(int i) {
    int changed = Facts.DeadLineRemoved(i, RevisitFloor);
    // Only removed lines and markers lie between line k and a removed line.
    bool adjacent = true;
    for (int k = i - 1; k > RevisitFloor && (adjacent || k >= changed - 1); --k) {
      const TLine& line = *Lines.Line(k);
      if (line.Removed || (line.Size == 0 && IsPassiveMarker(line.LineType))) continue;
      const bool nextToRemoved = adjacent;
      adjacent = false;
      if (line.Size == 0 || !IsInstructionType(line.LineType) || line.InMarkedRegion || Facts.MayBeSkipped(k))
        continue;
      if (!(nextToRemoved && RemoveBranchToNext(k)) && !Try(DeadResultRule, &TRedundantWalk::DeadResult, k))
        continue;
      // The records of the forward walk may name what the line loaded.
      States.ClearAll();
      changed = std::min(changed, Facts.DeadLineRemoved(k, RevisitFloor));
      adjacent = true;
    }
  }

  // The peephole pass's rule, where that pass may run: here, the compare
  // before the branch goes in the same walk.
  bool RemoveBranchToNext(int k) {
    if (Flags.Phase2Off() || !IsBranchType(Lines.Line(k)->LineType) || !Peephole.RunBranchToNext(k))
      return false;
    Changed = true;
    return true;
  }

  // In unreachable code, a label that only its own loop jumps back to starts
  // code nothing can enter: the label, the loop and its jump go, and the walk
  // stays in unreachable code.
  bool CodeIsland(int i, TEditBatch& batch) const {
    const TLine& start = *Lines.Line(i);
    if (!start.IsLabelLine() || Facts.IsAddressTaken(start.LabelName)) return false;
    const TASMLabel* label = Lines.Labels.Find(start.LabelName);
    if (label == nullptr || label->RefCount != 1) return false;
    for (int k = i + 1; k < Lines.Count(); ++k) {
      const TLine* next = Lines.Line(k);
      if (next == nullptr) return false;
      if (next->Size == 0) {
        if (IsPassiveMarker(next->LineType)) continue;
        return false;  // another label, a routine's end, a vector table...
      }
      if (next->IsJoin() || !IsInstructionType(next->LineType)) return false;
      const bool branch = IsBranchType(next->LineType);
      if ((branch || next->IsJump()) && EqualsNoCase(Trim(next->TargetOperand()), start.LabelName)) {
        batch.Remove(i);
        for (int j = i + 1; j <= k; ++j)
          if (Lines.Line(j)->Size > 0) batch.Remove(j);
        return true;
      }
      if (!branch && next->IsUnconditionalTransfer()) return false;
    }
    return false;
  }

  bool UnreachableCode(int i, TEditBatch& batch) const {
    const TLine& line = *Lines.Line(i);
    if (line.Size == 0 || !IsInstructionType(line.LineType)) return false;
    batch.Remove(i);
    return true;
  }

  // The jump's label stands before the next instruction, with only labels and markers between.
  bool JumpToNext(int i, TEditBatch& batch) const {
    const TLine& jump = *Lines.Line(i);
    if (!jump.IsJump() || !IsPlainLabel(jump.Op1) || Facts.LabelFollowing(i, Trim(jump.Op1)) < 0) return false;
    batch.Remove(i);
    return true;
  }

  // The batch refuses the RJMP when its label is out of reach.
  bool JmpToRjmp(int i, TEditBatch& batch) const {
    const TLine& jump = *Lines.Line(i);
    if (jump.LineType != lt::JMP || !IsPlainLabel(jump.Op1)) return false;
    batch.Replace(i, lt::RJMP, "RJMP", jump.Op1);
    return true;
  }

  // Another STS covers the byte this one writes before anything may read it.
  bool OverwrittenStore(int i, TEditBatch& batch) const {
    const TLine& store = *Lines.Line(i);
    if (store.LineType != lt::STS || store.DestVar == nullptr) return false;
    TVar& target = *store.DestVar;
    if (target.Kind == vk::PData || Lines.Vars.IsVolatile(target)) return false;
    const TMemoryAccess stored = Facts.MemoryAccessOf(i);
    if (stored.Kind != TMemoryAccess::TKind::Data) return false;
    for (int k = i + 1; k < Lines.Count(); ++k) {
      const TLine* next = Lines.Line(k);
      if (next == nullptr || next->IsJoin()) return false;
      if (next->Size == 0) {
        if (!IsPassiveMarker(next->LineType)) return false;
        continue;
      }
      if (!IsInstructionType(next->LineType) || next->UnknownEffect || next->SideEffect) return false;
      if (next->IsTransfer() && !next->IsSkip()) return false;
      if (next->LineType == lt::BREAK && !Flags[D::IGNORE_BREAK]) return false;
      if (Facts.MayReadBytes(k, stored)) return false;
      if (next->LineType == lt::STS && !next->MaybeSkipped && Facts.MemoryAccessOf(k).SameBytes(stored)) {
        batch.Remove(i);
        return true;
      }
    }
    return false;
  }

  // The register already holds what the line would load, and the flags the line sets are not read.
  bool RedundantLoad(int i, TEditBatch& batch) const {
    const TLine& line = *Lines.Line(i);
    // CLR reads its register only in form: it defines the whole register.
    const bool definesWhole = line.DefinesDest || line.LineType == lt::CLR || line.LineType == lt::SER;
    if (!definesWhole) return false;
    const int r = tVarList::RegisterNumber(line.DestVar);
    if (r < 0 || !States.Regs[r].Valid || !HoldsAlready(line, States.Regs[r])) return false;
    if (!Facts.IsRemovableIfDead(i) || Facts.AnyLive(Facts.Writes(i) & kAllFlags, i + 1)) return false;
    batch.Remove(i);
    return true;
  }

  // Every register and flag the line writes is dead: no path reads it before it is written again.
  bool DeadResult(int i, TEditBatch& batch) const {
    if (!Facts.IsRemovableIfDead(i)) return false;
    const TRegFlagSet written = Facts.Writes(i);
    // A line that writes nothing is there for another reason.
    if (written == 0 || Facts.AnyLive(written, i + 1)) return false;
    batch.Remove(i);
    return true;
  }

  bool HoldsAlready(const TLine& line, const TRegisterState& state) const {
    const bool loads = !Flags[D::IGNORE_DUPLICATE_LOAD];
    const bool saves = !Flags[D::IGNORE_DUPLICATE_SAVE];
    switch (line.LineType) {
      case lt::LDI:
        if (!loads || Flags[D::IGNORE_DUPLICATE_LOAD_LDI] || state.LoadType != lt::LDI) return false;
        return line.ValueKnown ? state.LoadValueKnown && state.LoadValue == line.Value
                               : !state.LoadValueKnown && EqualsNoCase(state.LoadOperand, line.Op2);
      case lt::CLR:
      case lt::SER:
        return loads && !Flags[D::IGNORE_DUPLICATE_LOAD_LDI] && state.LoadType == line.LineType;
      case lt::LDS: {
        const TVar* source = line.SrcVar;
        if (source == nullptr) return false;
        const bool loaded = loads && !Flags[D::IGNORE_DUPLICATE_LOAD_LDS] && state.LoadType == lt::LDS &&
                            state.LoadSource == source && EqualsNoCase(state.LoadOperand, line.Op2);
        const bool saved = saves && state.StoreType == lt::STS && state.StoreTarget == source &&
                           EqualsNoCase(state.StoreOperand, line.Op2);
        return loaded || saved;
      }
      case lt::MOV: {
        const TVar* source = line.SrcVar;
        if (tVarList::RegisterNumber(source) < 0) return false;
        const bool copied = loads && !Flags[D::IGNORE_DUPLICATE_LOAD_MOV] && state.LoadType == lt::MOV &&
                            state.LoadSource == source;
        const bool copiedBack = saves && state.StoreType == lt::MOV && state.StoreTarget == source;
        return copied || copiedBack;
      }
      default:
        return false;
    }
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  const TDirectiveFlags& Flags;
  // Made once: its registers shared with interrupts are asked of the whole program.
  TPeepholeWalk Peephole;
  TRegistersStates States;
  // By rule, in kRules order: switched on for this run.
  std::array<bool, std::size(kRules)> Enabled{};
  bool PastEntry = false;
  // Lines up to here are never revisited.
  int RevisitFloor = -1;
  bool InJumpTable = false;
  bool DeadCode = false;
  bool Changed = false;
  bool OnlyDead = true;
};

}  // namespace

std::span<const TRule> RemoveRedundantRules() { return kRules; }

bool RemoveRedundant(TLineList& /*lines*/, const TAnalysis& facts) {
  // Code that depends on where instructions land may jump to any of them.
  if (facts.HasPositionDependentCode()) return false;
  auto frozen = facts.Freeze();
  TRedundantWalk walk(facts);
  const bool changed = walk.Run();
  // The next pass asks the same answers rather than a rebuilt analysis.
  if (changed && walk.OnlyRemovedDeadLines()) facts.AnswersStillHold();
  return changed;
}

}  // namespace korvid
