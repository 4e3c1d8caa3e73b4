#include "passes/FrameLoads.h"

#include <string>

#include "analysis/Analysis.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "passes/AddressOperands.h"
#include "passes/FrameLoadsWalk.h"
#include "source/Expressions.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "FrameLoads";

// In the order the walk tries them on a line.
constexpr TRule kRules[] = {
    {"forward-store", kPass, D::NO_OPT_LOCAL_VARS2,
     "a load of the frame byte just stored through an unchanged Y gets what the unchanged register holds"},
    {"dead-store", kPass, std::nullopt,
     "every path stores to the frame byte again, through the same Y, before anything may read it"},
    {"pointer-copy", kPass, D::NO_OPT_LOCAL_VARS,
     "a pointer copied from Y reaches what Y reaches with a displacement; the copy goes once nothing else reads it"},
    {"bool-chain", kPass, D::NO_OPTI_BOOL_CHECK,
     "after CPI with 0 the carry is clear and after CPI with 255 it is the opposite of Z: a branch on it is decided"},
};
const TRule& ForwardStoreRule = kRules[0];
const TRule& DeadStoreRule = kRules[1];
const TRule& PointerCopyRule = kRules[2];
const TRule& BoolChainRule = kRules[3];

constexpr int kY = 28;
constexpr TRegFlagSet kYBits = RegisterBit(kY) | RegisterBit(kY + 1);
// Lines a forwarding or a pointer copy follows before it gives up.
constexpr int kMaxWalk = 200;

TPointerMode ModeOf(const TLine& line) { return static_cast<TPointerMode>(line.PtrMode); }

bool IsPointerAccess(const TLine& line) {
  return line.LineType == lt::LD || line.LineType == lt::LDD || line.LineType == lt::ST || line.LineType == lt::STD;
}

bool IsLoad(const TLine& line) { return line.LineType == lt::LD || line.LineType == lt::LDD; }

}  // namespace

TFrameLoadWalk::TFrameLoadWalk(const TAnalysis& facts)
    : Facts(facts), Lines(facts.Lines()), Shared(facts.SharedRegisters()) {}

bool TFrameLoadWalk::Run() {
  for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
    const TLine* line = Lines.Line(i);
    if (line == nullptr) continue;
    if (line->LineType == lt::ENTRY) break;
    if (line->Size > 0 && IsInstructionType(line->LineType) && !line->InMarkedRegion) Step(i);
  }
  return Changed;
}

bool TFrameLoadWalk::Try(const TRule& rule, TMatch match, int i) {
  if (!FireRule(Facts, rule, [&](TEditBatch& batch) { return (this->*match)(i, batch); })) return false;
  Changed = true;
  return true;
}

void TFrameLoadWalk::Step(int i) {
  switch (Lines.Line(i)->LineType) {
    case lt::STD:
      // A store whose loads are all forwarded may be dead now.
      Try(ForwardStoreRule, &TFrameLoadWalk::ForwardStore, i);
      Try(DeadStoreRule, &TFrameLoadWalk::DeadStore, i);
      break;
    case lt::MOVW:
      Try(PointerCopyRule, &TFrameLoadWalk::PointerCopy, i);
      break;
    case lt::CPI:
      Try(BoolChainRule, &TFrameLoadWalk::BoolChain, i);
      break;
    default:
      break;
  }
}

std::optional<TFrameLoadWalk::TSlotStore> TFrameLoadWalk::SlotStore(int i) const {
  const TLine& line = *Lines.Line(i);
  if (line.LineType != lt::STD || line.PtrReg != kY) return std::nullopt;
  const TMemoryAccess access = Facts.MemoryAccessOf(i);
  const int r = Facts.NamedRegister(i, 2);
  if (access.Kind != TMemoryAccess::TKind::Frame || r < 0) return std::nullopt;
  return TSlotStore{access.Start, r};
}

