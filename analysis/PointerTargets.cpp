#include "analysis/PointerTargets.h"

#include <algorithm>
#include <array>

#include "analysis/ByteRanges.h"
#include "analysis/CallEffects.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/PositionDependentCode.h"
#include "source/Variables.h"
#include "source/Expressions.h"
#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr int kFirstPointerRegister = 26;
constexpr std::int64_t kAddressMask = 0xFFFF;

// What the sweep knows of R26..R31, -1 for an unknown byte.
using TPointerBytes = std::array<std::int32_t, 6>;

// The 16-bit value of pointer pair `low` (26, 28, 30); -1 when a byte is unknown or `low` names no pair.
std::int32_t PairValue(const TPointerBytes& bytes, int low) {
  if (low < kFirstPointerRegister || (low & 1)) return -1;
  std::int32_t lo = bytes[low - kFirstPointerRegister], hi = bytes[low + 1 - kFirstPointerRegister];
  return lo < 0 || hi < 0 ? -1 : (hi << 8) | lo;
}

void SetByte(TPointerBytes& bytes, int r, std::int64_t value) {
  if (r >= kFirstPointerRegister && value >= 0 && value <= 0xFF)
    bytes[r - kFirstPointerRegister] = static_cast<std::int32_t>(value);
}

void SetPair(TPointerBytes& bytes, int low, std::int64_t value) {
  if (low < kFirstPointerRegister || (low & 1) || value < 0) return;
  value &= kAddressMask;
  SetByte(bytes, low, value & 0xFF);
  SetByte(bytes, low + 1, value >> 8);
}

// The address the line's pointer access touches.
std::int32_t AccessAddress(const TPointerBytes& bytes, const TLine& line) {
  std::int64_t address = PairValue(bytes, line.PtrReg);
  if (address < 0) return -1;
  if (line.PtrMode == 0) {
    address -= 1;
  } else if (line.PtrMode == 2) {
    if (!line.ValueKnown) return -1;
    address += line.Value;
  }
  return address < 0 || address > kAddressMask ? -1 : static_cast<std::int32_t>(address);
}

// Values the line gives the pointer registers, from what they held before it.
void Learn(const tVarList& vars, const TLine& line, const TPointerBytes& before, TPointerBytes& after) {
  int r = tVarList::RegisterNumber(line.DestVar);
  int q = tVarList::RegisterNumber(line.SrcVar);
  switch (line.LineType) {
    case lt::LDI:
      if (std::optional<std::int64_t> value = ImmediateByte(vars, line.Op2)) SetByte(after, r, *value);
      return;
    case lt::CLR: SetByte(after, r, 0); return;
    case lt::SER: SetByte(after, r, 0xFF); return;
    case lt::ADIW:
    case lt::SBIW:
      if (line.ValueKnown && PairValue(before, r) >= 0)
        SetPair(after, r, PairValue(before, r) + (line.LineType == lt::ADIW ? line.Value : -line.Value));
      return;
    case lt::MOVW:
      if (PairValue(before, q) >= 0) SetPair(after, r, PairValue(before, q));
      return;
    default:
      break;
  }
  // Post-increment and pre-decrement step the pair, unless the line also
  // loads into it (an undefined form) or stores from it.
  bool steps = line.PtrMode < 2 && PairValue(before, line.PtrReg) >= 0;
  bool ownPair = (r >= 0 && (r & ~1) == line.PtrReg) || (q >= 0 && (q & ~1) == line.PtrReg);
  if (steps && !ownPair) SetPair(after, line.PtrReg, PairValue(before, line.PtrReg) + (line.PtrMode == 1 ? 1 : -1));
}

// The line's effect on the pointer registers: what it may write becomes
// unknown, then what it certainly loads is learnt.
void Apply(const TLineList& lines, int index, const TLine& line, TRegFlagSet addressTaken, TPointerBytes& bytes) {
  // Nothing known stays nothing known, except through a load of a constant.
  bool loadsConstant = line.LineType == lt::LDI || line.LineType == lt::CLR || line.LineType == lt::SER;
  if (!loadsConstant && std::ranges::all_of(bytes, [](std::int32_t b) { return b < 0; })) return;
  TRegFlagSet written = LineMayWrite(lines, index, addressTaken).Registers;
  const TPointerBytes before = bytes;
  for (int r = kFirstPointerRegister; r < 32; ++r)
    if (written & RegisterBit(r)) bytes[r - kFirstPointerRegister] = -1;
  // A line that may be skipped leaves what it writes unknown.
  if (!line.MaybeSkipped) Learn(lines.Vars, line, before, bytes);
}

}  // namespace

std::optional<std::int64_t> ImmediateByte(const tVarList& vars, std::string_view text) {
  std::optional<std::int64_t> value = ExpressionValue(vars, Trim(text), IsMemoryVariable);
  if (!value || *value < 0 || *value > 0xFF) return {};
  return value;
}

TPointerTargets::TPointerTargets(const TLineList& lines)
    : Generation(AnalysisGeneration(lines)), LineCount(lines.Count()), Targets(lines.Count(), -1) {
  // Lines reached by offsets are joins no label shows.
  if (HasPositionDependentCode(lines)) return;
  const TRegFlagSet addressTaken = AddressTakenRegisters(lines);
  TPointerBytes pointers;
  auto forget = [&] { pointers.fill(-1); };
  forget();
  for (int i = 0; i < LineCount; ++i) {
    const TLine* line = lines.Line(i);
    if (line == nullptr) {
      forget();
      continue;
    }
    if (line->IsJoin()) forget();
    if (line->Size == 0) continue;
    if (line->UnknownEffect || !IsInstructionType(line->LineType)) {
      forget();
      continue;
    }
    if (line->Memory & (mem::PointerRead | mem::PointerWrite)) Targets[i] = AccessAddress(pointers, *line);
    Apply(lines, i, *line, addressTaken, pointers);
  }
}

std::int32_t TPointerTargets::TargetOf(int index) const {
  return index >= 0 && index < static_cast<int>(Targets.size()) ? Targets[index] : -1;
}

const TPointerTargets& CurrentPointerTargets(const TLineList& lines) {
  const auto& cached = CachesOf(lines).PointerTargets;
  if (!cached || cached->Generation != AnalysisGeneration(lines) || cached->LineCount != lines.Count())
    CachesOf(lines).PointerTargets = std::make_shared<const TPointerTargets>(lines);
  return *CachesOf(lines).PointerTargets;
}

}  // namespace korvid
