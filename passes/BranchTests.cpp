// The rules around a single test that need no materialised boolean before
// them: a test of a register just loaded with a constant, ORI in front of a
// test, and COM of a boolean in front of its test.
#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "passes/BranchWalk.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

// Lines between a COM and the branch on its test.
constexpr int kMaxScan = 16;

bool IsLogic(TLineType type) {
  return type == lt::AND || type == lt::ANDI || type == lt::OR || type == lt::ORI || type == lt::EOR;
}

}  // namespace

// CLR R / TST R / BRNE L: never taken; CLR R / TST R / BREQ L: always (SER the
// mirror). The branch goes or becomes a jump; the start and the test go too
// where R and the flags they set are dead after it, and stay otherwise, so
// that a later branch on the same flags is folded in the next round.
bool TBranchWalk::ConstantTest(const TStart& start) {
  const int test = Facts.AdjacentInstruction(start.Line, 1);
  if (test < 0 || IsJoin(test) || Lines.Line(test)->LineType != lt::TST || Reg(test) != start.Register) return false;
  const int b = Facts.AdjacentInstruction(test, 1);
  if (b < 0 || IsJoin(b)) return false;
  const TLine& branch = *Lines.Line(b);
  const TLineType type = branch.LineType;
  const bool never = start.True ? type == lt::BREQ : type == lt::BRNE || type == lt::BRLT;
  const bool always = start.True ? type == lt::BRNE : type == lt::BREQ;
  if (!never && !always) return false;
  const TRegFlagSet written =
      RegisterBit(start.Register) | FlagBits(FlagsOf(*Lines.Line(start.Line)) | FlagsOf(*Lines.Line(test)));
  if (never) {
    return Fire(branchrules::ConstantTestNever, [&](TEditBatch& batch) {
      batch.Remove(b);
      batch.ChangeBranchNote(b);
      if (!Facts.AnyLive(written, b + 1)) {
        batch.Remove(test);
        batch.Remove(start.Line);
      }
      return true;
    });
  }
  const std::string target(Trim(branch.Op1));
  const int label = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
  if (label < 0) return false;
  return Fire(branchrules::ConstantTestAlways, [&](TEditBatch& batch) {
    batch.Replace(b, lt::RJMP, "RJMP", target);
    batch.ChangeBranchNote(b);
    if (!Facts.AnyLive(written, label)) {
      batch.Remove(test);
      batch.Remove(start.Line);
    }
    return true;
  });
}

void TBranchWalk::OriRules(int i) {
  const TLine& ori = *Lines.Line(i);
  const int r = Reg(i);
  if (r < 0 || !ori.ValueKnown) return;
  if ((ori.Value & 0xFF) == 0xFF) {
    // SER writes no flag: those ORI wrote must be dead.
    Fire(branchrules::OriToSer, [&](TEditBatch& batch) {
      if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(ori, lt::SER), i + 1)) return false;
      batch.Replace(i, lt::SER, "SER", ori.Op1);
      return true;
    });
    return;
  }
  if ((ori.Value & 0xFF) != 0) return;
  // The logic instruction set S, V, N and Z from Rd as ORI Rd,0 sets them.
  Fire(branchrules::OriAfterLogic, [&](TEditBatch& batch) {
    if (ori.IsJoin() || Facts.MayBeSkipped(i)) return false;
    const int logic = Facts.AdjacentInstruction(i, -1);
    if (logic < 0 || Facts.MayBeSkipped(logic) || !IsLogic(Lines.Line(logic)->LineType) || Reg(logic) != r)
      return false;
    batch.Remove(i);
    Facts.MarkLivenessChanged(logic, i);
    return true;
  });
}

// COM R / [LDI Rx / CLT] / TST R / [LDI Rx / CLT] / BRNE L  ->  TST R / BREQ L, and
// BREQ the other way, where R holds 0 or 0FFh: TST of the complement sets Z
// exactly when TST of R clears it. R and the flags the two set must be dead
// after the branch on both paths.
void TBranchWalk::ComBeforeTest(int c) {
  const int r = Reg(c);
  if (r < 0 || (Shared & RegisterBit(r)) || Facts.MayBeSkipped(c)) return;
  const int before = Facts.AdjacentInstruction(c, -1);
  const bool constant = !IsJoin(c) && before >= 0 && !Facts.MayBeSkipped(before) && ConstantLoaded(before, r);
  if (!constant && !BooleanComs.contains(Lines.Line(c))) return;
  int test = -1;
  int branch = -1;
  for (int k = Facts.AdjacentInstruction(c, 1), steps = 0; k >= 0 && steps < kMaxScan;
       k = Facts.AdjacentInstruction(k, 1), ++steps) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin()) return;
    if ((line.LineType == lt::LDI && Reg(k) != r) || line.LineType == lt::CLT) continue;
    if (line.LineType == lt::TST && Reg(k) == r && test < 0) {
      test = k;
      continue;
    }
    if ((line.LineType == lt::BREQ || line.LineType == lt::BRNE) && test >= 0) branch = k;
    break;
  }
  if (branch < 0) return;
  const TLine& decision = *Lines.Line(branch);
  const std::string target(Trim(decision.Op1));
  const int label = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
  if (label < 0) return;
  Fire(branchrules::ComBeforeTest, [&](TEditBatch& batch) {
    const TRegFlagSet changed = RegisterBit(r) | FlagBits(FlagsOf(*Lines.Line(c)) | kTestFlags);
    if (Facts.AnyLive(changed, branch + 1) || Facts.AnyLive(changed, label)) return false;
    batch.Remove(c);
    batch.Replace(branch, ReverseLineType(decision.LineType), ReverseMnemonic(decision.LineType), target);
    batch.ChangeBranchNote(branch);
    return true;
  });
}

}  // namespace korvid
