#include "analysis/Analysis.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "analysis/AnalysisCaches.h"
#include "analysis/BranchReach.h"
#include "analysis/ByteRanges.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "analysis/MemoryModel.h"
#include "analysis/PathSearch.h"
#include "analysis/PointerTargets.h"
#include "analysis/PositionDependentCode.h"
#include "analysis/RoutineSummary.h"
#include "analysis/SearchCache.h"
#include "analysis/StackDepth.h"
#include "source/Classifier.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr int kYRegister = 28;

// The one data byte an LDS or STS names; unknown when its operand is more than a variable's name.
TMemoryAccess DirectAccess(const TLine& line) {
  const bool store = line.LineType == lt::STS;
  const TVar* var = store ? line.DestVar : line.SrcVar;
  const std::string& operand = store ? line.Op1 : line.Op2;
  TMemoryAccess access{.Kind = TMemoryAccess::TKind::Unknown, .Size = 1, .Reads = !store, .Writes = store};
  if (var == nullptr || !var->HasName(Trim(operand)) || !IsMemoryVariable(*var)) return access;
  TByteRange range = DataRangeOf(*var);
  if (!range.Known || range.Empty) return access;
  access.Kind = TMemoryAccess::TKind::Data;
  access.Start = range.Start;
  return access;
}

// A point where a rewrite under the freeze may have made a value live.
bool IsStalePoint(const TLineList& lines, int from) {
  const std::vector<bool>& stale = CachesOf(lines).StalePoints;
  return from >= 0 && static_cast<std::size_t>(from) < stale.size() && stale[static_cast<std::size_t>(from)];
}

}  // namespace

TAnalysis::TAnalysis(TLineList& lines) : Program(lines) {}

TAnalysis::TFreeze::TFreeze(const TAnalysis& facts) : Program(facts.Program) {
  TAnalysisCaches& caches = CachesOf(Program);
  if (caches.FreezeDepth++ > 0) return;
  CurrentRoutineSummaries(Program);
  CurrentSearchCache(facts.Program);
  CurrentPointerTargets(Program);
  // Position dependence is left to the first question: edits under a freeze
  // remove code and never add an address computation or a jump by offset.
  caches.FrozenGeneration = AnalysisGeneration(Program);
}

TAnalysis::TFreeze::~TFreeze() {
  TAnalysisCaches& caches = CachesOf(Program);
  if (--caches.FreezeDepth > 0) return;
  caches.FrozenGeneration = 0;
  caches.StalePoints.clear();
}

void TAnalysis::MarkLivenessChanged(int first, int last) const {
  TAnalysisCaches& caches = CachesOf(Program);
  if (caches.FreezeDepth == 0) return;  // the next question rebuilds the answers anyway
  if (caches.StalePoints.size() < static_cast<std::size_t>(Program.Count()) + 1)
    caches.StalePoints.resize(static_cast<std::size_t>(Program.Count()) + 1);
  for (int k = std::max(first + 1, 0); k <= last && k < Program.Count(); ++k)
    caches.StalePoints[static_cast<std::size_t>(k)] = true;
}

int TAnalysis::DeadLineRemoved(int i, int floor) const {
  // Unfrozen, the next question rebuilds the answers anyway.
  if (CachesOf(Program).FreezeDepth == 0) return i + 1;
  return CurrentSearchCache(Program).ForgetDeadLine(i, floor, Program);
}

void TAnalysis::AnswersStillHold() const {
  TAnalysisCaches& caches = CachesOf(Program);
  if (caches.FreezeDepth == 0) return;
  caches.KeptFrom = caches.FrozenGeneration;
  caches.KeptTo = Program.Generation;
}

bool TAnalysis::IsUsedLater(const TUseQuery& query) const {
  return IsStalePoint(Program, query.From) || korvid::IsUsedLater(Program, query);
}

bool TAnalysis::AnyLive(TRegFlagSet set, int from) const {
  const auto flags = static_cast<std::uint8_t>(set >> kFlagBit0);
  for (int r = 0; r < 32; ++r)
    if ((set & RegisterBit(r)) && IsUsedLater({.Var = Program.RegisterVar[r], .From = from, .Flags = flags}))
      return true;
  return flags != 0 && FlagsReadAfter(flags, from);
}

