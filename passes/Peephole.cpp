#include "passes/Peephole.h"

#include <cstdio>
#include <optional>
#include <string>

#include "analysis/Analysis.h"
#include "analysis/LineGraph.h"
#include "analysis/EffectTable.h"
#include "passes/AddressConstantFolding.h"
#include "passes/BitTest.h"
#include "passes/PeepholeWalk.h"
#include "passes/PointerToDirect.h"
#include "passes/RegisterMoveElimination.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Peephole";

// In the order the walk tries them on a line.
constexpr TRule kRules[] = {
    {"adiw-merge", kPass, std::nullopt,
     "two ADIWs on a pair add their sum at once; only the carry, overflow and sign differ, and nothing reads them"},
    {"reload-after-store", kPass, D::NO_OPT_LDS_MOV,
     "the register stored to or loaded from a byte just before still holds it"},
    {"mask-merge", kPass, std::nullopt, "two SBR (CBR) masks on a register nothing reads between set (clear) both"},
    {"known-compare", kPass, D::NO_OPT_CPI, "a CPI right after loading the same constant is always equal"},
    {"frame-push-pop", kPass, D::NO_REDUNDANT_FRAME_USAGE_OPT,
     "a byte pushed on the frame stack and popped straight back leaves register and Y as they were"},
    {"dead-post-increment", kPass, D::NO_REDUNDANT_FRAME_USAGE_OPT,
     "nobody reads the pointer after its post-increment"},
    {"jump-thread", kPass, std::nullopt, "a jump to a jump may go to the second one's label directly"},
    {"branch-thread", kPass, std::nullopt, "a branch to a jump may go to the jump's label directly"},
    {"branch-reversal", kPass, std::nullopt, "a branch over a jump is the opposite branch to the jump's label"},
    {"branch-to-next", kPass, std::nullopt, "a branch to the next instruction goes where falling through goes"},
    {"skip-reversal", kPass, std::nullopt, "a skip over a jump over a jump is the opposite skip over the second"},
    {"call-to-rcall", kPass, std::nullopt, "RCALL reaches the routine in one word less"},
    {"push-pop-pair", kPass, std::nullopt,
     "a PUSH and its POP around code that neither reads the stack nor needs the popped value changed"},
};
const TRule& AdiwMergeRule = kRules[0];
const TRule& ReloadAfterStoreRule = kRules[1];
const TRule& MaskMergeRule = kRules[2];
const TRule& KnownCompareRule = kRules[3];
const TRule& FramePushPopRule = kRules[4];
const TRule& DeadPostIncrementRule = kRules[5];
const TRule& JumpThreadRule = kRules[6];
const TRule& BranchThreadRule = kRules[7];
const TRule& BranchReversalRule = kRules[8];
const TRule& BranchToNextRule = kRules[9];
const TRule& SkipReversalRule = kRules[10];
const TRule& CallToRcallRule = kRules[11];
const TRule& PushPopPairRule = kRules[12];

// Lines walked from a PUSH to its POP before the pair is left alone.
constexpr int kMaxPushPopWalk = 64;

std::string Hex(std::int64_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0%0*llXh", digits - 1, static_cast<unsigned long long>(value));
  return text;
}

bool IsSkipType(TLineType type) {
  return type == lt::SBRC || type == lt::SBRS || type == lt::SBIC || type == lt::SBIS;
}

}  // namespace

TPeepholeWalk::TPeepholeWalk(const TAnalysis& facts)
    : Facts(facts), Lines(facts.Lines()), Shared(facts.SharedRegisters()) {}

bool TPeepholeWalk::Run() {
  for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) Step(i);
  return Changed;
}

bool TPeepholeWalk::RunPushPopPairs() {
  for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i)
    if (Examine(Lines.Line(i)) && Lines.Line(i)->LineType == lt::PUSH) TryPushPopPair(i);
  return Changed;
}

bool TPeepholeWalk::RunBranchToNext(int i) {
  return Examine(Lines.Line(i)) && IsBranchType(Lines.Line(i)->LineType) &&
         Try(BranchToNextRule, &TPeepholeWalk::BranchToNext, i);
}

bool TPeepholeWalk::Examine(const TLine* line) {
  if (line == nullptr) return false;
  if (line->LineType == lt::ENTRY) PastEntry = true;
  // Vector rows keep their size and place.
  return line->Size > 0 && IsInstructionType(line->LineType) && !line->InMarkedRegion;
}

