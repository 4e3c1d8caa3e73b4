// Follows Z from a load out of the Y frame and folds its moves into the
// displacements of the accesses that follow:
//   LDD R30,Y+3 / LDD R31,Y+4 / ADIW R30,2 / LD R24,Z+ / LD R25,Z / RET
//   -> LDD R30,Y+3 / LDD R31,Y+4 / LDD R24,Z+2 / LDD R25,Z+3 / RET
// Where Z is read afterwards the pending move goes back in as one ADIW; a
// reload of Z from the slots it came from goes, as nothing moved Z.
// A stretch runs from the load to the first line it cannot follow. Its edits
// are collected and made only when it ends where the move can be put back
// (or Z is dead) without clobbering flags someone reads; otherwise it stays
// as it was. One walk collects every stretch from the analysis as it stood
// before the first edit, then the stretches are made in order.
#include "passes/PointerOptimisation.h"

#include <string>
#include <utility>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "analysis/PointerRegisters.h"
#include "passes/EditBatch.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Pointer";

constexpr TRule kRules[] = {
    {"pointer-moves-folded", kPass, D::NO_OPTI_PTR,
     "the accesses reach the same bytes through displacements; Z is moved back only where it is read"},
    {"pointer-reload-removed", kPass, D::NO_OPTI_PTR,
     "Z still holds what its frame slots hold: every move since the load was folded away"},
};
const TRule& FoldRule = kRules[0];
const TRule& ReloadRule = kRules[1];

constexpr int kY = 28, kZ = 30;
constexpr TRegFlagSet kYBits = RegisterBit(kY) | RegisterBit(kY + 1);
constexpr TRegFlagSet kZBits = RegisterBit(kZ) | RegisterBit(kZ + 1);
constexpr std::int64_t kMaxDisplacement = 63;
// The flags an ADIW on Z sets.
constexpr std::uint8_t kAdiwFlags = sreg::S | sreg::V | sreg::N | sreg::Z | sreg::C;

struct TAccessEdit {
  int Line;
  TLineType Type;
  std::string Mnemonic, Op1, Op2;
};

// The edits of one stretch, made together or not at all.
struct TStretch {
  std::vector<int> Folded;  // ADIW and SBIW lines on Z that go
  std::vector<TAccessEdit> Accesses;
  // The line the stretch stopped before, and the move put back there.
  int End = -1;
  std::int64_t WriteBack = 0;
  // A reload of Z from its slots at End: it goes once the stretch is made.
  int ReloadLo = -1, ReloadHi = -1;

  bool Edits() const { return !Folded.empty() || !Accesses.empty(); }
};

enum class TStep { Going, End, GiveUp, Reload };

TPointerMode ModeOf(const TLine& line) { return static_cast<TPointerMode>(line.PtrMode); }
bool IsLoad(TLineType t) { return t == lt::LD || t == lt::LDD; }
bool IsAccess(TLineType t) { return IsLoad(t) || t == lt::ST || t == lt::STD; }

class TPointerWalk {
 public:
  explicit TPointerWalk(const TAnalysis& facts)
      : Facts(facts), Lines(facts.Lines()), AddressTaken(facts.AddressTakenRegisters()) {}

  std::vector<TStretch> Collect() {
    for (int i = 0; i < Lines.Count(); ++i) {
      if (Helper.IsValid()) {
        const TStep step = Follow(i);
        if (step == TStep::Going) continue;
        Close(i, step);
      }
      if (const int second = LoadPair(i); second >= 0) {
        Begin(i, second);
        i = second;
      }
    }
    if (Helper.IsValid()) Close(Lines.Count(), TStep::End);
    return std::move(Stretches);
  }

 private:
  // The byte of Z (30 or 31) line i loads from a known slot of the Y frame; -1 for any other line.
  int FrameLoadOfZ(int i) const {
    const TLine& line = *Lines.Line(i);
    if (line.LineType != lt::LDD || line.PtrReg != kY || !line.ValueKnown || line.InMarkedRegion) return -1;
    const int reg = Facts.NamedRegister(i, 1);
    return reg == kZ || reg == kZ + 1 ? reg : -1;
  }

  // LDD R30,Y+a / LDD R31,Y+b in either order, both run whenever the first
  // does: the line of the second, else -1.
  int LoadPair(int i) const {
    const int first = FrameLoadOfZ(i);
    if (first < 0 || Facts.MayBeSkipped(i)) return -1;
    const int j = Facts.AdjacentInstruction(i, 1);
    if (j < 0 || Lines.Line(j)->IsJoin() || Facts.MayBeSkipped(j)) return -1;
    const int second = FrameLoadOfZ(j);
    return second >= 0 && second != first ? j : -1;
  }