TRegFlagSet TAnalysis::Writes(int i) const { return LineMayWrite(Program, i, AddressTakenRegisters()).Registers; }

std::optional<int> TAnalysis::FreeRegister(int first, int last, TRegFlagSet candidates) const {
  TSearchCache& cache = CurrentSearchCache(Program);
  TRegFlagSet busy = 0;
  for (int k = first; k <= last + 1 && k < static_cast<int>(cache.LiveIn.size()); ++k) {
    if (IsStalePoint(Program, k)) return std::nullopt;
    busy |= cache.LiveIn[static_cast<std::size_t>(k)];
    if (k <= last) {
      const TLineBits bits = cache.NodeBits(k);
      busy |= bits.Use | bits.Def | bits.Kill;
      if (bits.Def & kCallBit) busy |= kAllRegisters;
    }
  }
  for (int r = 0; r < 32; ++r)
    if ((candidates & RegisterBit(r)) && !(busy & RegisterBit(r))) return r;
  return std::nullopt;
}

bool TAnalysis::IsRemovableIfDead(int i) const {
  const TLine& line = *Program.Line(i);
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
  if (line.DestVar != nullptr && (line.DestVar->AddressTaken || Program.Vars.IsVolatile(*line.DestVar))) return false;
  for (const TVarUsage& usage : line.Usages.Items()) {
    if (usage.Var == nullptr) return false;
    TVar& var = *usage.Var;
    const bool registerOrFlag = tVarList::IsRegister(var) || tVarList::IsFlag(var);
    if ((usage.Usage & (uWrite | uModify | uPop)) && !registerOrFlag) return false;
    // The interrupt flag changes what the hardware does, not only what is read.
    if (tVarList::IsFlag(var) && var.Address == 7 && (usage.Usage & (uWrite | uModify))) return false;
    if (!registerOrFlag && (var.Kind == vk::PData || Program.Vars.IsVolatile(var))) return false;
  }
  return true;
}

TRegFlagSet TAnalysis::SharedRegisters() const {
  TRegFlagSet shared = AddressTakenRegisters();
  for (const auto& var : Program.Vars.Items())
    if (tVarList::IsRegister(*var) && (var->AddressTaken || Program.Vars.IsVolatile(*var))) shared |= VarBits(*var);
  return shared;
}

int TAnalysis::NamedRegister(int i, int operand) const {
  const TLine& line = *Program.Line(i);
  const TInstrEffect* effect = FindEffect(line.LineType, !Trim(line.Operands).empty());
  if (effect == nullptr || line.UnknownEffect) return -1;
  const TOperandRole& role = operand == 1 ? effect->Op1 : effect->Op2;
  if (role.Kind != OperandKind::Register) return -1;
  return tVarList::RegisterNumber(operand == 1 ? line.DestVar : line.SrcVar);
}

bool TAnalysis::AccessesOnlyByName(int i, TRegFlagSet regs) const {
  const TLine& line = *Program.Line(i);
  const TInstrEffect* effect = FindEffect(line.LineType, !Trim(line.Operands).empty());
  if (effect == nullptr || effect->Unknown || line.UnknownEffect || line.WordOp) return false;
  if ((effect->RegsRead | effect->RegsWritten) & regs) return false;
  TRegFlagSet named = 0;
  for (int operand : {1, 2})
    if (const int r = NamedRegister(i, operand); r >= 0) named |= RegisterBit(r);
  const TLineBits bits = LineRegisterBits(line, AddressTakenRegisters(), 0);
  return ((bits.Use | bits.Def | bits.Kill) & regs & ~named) == 0;
}

std::uint8_t TAnalysis::FlagsChangedBy(const TLine& old, TLineType replacement) {
  auto oldFlags = static_cast<std::uint8_t>(LineRegisterBits(old, 0, 0).Def >> kFlagBit0);
  if (replacement == lt::Unknown) return oldFlags;
  const TInstrEffect* effect = FindEffect(replacement);
  // Without an entry, or writing SREG through an operand, any flag may change.
  if (effect == nullptr || effect->Unknown || effect->Op1.Kind == OperandKind::StatusBit ||
      effect->Op1.Kind == OperandKind::Io || effect->Op1.Kind == OperandKind::Data)
    return sreg::All;
  return static_cast<std::uint8_t>(oldFlags | effect->FlagsWritten);
}

