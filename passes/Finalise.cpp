// The last small rewrites of a run, once the program has settled:
//   LSR R24 / LSR R24 / LSR R24 / LSR R24   ->  SWAP R24 / ANDI R24,00Fh
//   SET / CLT                               ->  CLT
//   ANDI R24,3 / TST R24                    ->  ANDI R24,3
//   MOV R16,R16                             ->  (nothing)
//   MOV R16,R18 / MOV R17,R19               ->  MOVW R16,R18
//   MOVW R24,R30 / MOVW R30,R24             ->  MOVW R24,R30
// A pattern never starts at a line a skip may pass over: the skip would then
// pass over what the rewrite leaves in its place instead.
#include "passes/Finalise.h"

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "passes/EditBatch.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Finalise";

// In the order the walk tries them on a line.
constexpr TRule kRules[] = {
    {"lsr4-to-swap", kPass, std::nullopt,
     "SWAP and ANDI 0Fh shift a byte right by four; nothing reads the carry, overflow or sign LSR would leave"},
    {"t-flag-overwritten", kPass, std::nullopt, "a SET or CLT right before another sets T for nothing"},
    {"tst-after-logic", kPass, D::NO_OPT_TST,
     "AND, OR, EOR and COM leave the flags TST of their result would set"},
    {"tst-after-arithmetic", kPass, D::NO_OPT_TST,
     "arithmetic on the register set its zero and negative flags already; nothing reads the overflow or sign"},
    {"mov-to-itself", kPass, std::nullopt, "a register moved to itself does nothing"},
    {"mov-pair-to-movw", kPass, D::No_Opt_Final_MOV, "two moves of a register pair are one MOVW"},
    {"movw-copied-back", kPass, D::NO_OPT_LOCAL_VARS, "a pair copied straight back holds that value already"},
};
const TRule& Lsr4ToSwapRule = kRules[0];
const TRule& TFlagOverwrittenRule = kRules[1];
const TRule& TstAfterLogicRule = kRules[2];
const TRule& TstAfterArithmeticRule = kRules[3];
const TRule& MovToItselfRule = kRules[4];
const TRule& MovPairToMovwRule = kRules[5];
const TRule& MovwCopiedBackRule = kRules[6];

bool SetsFlagsLikeTst(TLineType type) {
  return type == lt::AND || type == lt::ANDI || type == lt::OR || type == lt::ORI || type == lt::EOR ||
         type == lt::COM;
}

// Results whose zero and negative flags TST would compute again; overflow and
// sign come from the arithmetic instead.
bool SetsZeroAndNegative(TLineType type) {
  switch (type) {
    case lt::ADD: case lt::ADC: case lt::SUB: case lt::SUBI: case lt::NEG: case lt::INC: case lt::DEC:
    case lt::LSR: case lt::LSL: case lt::ROR: case lt::ASR: case lt::ROL:
      return true;
    default:
      return false;
  }
}

int Register(const TVar* var) { return tVarList::RegisterNumber(var); }

bool IsPartner(int a, int b) { return a >= 0 && b >= 0 && (a ^ 1) == b; }

