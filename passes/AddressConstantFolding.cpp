#include "passes/AddressConstantFolding.h"

#include <algorithm>
#include <optional>
#include <string>

#include "analysis/Analysis.h"
#include "passes/AddressOperands.h"
#include "passes/EditBatch.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Peephole";

constexpr TRule kRules[] = {
    {"fold-adiw-sbiw", kPass, D::NO_OPT_OFFSET_LOADS,
     "the assembler adds the ADIW or SBIW constant to the address the two LDIs load"},
    {"fold-subi-sbci", kPass, D::NO_OPT_OFFSET_LOADS,
     "the assembler subtracts the SUBI/SBCI constant from the address the two LDIs load"},
};
const TRule& FoldAdiwSbiwRule = kRules[0];
const TRule& FoldSubiSbciRule = kRules[1];

class TFolding {
 public:
  explicit TFolding(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    bool changed = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line == nullptr) continue;
      if (line->LineType == lt::ADIW || line->LineType == lt::SBIW)
        changed = Try(FoldAdiwSbiwRule, &TFolding::FoldAdiwSbiw, i) || changed;
      else if (line->LineType == lt::SBCI)
        changed = Try(FoldSubiSbciRule, &TFolding::FoldSubiSbci, i) || changed;
    }
    return changed;
  }

 private:
  using TMatch = bool (TFolding::*)(int i, TEditBatch& batch) const;

  bool Try(const TRule& rule, TMatch match, int i) {
    return FireRule(Facts, rule, [&](TEditBatch& batch) { return (this->*match)(i, batch); });
  }

  // Every line runs whenever the last one does: none after the first is entered
  // from elsewhere, and none is skipped.
  bool RunsTogether(std::initializer_list<int> lines, int first) const {
    return std::all_of(lines.begin(), lines.end(), [&](int k) {
      return !Facts.MayBeSkipped(k) && (k == first || !Lines.Line(k)->IsJoin());
    });
  }

  // The two LDIs ending at line `last` that load the pair whose low register is `low`:
  // rewrites them to load `adjust` more, or stages nothing and returns false.
  bool RefoldLoads(int last, int low, std::int64_t adjust, TEditBatch& batch) const {
    const int before = Facts.AdjacentInstruction(last, -1);
    if (before < 0) return false;
    std::optional<TAddressLoad> load = AddressLoad(Lines, before, last, low);
    if (!load || !RunsTogether({before, last}, before)) return false;
    if (load->Value + adjust < 0 || load->Value + adjust > 0xFFFF) return false;
    TAddress folded = load->Address;
    folded.Offset += adjust;
    batch.Replace(load->LowLine, lt::LDI, "LDI", Lines.Line(load->LowLine)->Op1, folded.Text() + " AND 0FFh");
    batch.Replace(load->HighLine, lt::LDI, "LDI", Lines.Line(load->HighLine)->Op1, folded.Text() + " SHRB 8");
    return true;
  }

  bool FoldAdiwSbiw(int i, TEditBatch& batch) const {
    const TLine& adjust = *Lines.Line(i);
    const int low = tVarList::RegisterNumber(adjust.DestVar);
    const int last = Facts.AdjacentInstruction(i, -1);
    if (!adjust.ValueKnown || low < 0 || last < 0 || !RunsTogether({i}, -1)) return false;
    if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(adjust, lt::Unknown), i + 1)) return false;
    const std::int64_t k = adjust.LineType == lt::ADIW ? adjust.Value : -adjust.Value;
    if (!RefoldLoads(last, low, k, batch)) return false;
    batch.Remove(i);
    return true;
  }

  bool FoldSubiSbci(int i, TEditBatch& batch) const {
    const TLine& high = *Lines.Line(i);
    const int subi = Facts.AdjacentInstruction(i, -1);
    if (subi < 0 || Lines.Line(subi)->LineType != lt::SUBI) return false;
    const TLine& low = *Lines.Line(subi);
    const int lowRegister = tVarList::RegisterNumber(low.DestVar);
    if (lowRegister < 0 || lowRegister % 2 != 0 || tVarList::RegisterNumber(high.DestVar) != lowRegister + 1)
      return false;
    auto lowParts = SplitAt(low.Op2, " AND ");
    auto highParts = SplitAt(high.Op2, " SHRB ");
    if (!lowParts || !highParts || PlainNumber(lowParts->second) != 255 || highParts->second != "8") return false;
    std::optional<std::int64_t> k = PlainNumber(lowParts->first, true);
    if (!k || k != PlainNumber(highParts->first, true)) return false;
    const int last = Facts.AdjacentInstruction(subi, -1);
    if (last < 0 || !RunsTogether({subi, i}, -1)) return false;
    const std::uint8_t flags = TAnalysis::FlagsChangedBy(low, lt::Unknown) | TAnalysis::FlagsChangedBy(high, lt::Unknown);
    if (Facts.FlagsReadAfter(flags, i + 1)) return false;
    if (!RefoldLoads(last, lowRegister, -*k, batch)) return false;
    batch.Remove(subi);
    batch.Remove(i);
    return true;
  }

  const TAnalysis& Facts;
  TLineList& Lines;
};

}  // namespace

std::span<const TRule> AddressConstantFoldingRules() { return kRules; }

bool FoldAddressConstants(TLineList& /*lines*/, const TAnalysis& facts) {
  // A fold loads the same registers and drops only dead flags, so the answers
  // from before it still err towards "used".
  auto frozen = facts.Freeze();
  return TFolding(facts).Run();
}

}  // namespace korvid
