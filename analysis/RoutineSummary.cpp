#include "analysis/RoutineSummary.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "source/Functions.h"
#include "analysis/MemoryModel.h"
#include "source/Variables.h"
#include "source/Labels.h"
#include "analysis/LabelIndex.h"
#include "analysis/AnalysisCaches.h"
#include "analysis/LineKinds.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

bool IsPointerStore(TLineType type) {
  return type == lt::ST || type == lt::STD || type == lt::XCH || type == lt::LAC || type == lt::LAS ||
         type == lt::LAT;
}
bool IsCodeLine(const TLine& line) { return line.Size > 0 && line.DataSize == 0; }

// R0..R31, X, Y, Z: never a label.
bool IsRegisterName(std::string_view symbol) {
  if (symbol.size() == 1) return std::strchr("XYZxyz", symbol.front()) != nullptr;
  if (symbol.size() > 3 || (symbol.front() != 'R' && symbol.front() != 'r')) return false;
  for (char c : symbol.substr(1))
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// Calls and returns move the stack pointer and put it back: no lasting store.
bool IsStackPointer(const TVar& var) { return var.Kind == vk::PData && (var.Address == 0x3D || var.Address == 0x3E); }

bool SameMemory(const TVar& a, const TVar& b) {
  if (&a == &b) return true;
  if (a.Address >= 0 && b.Address >= 0) {
    std::int64_t aEnd = a.Address + std::max(a.Size, 1);
    std::int64_t bEnd = b.Address + std::max(b.Size, 1);
    return a.Address < bEnd && b.Address < aEnd;
  }
  // Without an address, names over the same label ("buf", "buf+1") may overlap.
  std::string aBase = LabelSymbolOf(a.PrimaryName);
  return !aBase.empty() && EqualsNoCase(aBase, LabelSymbolOf(b.PrimaryName));
}

}  // namespace

bool TRoutineEffects::MayStore(const TVar& var) const {
  if (Unknown || (StoresThroughPointer && PointerMayReach(var))) return true;
  for (const TVar* written : VarsWritten)
    if (SameMemory(*written, var)) return true;
  return false;
}

bool TRoutineEffects::Merge(const TRoutineEffects& other) {
  TRoutineEffects before = *this;
  RegsRead |= other.RegsRead;
  RegsWritten |= other.RegsWritten;
  FlagsRead |= other.FlagsRead;
  FlagsWritten |= other.FlagsWritten;
  VarsWritten.insert(other.VarsWritten.begin(), other.VarsWritten.end());
  StoresThroughPointer |= other.StoresThroughPointer;
  CallsIndirect |= other.CallsIndirect;
  Unknown |= other.Unknown;
  return RegsRead != before.RegsRead || RegsWritten != before.RegsWritten || FlagsRead != before.FlagsRead ||
         FlagsWritten != before.FlagsWritten || VarsWritten.size() != before.VarsWritten.size() ||
         StoresThroughPointer != before.StoresThroughPointer || CallsIndirect != before.CallsIndirect ||
         Unknown != before.Unknown;
}

const TRoutineEffects& TRoutineEffects::Everything() {
  static const TRoutineEffects everything = [] {
    TRoutineEffects effects;
    effects.RegsRead.set();
    effects.RegsWritten.set();
    effects.FlagsRead.set();
    effects.FlagsWritten.set();
    effects.StoresThroughPointer = true;
    effects.CallsIndirect = true;
    effects.Unknown = true;
    return effects;
  }();
  return everything;
}

TRegisterSet ReturnRegisters(const TFunction& function) {
  TRegisterSet regs;
  const std::int32_t size = function.ReturnSize;
  if (!function.ReturnKnown || (size < kReturnProcedure && size != kReturnPointer)) {
    regs.set();
  } else if (size == kReturnPointer) {
    for (int r : {22, 27, 30, 31}) regs.set(static_cast<std::size_t>(r));
  } else if (size == 1) {
    regs.set(17);
  } else if (size >= 2) {
    // Any size from 16 up fills R16 to R31; a size near the int limit must not overflow.
    const std::int32_t last = size >= 16 ? 31 : 15 + size;
    for (std::int32_t r = 16; r <= last; ++r) regs.set(static_cast<std::size_t>(r));
  }
  return regs;
}