bool TAnalysis::FlagsReadAfter(std::uint8_t mask, int from) const {
  return mask != 0 && (IsStalePoint(Program, from) || FlagsUsedLater(Program, from, mask));
}

int TAnalysis::LabelFollowing(int i, std::string_view name) const {
  for (int k = i + 1; k < Program.Count(); ++k) {
    const TLine* line = Program.Line(k);
    if (line == nullptr) return -1;
    if (line->IsJoin() && EqualsNoCase(line->LabelName, name)) return k;
    if (line->Size > 0 || !(line->IsLabelLine() || IsPassiveMarker(line->LineType))) return -1;
  }
  return -1;
}

bool TAnalysis::MayBeSkipped(int i) const { return IsInSkipShadow(i) || Program.Line(i)->MaybeSkipped; }

int TAnalysis::PreviousCodeLine(int i) const { return Program.PreviousSizedLine(i); }

int TAnalysis::AdjacentInstruction(int i, int step) const {
  for (int k = i + step; k >= 0 && k < Program.Count(); k += step) {
    const TLine* line = Program.Line(k);
    if (line == nullptr) return -1;
    if (IsInstructionType(line->LineType) && line->Size > 0) return k;
    if (!IsPassiveMarker(line->LineType)) return -1;
  }
  return -1;
}

bool TAnalysis::IsInSkipShadow(int i) const {
  int previous = PreviousCodeLine(i);
  return previous >= 0 && Program.Line(previous)->IsSkip();
}

TMemoryAccess TAnalysis::MemoryAccessOf(int i) const {
  const TLine& line = *Program.Line(i);
  using K = TMemoryAccess::TKind;
  if (line.UnknownEffect) return {.Kind = K::Unknown, .Reads = true, .Writes = true};
  if (line.LineType == lt::LDS || line.LineType == lt::STS) return DirectAccess(line);
  if (!(line.Memory & (mem::PointerRead | mem::PointerWrite))) return {};
  TMemoryAccess access{.Kind = K::Unknown,
                       .Size = 1,
                       .Reads = (line.Memory & mem::PointerRead) != 0,
                       .Writes = (line.Memory & mem::PointerWrite) != 0};
  if (std::int32_t target = CurrentPointerTargets(Program).TargetOf(i); target >= 0) {
    access.Kind = K::Data;
    access.Start = target;
  } else if (line.PtrReg == kYRegister && (line.LineType == lt::LDD || line.LineType == lt::STD)) {
    std::optional<std::int64_t> q = ImmediateByte(Program.Vars, Trim(line.LineType == lt::LDD ? line.Op2 : line.Op1).substr(2));
    if (q) {
      access.Kind = K::Frame;
      access.Start = *q;
    }
  }
  return access;
}

bool TAnalysis::MayReadBytes(int k, const TMemoryAccess& bytes) const { return MayTouchBytes(k, bytes, false); }

bool TAnalysis::MayWriteBytes(int k, const TMemoryAccess& bytes) const { return MayTouchBytes(k, bytes, true); }

bool TAnalysis::MayTouchBytes(int k, const TMemoryAccess& bytes, bool writes) const {
  const TLine& line = *Program.Line(k);
  using K = TMemoryAccess::TKind;
  if (bytes.Kind == K::None) return false;
  if (bytes.Kind == K::Unknown || line.UnknownEffect) return true;
  if (line.FlowKind & fkCall) {
    const TCallEffect call = CallEffectOf(Program, k);
    if (writes ? call.MayStore : call.MayLoad) return true;
  }
  const TByteRange range{.Known = true, .Start = bytes.Start, .Size = bytes.Size};
  if (line.Memory & (writes ? mem::PointerWrite : mem::PointerRead)) {
    if (bytes.Kind == K::Data) {
      // A pointer nobody knows, Y included, reaches data from the lowest address taken up.
      const std::int32_t target = CurrentPointerTargets(Program).TargetOf(k);
      if (target >= 0 ? MayOverlap(TByteRange{.Known = true, .Start = target, .Size = 1}, range)
                      : bytes.Start + bytes.Size > Program.Vars.PointerReachFrom)
        return true;
    } else {
      // Frame bytes are told apart only from other displacements of the same Y.
      const TMemoryAccess access = MemoryAccessOf(k);
      if (access.Kind != K::Frame ||
          MayOverlap(TByteRange{.Known = true, .Start = access.Start, .Size = access.Size}, range))
        return true;
    }
  }
  if (bytes.Kind != K::Data) return false;
  const TUsageSet touches = writes ? (uWrite | uModify) : (uRead | uModify);
  for (const TVarUsage& usage : line.Usages.Items())
    if (usage.Var == nullptr || ((usage.Usage & touches) && MayOverlap(DataRangeOf(*usage.Var), range))) return true;
  return false;
}

