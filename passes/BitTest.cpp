#include "passes/BitTest.h"

#include <optional>
#include <string>
#include <utility>

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "passes/EditBatch.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPeephole = "Peephole";

constexpr TRule kTestBit8Rules[] = {
    {"inline-testbit8", "BitTest8", D::NO_BITTEST8,
     "a skip on the byte at X leaves _ACCA 255 or 0, as the routine does, where nothing reads what else it wrote"},
};
const TRule& InlineTestBit8Rule = kTestBit8Rules[0];

constexpr TRule kAndiRules[] = {
    {"andi-zero", kPeephole, D::NO_BITTEST_OPT, "CLR Rd leaves the register and the flags ANDI Rd,0 leaves"},
    {"andi-after-logic", kPeephole, D::NO_BITTEST_OPT,
     "ANDI Rd,0FFh after a logic instruction on Rd changes neither Rd nor the flags that set"},
    {"andi-bit-branch", kPeephole, D::NO_BITTEST_OPT,
     "a skip on bit b tests what a branch on ANDI Rd,2^b tests, where the mask and its flags are dead"},
    {"andi-cpi-bit-branch", kPeephole, D::NO_BITTEST_OPT,
     "a skip on bit b tests what a branch on ANDI/CPI Rd,2^b tests, where the mask and the flags are dead"},
};
const TRule& AndiZeroRule = kAndiRules[0];
const TRule& AndiAfterLogicRule = kAndiRules[1];
const TRule& AndiBitBranchRule = kAndiRules[2];
const TRule& AndiCpiBitBranchRule = kAndiRules[3];

// _ACCA, where the routine takes the bit number and leaves its answer.
constexpr int kAcca = 17;

// The bit number an ANDI or CPI constant selects; none unless exactly one bit is set.
std::optional<int> SingleBit(const TLine& line) {
  if (!line.ValueKnown) return std::nullopt;
  for (int b = 0; b < 8; ++b)
    if (line.Value == (std::int64_t{1} << b)) return b;
  return std::nullopt;
}

class TTestBit8Inline {
 public:
  explicit TTestBit8Inline(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    if (!RuleEnabled(Lines, InlineTestBit8Rule)) return false;
    Accb = tVarList::RegisterNumber(Lines.Vars.Find("_ACCB"));
    // The byte goes to _ACCB, which must be neither _ACCA nor half of X (LD R26,X is undefined).
    if (Accb < 0 || Accb == kAcca || Accb == 26 || Accb == 27) return false;
    bool changed = false;
    std::optional<TPending> pending;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line == nullptr || (line->Size == 0 && IsPassiveMarker(line->LineType))) continue;
      if (line->IsJoin()) pending.reset();
      if (std::optional<std::int64_t> bit = LoadedBitNumber(*line)) {
        pending = TPending{i, *bit};
        continue;
      }
      if (pending && IsTestBit8Call(*line)) {
        const TPending site = *std::exchange(pending, std::nullopt);
        // A bit number beyond the byte: the routine decides what it means, so it stays.
        if (site.Bit >= 0 && site.Bit <= 7 && Inline(site, i)) {
          changed = true;
          i += 3;  // past the lines put before the call
        }
        continue;
      }
      if (pending && EndsPending(i)) pending.reset();
    }
    return changed;
  }

 private:
  struct TPending {
    int Load;
    std::int64_t Bit;
  };

  // CLR _ACCA loads bit 0, LDI _ACCA,n bit n.
  static std::optional<std::int64_t> LoadedBitNumber(const TLine& line) {
    if (tVarList::RegisterNumber(line.DestVar) != kAcca) return std::nullopt;
    if (line.LineType == lt::CLR) return 0;
    if (line.LineType == lt::LDI && line.ValueKnown) return line.Value;
    return std::nullopt;
  }

  static bool IsTestBit8Call(const TLine& line) {
    return IsDirectCallType(line.LineType) && EqualsNoCase(Trim(line.Op1), "SYSTEM.TestBit8");
  }

  // Control may leave or skip here, or the line may see or change _ACCA:
  // the number loaded is no longer the one the call gets.
  bool EndsPending(int i) const {
    const TLine& line = *Lines.Line(i);
    if (!IsInstructionType(line.LineType) || line.UnknownEffect || line.IsTransfer() || line.IsSkip()) return true;
    const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
    return ((bits.Use | bits.Def | bits.Kill) & RegisterBit(kAcca)) != 0;
  }

  bool Inline(const TPending& site, int call) const {
    if (Facts.MayBeSkipped(site.Load) || Facts.MayBeSkipped(call)) return false;
    // A CLR goes with its flags: nothing between it and the call may read them.
    const std::uint8_t loadFlags = TAnalysis::FlagsChangedBy(*Lines.Line(site.Load), lt::Unknown);
    if (loadFlags != 0 && Facts.IsUsedLater({.Var = Lines.RegisterVar[kAcca], .From = site.Load + 1,
                                             .Flags = loadFlags, .To = call}))
      return false;
    // The inline writes _ACCB and, on one path, the flags of its CLR. What else
    // the routine may write it leaves as it was, and it stores nothing.
    if (CallEffectOf(Lines, call).MayStore) return false;
    const TRegFlagSet clobbered = RegisterBit(Accb) | FlagBits(FindEffect(lt::CLR)->FlagsWritten) | Facts.Writes(call);
    if (Facts.AnyLive(clobbered & ~RegisterBit(kAcca), call + 1)) return false;

    TEditBatch batch(Facts, InlineTestBit8Rule);
    batch.Remove(site.Load);
    batch.InsertBefore(call, lt::LD, "LD", "_ACCB", "X");
    batch.InsertBefore(call, lt::SER, "SER", "_ACCA");
    batch.InsertBefore(call, lt::SBRS, "SBRS", "_ACCB", std::to_string(site.Bit));
    batch.Replace(call, lt::CLR, "CLR", "_ACCA");
    return batch.Apply();
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  int Accb = -1;
};