TRoutineSummaries::TRoutineSummaries(const TLineList& lines)
    : Generation(AnalysisGeneration(lines)), LineCount(lines.Count()), Lines(lines), Labels(CurrentLabelIndex(lines)) {
  FindOwners();
  CollectDirectEffects();
  CloseEffects();
  CollectReturnSites();
}

void TRoutineSummaries::FindOwners() {
  const int count = Lines.Count();
  Owner.assign(static_cast<std::size_t>(count), nullptr);
  // A line without Func inside a ".FUNC" block belongs to the block's routine.
  int start = -1;
  auto closeBlock = [&](int end) {
    if (start < 0) return;
    TFunction* record = nullptr;
    for (int i = start + 1; i < end && record == nullptr; ++i) record = Lines.Line(i)->Func;
    if (record == nullptr) record = Lines.Functions.FindByName(FunctionHeaderName(Lines.Line(start)->Op1));
    for (int i = start + 1; i < end; ++i) Owner[static_cast<std::size_t>(i)] = record;
    start = -1;
  };
  for (int i = 0; i < count; ++i) {
    const TLine& line = *Lines.Line(i);
    if (line.LineType == lt::FUNC) {
      closeBlock(i);
      start = i;
    } else if (line.LineType == lt::ENDFUNC || line.LineType == lt::ENDCODE) {
      closeBlock(i + 1);
    }
  }
  closeBlock(count);
  NodeAt.assign(static_cast<std::size_t>(count), -1);
  for (int i = 0; i < count; ++i) {
    TFunction* func = Lines.Line(i)->Func;
    if (func != nullptr) Owner[static_cast<std::size_t>(i)] = func;
    TFunction* owner = Owner[static_cast<std::size_t>(i)];
    if (owner == nullptr) continue;
    auto [at, added] = Nodes.try_emplace(owner, static_cast<int>(Functions.size()));
    if (added) Functions.push_back(owner);
    NodeAt[static_cast<std::size_t>(i)] = at->second;
  }
}

int TRoutineSummaries::LabelLine(std::string_view label) const {
  return Labels->LineOf(label);
}

int TRoutineSummaries::TransferTargetLine(int index) const {
  const std::string& operand = Lines.Line(index)->TargetOperand();
  // "lab+2", numbers and "PC" relative targets can land anywhere.
  if (!IsPlainLabel(operand)) return -1;
  return LabelLine(Trim(operand));
}

int TRoutineSummaries::TargetNode(int index) const {
  int line = TransferTargetLine(index);
  return line < 0 ? -1 : NodeAt[static_cast<std::size_t>(line)];
}

bool TRoutineSummaries::IsAddressTaken(std::string_view label) const {
  const int at = LabelLine(label);
  return at >= 0 && AddressTaken[static_cast<std::size_t>(at)];
}

// Every label named by the operands of a line that is not a direct transfer:
// a routine label found here may be entered in ways no call line shows.
void TRoutineSummaries::MarkAddressesTaken(const TLine& line) {
  for (std::string_view symbol : SymbolsOf(line.Operands)) {
    if (std::isdigit(static_cast<unsigned char>(symbol.front())) || IsRegisterName(symbol)) continue;
    if (const int at = LabelLine(symbol); at >= 0) AddressTaken[static_cast<std::size_t>(at)] = true;
  }
}

int TRoutineSummaries::CallTargetLine(int index) const {
  return IsDirectCallType(Lines.Line(index)->LineType) ? TransferTargetLine(index) : -1;
}

int TRoutineSummaries::NodeOf(const TFunction* function) const {
  auto it = Nodes.find(function);
  return it == Nodes.end() ? -1 : it->second;
}