int TAnalysis::InstructionSize(TLineType type) {
  const TInstrEffect* effect = FindEffect(type);
  return effect == nullptr || effect->Unknown ? 0 : effect->Size;
}

bool TAnalysis::Reaches(int i) const {
  const TLine& line = *Program.Line(i);
  const bool shortReach = IsBranchType(line.LineType);
  if (!shortReach && line.LineType != lt::RJMP && line.LineType != lt::RCALL) return true;
  std::string_view target = Trim(line.TargetOperand());
  if (!IsPlainLabel(target)) return false;
  int distance = 0;
  return shortReach ? ShortBranchReach(Program, i, target, distance) : LongBranchReach(Program, i, target, distance);
}

std::string TAnalysis::EncodingFault(TLineType type, std::string_view op1, std::string_view op2) const {
  return korvid::EncodingFault(Program, type, op1, op2);
}

TDeviceFeatures TAnalysis::Device() const { return DeviceFeaturesOf(Program); }

std::optional<int> TAnalysis::StackDepth(int i) const {
  auto& cached = CachesOf(Program).StackDepths;
  if (!cached || cached->Generation != AnalysisGeneration(Program) || cached->LineCount != Program.Count())
    cached = std::make_shared<const TStackDepths>(Program);
  return cached->Before(i);
}

bool TAnalysis::ReadsStackPointerBetween(int from, int to) const {
  return korvid::ReadsStackPointerBetween(Program, from, to);
}

bool TAnalysis::TouchesStack(int i) const { return korvid::TouchesStack(*Program.Line(i)); }

bool TAnalysis::LabelNeeded(int i) const {
  const TLine& line = *Program.Line(i);
  if (line.LabelName.empty()) return false;
  if (TLineList::IsSystemLabel(line.LabelName) || IsAddressTaken(line.LabelName) || Program.DataLabels.Find(line.LabelName))
    return true;
  const TASMLabel* label = Program.Labels.Find(line.LabelName);
  if (label == nullptr || label->RefCount > 0) return true;
  // Before any code: the program begins there, and the tools that link it may name it.
  if (Program.PreviousSizedLine(i) < 0) return true;
  // ".RETURNS", ".FRAME" and the like may stand between the header and its entry.
  for (int previous = i - 1; previous >= 0; --previous) {
    const TLine* before = Program.Line(previous);
    if (before == nullptr) return false;
    if (before->LineType == lt::FUNC) return true;
    if (before->Size > 0 || before->IsJoin() || before->LineType == lt::ENDFUNC) return false;
  }
  return false;
}

TPredecessors TAnalysis::Predecessors(int i) const {
  TSearchCache& cache = CurrentSearchCache(Program);
  if (Reverse.Generation != cache.Generation || Reverse.Count != cache.Count) {
    const std::size_t n = cache.Graph.Nodes.size();
    Reverse.Lines.assign(n, {});
    Reverse.CallEntered.assign(n, false);
    for (std::size_t k = 0; k < n; ++k) {
      const TLineNode& node = cache.Graph.Nodes[k];
      const TLine* line = k < static_cast<std::size_t>(Program.Count()) ? Program.Line(static_cast<int>(k)) : nullptr;
      // A return goes back to its callers, not on to the next line; an
      // instruction the analysis does not know has no successor, yet runs on.
      const bool returns = node.Kind == TNodeKind::Return || node.Kind == TNodeKind::ReturnI;
      if (!returns)
        for (int to : node.Succ)
          if (to >= 0) Reverse.Lines[static_cast<std::size_t>(to)].push_back(static_cast<int>(k));
      if (line != nullptr && line->UnknownEffect && k + 1 < n) Reverse.Lines[k + 1].push_back(static_cast<int>(k));
      if (node.CallEntry >= 0) Reverse.CallEntered[static_cast<std::size_t>(node.CallEntry)] = true;
    }
    Reverse.Generation = cache.Generation;
    Reverse.Count = cache.Count;
  }
  TPredecessors found{Reverse.Lines[static_cast<std::size_t>(i)], Reverse.CallEntered[static_cast<std::size_t>(i)]};
  const TLine& line = *Program.Line(i);
  if (line.IsJoin() && (IsAddressTaken(line.LabelName) || Program.DataLabels.Find(line.LabelName))) found.Entered = true;
  if (line.InMarkedRegion) found.Entered = true;
  // The program starts at its first line, and code after ".ORG" is at an address of its own.
  if (i == 0 || Program.Line(i - 1) == nullptr || (Program.Line(i - 1)->FlowKind & fkBlockMarker)) found.Entered = true;
  return found;
}

