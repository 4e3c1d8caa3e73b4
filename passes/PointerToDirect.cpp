#include "passes/PointerToDirect.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "passes/AddressOperands.h"
#include "passes/EditBatch.h"
#include "source/Expressions.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Peephole";

constexpr TRule kRules[] = {
    {"pointer-to-direct", kPass, D::NO_OPT_LDS_STS,
     "LDS and STS reach the bytes a dead pointer loaded with a known address reaches"},
};
const TRule& PointerToDirectRule = kRules[0];

// Accesses through the pair, and lines walked, past which the rewrite is not tried.
constexpr std::size_t kMaxAccesses = 3;
constexpr int kMaxWalk = 64;

bool IsPointerAccess(TLineType type) {
  return type == lt::LD || type == lt::LDD || type == lt::ST || type == lt::STD;
}

class TPointerWalk {
 public:
  explicit TPointerWalk(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    if (!RuleEnabled(Lines, PointerToDirectRule)) return false;
    bool changed = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line == nullptr || line->LineType == lt::ENTRY) break;
      if (line->LineType != lt::LDI) continue;
      TEditBatch batch(Facts, PointerToDirectRule);
      if (Match(i, batch) && batch.Apply()) changed = true;
    }
    return changed;
  }

 private:
  struct TAccess {
    int Line;
    std::int64_t Offset;  // from the loaded address
  };

  bool Match(int first, TEditBatch& batch) const {
    const int r = tVarList::RegisterNumber(Lines.Line(first)->DestVar);
    if (r != 26 && r != 27 && r != 30 && r != 31) return false;
    const int low = r & ~1;
    const int second = Facts.AdjacentInstruction(first, 1);
    if (second < 0 || Lines.Line(second)->IsJoin() || Facts.MayBeSkipped(first) || Facts.MayBeSkipped(second))
      return false;
    std::optional<TAddressLoad> load = AddressLoad(Lines, first, second, low);
    if (!load) return false;

    const TRegFlagSet pair = RegisterBit(low) | RegisterBit(low + 1);
    std::vector<TAccess> accesses;
    std::vector<int> adjustments;
    std::int64_t moved = 0;
    int end = second + 1;
    for (int walked = 0; end < Lines.Count() && walked < kMaxWalk; ++end, ++walked) {
      const TLine& line = *Lines.Line(end);
      if (line.Size == 0 && IsPassiveMarker(line.LineType)) continue;
      if (line.IsJoin() || line.Size == 0 || !IsInstructionType(line.LineType) || line.UnknownEffect) break;
      if (IsPointerAccess(line.LineType) && line.PtrReg == low) {
        std::optional<TAccess> access = Access(end, low, moved);
        if (!access || accesses.size() == kMaxAccesses) return false;
        accesses.push_back(*access);
        continue;
      }
      if ((line.LineType == lt::ADIW || line.LineType == lt::SBIW) && tVarList::RegisterNumber(line.DestVar) == low) {
        if (!line.ValueKnown) return false;
        if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(line, lt::Unknown), end + 1)) return false;
        moved += line.LineType == lt::ADIW ? line.Value : -line.Value;
        adjustments.push_back(end);
        continue;
      }
      // Anything else that touches the pair, transfers or skips ends the walk.
      const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
      if (((bits.Use | bits.Def) & pair) || line.IsTransfer() || line.IsSkip()) break;
    }
    if (accesses.empty() || end >= Lines.Count() || Facts.AnyLive(pair, end)) return false;
    // Each access grows by one word; the loads and adjustments pay for it, or nothing is done.
    const int saved = 4 + 2 * static_cast<int>(adjustments.size());
    if (2 * static_cast<int>(accesses.size()) > saved) return false;

    for (const TAccess& access : accesses) {
      const std::int64_t address = load->Value + access.Offset;
      if (address < 0 || address > 0xFFFF) return false;
      TAddress direct = load->Address;
      direct.Offset += access.Offset;
      const TLine& line = *Lines.Line(access.Line);
      const bool store = line.LineType == lt::ST || line.LineType == lt::STD;
      if (store)
        batch.Replace(access.Line, lt::STS, "STS", direct.Text(), line.Op2);
      else
        batch.Replace(access.Line, lt::LDS, "LDS", line.Op1, direct.Text());
    }
    batch.Remove(first);
    batch.Remove(second);
    for (int adjustment : adjustments) batch.Remove(adjustment);
    return true;
  }

  // The offset line k reaches from the loaded address, `moved` being how far
  // the pair has moved so far (updated for post-increment and pre-decrement);
  // none when the line stores or loads the pair itself or its displacement is unknown.
  std::optional<TAccess> Access(int k, int low, std::int64_t& moved) const {
    const TLine& line = *Lines.Line(k);
    const bool store = line.LineType == lt::ST || line.LineType == lt::STD;
    const int data = tVarList::RegisterNumber(store ? line.SrcVar : line.DestVar);
    if (data < 0 || data == low || data == low + 1 || Facts.MayBeSkipped(k)) return std::nullopt;
    const bool displaced = line.LineType == lt::LDD || line.LineType == lt::STD;
    if (displaced && !line.ValueKnown) return std::nullopt;
    switch (static_cast<TPointerMode>(line.PtrMode)) {
      case TPointerMode::PreDecrement:
        return TAccess{k, --moved};
      case TPointerMode::PostIncrement:
        return TAccess{k, moved++};
      case TPointerMode::Plain:
        return TAccess{k, moved + (displaced ? line.Value : 0)};
    }
    return std::nullopt;
  }

  const TAnalysis& Facts;
  TLineList& Lines;
};

}  // namespace

std::span<const TRule> PointerToDirectRules() { return kRules; }

bool PointerToDirect(TLineList& /*lines*/, const TAnalysis& facts) {
  // The rewrite drops writes of a pair and of flags nobody reads, so no dead
  // value becomes live: the answers from before it still err towards "used".
  auto frozen = facts.Freeze();
  return TPointerWalk(facts).Run();
}

}  // namespace korvid
