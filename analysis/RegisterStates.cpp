#include "analysis/RegisterStates.h"

#include "analysis/ByteRanges.h"
#include "analysis/CallEffects.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/MemoryModel.h"
#include "source/Variables.h"
#include "source/Classifier.h"
#include "source/LineList.h"

namespace korvid {

namespace {

bool IsLoad(TLineType t) {
  return t == lt::LDI || t == lt::LDS || t == lt::LDD || t == lt::LD || t == lt::CLR || t == lt::SER;
}
bool IsMemoryLoad(TLineType t) { return t == lt::LDS || t == lt::LDD || t == lt::LD; }
bool IsMemoryStore(TLineType t) { return t == lt::STS || t == lt::STD || t == lt::ST; }
bool IsCopy(TLineType t) { return t == lt::MOV || t == lt::MOVW; }

// The register, or the memory the line stores to, changed: records copied from
// it are stale. The register a store writes out (`kept`) still equals both its
// source and its target, so it keeps its records.
void InvalidateCopiesOf(TRegistersStates& states, const TVar& changed, int kept = -1) {
  for (int k = 0; k < 32; ++k) {
    if (k == kept) continue;
    TRegisterState& state = states.Regs[k];
    if (state.LoadSource != nullptr && (IsMemoryLoad(state.LoadType) || IsCopy(state.LoadType)) &&
        MayOverlap(*state.LoadSource, changed)) {
      state.Clear();
    } else if (state.StoreTarget != nullptr && MayOverlap(*state.StoreTarget, changed)) {
      state.ClearStore();
    }
  }
}

// A store through a pointer, or a call that may store: a record of a variable
// loaded or stored by name survives only where `mayTouch` rules the variable
// out; a record made through a pointer never does.
template <class TMayTouch>
void InvalidateMemoryRecords(TRegistersStates& states, int kept, const TMayTouch& mayTouch) {
  auto survives = [&](TLineType type, const TVar* var) {
    return (type == lt::LDS || type == lt::STS) && var != nullptr && !mayTouch(*var);
  };
  for (int k = 0; k < 32; ++k) {
    if (k == kept) continue;
    TRegisterState& state = states.Regs[k];
    if (IsMemoryLoad(state.LoadType) && !survives(state.LoadType, state.LoadSource)) {
      state.Clear();
    } else if (IsMemoryStore(state.StoreType) && !survives(state.StoreType, state.StoreTarget)) {
      state.ClearStore();
    }
  }
}

void RecordLoad(TRegisterState& state, const TLine& line, int index) {
  state.Valid = true;
  state.ClearStore();
  state.LoadSource = line.SrcVar;
  state.LoadType = line.LineType;
  state.LoadValue = static_cast<std::int32_t>(line.Value);
  state.LoadValueKnown = line.ValueKnown;
  state.LoadOperand = line.Op2;
  state.LoadPtrReg = line.PtrReg;
  state.LoadLine = index;
}

void RecordStore(TRegisterState& state, const TLine& line, int index, const std::string& operand) {
  state.Valid = true;
  state.StoreTarget = line.DestVar;
  state.StoreType = line.LineType;
  state.StoreValue = static_cast<std::int32_t>(line.Value);
  state.StoreValueKnown = line.ValueKnown;
  state.StoreOperand = operand;
  state.StorePtrReg = line.PtrReg;
  state.StoreLine = index;
}

// Everything the line may write, before anything new is recorded from it.
void ForgetWrites(const TLineList& lines, int index, const TLine& line, TRegistersStates& states) {
  const auto [written, storesMemory] = LineMayWrite(lines, index, AddressTakenRegisters(lines));
  for (int r = 0; r < 32; ++r) {
    if (!(written & RegisterBit(r))) continue;
    states.Regs[r].Clear();
    if (lines.RegisterVar[r] != nullptr) InvalidateCopiesOf(states, *lines.RegisterVar[r]);
    // Either byte of a pointer pair changes the address it holds.
    if (r >= 26) states.InvalidatePointer(r & ~1);
  }
  if (!storesMemory) return;
  int kept = IsMemoryStore(line.LineType) ? tVarList::RegisterNumber(line.SrcVar) : -1;
  bool call = (line.FlowKind & fkCall) != 0;
  bool knownTarget = line.LineType == lt::STS && line.DestVar != nullptr && !call;
  bool onlyThroughPointer = !call && !line.UnknownEffect && !(line.Memory & mem::DirectWrite);
  if (knownTarget) {
    InvalidateCopiesOf(states, *line.DestVar, kept);
  } else if (onlyThroughPointer) {
    InvalidateMemoryRecords(states, kept, [&](const TVar& var) { return PointerAccessMayTouch(lines, index, var); });
  } else {
    InvalidateMemoryRecords(states, kept, [](const TVar&) { return true; });
  }
  // Every other store of the line (an I/O location, a register by its data address) is in its usages.
  for (const TVarUsage& usage : line.Usages.Items())
    if ((usage.Usage & (uWrite | uModify)) && IsMemoryVariable(*usage.Var))
      InvalidateCopiesOf(states, *usage.Var, kept);
}

}  // namespace

void TRegisterState::ClearLoad() {
  LoadSource = nullptr;
  LoadType = 0;
  LoadValue = 0;
  LoadValueKnown = false;
  LoadOperand.clear();
  LoadPtrReg = 0;
  LoadLine = 0;
}

void TRegisterState::ClearStore() {
  StoreTarget = nullptr;
  StoreType = 0;
  StoreValue = 0;
  StoreValueKnown = false;
  StoreOperand.clear();
  StorePtrReg = 0;
  StoreLine = 0;
}

void TRegisterState::Clear() {
  Valid = false;
  ClearLoad();
  ClearStore();
}

void TRegistersStates::ClearAll() {
  for (TRegisterState& state : Regs) state.Clear();
}

void TRegistersStates::InvalidatePointer(int p) {
  for (TRegisterState& state : Regs) {
    if (state.LoadPtrReg == p) {
      state.Clear();
    } else if (state.StorePtrReg == p) {
      state.ClearStore();
    }
  }
}

void EnterRegisterStates(const TLineList& lines, int index, TRegistersStates& states) {
  const TLine* line = lines.Line(index);
  if (line == nullptr || line->IsJoin()) states.ClearAll();
}

void UpdateRegisterStates(const TLineList& lines, int index, TRegistersStates& states) {
  const TLine* found = lines.Line(index);
  if (found == nullptr) {
    states.ClearAll();
    return;
  }
  const TLine& line = *found;
  if (line.Size == 0) return;
  if (line.UnknownEffect || (!IsInstructionType(line.LineType) && line.LineType != lt::Unknown)) {
    states.ClearAll();
    return;
  }
  ForgetWrites(lines, index, line, states);
  // A line that may be skipped leaves its registers unknown, which ForgetWrites did.
  if (line.MaybeSkipped) return;
  TLineType type = line.LineType;
  int r = tVarList::RegisterNumber(line.DestVar);
  int q = tVarList::RegisterNumber(line.SrcVar);
  bool pointerStays = line.PtrMode >= 2;
  // A register loaded through its own pointer pair no longer matches the address.
  bool ownPointer = line.PtrReg >= 0 && (r & ~1) == line.PtrReg;
  if (IsLoad(type) && r >= 0 && pointerStays && !ownPointer) RecordLoad(states.Regs[r], line, index);
  if (IsCopy(type) && r >= 0) {
    RecordLoad(states.Regs[r], line, index);
    if (q >= 0 && q != r) RecordStore(states.Regs[q], line, index, line.Op2);
  }
  if (IsMemoryStore(type) && q >= 0 && pointerStays) RecordStore(states.Regs[q], line, index, line.Op1);
}

}  // namespace korvid