void TRoutineSummaries::CollectDirectEffects() {
  const std::size_t nodes = Functions.size();
  Effects.assign(nodes, {});
  UnknownCallers.assign(nodes, false);
  Out.assign(nodes, {});

  // Per label line, the direct transfers naming it.
  std::vector<int> transferRefs(static_cast<std::size_t>(Lines.Count()), 0);
  AddressTaken.assign(static_cast<std::size_t>(Lines.Count()), false);
  std::vector<int> lastCode(nodes, -1), beforeLastCode(nodes, -1);
  // Collected with repeats and sorted once: a set insert per line costs more.
  std::vector<std::vector<const TVar*>> varsWritten(nodes);
  for (int i = 0; i < Lines.Count(); ++i) {
    const TLine& line = *Lines.Line(i);
    const int node = NodeAt[static_cast<std::size_t>(i)];
    if (IsDirectTransferType(line.LineType)) {
      if (int at = LabelLine(Trim(line.TargetOperand())); at >= 0) transferRefs[static_cast<std::size_t>(at)] += 1;
    } else if (!NamesNoAddress(line.LineType)) {
      MarkAddressesTaken(line);
    }
    if (IsDirectTransferType(line.LineType)) {
      int target = TargetNode(i);
      bool call = IsDirectCallType(line.LineType);
      if (target >= 0 && node < 0) {
        // A call returns to the line after it wherever it stands; a jump from
        // outside every routine returns to callers no summary knows.
        if (call) {
          OutsideCalls.push_back({target, true, i});
        } else {
          UnknownCallers[static_cast<std::size_t>(target)] = true;
        }
      }
      if (node >= 0) {
        if (target < 0) {
          // Code outside every routine, or a target that cannot be found.
          Effects[static_cast<std::size_t>(node)].Unknown = true;
        } else if (call || target != node) {
          Out[static_cast<std::size_t>(node)].push_back({target, call, i});
        }
      }
    }
    if (node < 0) continue;
    TRoutineEffects& effects = Effects[static_cast<std::size_t>(node)];
    TLineEffects used = EffectsOf(line);
    effects.RegsRead |= used.RegsRead;
    effects.RegsWritten |= used.RegsWritten;
    effects.FlagsRead |= used.FlagsRead;
    effects.FlagsWritten |= used.FlagsWritten;
    for (const TVarUsage& usage : line.Usages.Items()) {
      if (usage.Var == nullptr || !(usage.Usage & (uWrite | uModify | uPop))) continue;
      if (!tVarList::IsRegister(*usage.Var) && !tVarList::IsFlag(*usage.Var) && !IsStackPointer(*usage.Var))
        varsWritten[static_cast<std::size_t>(node)].push_back(usage.Var);
    }
    if (IsPointerStore(line.LineType) || (line.LineType == lt::STS && line.DestVar == nullptr))
      effects.StoresThroughPointer = true;
    if (line.LineType == lt::ICALL || line.LineType == lt::EICALL) {
      effects.CallsIndirect = true;
      effects.Unknown = true;
    }
    if (line.LineType == lt::IJMP || line.LineType == lt::EIJMP) effects.Unknown = true;
    // Bytes whose meaning the analysis does not know may do anything.
    if (line.UnknownEffect) effects.Unknown = true;
    if (line.LineType == lt::RETI) UnknownCallers[static_cast<std::size_t>(node)] = true;
    if (IsCodeLine(line)) {
      beforeLastCode[static_cast<std::size_t>(node)] = lastCode[static_cast<std::size_t>(node)];
      lastCode[static_cast<std::size_t>(node)] = i;
    }
  }

  for (std::size_t node = 0; node < nodes; ++node) {
    std::vector<const TVar*>& written = varsWritten[node];
    std::ranges::sort(written);
    written.erase(std::unique(written.begin(), written.end()), written.end());
    Effects[node].VarsWritten.insert(written.begin(), written.end());
    const TFunction& function = *Functions[node];
    if (function.ReturnKnown && function.ReturnSize == kReturnInterrupt) UnknownCallers[node] = true;
    // A routine whose end can be run through, or skipped over, runs on into whatever follows.
    int last = lastCode[node];
    int before = beforeLastCode[node];
    bool fallsOff = last < 0 || !EndsFlow(Lines.Line(last)->LineType) ||
                    (before >= 0 && Lines.Line(before)->IsSkip());
    if (fallsOff) {
      Effects[node].Unknown = true;
      for (int i = last + 1; i < Lines.Count(); ++i) {
        if (!IsCodeLine(*Lines.Line(i))) continue;
        if (int next = NodeAt[static_cast<std::size_t>(i)]; next >= 0) UnknownCallers[static_cast<std::size_t>(next)] = true;
        break;
      }
    }
  }

  // Routines entered other than by the calls and jumps seen here.
  std::vector<bool> hasCaller(nodes, false);
  for (const auto& edges : Out)
    for (const TEdge& edge : edges) hasCaller[static_cast<std::size_t>(edge.To)] = true;
  for (const TEdge& edge : OutsideCalls) hasCaller[static_cast<std::size_t>(edge.To)] = true;
  Labels->ForEach([&](std::string_view label, int index) {
    int node = NodeAt[static_cast<std::size_t>(index)];
    if (node < 0) return;
    const TASMLabel* entry = Lines.Labels.Find(label);
    int counted = transferRefs[static_cast<std::size_t>(index)];
    if (AddressTaken[static_cast<std::size_t>(index)] || (entry != nullptr && entry->RefCount > counted))
      UnknownCallers[static_cast<std::size_t>(node)] = true;
  });
  for (std::size_t node = 0; node < nodes; ++node)
    if (!hasCaller[node]) UnknownCallers[node] = true;
}

