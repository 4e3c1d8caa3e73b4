// Calls of routines smaller than the call, rewritten where the peephole walk
// meets them:
//   RCALL e0 ... e0: RET                       ->  (nothing)
//   RCALL e1 ... e1: COM R16 / RET             ->  COM R16
//   RCALL e1 ... e1: RJMP X / RET              ->  RCALL X   (CALL X where RCALL cannot reach)
//   ST -Y,R16 / RCALL e2 / ADIW R28,1 ... e2: LDD _ACCA,Y+0 / COM _ACCA / RET
//                                              ->  MOV _ACCA,R16 / COM _ACCA
// The copied instruction runs with the same registers, flags and memory as in
// the routine; only the stack is two or three bytes higher, so it may neither
// transfer, skip, nor move or read SP. A parameter routine's instruction runs
// with Y one byte higher, so it may not touch Y either. NO_ALLOW_INLINE (until
// ALLOW_INLINE) keeps the calls of one-instruction routines; the entry labels
// and the delay routine, which counts its caller's cycles, keep theirs.
#include "analysis/Analysis.h"
#include "analysis/BranchReach.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "passes/Peephole.h"
#include "passes/PeepholeWalk.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr std::string_view kPass = "Inlining";
constexpr int kAcca = 17;
constexpr int kY = 28;

constexpr TRule kRules[] = {
    {"inline-empty", kPass, std::nullopt, "a call of a routine that only returns does nothing"},
    {"inline-one", kPass, std::nullopt,
     "a routine of one instruction that neither transfers nor touches the stack does the same in its caller"},
    {"inline-jump-call", kPass, std::nullopt,
     "a call of a routine that starts by jumping away calls the jump's label with the same return address"},
    {"inline-parameter", kPass, std::nullopt,
     "a routine that loads its one-byte parameter and does one thing gets the byte from the caller's register"},
};
const TRule& EmptyRule = kRules[0];
const TRule& OneRule = kRules[1];
const TRule& JumpCallRule = kRules[2];
const TRule& ParameterRule = kRules[3];

}  // namespace

std::span<const TRule> InliningRules() { return kRules; }

void TPeepholeWalk::NoteInlineDirective(const TLine& line) {
  const std::string_view keyword = Trim(line.Operands);
  if (EqualsNoCase(keyword, "ALLOW_INLINE")) AllowInline = true;
  if (EqualsNoCase(keyword, "NO_ALLOW_INLINE")) AllowInline = false;
}

bool TPeepholeWalk::TryInline(int i) {
  return Try(EmptyRule, &TPeepholeWalk::InlineEmpty, i) ||
         (AllowInline && (Try(OneRule, &TPeepholeWalk::InlineOne, i) ||
                          Try(JumpCallRule, &TPeepholeWalk::InlineJumpCall, i) ||
                          Try(ParameterRule, &TPeepholeWalk::InlineParameter, i)));
}

int TPeepholeWalk::InlineBody(int call) const {
  const TLine& line = *Lines.Line(call);
  const std::string_view target = Trim(line.Op1);
  if (!IsPlainLabel(target) || EqualsNoCase(target, "SYSTEM.UDELAY") || Lines.DataLabels.Find(target) != nullptr)
    return -1;
  if (Facts.MayBeSkipped(call)) return -1;
  const int label = FindLabelLine(Lines, target);
  if (label < 0) return -1;
  const int body = InstructionFrom(label);
  return body >= 0 && !Lines.Line(body)->InMarkedRegion ? body : -1;
}

bool TPeepholeWalk::RunsAnywhere(int k) const {
  const TLine& line = *Lines.Line(k);
  return !line.IsTransfer() && !line.IsSkip() && !line.UnknownEffect && !line.InMarkedRegion &&
         !Facts.TouchesStack(k);
}

bool TPeepholeWalk::ReturnsAfter(int k) const {
  const int next = Facts.AdjacentInstruction(k, 1);
  return next >= 0 && Lines.Line(next)->LineType == lt::RET;
}

// RCALL e0 ... e0: RET -> nothing.
bool TPeepholeWalk::InlineEmpty(int i, TEditBatch& batch) const {
  const int body = InlineBody(i);
  if (body < 0 || Lines.Line(body)->LineType != lt::RET) return false;
  batch.Remove(i);
  batch.ChangeBranchNote(i);
  return true;
}