void TPeepholeWalk::TryPushPopPair(int i) {
  if (!PastEntry || Lines.Run.Directives[D::OPTI_SYSTEM]) Try(PushPopPairRule, &TPeepholeWalk::PushPopPair, i);
}

bool TPeepholeWalk::Try(const TRule& rule, TMatch match, int i) {
  if (!FireRule(Facts, rule, [&](TEditBatch& batch) { return (this->*match)(i, batch); })) return false;
  Changed = true;
  return true;
}

void TPeepholeWalk::Step(int i) {
  const TLine* line = Lines.Line(i);
  if (line != nullptr && line->LineType == lt::OPTI) NoteInlineDirective(*line);
  if (!Examine(line)) return;
  const TLineType type = line->LineType;
  if (IsBranchType(type)) {
    if (!Try(BranchThreadRule, &TPeepholeWalk::BranchThread, i) &&
        !Try(BranchReversalRule, &TPeepholeWalk::BranchReversal, i))
      Try(BranchToNextRule, &TPeepholeWalk::BranchToNext, i);
    return;
  }
  if (IsSkipType(type)) {
    Try(SkipReversalRule, &TPeepholeWalk::SkipReversal, i);
    return;
  }
  switch (type) {
    case lt::ADIW:
      Try(AdiwMergeRule, &TPeepholeWalk::AdiwMerge, i);
      break;
    case lt::LDS:
      if (!PastEntry) Try(ReloadAfterStoreRule, &TPeepholeWalk::ReloadAfterStore, i);
      break;
    case lt::SBR:
    case lt::CBR:
      if (!PastEntry) Try(MaskMergeRule, &TPeepholeWalk::MaskMerge, i);
      break;
    case lt::CPI:
      if (!PastEntry) Try(KnownCompareRule, &TPeepholeWalk::KnownCompare, i);
      break;
    case lt::LD:
      if (!Try(FramePushPopRule, &TPeepholeWalk::FramePushPop, i))
        Try(DeadPostIncrementRule, &TPeepholeWalk::DeadPostIncrement, i);
      break;
    case lt::ST:
      Try(DeadPostIncrementRule, &TPeepholeWalk::DeadPostIncrement, i);
      break;
    case lt::RJMP:
    case lt::JMP:
      Try(JumpThreadRule, &TPeepholeWalk::JumpThread, i);
      break;
    case lt::RCALL:
      TryInline(i);
      break;
    case lt::CALL:
      if (!TryInline(i)) Try(CallToRcallRule, &TPeepholeWalk::CallToRcall, i);
      break;
    case lt::PUSH:
      TryPushPopPair(i);
      break;
    default:
      break;
  }
}

// ADIW R24,a / ADIW R24,b -> ADIW R24,a+b, below 64. The sum's zero and
// negative flags are the second ADIW's; carry, overflow and sign may differ.
bool TPeepholeWalk::AdiwMerge(int i, TEditBatch& batch) const {
  const TLine& first = *Lines.Line(i);
  const int second = Facts.AdjacentInstruction(i, 1);
  if (second < 0 || Facts.MayBeSkipped(i)) return false;
  const TLine& next = *Lines.Line(second);
  if (next.LineType != lt::ADIW || next.IsJoin() || next.DestVar != first.DestVar || next.DestVar == nullptr)
    return false;
  if (!first.ValueKnown || !next.ValueKnown || first.Value < 0 || next.Value < 0) return false;
  const std::int64_t sum = first.Value + next.Value;
  if (sum >= 64 || Facts.FlagsReadAfter(sreg::C | sreg::V | sreg::S, second + 1)) return false;
  batch.Replace(i, first.LineType, first.Mnemonic, first.Op1, Hex(sum, 5));
  batch.Remove(second);
  return true;
}