  void Begin(int i, int j) {
    Helper = TPtrHelper();
    for (int k : {i, j}) {
      const auto slot = static_cast<std::int32_t>(Lines.Line(k)->Value);
      if (FrameLoadOfZ(k) == kZ) Helper.SetZl(slot);
      else Helper.SetZh(slot);
    }
    Current = TStretch();
  }

  bool IsReload(int i) const {
    const int second = LoadPair(i);
    if (second < 0) return false;
    for (int k : {i, second})
      if (!Helper.HoldsSlot(FrameLoadOfZ(k), static_cast<std::int32_t>(Lines.Line(k)->Value))) return false;
    return true;
  }

  TStep Follow(int i) {
    const TLine& line = *Lines.Line(i);
    if (IsPassiveMarker(line.LineType)) return TStep::Going;
    // Another path joins here, the line is no instruction the walk knows, or it may not move.
    if (line.IsJoin() || !IsInstructionType(line.LineType) || line.Size == 0 || line.UnknownEffect ||
        line.InMarkedRegion)
      return TStep::End;
    // What a skip passes over runs on one path only.
    if (line.IsSkip() || Facts.MayBeSkipped(i)) return TStep::End;
    if (line.FlowKind & fkConditional) return Branch(line);
    if (line.IsTransfer() || EndsFlow(line.LineType)) return TStep::End;
    if (IsAccess(line.LineType) && line.PtrReg == kZ) return Access(i, line);
    if ((line.LineType == lt::ADIW || line.LineType == lt::SBIW) && tVarList::RegisterNumber(line.DestVar) == kZ)
      return Adjust(i, line);
    if (FrameLoadOfZ(i) >= 0) return IsReload(i) ? TStep::Reload : TStep::End;
    return Other(i, line);
  }

  // The branch takes Z unmoved, where the code as written has it moved:
  // nothing at the target may read it.
  TStep Branch(const TLine& line) const {
    if (Helper.State().Offset == 0) return TStep::Going;
    const std::string_view target = Trim(line.TargetOperand());
    const int at = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
    return at >= 0 && !Facts.AnyLive(kZBits, at) ? TStep::Going : TStep::GiveUp;
  }

  // LD, LDD, ST, STD through Z: the same byte as a displacement from Z as loaded.
  TStep Access(int i, const TLine& line) {
    const bool load = IsLoad(line.LineType);
    const int data = Facts.NamedRegister(i, load ? 1 : 2);
    if (data < 0 || (RegisterBit(data) & kZBits)) return TStep::End;
    const bool displaced = line.LineType == lt::LDD || line.LineType == lt::STD;
    if (displaced && !line.ValueKnown) return TStep::End;
    TPtrHelper moved = Helper;
    std::int64_t at = 0;
    switch (ModeOf(line)) {
      case TPointerMode::Plain:
        at = moved.State().Offset + (displaced ? line.Value : 0);
        break;
      case TPointerMode::PostIncrement:
        at = moved.State().Offset;
        if (!moved.AddOffset(1)) return TStep::End;
        break;
      case TPointerMode::PreDecrement:
        if (!moved.SubOffset(1)) return TStep::End;
        at = moved.State().Offset;
        break;
    }
    if (at < 0 || at > kMaxDisplacement) return TStep::End;
    ForgetStoredSlots(i);
    const bool unchanged = ModeOf(line) == TPointerMode::Plain && Helper.State().Offset == 0;
    Helper = moved;
    if (unchanged) return TStep::Going;
    const std::string z = at == 0 ? "Z" : "Z+" + std::to_string(at);
    if (load) Current.Accesses.push_back({i, at == 0 ? lt::LD : lt::LDD, at == 0 ? "LD" : "LDD", line.Op1, z});
    else Current.Accesses.push_back({i, at == 0 ? lt::ST : lt::STD, at == 0 ? "ST" : "STD", z, line.Op2});
    return TStep::Going;
  }

