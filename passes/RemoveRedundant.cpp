#include "passes/RemoveRedundant.h"

#include <string>

#include "analysis/BranchReach.h"
#include "analysis/ByteRanges.h"
#include "analysis/CallEffects.h"
#include "analysis/EffectTable.h"
#include "analysis/FrozenAnalysis.h"
#include "analysis/LineGraph.h"
#include "analysis/MemoryModel.h"
#include "analysis/PathSearch.h"
#include "analysis/PositionDependentCode.h"
#include "analysis/RegisterStates.h"
#include "analysis/RoutineSummary.h"
#include "source/Classifier.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;

// Lines that neither occupy memory nor change where code lands or how it is entered.
bool IsPassiveMarker(TLineType t) {
  return t == lt::Comment || t == lt::Blank || t == lt::LINE || t == lt::XLINE || t == lt::FILE || t == lt::DEB ||
         t == lt::BRANCH || t == lt::OPTI || t == lt::OPTI_QUICK;
}

// Code after these can be reached, or is not code at all.
bool EndsDeadCode(TLineType t) {
  return t == lt::ORG || t == lt::PHASE || t == lt::DEPHASE || t == lt::EQU || t == lt::BYTE || t == lt::WORD ||
         t == lt::ADDR || t == lt::WORDD || t == lt::ADDR32 || t == lt::ASCII || t == lt::ENTRY ||
         t == lt::ENTRYMAIN || t == lt::ENTRYBOOT || t == lt::ENTRYUNIT || t == lt::VECTTAB || t == lt::VECTTAB_B;
}

// Instructions whose only purpose is the registers and flags they write.
bool OnlyWritesRegisters(TLineList& lines, const TLine& line) {
  if (!IsInstructionType(line.LineType) || line.Size == 0 || line.SideEffect || line.UnknownEffect) return false;
  if (line.FlowKind & (fkConditional | fkUnconditional | fkBlockMarker | fkCall | fkSkip)) return false;
  switch (line.LineType) {
    case lt::PUSH: case lt::POP: case lt::LAC: case lt::LAS: case lt::LAT: case lt::XCH: case lt::NOP:
    case lt::WDR: case lt::BREAK: case lt::SPM: case lt::ESPM: case lt::IN: case lt::CLI: case lt::SEI:
      return false;
    default:
      break;
  }
  // A pointer read may reach I/O whose reading has effects; a changed pointer is a result of its own.
  if (line.Memory & (mem::AnyDataWrite | mem::PointerRead | mem::ProgramWrite)) return false;
  if (line.PtrMode < 2) return false;
  if (line.DestVar != nullptr && (line.DestVar->AddressTaken || lines.Vars.IsVolatile(*line.DestVar))) return false;
  for (const TVarUsage& usage : line.Usages.Items()) {
    if (usage.Var == nullptr) return false;
    TVar& var = *usage.Var;
    bool registerOrFlag = tVarList::IsRegister(var) || tVarList::IsFlag(var);
    if ((usage.Usage & (uWrite | uModify | uPop)) && !registerOrFlag) return false;
    // The interrupt flag changes what the hardware does, not only what is read.
    if (tVarList::IsFlag(var) && var.Address == 7 && (usage.Usage & (uWrite | uModify))) return false;
    if (!registerOrFlag && (var.Kind == vk::PData || lines.Vars.IsVolatile(var))) return false;
  }
  return true;
}

class TRedundantWalk {
 public:
  explicit TRedundantWalk(TLineList& lines)
      : Lines(lines),
        Flags(lines.Directives),
        Summaries(CurrentRoutineSummaries(lines)),
        AddressTaken(AddressTakenRegisters(lines)) {}

  bool Run() {
    for (int i = 0; i < Lines.Count() && !Lines.Aborted; ++i) {
      EnterRegisterStates(Lines, i, States);
      Step(i);
      UpdateRegisterStates(Lines, i, States);
    }
    return Changed;
  }