class TFinaliseWalk {
 public:
  explicit TFinaliseWalk(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      if (!Examine(i)) continue;
      switch (Lines.Line(i)->LineType) {
        case lt::LSR:
          Try(Lsr4ToSwapRule, &TFinaliseWalk::Lsr4ToSwap, i);
          break;
        case lt::SET: case lt::CLT:
          Try(TFlagOverwrittenRule, &TFinaliseWalk::TFlagOverwritten, i);
          break;
        case lt::TST:
          if (!Try(TstAfterLogicRule, &TFinaliseWalk::TstAfterLogic, i))
            Try(TstAfterArithmeticRule, &TFinaliseWalk::TstAfterArithmetic, i);
          break;
        case lt::MOV:
          if (!Try(MovToItselfRule, &TFinaliseWalk::MovToItself, i))
            Try(MovPairToMovwRule, &TFinaliseWalk::MovPairToMovw, i);
          break;
        default:
          break;
      }
    }
    // Second walk: MOVW pairs may be new from the first.
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i)
      if (Examine(i) && Lines.Line(i)->LineType == lt::MOVW) Try(MovwCopiedBackRule, &TFinaliseWalk::MovwCopiedBack, i);
    return Changed;
  }

 private:
  using TMatch = bool (TFinaliseWalk::*)(int, TEditBatch&) const;

  bool Examine(int i) const {
    const TLine* line = Lines.Line(i);
    return line != nullptr && line->Size > 0 && IsInstructionType(line->LineType) && !line->InMarkedRegion;
  }

  bool Try(const TRule& rule, TMatch match, int i) {
    if (!FireRule(Facts, rule, [&](TEditBatch& batch) { return (this->*match)(i, batch); })) return false;
    Changed = true;
    return true;
  }

  // The instruction right after line i when nothing else enters at it.
  int Following(int i) const {
    const int next = Facts.AdjacentInstruction(i, 1);
    return next >= 0 && !Lines.Line(next)->IsJoin() && Examine(next) ? next : -1;
  }

  // The instruction right before line i, when line i is reached from it alone.
  int Preceding(int i) const {
    if (Lines.Line(i)->IsJoin()) return -1;
    const int previous = Facts.AdjacentInstruction(i, -1);
    return previous >= 0 && Examine(previous) ? previous : -1;
  }

  bool Lsr4ToSwap(int i, TEditBatch& batch) const {
    if (Facts.MayBeSkipped(i)) return false;
    const TVar* reg = Lines.Line(i)->DestVar;
    int shifts[4] = {i, -1, -1, -1};
    for (int k = 1; k < 4; ++k) {
      shifts[k] = Following(shifts[k - 1]);
      if (shifts[k] < 0 || Lines.Line(shifts[k])->LineType != lt::LSR || Lines.Line(shifts[k])->DestVar != reg)
        return false;
    }
    // Zero and negative agree; ANDI clears overflow and sign and leaves the carry.
    if (Facts.FlagsReadAfter(sreg::C | sreg::V | sreg::S, shifts[3] + 1)) return false;
    const std::string& op1 = Lines.Line(i)->Op1;
    batch.Remove(shifts[0]);
    batch.Remove(shifts[1]);
    batch.Replace(shifts[2], lt::SWAP, "SWAP", op1);
    batch.Replace(shifts[3], lt::ANDI, "ANDI", op1, "00Fh");
    return true;
  }

  bool TFlagOverwritten(int i, TEditBatch& batch) const {
    const int next = Following(i);
    if (next < 0 || Facts.MayBeSkipped(i)) return false;
    const TLineType type = Lines.Line(next)->LineType;
    if (type != lt::SET && type != lt::CLT) return false;
    batch.Remove(i);
    return true;
  }

  // The instruction that computed what line i tests, when it is the one before.
  int TestedResult(int i) const {
    const int p = Preceding(i);
    if (p < 0 || Facts.MayBeSkipped(p) || Lines.Line(p)->DestVar != Lines.Line(i)->DestVar) return -1;
    return Register(Lines.Line(i)->DestVar) >= 0 ? p : -1;
  }

  bool TstAfterLogic(int i, TEditBatch& batch) const {
    const int p = TestedResult(i);
    if (p < 0 || !SetsFlagsLikeTst(Lines.Line(p)->LineType)) return false;
    batch.Remove(i);
    return true;
  }

  bool TstAfterArithmetic(int i, TEditBatch& batch) const {
    const int p = TestedResult(i);
    if (p < 0 || !SetsZeroAndNegative(Lines.Line(p)->LineType)) return false;
    if (Facts.FlagsReadAfter(sreg::V | sreg::S, i + 1)) return false;
    batch.Remove(i);
    return true;
  }

  bool MovToItself(int i, TEditBatch& batch) const {
    const TLine& line = *Lines.Line(i);
    if (line.DestVar != line.SrcVar || Register(line.DestVar) < 0 || Facts.MayBeSkipped(i)) return false;
    batch.Remove(i);
    return true;
  }

  // MOV lo,lo' / MOV hi,hi' in either order, as MOVW lo,lo'; the batch
  // refuses the MOVW where the device has none.
  bool MovPairToMovw(int i, TEditBatch& batch) const {
    const int j = Following(i);
    if (j < 0 || Lines.Line(j)->LineType != lt::MOV || Facts.MayBeSkipped(i)) return false;
    const TLine& first = *Lines.Line(i);
    const TLine& second = *Lines.Line(j);
    const int d = Register(first.DestVar), s = Register(first.SrcVar);
    if (!IsPartner(d, Register(second.DestVar)) || !IsPartner(s, Register(second.SrcVar))) return false;
    if ((d & 1) != (s & 1)) return false;
    const bool lowFirst = (d & 1) == 0;
    const TLine& low = lowFirst ? first : second;
    batch.Remove(lowFirst ? j : i);
    batch.Replace(lowFirst ? i : j, lt::MOVW, "MOVW", low.Op1, low.Op2);
    return true;
  }

  bool MovwCopiedBack(int i, TEditBatch& batch) const {
    const int next = Following(i);
    if (next < 0 || Lines.Line(next)->LineType != lt::MOVW || Facts.MayBeSkipped(i)) return false;
    const TLine& first = *Lines.Line(i);
    const TLine& back = *Lines.Line(next);
    if (back.DestVar != first.SrcVar || back.SrcVar != first.DestVar || Register(first.DestVar) < 0) return false;
    batch.Remove(next);
    return true;
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  bool Changed = false;
};

}  // namespace

std::span<const TRule> FinaliseRules() { return kRules; }

bool Finalise(TLineList& /*lines*/, const TAnalysis& facts) {
  // Every rewrite reads and writes the registers the old lines did, or drops
  // flags nobody reads: no dead value becomes live, so the answers from before
  // the first edit still err towards "used".
  auto frozen = facts.Freeze();
  return TFinaliseWalk(facts).Run();
}

}  // namespace korvid