// STS v,Rr / LDS Rd,v -> STS v,Rr / MOV Rd,Rr; likewise after LDS Rx,v.
// The two run together, and nothing else can change a byte that is not volatile.
bool TPeepholeWalk::ReloadAfterStore(int i, TEditBatch& batch) const {
  const TLine& load = *Lines.Line(i);
  const int before = Facts.AdjacentInstruction(i, -1);
  if (before < 0 || load.IsJoin() || Facts.MayBeSkipped(before) || load.SrcVar == nullptr) return false;
  if (load.SrcVar->Kind == vk::PData || Lines.Vars.IsVolatile(*load.SrcVar)) return false;
  const TLine& previous = *Lines.Line(before);
  const bool store = previous.LineType == lt::STS;
  if (!store && previous.LineType != lt::LDS) return false;
  const TMemoryAccess read = Facts.MemoryAccessOf(i);
  if (read.Kind != TMemoryAccess::TKind::Data || !Facts.MemoryAccessOf(before).SameBytes(read)) return false;
  const int held = Facts.NamedRegister(before, store ? 2 : 1);
  const int loaded = Facts.NamedRegister(i, 1);
  if (held < 0 || loaded < 0 || held == loaded) return false;
  batch.Replace(i, lt::MOV, "MOV", load.Op1, store ? previous.Op2 : previous.Op1);
  // The held register is now read at the load: live between the two lines.
  Facts.MarkLivenessChanged(before, i);
  return true;
}

// SBR Rd,a / ... / SBR Rd,b -> ... / SBR Rd,a|b (CBR alike), when nothing
// between touches Rd but a CBR (SBR) of other bits whose flags nobody reads.
bool TPeepholeWalk::MaskMerge(int i, TEditBatch& batch) const {
  const TLine& first = *Lines.Line(i);
  const int r = tVarList::RegisterNumber(first.DestVar);
  if (r < 0 || !first.ValueKnown || Facts.MayBeSkipped(i) || (Shared & RegisterBit(r))) return false;
  if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(first, lt::Unknown), i + 1)) return false;
  const TLineType opposite = first.LineType == lt::SBR ? lt::CBR : lt::SBR;
  for (int k = Facts.AdjacentInstruction(i, 1); k >= 0; k = Facts.AdjacentInstruction(k, 1)) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin() || line.IsTransfer() || line.IsSkip() || line.UnknownEffect) return false;
    const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
    if (!((bits.Use | bits.Def | bits.Kill) & RegisterBit(r))) continue;
    if (tVarList::RegisterNumber(line.DestVar) != r || !line.ValueKnown) return false;
    if (line.LineType == first.LineType) {
      batch.Remove(i);
      batch.Replace(k, line.LineType, line.Mnemonic, line.Op1, Hex(first.Value | line.Value, 3));
      return true;
    }
    const bool otherBits = line.LineType == opposite && (line.Value & first.Value) == 0;
    if (!otherBits || Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(line, lt::Unknown), k + 1)) return false;
  }
  return false;
}

// LDI Rd,K / CPI Rd,K: equal. A BREQ after it (past flagless loads and T
// changes) always branches and becomes RJMP; a BRNE never does and goes. The
// CPI itself goes only when nothing reads its flags where the walk ends.
bool TPeepholeWalk::KnownCompare(int i, TEditBatch& batch) const {
  const TLine& compare = *Lines.Line(i);
  const int before = Facts.AdjacentInstruction(i, -1);
  if (before < 0 || compare.IsJoin() || !compare.ValueKnown || Facts.MayBeSkipped(before)) return false;
  const TLine& load = *Lines.Line(before);
  if (load.DestVar == nullptr || load.DestVar != compare.DestVar) return false;
  std::int64_t value = -1;
  if (load.LineType == lt::CLR) value = 0;
  if (load.LineType == lt::SER) value = 255;
  if (load.LineType == lt::LDI && load.ValueKnown) value = load.Value & 0xFF;
  if (value < 0 || value != (compare.Value & 0xFF)) return false;
  bool staged = false;
  int end = -1;  // where the compare's flags would next be read
  for (int k = Facts.AdjacentInstruction(i, 1); k >= 0; k = Facts.AdjacentInstruction(k, 1)) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin()) {
      end = k;
      break;
    }
    const TLineType type = line.LineType;
    if (type == lt::LDI || type == lt::CLR || type == lt::SER || type == lt::CLT || type == lt::SET) continue;
    if (type == lt::BRNE) {
      batch.Remove(k);
      batch.ChangeBranchNote(k);
      staged = true;
      continue;
    }
    if (type == lt::BREQ) {
      batch.Replace(k, lt::RJMP, "RJMP", line.Op1);
      batch.ChangeBranchNote(k);
      staged = true;
      end = FindLabelLine(Lines, Trim(line.Op1));
    } else {
      end = k;
    }
    break;
  }
  if (!staged) return false;
  if (end >= 0 && !Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(compare, lt::Unknown), end)) batch.Remove(i);
  return true;
}