bool TFrameLoadWalk::IsSlotLoad(int k, std::int64_t q) const {
  const TLine& line = *Lines.Line(k);
  if (line.LineType != lt::LDD || line.PtrReg != kY) return false;
  const TMemoryAccess access = Facts.MemoryAccessOf(k);
  return access.Kind == TMemoryAccess::TKind::Frame && access.Start == q;
}

int TFrameLoadWalk::NextLine(int k) const {
  for (int j = k + 1; j < Lines.Count(); ++j) {
    const TLine* line = Lines.Line(j);
    if (line == nullptr || !IsPassiveMarker(line->LineType)) return j;
  }
  return -1;
}

bool TFrameLoadWalk::EndsForwarding(int k, const TSlotStore& store) const {
  const TLine& line = *Lines.Line(k);
  if (line.UnknownEffect || line.IsUnconditionalTransfer()) return true;
  if (Facts.Writes(k) & (kYBits | RegisterBit(store.Register))) return true;
  const TMemoryAccess byte{.Kind = TMemoryAccess::TKind::Frame, .Start = store.Displacement, .Size = 1};
  if (Facts.MayWriteBytes(k, byte)) return true;
  // A copy of Y may reach the byte unseen.
  const bool displaced = (line.LineType == lt::LDD || line.LineType == lt::STD) &&
                         Facts.MemoryAccessOf(k).Kind == TMemoryAccess::TKind::Frame;
  return !displaced && (LineRegisterBits(line, Facts.AddressTakenRegisters(), 0).Use & kYBits);
}

// STD Y+q,Rr / ... / LDD Rd,Y+q  ->  ... / MOV Rd,Rr (nothing when Rd is Rr),
// over code that nothing joins. Branches and skips may leave the path: the
// loads on it still follow the store with Y, Rr and the byte unchanged.
bool TFrameLoadWalk::ForwardStore(int i, TEditBatch& batch) const {
  const std::optional<TSlotStore> store = SlotStore(i);
  if (!store || Facts.MayBeSkipped(i)) return false;
  const TRegFlagSet held = RegisterBit(store->Register);
  // A register an interrupt may change need not hold what was stored.
  if ((held & (Shared | kYBits)) != 0) return false;
  int last = -1;
  int walked = 0;
  for (int k = Facts.AdjacentInstruction(i, 1); k >= 0 && walked < kMaxWalk;
       k = Facts.AdjacentInstruction(k, 1), ++walked) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin()) break;
    if (!IsSlotLoad(k, store->Displacement)) {
      if (EndsForwarding(k, *store)) break;
      continue;
    }
    const int loaded = Facts.NamedRegister(k, 1);
    if (loaded < 0) break;
    if (loaded != store->Register) {
      batch.Replace(k, lt::MOV, "MOV", line.Op1, Lines.Line(i)->Op2);
      last = k;
    } else if (!Facts.MayBeSkipped(k)) {
      batch.Remove(k);
      last = k;
    }
    if (RegisterBit(loaded) & kYBits) break;
  }
  if (last < 0) return false;
  // The stored register is read where the loads were: live up to the last one.
  Facts.MarkLivenessChanged(i, last);
  return true;
}

// STD Y+q,Rr where every path stores to Y+q again before anything reads it.
// Under NO_OPT_LOCAL_VARS3 only the straight code after the store counts.
bool TFrameLoadWalk::DeadStore(int i, TEditBatch& batch) const {
  const std::optional<TSlotStore> store = SlotStore(i);
  const bool followTransfers = !Lines.Run.Directives[D::NO_OPT_LOCAL_VARS3];
  if (!store || Facts.FrameByteReadLater(i + 1, store->Displacement, followTransfers)) return false;
  batch.Remove(i);
  return true;
}