 private:
  void Step(int i) {
    const TLine* found = Lines.Line(i);
    if (found == nullptr) return;
    const TLine& line = *found;
    const TLineType type = line.LineType;
    if (type == lt::ENTRY) PastEntry = true;
    // The rows after a label whose address is loaded are a jump table: every
    // row is entered by an indirect jump and keeps its size.
    if (line.IsJoin()) InJumpTable = Summaries.IsAddressTaken(line.LabelName);
    if (DeadCode) {
      if (RemoveCodeIsland(i)) return;
      if (line.IsJoin() || EndsDeadCode(type)) {
        DeadCode = false;
      } else {
        if (line.Size > 0 && IsInstructionType(type) && Lines.MayChange(i)) Remove(i);
        return;
      }
    }
    if (line.Size == 0) return;
    const bool afterSkip = PrevWasSkip;
    PrevWasSkip = line.IsSkip();
    if (!IsInstructionType(type)) {
      InJumpTable = false;
      return;
    }
    if (InJumpTable && !line.IsJump()) InJumpTable = false;
    if (line.IsUnconditionalTransfer()) {
      Transfer(i, afterSkip);
      return;
    }
    // An instruction in a skip's shadow is skipped as a whole; it stays.
    if (afterSkip || line.MaybeSkipped || PastEntry || line.InMarkedRegion || !Lines.MayChange(i)) return;
    if (type == lt::STS) {
      if (IsOverwrittenStore(i)) Remove(i);
      return;
    }
    if (OnlyWritesRegisters(Lines, line) && (IsRedundantLoad(i) || ResultsAreDead(i))) Remove(i);
  }

  void Transfer(int i, bool afterSkip) {
    const TLine& line = *Lines.Line(i);
    // Vector rows, marked or found at the program's start, keep their size and place.
    const bool fixedLayout = line.InMarkedRegion || InJumpTable;
    if (!fixedLayout && !afterSkip && line.IsJump() && Lines.MayChange(i) && JumpsToNextInstruction(i)) {
      Remove(i);
      return;
    }
    if (!fixedLayout && line.LineType == lt::JMP && Lines.MayChange(i) && IsPlainLabel(line.Op1)) {
      int distance = 0;
      if (LongBranchReach(Lines, i, Trim(line.Op1), distance)) {
        Lines.SetLine(i, lt::RJMP, line.LabelName, "RJMP", line.Operands, line.Func);
        Changed = true;
      }
    }
    if (!afterSkip && !fixedLayout) DeadCode = true;
  }

  // In unreachable code, a label that only its own loop jumps back to starts
  // code nothing can enter: the label, the loop and its jump go, and the walk
  // stays in unreachable code.
  bool RemoveCodeIsland(int i) {
    int end = CodeIslandEnd(i);
    if (end < 0 || !Lines.RemoveLine(i)) return false;
    for (int k = i + 1; k <= end; ++k)
      if (Lines.Line(k)->Size > 0) Lines.RemoveLine(k);
    Changed = true;
    return true;
  }

  int CodeIslandEnd(int i) const {
    const TLine& start = *Lines.Line(i);
    if (Flags[D::No_Remove_Code_Islands] || !start.IsLabelLine() || Summaries.IsAddressTaken(start.LabelName))
      return -1;
    const TASMLabel* label = Lines.Labels.Find(start.LabelName);
    if (label == nullptr || label->RefCount != 1 || !Lines.MayChange(i)) return -1;
    for (int k = i + 1; k < Lines.Count(); ++k) {
      const TLine* next = Lines.Line(k);
      if (next == nullptr) return -1;
      if (next->Size == 0) {
        if (IsPassiveMarker(next->LineType)) continue;
        return -1;  // another label, a routine's end, a vector table...
      }
      if (next->IsJoin() || !IsInstructionType(next->LineType) || !Lines.MayChange(k)) return -1;
      const bool branch = IsBranchType(next->LineType);
      if ((branch || next->IsJump()) && EqualsNoCase(Trim(next->TargetOperand()), start.LabelName)) return k;
      if (!branch && next->IsUnconditionalTransfer()) return -1;
    }
    return -1;
  }

  // The jump's label stands before the next instruction, with only labels and markers between.
  bool JumpsToNextInstruction(int i) const {
    const std::string& operand = Lines.Line(i)->Op1;
    if (!IsPlainLabel(operand)) return false;
    std::string_view target = Trim(operand);
    for (int k = i + 1; k < Lines.Count(); ++k) {
      const TLine* next = Lines.Line(k);
      if (next == nullptr) return false;
      if (next->IsJoin() && EqualsNoCase(next->LabelName, target)) return true;
      if (next->Size > 0 || !(next->IsLabelLine() || IsPassiveMarker(next->LineType))) return false;
    }
    return false;
  }

  // Every register and flag the line writes is dead: no path reads it before it is written again.
  bool ResultsAreDead(int i) const { return !AnyUsedLater(i, LineRegisterBits(*Lines.Line(i), AddressTaken, 0).Def); }

  bool AnyUsedLater(int i, TRegFlagSet written) const {
    if (written == 0) return true;  // a line that writes nothing is there for another reason
    const auto flags = static_cast<std::uint8_t>(written >> kFlagBit0);
    bool reached = false;
    for (int r = 0; r < 32; ++r)
      if ((written & RegisterBit(r)) &&
          IsUsedLater(Lines, Lines.RegisterVar[r], i + 1, false, 0, flags, false, false, -1, reached))
        return true;
    return FlagsUsedLater(Lines, i + 1, flags);
  }