// ST -Y,R / LD R,Y+: the byte goes below the frame stack and comes back.
bool TPeepholeWalk::FramePushPop(int i, TEditBatch& batch) const {
  if (Lines.Run.Directives[D::NO_CHECK_REDUNDANT_FRAME_LOAD]) return false;
  const TLine& load = *Lines.Line(i);
  const int before = Facts.AdjacentInstruction(i, -1);
  if (before < 0 || load.IsJoin() || load.PtrReg != 28 || Facts.MayBeSkipped(before)) return false;
  if (static_cast<TPointerMode>(load.PtrMode) != TPointerMode::PostIncrement) return false;
  const TLine& store = *Lines.Line(before);
  if (store.LineType != lt::ST || store.PtrReg != 28 ||
      static_cast<TPointerMode>(store.PtrMode) != TPointerMode::PreDecrement)
    return false;
  const int r = Facts.NamedRegister(i, 1);
  if (r < 0 || Facts.NamedRegister(before, 2) != r) return false;
  batch.Remove(before);
  batch.Remove(i);
  return true;
}

// LD Rd,X+ / ST Z+,Rr with both bytes of the pointer dead afterwards.
bool TPeepholeWalk::DeadPostIncrement(int i, TEditBatch& batch) const {
  const TLine& line = *Lines.Line(i);
  if (line.PtrReg != 26 && line.PtrReg != 30) return false;
  if (static_cast<TPointerMode>(line.PtrMode) != TPointerMode::PostIncrement) return false;
  const TRegFlagSet pair = RegisterBit(line.PtrReg) | RegisterBit(line.PtrReg + 1);
  if ((Shared & pair) || Facts.AnyLive(pair, i + 1)) return false;
  const std::string pointer = line.PtrReg == 26 ? "X" : "Z";
  if (line.LineType == lt::LD)
    batch.Replace(i, line.LineType, line.Mnemonic, line.Op1, pointer);
  else
    batch.Replace(i, line.LineType, line.Mnemonic, pointer, line.Op2);
  return true;
}

// PUSH R ... POP Q at the same depth, the code between straight and known
// to leave the stack as it found it: the pair goes when Q gets back R's
// unchanged value, or when nobody reads Q after the POP. Nothing between may
// read SP, which sees the pair's byte.
bool TPeepholeWalk::PushPopPair(int i, TEditBatch& batch) const {
  const int r = Facts.NamedRegister(i, 1);
  if (r < 0 || r == 28 || r == 29 || Facts.MayBeSkipped(i) || (Shared & RegisterBit(r))) return false;
  const std::optional<int> depth = Facts.StackDepth(i);
  if (!depth) return false;
  bool written = false;
  int level = 1, walked = 0;
  for (int k = Facts.AdjacentInstruction(i, 1); k >= 0 && walked < kMaxPushPopWalk;
       k = Facts.AdjacentInstruction(k, 1), ++walked) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin() || Facts.MayBeSkipped(k) || line.UnknownEffect) return false;
    if (line.IsTransfer() && !IsDirectCallType(line.LineType)) return false;
    if (line.LineType == lt::PUSH) ++level;
    if (line.LineType == lt::POP && --level == 0) {
      const int q = Facts.NamedRegister(k, 1);
      if (q < 0 || (Shared & RegisterBit(q)) || Facts.StackDepth(k) != *depth + 1) return false;
      if ((q != r || written) && Facts.AnyLive(RegisterBit(q), k + 1)) return false;
      if (Facts.ReadsStackPointerBetween(i, k)) return false;
      batch.Remove(i);
      batch.Remove(k);
      // R's own value now lives through the lines between.
      Facts.MarkLivenessChanged(i, k);
      return true;
    }
    written = written || (Facts.Writes(k) & RegisterBit(r));
  }
  return false;
}

std::span<const TRule> PeepholeRules() { return kRules; }

bool PeepholePass(TLineList& lines, const TAnalysis& facts) {
  // None of the rewrites makes a dead value live, except where a rule tells
  // the analysis so: one frozen analysis serves the whole pass.
  auto frozen = facts.Freeze();
  bool changed = TPeepholeWalk(facts).Run();
  changed = OptimiseAndiBitTests(lines, facts) || changed;
  changed = FoldAddressConstants(lines, facts) || changed;
  changed = PointerToDirect(lines, facts) || changed;
  return EliminateRegisterMoves(lines, facts) || changed;
}

bool RemovePushPopPairs(const TAnalysis& facts) {
  auto frozen = facts.Freeze();
  return TPeepholeWalk(facts).RunPushPopPairs();
}

}  // namespace korvid