class TAndiBitTest {
 public:
  explicit TAndiBitTest(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    bool changed = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line != nullptr && line->LineType == lt::ANDI && OptimiseAndiBitTest(i)) changed = true;
    }
    return changed;
  }

 private:
  using TMatch = bool (TAndiBitTest::*)(int i, TEditBatch& batch) const;

  // The rules in the order they are tried; the first that fires ends the line.
  bool OptimiseAndiBitTest(int i) {
    return Try(AndiZeroRule, &TAndiBitTest::ClearForZeroMask, i) ||
           Try(AndiAfterLogicRule, &TAndiBitTest::RemoveAfterLogic, i) ||
           Try(AndiBitBranchRule, &TAndiBitTest::SkipOnMaskedBit, i) ||
           Try(AndiCpiBitBranchRule, &TAndiBitTest::SkipOnComparedBit, i);
  }

  bool Try(const TRule& rule, TMatch match, int i) {
    return FireRule(Facts, rule, [&](TEditBatch& batch) { return (this->*match)(i, batch); });
  }

  // Both leave Rd 0 and the flags S, V, N clear and Z set, and neither touches
  // C or H: no flag changes, so none needs to be dead. CLR is no ANDI, so the
  // rule never meets its own result.
  bool ClearForZeroMask(int i, TEditBatch& batch) const {
    const TLine& andi = *Lines.Line(i);
    if (!andi.ValueKnown || andi.Value != 0) return false;
    batch.Replace(i, lt::CLR, "CLR", andi.Op1);
    return true;
  }

  static bool IsLogic(TLineType type) {
    return type == lt::AND || type == lt::ANDI || type == lt::OR || type == lt::ORI || type == lt::EOR;
  }

  // The logic instruction already set S, V, N and Z from Rd as the ANDI sets
  // them: when both always run together, the ANDI changes nothing.
  bool RemoveAfterLogic(int i, TEditBatch& batch) const {
    const TLine& andi = *Lines.Line(i);
    if (!andi.ValueKnown || andi.Value != 0xFF || andi.IsJoin() || Facts.MayBeSkipped(i)) return false;
    const int logic = Facts.AdjacentInstruction(i, -1);
    if (logic < 0 || Facts.MayBeSkipped(logic) || !IsLogic(Lines.Line(logic)->LineType)) return false;
    if (tVarList::RegisterNumber(Lines.Line(logic)->DestVar) != tVarList::RegisterNumber(andi.DestVar)) return false;
    batch.Remove(i);
    // The logic instruction's flags now reach past where the ANDI stood.
    Facts.MarkLivenessChanged(logic, i);
    return true;
  }

  // LDI or SER as written, whatever type the line was given: never CLR, which sets Z.
  static bool IsFlaglessLoad(const TLine& line) {
    if (!EqualsNoCase(line.Mnemonic, "LDI") && !EqualsNoCase(line.Mnemonic, "SER")) return false;
    const TInstrEffect* written = FindEffectByMnemonic(line.Mnemonic);
    return written != nullptr && written->FlagsWritten == 0;
  }

  // The instruction after line `from`, stepping over one flagless load of a
  // register other than rd, which the branch does not care about; -1 when
  // that load is entered, skipped or loads rd.
  int PastFlaglessLoad(int from, int rd) const {
    const int next = Facts.AdjacentInstruction(from, 1);
    if (next < 0 || !IsFlaglessLoad(*Lines.Line(next))) return next;
    if (tVarList::RegisterNumber(Lines.Line(next)->DestVar) == rd || Lines.Line(next)->IsJoin() ||
        Facts.MayBeSkipped(next))
      return -1;
    return Facts.AdjacentInstruction(next, 1);
  }

  struct TBranchOverOne {
    int Branch;
    int Target;  // the line of its label
    bool OnEqual;
  };

  // A BREQ or BRNE at line `branch` over exactly one instruction, one or two
  // words, to the label right after it: a skip can jump over that instead.
  std::optional<TBranchOverOne> BranchOverOne(int branch) const {
    if (branch < 0) return std::nullopt;
    const TLine& line = *Lines.Line(branch);
    if ((line.LineType != lt::BREQ && line.LineType != lt::BRNE) || line.IsJoin() || Facts.MayBeSkipped(branch))
      return std::nullopt;
    const int over = Facts.AdjacentInstruction(branch, 1);
    if (over < 0 || Lines.Line(over)->IsJoin()) return std::nullopt;
    const int target = Facts.LabelFollowing(over, Trim(line.Op1));
    if (target >= 0) return TBranchOverOne{branch, target, line.LineType == lt::BREQ};
    return std::nullopt;
  }

  // The masked register and the flags of the removed lines must be dead once the
  // branch has gone either way; the skip then sees the same bit.
  bool DeadAfterBranch(const TBranchOverOne& branch, int rd, std::uint8_t flags) const {
    return !Facts.AnyLive(RegisterBit(rd), branch.Branch) && !Facts.FlagsReadAfter(flags, branch.Branch + 1) &&
           !Facts.FlagsReadAfter(flags, branch.Target);
  }

  struct TMask {
    int Register;
    int Bit;
  };

  // ANDI Rd,2^b that runs whenever the line before it does: nothing enters or skips it.
  std::optional<TMask> SingleBitMask(int i) const {
    const TLine& andi = *Lines.Line(i);
    const std::optional<int> bit = SingleBit(andi);
    const int rd = tVarList::RegisterNumber(andi.DestVar);
    if (!bit || rd < 0 || andi.IsJoin() || Facts.MayBeSkipped(i)) return std::nullopt;
    return TMask{rd, *bit};
  }

  // The branch becomes a skip over the same instruction: SBRS where it was taken
  // with the bit set, SBRC where with the bit clear.
  void StageSkip(TEditBatch& batch, const TBranchOverOne& branch, int andi, int bit, bool takenWhenSet) const {
    const std::string& rd = Lines.Line(andi)->Op1;
    // The unmasked register is now read by the skip.
    Facts.MarkLivenessChanged(andi, branch.Branch);
    if (takenWhenSet)
      batch.Replace(branch.Branch, lt::SBRS, "SBRS", rd, std::to_string(bit));
    else
      batch.Replace(branch.Branch, lt::SBRC, "SBRC", rd, std::to_string(bit));
  }

  // ANDI Rd,2^b / BREQ T: Z is set when bit b is clear, so BREQ becomes SBRC and BRNE SBRS.
  bool SkipOnMaskedBit(int i, TEditBatch& batch) const {
    const std::optional<TMask> mask = SingleBitMask(i);
    if (!mask) return false;
    const std::optional<TBranchOverOne> branch = BranchOverOne(PastFlaglessLoad(i, mask->Register));
    const std::uint8_t flags = TAnalysis::FlagsChangedBy(*Lines.Line(i), lt::Unknown);
    if (!branch || !DeadAfterBranch(*branch, mask->Register, flags)) return false;
    batch.Remove(i);
    StageSkip(batch, *branch, i, mask->Bit, !branch->OnEqual);
    return true;
  }

  // ANDI Rd,2^b / CPI Rd,2^b / BREQ T: Z is set when bit b is set, so BREQ becomes SBRS and BRNE SBRC.
  bool SkipOnComparedBit(int i, TEditBatch& batch) const {
    const std::optional<TMask> mask = SingleBitMask(i);
    const int cpi = Facts.AdjacentInstruction(i, 1);
    if (!mask || cpi < 0) return false;
    const TLine& compare = *Lines.Line(cpi);
    if (compare.LineType != lt::CPI || tVarList::RegisterNumber(compare.DestVar) != mask->Register ||
        SingleBit(compare) != mask->Bit || compare.IsJoin() || Facts.MayBeSkipped(cpi))
      return false;
    const std::optional<TBranchOverOne> branch = BranchOverOne(PastFlaglessLoad(cpi, mask->Register));
    const std::uint8_t flags =
        TAnalysis::FlagsChangedBy(*Lines.Line(i), lt::Unknown) | TAnalysis::FlagsChangedBy(compare, lt::Unknown);
    if (!branch || !DeadAfterBranch(*branch, mask->Register, flags)) return false;
    batch.Remove(i);
    batch.Remove(cpi);
    StageSkip(batch, *branch, i, mask->Bit, branch->OnEqual);
    return true;
  }

  const TAnalysis& Facts;
  TLineList& Lines;
};

}  // namespace

std::span<const TRule> TestBit8Rules() { return kTestBit8Rules; }
std::span<const TRule> AndiBitTestRules() { return kAndiRules; }

bool InlineTestBit8(TLineList& /*lines*/, const TAnalysis& facts) {
  // Not frozen: every inline puts lines in, after which the answers are rebuilt anyway.
  return TTestBit8Inline(facts).Run();
}

bool OptimiseAndiBitTests(TLineList& /*lines*/, const TAnalysis& facts) { return TAndiBitTest(facts).Run(); }

}  // namespace korvid