  // The register already holds what the line would load, and the flags the line sets are not read.
  bool IsRedundantLoad(int i) const {
    const TLine& line = *Lines.Line(i);
    // CLR reads its register only in form: it defines the whole register.
    bool definesWhole = line.DefinesDest || line.LineType == lt::CLR || line.LineType == lt::SER;
    if (Flags[D::NO_CHECK_REDUNDANT_LOAD] || !definesWhole) return false;
    int r = tVarList::RegisterNumber(line.DestVar);
    if (r < 0 || !States.Regs[r].Valid) return false;
    if (!HoldsAlready(line, States.Regs[r])) return false;
    TRegFlagSet flags = LineRegisterBits(line, AddressTaken, 0).Def & kAllFlags;
    return flags == 0 || !AnyUsedLater(i, flags);
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
        bool loaded = loads && !Flags[D::IGNORE_DUPLICATE_LOAD_LDS] && state.LoadType == lt::LDS &&
                      state.LoadSource == source && EqualsNoCase(state.LoadOperand, line.Op2);
        bool saved = saves && state.StoreType == lt::STS && state.StoreTarget == source &&
                     EqualsNoCase(state.StoreOperand, line.Op2);
        return loaded || saved;
      }
      case lt::MOV: {
        const TVar* source = line.SrcVar;
        if (tVarList::RegisterNumber(source) < 0) return false;
        bool copied = loads && !Flags[D::IGNORE_DUPLICATE_LOAD_MOV] && state.LoadType == lt::MOV &&
                      state.LoadSource == source;
        bool copiedBack = saves && state.StoreType == lt::MOV && state.StoreTarget == source;
        return copied || copiedBack;
      }
      default:
        return false;
    }
  }

  // Another STS covers every byte of this one's before anything may read them.
  bool IsOverwrittenStore(int i) const {
    const TLine& line = *Lines.Line(i);
    if (Flags[D::NO_CHECK_REDUNDANT_SAVE] || line.DestVar == nullptr) return false;
    TVar& target = *line.DestVar;
    if (!IsMemoryVariable(target) || target.Kind == vk::PData || Lines.Vars.IsVolatile(target)) return false;
    const std::int64_t stored = StoredByte(line);
    if (stored < 0) return false;
    for (int k = i + 1; k < Lines.Count(); ++k) {
      const TLine* next = Lines.Line(k);
      if (next == nullptr || next->IsJoin()) return false;
      if (next->Size == 0) {
        if (!IsPassiveMarker(next->LineType)) return false;
        continue;
      }
      if (!IsInstructionType(next->LineType) || next->UnknownEffect || next->SideEffect) return false;
      if ((next->FlowKind & (fkConditional | fkUnconditional | fkBlockMarker | fkCall)) && !next->IsSkip()) return false;
      if (next->LineType == lt::BREAK && !Flags[D::IGNORE_BREAK]) return false;
      if ((next->Memory & (mem::PointerRead | mem::PointerWrite)) && PointerAccessMayTouch(Lines, k, target))
        return false;
      for (const TVarUsage& usage : next->Usages.Items())
        if (usage.Var == nullptr || ((usage.Usage & (uRead | uModify)) && MayOverlap(*usage.Var, target))) return false;
      if (next->LineType == lt::STS && !next->MaybeSkipped && StoredByte(*next) == stored) return true;
    }
    return false;
  }

  // The address of the one byte an STS writes; -1 when it is not known.
  static std::int64_t StoredByte(const TLine& store) {
    if (store.DestVar == nullptr || !store.DestVar->HasName(Trim(store.Op1))) return -1;
    TByteRange range = DataRangeOf(*store.DestVar);
    return range.Known && !range.Empty ? range.Start : -1;
  }

  void Remove(int i) {
    if (Lines.RemoveLine(i)) Changed = true;
  }

  TLineList& Lines;
  const TDirectiveFlags& Flags;
  const TRoutineSummaries& Summaries;
  const TRegFlagSet AddressTaken;
  TRegistersStates States;
  bool PastEntry = false;
  bool InJumpTable = false;
  bool PrevWasSkip = false;
  bool DeadCode = false;
  bool Changed = false;
};

}  // namespace

bool RemoveRedundant(TLineList& lines) {
  if (HasPositionDependentCode(lines)) return false;
  TFrozenAnalysis frozen(lines);
  return TRedundantWalk(lines).Run();
}

}  // namespace korvid
