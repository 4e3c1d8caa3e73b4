// The rewrites of a boolean's tail, between its label and its test, that let
// the boolean rules fire afterwards: the copies a compare makes of the boolean
// and, with SHORT_CIRCUIT_TESTS, the AND/OR of two booleans evaluated only as
// far as it decides the result. Each is a rule of its own, made as a whole.

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "analysis/LineKinds.h"
#include "passes/BranchWalk.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

// Lines of a short-circuit rule's right operand before it gives up.
constexpr int kMaxOperand = 48;

}  // namespace

// R holds 0 or 0FFh before C: CPI R,K / LDI R,v / BREQ|BRNE L5 / LDI R,not v / L5:
// leaves R as it was, or turned round. The copy goes; the negation becomes COM R.
// L5 goes too when only the branch named it. The flags the lines set must be
// dead at L5, where the next line of the tail stands.
bool TBranchWalk::TailCopy(int c, int r) {
  const TLine& compare = *Lines.Line(c);
  if (!compare.ValueKnown || ((compare.Value & 0xFF) != 0 && (compare.Value & 0xFF) != 0xFF)) return false;
  const bool comparesTrue = (compare.Value & 0xFF) == 0xFF;
  const int n1 = Facts.AdjacentInstruction(c, 1);
  const std::optional<bool> v = n1 >= 0 && !IsJoin(n1) ? ConstantLoaded(n1, r) : std::nullopt;
  if (!v) return false;
  const int n2 = Facts.AdjacentInstruction(n1, 1);
  if (n2 < 0 || IsJoin(n2)) return false;
  const TLine& branch = *Lines.Line(n2);
  const std::string target(Trim(branch.Op1));
  if ((branch.LineType != lt::BREQ && branch.LineType != lt::BRNE) || !IsPlainLabel(target)) return false;
  const int n3 = Facts.AdjacentInstruction(n2, 1);
  if (n3 < 0 || IsJoin(n3) || ConstantLoaded(n3, r) != !*v) return false;
  const int l5 = NextNonPassive(n3);
  if (l5 < 0 || !IsJoin(l5) || !EqualsNoCase(Lines.Line(l5)->LabelName, target)) return false;
  // Taken exactly when R equals K; R is then v, else not v.
  const bool copy = (comparesTrue == (branch.LineType == lt::BREQ)) == *v;
  return Fire(copy ? branchrules::BoolCopy : branchrules::BoolNegate, [&](TEditBatch& batch) {
    std::uint8_t flags = FlagsOf(compare) | FlagsOf(*Lines.Line(n1)) | FlagsOf(*Lines.Line(n3));
    if (!copy) flags |= FindEffect(lt::COM)->FlagsWritten;
    if (Facts.FlagsReadAfter(flags, l5)) return false;
    if (copy)
      batch.Remove(c);
    else
      batch.Replace(c, lt::COM, "COM", compare.Op1);
    batch.Remove(n1);
    batch.Remove(n2);
    batch.ChangeBranchNote(n2);
    batch.Remove(n3);
    if (Lines.Line(l5)->IsLabelLine() && ReferencedOnly(Lines.Line(l5)->LabelName, 1)) batch.Remove(l5);
    return true;
  });
}