// RCALL e1 ... e1: COM R16 / RET -> COM R16.
bool TPeepholeWalk::InlineOne(int i, TEditBatch& batch) const {
  const int body = InlineBody(i);
  if (body < 0 || !RunsAnywhere(body) || !ReturnsAfter(body)) return false;
  const TLine& line = *Lines.Line(body);
  batch.Replace(i, line.LineType, line.Mnemonic, line.Op1, line.Op2);
  batch.ChangeBranchNote(i);
  return true;
}

// RCALL e1 ... e1: RJMP X -> RCALL X: X returns to the same caller from the
// same depth. Only the jump matters, whatever follows it.
bool TPeepholeWalk::InlineJumpCall(int i, TEditBatch& batch) const {
  const int body = InlineBody(i);
  if (body < 0) return false;
  const TLine& jump = *Lines.Line(body);
  const std::string_view target = Trim(jump.Op1);
  if (!jump.IsJump() || !IsPlainLabel(target) || FindLabelLine(Lines, target) < 0 || !JumpChainEnds(body))
    return false;
  int distance = 0;
  if (LongBranchReach(Lines, i, target, distance))
    batch.Replace(i, lt::RCALL, "RCALL", target);
  else
    batch.Replace(i, lt::CALL, "CALL", target);
  batch.ChangeBranchNote(i, true);
  return true;
}

// ST -Y,Rr / RCALL e2 / ADIW R28,n ... e2: LDD _ACCA,Y+0 / op / RET
//   -> MOV _ACCA,Rr / op / ADIW R28,n-1
// The byte left below Y is never read again; the ADIW goes (n = 1) or adds
// one less, when nothing reads the flags it set.
bool TPeepholeWalk::InlineParameter(int i, TEditBatch& batch) const {
  const int load = InlineBody(i);
  if (load < 0) return false;
  const TMemoryAccess slot = Facts.MemoryAccessOf(load);
  if (Lines.Line(load)->LineType != lt::LDD || Facts.NamedRegister(load, 1) != kAcca ||
      Lines.Line(load)->PtrReg != kY || slot.Kind != TMemoryAccess::TKind::Frame || slot.Start != 0)
    return false;
  const int body = Facts.AdjacentInstruction(load, 1);
  if (body < 0 || !RunsAnywhere(body) || !ReturnsAfter(body)) return false;
  const TRegFlagSet y = RegisterBit(kY) | RegisterBit(kY + 1);
  const TLineBits bits = LineRegisterBits(*Lines.Line(body), Facts.AddressTakenRegisters(), 0);
  if ((bits.Use | bits.Def | bits.Kill) & y) return false;
  // A pointer may reach the parameter's byte, which is no longer stored.
  if (Lines.Line(body)->Memory & mem::PointerRead) return false;

  // Nothing may enter between the push and the release.
  const int push = Facts.AdjacentInstruction(i, -1);
  const int release = Facts.AdjacentInstruction(i, 1);
  if (push < 0 || release < 0 || Lines.Line(i)->IsJoin() || Facts.MayBeSkipped(push)) return false;
  const TLine& store = *Lines.Line(push);
  const int r = Facts.NamedRegister(push, 2);
  if (store.LineType != lt::ST || store.PtrReg != kY ||
      static_cast<TPointerMode>(store.PtrMode) != TPointerMode::PreDecrement || r < 0 || r == kY || r == kY + 1)
    return false;
  const TLine& adiw = *Lines.Line(release);
  if (adiw.LineType != lt::ADIW || adiw.IsJoin() || (Facts.Writes(release) & kAllRegisters) != y ||
      !adiw.ValueKnown || adiw.Value < 1 || adiw.Value > 63)
    return false;
  const bool last = adiw.Value == 1;
  if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(adiw, last ? lt::Unknown : lt::ADIW), release + 1)) return false;

  if (r == kAcca)
    batch.Remove(push);
  else
    batch.Replace(push, lt::MOV, "MOV", "_ACCA", store.Op2);
  const TLine& line = *Lines.Line(body);
  batch.Replace(i, line.LineType, line.Mnemonic, line.Op1, line.Op2);
  batch.ChangeBranchNote(i);
  if (last)
    batch.Remove(release);
  else
    batch.Replace(release, adiw.LineType, adiw.Mnemonic, adiw.Op1, std::to_string(adiw.Value - 1));
  // _ACCA now holds the byte from the MOV on, and Y moves less.
  Facts.MarkLivenessChanged(push, release);
  return true;
}

}  // namespace korvid