void TRoutineSummaries::CloseEffects() {
  const std::size_t nodes = Functions.size();
  std::vector<std::vector<int>> callers(nodes);
  for (std::size_t from = 0; from < nodes; ++from)
    for (const TEdge& edge : Out[from]) callers[static_cast<std::size_t>(edge.To)].push_back(static_cast<int>(from));
  // Work list over the reversed graph: a routine is revisited only when a
  // callee's summary grew, so cycles end once nothing changes.
  std::vector<int> work;
  std::vector<bool> queued(nodes, true);
  for (std::size_t node = 0; node < nodes; ++node) work.push_back(static_cast<int>(node));
  while (!work.empty()) {
    int callee = work.back();
    work.pop_back();
    queued[static_cast<std::size_t>(callee)] = false;
    for (int caller : callers[static_cast<std::size_t>(callee)]) {
      if (caller == callee) continue;
      if (Effects[static_cast<std::size_t>(caller)].Merge(Effects[static_cast<std::size_t>(callee)]) &&
          !queued[static_cast<std::size_t>(caller)]) {
        queued[static_cast<std::size_t>(caller)] = true;
        work.push_back(caller);
      }
    }
  }
}

void TRoutineSummaries::CollectReturnSites() {
  Sites.assign(Functions.size(), {});
  for (std::size_t from = 0; from < Functions.size(); ++from) {
    for (const TEdge& edge : Out[from]) {
      TReturnSites& sites = Sites[static_cast<std::size_t>(edge.To)];
      if (edge.IsCall) {
        sites.Lines.push_back(edge.Line + 1);
      } else {
        sites.Via.push_back(static_cast<int>(from));
      }
    }
  }
  for (const TEdge& edge : OutsideCalls) Sites[static_cast<std::size_t>(edge.To)].Lines.push_back(edge.Line + 1);
  for (std::size_t node = 0; node < Functions.size(); ++node) Sites[node].Everything = UnknownCallers[node];
}

const TRoutineEffects& TRoutineSummaries::Of(const TFunction* function) const {
  int node = NodeOf(function);
  return node < 0 ? TRoutineEffects::Everything() : Effects[static_cast<std::size_t>(node)];
}

const TRoutineEffects& TRoutineSummaries::AtCall(int index) const {
  const TLine& line = *Lines.Line(index);
  if (!IsDirectCallType(line.LineType)) return TRoutineEffects::Everything();
  int target = TargetNode(index);
  return target < 0 ? TRoutineEffects::Everything() : Effects[static_cast<std::size_t>(target)];
}

}  // namespace korvid