  // ADIW or SBIW on Z goes into the pending move, where nobody reads its flags.
  TStep Adjust(int i, const TLine& line) {
    if (!line.ValueKnown || Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(line, lt::Unknown), i + 1))
      return TStep::End;
    TPtrHelper moved = Helper;
    const auto k = static_cast<std::int32_t>(line.Value);
    if (!(line.LineType == lt::ADIW ? moved.AddOffset(k) : moved.SubOffset(k))) return TStep::End;
    Helper = moved;
    Current.Folded.push_back(i);
    return TStep::Going;
  }

  // Any other line: it may not write Z, nor read it while a move is pending,
  // nor move Y but by a byte through Y+ or -Y.
  TStep Other(int i, const TLine& line) {
    const TRegFlagSet writes = Facts.Writes(i);
    if (writes & kZBits) return TStep::End;
    if ((LineRegisterBits(line, AddressTaken, 0).Use & kZBits) && Helper.State().Offset != 0) return TStep::End;
    ForgetStoredSlots(i);
    if (!(writes & kYBits)) return TStep::Going;
    const bool yStep = IsAccess(line.LineType) && line.PtrReg == kY && ModeOf(line) != TPointerMode::Plain;
    const int data = Facts.NamedRegister(i, IsLoad(line.LineType) ? 1 : 2);
    if (!yStep || data < 0 || (RegisterBit(data) & kYBits)) return TStep::End;
    // Y one byte down puts each slot one displacement further up.
    Helper.ShiftSlots(ModeOf(line) == TPointerMode::PreDecrement ? 1 : -1);
    return TStep::Going;
  }

  void ForgetStoredSlots(int i) {
    const TPtrInfo& z = Helper.State();
    for (const auto& [reg, slot] : {std::pair{kZ, z.ZlSlot}, std::pair{kZ + 1, z.ZhSlot}})
      if (Facts.MayWriteBytes(i, {.Kind = TMemoryAccess::TKind::Frame, .Start = slot, .Size = 1}))
        Helper.SlotWritten(reg);
  }

  // The move can go back in as an ADIW before line i.
  bool MayMoveBackBefore(int i) const {
    if (i >= Lines.Count()) return false;
    const TLine& line = *Lines.Line(i);
    if (line.InMarkedRegion || (!line.IsJoin() && !(IsInstructionType(line.LineType) && line.Size > 0))) return false;
    return !Facts.MayBeSkipped(i) && !Facts.FlagsReadAfter(kAdiwFlags, i);
  }

  void Close(int i, TStep step) {
    const std::int64_t offset = Helper.State().Offset;
    Helper.Invalidate();
    if (step == TStep::GiveUp) return;
    TStretch stretch = std::move(Current);
    stretch.End = i;
    if (offset != 0 && (i >= Lines.Count() || Facts.AnyLive(kZBits, i))) {
      if (!MayMoveBackBefore(i)) return;
      stretch.WriteBack = offset;
    }
    if (step == TStep::Reload) {
      stretch.ReloadLo = i;
      stretch.ReloadHi = LoadPair(i);
    }
    // Displacements alone save nothing, and a move put back costs what one folded saved.
    const int saved = 2 * static_cast<int>(stretch.Folded.size()) - (stretch.WriteBack != 0 ? 2 : 0);
    if (saved > 0 || (saved == 0 && step == TStep::Reload)) Stretches.push_back(std::move(stretch));
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRegFlagSet AddressTaken;
  TPtrHelper Helper;
  TStretch Current;
  std::vector<TStretch> Stretches;
};

// The stretches in order; `shift` counts the lines put in before the next one.
bool Make(const TAnalysis& facts, const std::vector<TStretch>& stretches) {
  bool changed = false;
  int shift = 0;
  for (const TStretch& s : stretches) {
    bool unmoved = !s.Edits();
    if (!unmoved && FireRule(facts, FoldRule, [&](TEditBatch& batch) {
          for (int k : s.Folded) batch.Remove(k + shift);
          for (const TAccessEdit& e : s.Accesses) batch.Replace(e.Line + shift, e.Type, e.Mnemonic, e.Op1, e.Op2);
          if (s.WriteBack != 0) batch.InsertBefore(s.End + shift, lt::ADIW, "ADIW", "R30", std::to_string(s.WriteBack));
          return true;
        })) {
      unmoved = true;
      changed = true;
      shift += s.WriteBack != 0 ? 1 : 0;
    }
    if (unmoved && s.ReloadLo >= 0 && FireRule(facts, ReloadRule, [&](TEditBatch& batch) {
          batch.Remove(s.ReloadLo + shift);
          batch.Remove(s.ReloadHi + shift);
          return true;
        }))
      changed = true;
  }
  return changed;
}

}  // namespace

std::span<const TRule> PointerOptimisationRules() { return kRules; }

bool PointerOptimisation(TLineList& /*lines*/, const TAnalysis& facts) {
  // Z that an interrupt or a pointer may see must move where the code moves it.
  if ((facts.SharedRegisters() | facts.AddressTakenRegisters()) & kZBits) return false;
  // Every question is asked before the first edit; the edits only need the
  // line-by-line checks of their batches.
  auto frozen = facts.Freeze();
  return Make(facts, TPointerWalk(facts).Collect());
}

}  // namespace korvid
