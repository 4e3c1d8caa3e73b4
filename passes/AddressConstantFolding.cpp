#include "passes/AddressConstantFolding.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>

#include "analysis/Analysis.h"
#include "analysis/LineKinds.h"
#include "analysis/PointerTargets.h"
#include "passes/EditBatch.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"
#include "source/Variables.h"

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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A number as the compiler writes offsets: decimal digits, or hexadecimal digits
// ending in "h"; a leading "-" only where `signedText` allows it.
std::optional<std::int64_t> PlainNumber(std::string_view text, bool signedText = false) {
  text = Trim(text);
  const bool negative = signedText && !text.empty() && text.front() == '-';
  if (negative) text = Trim(text.substr(1));
  if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  std::optional<std::int64_t> value;
  if (text.back() == 'h' || text.back() == 'H') {
    text.remove_suffix(1);
    if (!std::all_of(text.begin(), text.end(), IsHexDigit)) return std::nullopt;
    value = HexToInt64(text);
  } else {
    if (!std::all_of(text.begin(), text.end(), IsDigit) || text.size() > 9) return std::nullopt;
    value = std::strtoll(std::string(text).c_str(), nullptr, 10);
  }
  if (value && negative) *value = -*value;
  return value;
}

struct TAddress {
  std::string Symbol;
  std::int64_t Offset = 0;

  bool operator==(const TAddress& other) const { return EqualsNoCase(Symbol, other.Symbol) && Offset == other.Offset; }
  std::string Text() const {
    if (Offset == 0) return Symbol;
    return Symbol + (Offset > 0 ? " + " : " - ") + std::to_string(std::llabs(Offset));
  }
};

// "sym", "sym + 4", "sym-10h".
std::optional<TAddress> AddressPart(std::string_view text) {
  text = Trim(text);
  std::size_t sign = text.find_first_of("+-");
  TAddress address{std::string(Trim(text.substr(0, sign))), 0};
  if (!IsPlainLabel(address.Symbol)) return std::nullopt;
  if (sign == std::string_view::npos) return address;
  std::optional<std::int64_t> offset = PlainNumber(text.substr(sign + 1));
  if (!offset) return std::nullopt;
  address.Offset = text[sign] == '-' ? -*offset : *offset;
  return address;
}

// The text before `separator` and after it, or none when the separator is missing.
std::optional<std::pair<std::string_view, std::string_view>> SplitAt(std::string_view text,
                                                                      std::string_view separator) {
  std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  return std::pair{text.substr(0, at), Trim(text.substr(at + separator.size()))};
}

// "sym + 4 AND 0FFh": the low byte of an address.
std::optional<TAddress> LowByteOperand(std::string_view operand) {
  auto parts = SplitAt(operand, " AND ");
  if (!parts || PlainNumber(parts->second) != 255) return std::nullopt;
  return AddressPart(parts->first);
}

// "sym + 4 SHRB 8": the high byte of an address.
std::optional<TAddress> HighByteOperand(std::string_view operand) {
  auto parts = SplitAt(operand, " SHRB ");
  if (!parts || parts->second != "8") return std::nullopt;
  return AddressPart(parts->first);
}

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
    if (!RuleEnabled(Lines, rule)) return false;
    TEditBatch batch(Facts, rule);
    return (this->*match)(i, batch) && batch.Apply();
  }

  // The instruction before line i with only passive markers between; -1 when
  // anything else stands there (a label: another path enters).
  int PreviousInstruction(int i) const {
    for (int k = i - 1; k >= 0; --k) {
      const TLine* line = Lines.Line(k);
      if (line == nullptr) return -1;
      if (IsInstructionType(line->LineType) && line->Size > 0) return k;
      if (!IsPassiveMarker(line->LineType)) return -1;
    }
    return -1;
  }

  // Every line runs whenever the last one does: none after the first is entered
  // from elsewhere, and none is skipped.
  bool RunsTogether(std::initializer_list<int> lines, int first) const {
    return std::all_of(lines.begin(), lines.end(), [&](int k) {
      return !Facts.IsInSkipShadow(k) && !Lines.Line(k)->MaybeSkipped && (k == first || !Lines.Line(k)->IsJoin());
    });
  }

  // The two LDIs ending at line `last` that load the pair whose low register is `low`:
  // rewrites them to load `adjust` more, or stages nothing and returns false.
  bool RefoldLoads(int last, int low, std::int64_t adjust, TEditBatch& batch) const {
    const int before = PreviousInstruction(last);
    if (before < 0 || Lines.Line(last)->LineType != lt::LDI || Lines.Line(before)->LineType != lt::LDI) return false;
    int lowLine = -1, highLine = -1;
    for (int k : {before, last}) {
      const int r = tVarList::RegisterNumber(Lines.Line(k)->DestVar);
      if (r == low) lowLine = k;
      if (r == low + 1) highLine = k;
    }
    if (lowLine < 0 || highLine < 0 || !RunsTogether({before, last}, before)) return false;
    const TLine& lowLoad = *Lines.Line(lowLine);
    const TLine& highLoad = *Lines.Line(highLine);
    std::optional<TAddress> lowAddress = LowByteOperand(lowLoad.Op2);
    std::optional<TAddress> highAddress = HighByteOperand(highLoad.Op2);
    if (!lowAddress || !highAddress || !(*lowAddress == *highAddress)) return false;
    // The pair adds with a carry into the high byte; the folded address must need none beyond it.
    std::optional<std::int64_t> lowByte = ImmediateByte(Lines.Vars, lowLoad.Op2);
    std::optional<std::int64_t> highByte = ImmediateByte(Lines.Vars, highLoad.Op2);
    if (!lowByte || !highByte) return false;
    const std::int64_t pair = (*highByte << 8) + *lowByte;
    if (pair + adjust < 0 || pair + adjust > 0xFFFF) return false;
    TAddress folded = *lowAddress;
    folded.Offset += adjust;
    batch.Replace(lowLine, lt::LDI, "LDI", lowLoad.Op1, folded.Text() + " AND 0FFh");
    batch.Replace(highLine, lt::LDI, "LDI", highLoad.Op1, folded.Text() + " SHRB 8");
    return true;
  }

  bool FoldAdiwSbiw(int i, TEditBatch& batch) const {
    const TLine& adjust = *Lines.Line(i);
    const int low = tVarList::RegisterNumber(adjust.DestVar);
    const int last = PreviousInstruction(i);
    if (!adjust.ValueKnown || low < 0 || last < 0 || !RunsTogether({i}, -1)) return false;
    if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(adjust, lt::Unknown), i + 1)) return false;
    const std::int64_t k = adjust.LineType == lt::ADIW ? adjust.Value : -adjust.Value;
    if (!RefoldLoads(last, low, k, batch)) return false;
    batch.Remove(i);
    return true;
  }

  bool FoldSubiSbci(int i, TEditBatch& batch) const {
    const TLine& high = *Lines.Line(i);
    const int subi = PreviousInstruction(i);
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
    const int last = PreviousInstruction(subi);
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

bool FoldAddressConstants(TLineList& /*lines*/, const TAnalysis& facts) { return TFolding(facts).Run(); }

}  // namespace korvid