// R holds the left operand, 0 or 0FFh:
//   PUSH R / right operand into R / POP Rx / AND R,Rx / TST R
//   -> TST R / BRNE next / RJMP end / next: right operand / end: TST R
// (OR: BREQ). A false left operand already is the AND's result, a true one
// the OR's. The right operand may only compute registers and flags, and go
// forward within itself; what it writes, Rx and the operator's flags must be
// dead at the test, and it may not read the flags it finds.
bool TBranchWalk::ShortCircuit(int p, int r) {
  if (!RuleEnabled(Lines, branchrules::ShortCircuit)) return false;
  std::vector<int> labels;
  std::vector<int> branches;
  TRegFlagSet written = 0;
  int pop = -1;
  for (int k = p + 1, steps = 0; k < Lines.Count() && steps < kMaxOperand && pop < 0; ++k) {
    const TLine* line = Lines.Line(k);
    if (line == nullptr) return false;
    const TLineType type = line->LineType;
    if (line->Size == 0 && IsPassiveMarker(type)) continue;
    ++steps;
    if (line->IsLabelLine()) {
      labels.push_back(k);
      continue;
    }
    if (line->Size == 0 || !IsInstructionType(type) || line->InMarkedRegion || line->UnknownEffect) return false;
    if (line->IsLabelledCode()) labels.push_back(k);
    if (type == lt::POP) {
      pop = k;
    } else if (IsBranchType(type) && type != lt::BRBS && type != lt::BRBC) {
      if (!IsPlainLabel(Trim(line->Op1))) return false;
      branches.push_back(k);
    } else if (type == lt::SBRC || type == lt::SBRS || type == lt::CPSE || Facts.IsRemovableIfDead(k)) {
      written |= Facts.Writes(k);
    } else {
      return false;
    }
  }
  if (pop < 0 || Facts.IsInSkipShadow(pop)) return false;
  const int rx = Reg(pop);
  if (rx < 0 || rx == r || (Shared & RegisterBit(rx))) return false;
  const int op = Facts.AdjacentInstruction(pop, 1);
  if (op < 0 || IsJoin(op)) return false;
  const TLineType opType = Lines.Line(op)->LineType;
  if ((opType != lt::AND && opType != lt::OR) || Reg(op) != r || Facts.NamedRegister(op, 2) != rx) return false;
  const int test = Facts.AdjacentInstruction(op, 1);
  if (test < 0 || IsJoin(test) || Lines.Line(test)->LineType != lt::TST || Reg(test) != r) return false;
  // Entered only at its start, left only at its end.
  for (int b : branches) {
    const std::string target(Trim(Lines.Line(b)->Op1));
    bool ahead = false;
    for (int l : labels) ahead = ahead || (l > b && EqualsNoCase(Lines.Line(l)->LabelName, target));
    if (!ahead) return false;
  }
  for (int l : labels) {
    const std::string& name = Lines.Line(l)->LabelName;
    int count = 0;
    for (int b : branches) count += EqualsNoCase(Trim(Lines.Line(b)->Op1), name);
    if (!ReferencedOnly(name, count)) return false;
  }
  written &= ~RegisterBit(r);
  if ((written & Shared) || Facts.AnyLive(written | RegisterBit(rx) | FlagBits(FlagsOf(*Lines.Line(op))), test) ||
      Facts.FlagsReadAfter(kTestFlags, p + 1))
    return false;
  // A label right before the POP is where the operand ends already.
  std::string end;
  for (int k = pop; k > p && end.empty(); --k) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin()) end = line.LabelName;
    if ((line.Size > 0 && k != pop) || (line.Size == 0 && !line.IsLabelLine() && !IsPassiveMarker(line.LineType)))
      break;
  }
  const bool newEnd = end.empty();
  const std::string next = NewGeneratedLabel(Lines);
  if (newEnd) end = NewGeneratedLabel(Lines);
  const bool isAnd = opType == lt::AND;
  return Fire(branchrules::ShortCircuit, [&](TEditBatch& batch) {
    batch.Replace(p, lt::TST, "TST", Lines.Line(p)->Op1);
    batch.InsertBefore(p + 1, isAnd ? lt::BRNE : lt::BREQ, isAnd ? "BRNE" : "BREQ", next);
    batch.InsertBefore(p + 1, lt::RJMP, "RJMP", end);
    batch.InsertLabelBefore(p + 1, next);
    batch.Remove(pop);
    batch.Remove(op);
    if (newEnd) batch.InsertLabelBefore(op + 1, end);
    return true;
  });
}

}  // namespace korvid