// MOVW P,R28 [PUSH ...] [ADIW P,k] / ... / LD Rx,P  ->  ... / LDD Rx,Y+k
// Every access through P while P is still Y+k and Y is unchanged, up to the
// first line that transfers, skips or is joined, reaches the same byte with a
// displacement from Y. The copy and its ADIW go too when nothing else reads
// P, no PUSH saved it and nobody reads the flags the ADIW set.
bool TFrameLoadWalk::PointerCopy(int i, TEditBatch& batch) const {
  const TLine& copy = *Lines.Line(i);
  const int p = tVarList::RegisterNumber(copy.DestVar);
  if ((p != 26 && p != 30) || tVarList::RegisterNumber(copy.SrcVar) != kY || Facts.MayBeSkipped(i)) return false;
  const TRegFlagSet pair = RegisterBit(p) | RegisterBit(p + 1);
  bool removable = (Shared & pair) == 0;
  int k = NextLine(i);
  for (; k >= 0 && Lines.Line(k)->LineType == lt::PUSH && !Lines.Line(k)->IsJoin(); k = NextLine(k))
    removable = false;
  int adiw = -1;
  std::int64_t offset = 0;
  if (k >= 0 && Lines.Line(k)->LineType == lt::ADIW && !Lines.Line(k)->IsJoin() &&
      tVarList::RegisterNumber(Lines.Line(k)->DestVar) == p) {
    const TLine& step = *Lines.Line(k);
    if (!step.ValueKnown || step.Value < 0 || step.Value > 63 || Facts.MayBeSkipped(k)) return false;
    adiw = k;
    offset = step.Value;
    k = NextLine(k);
  }
  int lastConverted = -1;
  for (int walked = 0; k >= 0 && walked < kMaxWalk; k = NextLine(k), ++walked) {
    const TLine& line = *Lines.Line(k);
    if (line.Size == 0 || !IsInstructionType(line.LineType) || line.IsJoin() || line.UnknownEffect ||
        line.IsTransfer() || line.IsSkip() || (Facts.Writes(k) & kYBits))
      break;
    if (line.PtrReg != p || !IsPointerAccess(line)) {
      const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
      if (bits.Use & pair) removable = false;
      if (Facts.Writes(k) & pair) break;
      continue;
    }
    const TPointerMode mode = ModeOf(line);
    const int data = Facts.NamedRegister(k, IsLoad(line) ? 1 : 2);
    // A load into the copy ends it; so may one into a register not known.
    const bool loadsCopy = IsLoad(line) && (data < 0 || (RegisterBit(data) & pair));
    const std::int64_t d = offset + (line.ValueKnown ? line.Value : -1000);
    if (mode != TPointerMode::Plain) {
      // The access still needs P, which steps on by one.
      removable = false;
      offset += mode == TPointerMode::PostIncrement ? 1 : -1;
    } else if (d < 0 || d > 63 || data < 0) {
      removable = false;
    } else if (IsLoad(line)) {
      batch.Replace(k, lt::LDD, "LDD", line.Op1, YDisplacement(d));
      lastConverted = k;
    } else {
      batch.Replace(k, lt::STD, "STD", YDisplacement(d), line.Op2);
      lastConverted = k;
      // The byte stored is part of the copy.
      if (RegisterBit(data) & pair) removable = false;
    }
    if (loadsCopy) {
      k = NextLine(k);
      break;
    }
  }
  if (lastConverted < 0) return false;
  const bool adiwFlagsRead =
      adiw >= 0 && Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(*Lines.Line(adiw), lt::Unknown), adiw + 1);
  if (removable && k >= 0 && !adiwFlagsRead && !Facts.AnyLive(pair, k)) {
    batch.Remove(i);
    if (adiw >= 0) batch.Remove(adiw);
  }
  // Y is read where the accesses through the copy were.
  Facts.MarkLivenessChanged(i, lastConverted);
  return true;
}

std::span<const TRule> FrameLoadRules() { return kRules; }

bool FrameLoads(TLineList& /*lines*/, const TAnalysis& facts) {
  // The rewrites make a dead value live only where a rule tells the analysis
  // so: one frozen analysis serves the whole pass.
  auto frozen = facts.Freeze();
  return TFrameLoadWalk(facts).Run();
}

}  // namespace korvid