bool TAnalysis::EnteredFromOutside(int first, int last) const {
  const auto outside = [&](int k) { return k < first || k > last; };
  // The lines' own references: a routine's loops and tables name its labels.
  std::unordered_map<std::string, int> ownRefs;
  for (int k = first; k <= last; ++k) {
    const TLine& line = *Program.Line(k);
    // An entry directive makes its label an entry point wherever it stands.
    if (IsEntryDirective(line.LineType)) continue;
    for (const std::string& operand : line.LabelRefs) ++ownRefs[UpperCase(LabelSymbolOf(operand))];
  }
  std::unordered_set<std::string> taken;
  for (int k = first; k <= last; ++k) {
    const TLine& line = *Program.Line(k);
    if (line.InMarkedRegion || line.LineType == lt::RETI || (line.FlowKind & fkBlockMarker)) return true;
    // The hardware enters an interrupt routine, whether a vector row names it or not.
    if (line.Func != nullptr && line.Func->ReturnKnown && line.Func->ReturnSize == kReturnInterrupt) return true;
    if (!line.LabelName.empty()) {
      if (TLineList::IsSystemLabel(line.LabelName) || Program.DataLabels.Find(line.LabelName)) return true;
      const TASMLabel* label = Program.Labels.Find(line.LabelName);
      const std::string name = UpperCase(line.LabelName);
      if (label == nullptr || label->RefCount > ownRefs[name]) return true;
      if (IsAddressTaken(name)) taken.insert(name);
    }
    // Calls and jumps from outside name a label, counted above; here the code that runs on into the lines.
    for (int from : Predecessors(k).Lines)
      if (outside(from) && ReachedOutside(from, first, last)) return true;
  }
  if (first == 0 || (Program.Line(first - 1)->FlowKind & fkBlockMarker)) return true;
  if (taken.empty()) return false;
  // An address may be taken by any expression: "LDI R30,f SHRB 1 AND 0FFh", ".ADDR f".
  for (int k = 0; k < Program.Count(); ++k) {
    const TLine& line = *Program.Line(k);
    if (!outside(k) || IsDirectTransferType(line.LineType) || NamesNoAddress(line.LineType)) continue;
    for (std::string_view symbol : SymbolsOf(line.Operands))
      if (taken.contains(UpperCase(symbol))) return true;
  }
  return false;
}

bool TAnalysis::ReachedOutside(int from, int first, int last) const {
  std::vector<int> work{from};
  std::unordered_set<int> seen;
  while (!work.empty()) {
    const int q = work.back();
    work.pop_back();
    if (!seen.insert(q).second) continue;
    const TLine& line = *Program.Line(q);
    // Code that runs on from here is taken to run: whether it is reached is another question.
    if (line.Size > 0 || (line.IsJoin() && LabelNeeded(q))) return true;
    const TPredecessors into = Predecessors(q);
    if (into.Entered) return true;
    for (int p : into.Lines)
      if (p < first || p > last) work.push_back(p);
  }
  return false;
}

const TRoutineSummaries& TAnalysis::Summaries() const { return CurrentRoutineSummaries(Program); }

bool TAnalysis::IsAddressTaken(std::string_view label) const { return Summaries().IsAddressTaken(label); }

bool TAnalysis::HasPositionDependentCode() const { return korvid::HasPositionDependentCode(Program); }

TRegFlagSet TAnalysis::AddressTakenRegisters() const { return CurrentSearchCache(Program).Graph.AddressTaken; }

}  // namespace korvid
