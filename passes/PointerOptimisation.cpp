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
// before the first edit, then the stretches are made in order. A branch
// taken with a move pending carries Z unmoved: it is passed where nothing at
// its target reads Z, or where the walk comes to the target itself with the
// same move pending and nothing else enters there.
// Beside the folds: MOVW Rd,R30 right after the load (one ADIW at most, Z
// read by nothing else) loads Rd from the slots instead; and
//   PUSH R30 / PUSH R31 / .. / POP R31 / POP R30   ->   .. / LDD R31,Y+b / LDD R30,Y+a
// where nothing is pending at the pushes and the slots still hold Z at the
// pops. Finding the pops looks ahead over the lines between; only a push of Z
// with nothing pending starts that look, so the walk stays near one pass.
#include "passes/PointerOptimisation.h"

#include <optional>
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
    {"pointer-copy-loaded", kPass, D::NO_OPTI_PTR,
     "the register pair a MOVW copies Z into is loaded from the slots itself; Z is dead and was never read"},
    {"pointer-push-reloaded", kPass, D::NO_OPTI_PTR,
     "the slots Z was loaded from still hold what the pushes saved: the pops load it again"},
    {"pointer-moves-folded-past-branch", kPass, D::NO_OPTI_PTR,
     "the branch and the code it passes come to its label, entered no other way, with the same move pending"},
};
const TRule& FoldRule = kRules[0];
const TRule& ReloadRule = kRules[1];
const TRule& CopyRule = kRules[2];
const TRule& PushRule = kRules[3];
const TRule& RejoinRule = kRules[4];

constexpr int kY = 28, kZ = 30;
constexpr TRegFlagSet kYBits = RegisterBit(kY) | RegisterBit(kY + 1);
constexpr TRegFlagSet kZBits = RegisterBit(kZ) | RegisterBit(kZ + 1);
constexpr std::int64_t kMaxDisplacement = 63;
// The flags an ADIW on Z sets.
constexpr std::uint8_t kAdiwFlags = sreg::S | sreg::V | sreg::N | sreg::Z | sreg::C;

// MOVW Rd,R30 after LDD R30,Y+a / LDD R31,Y+b and at most one ADIW R30,k.
struct TCopy {
  int LoadLo, LoadHi, Adjust, Movw, Rd;
  std::int64_t Offset;
};

// PUSH R30 / PUSH R31 (either order) and the POPs that take them back, which
// become loads of the slots as Y stands there. LoadLo/LoadHi: the loads of Z
// before the pushes when nothing else needs them (-1: they stay).
struct TPushPair {
  int Pushes[2], Pops[2];
  int PopReg[2];
  std::int32_t PopSlot[2];
  int LoadLo = -1, LoadHi = -1;
};

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
  std::optional<TCopy> Copy;
  // The stretch went on past the label of a branch it took with a move pending.
  bool Rejoined = false;

  bool Edits() const { return !Folded.empty() || !Accesses.empty(); }
};

enum class TStep { Going, End, GiveUp, Reload, Copy };

TPointerMode ModeOf(const TLine& line) { return static_cast<TPointerMode>(line.PtrMode); }
bool IsLoad(TLineType t) { return t == lt::LD || t == lt::LDD; }
bool IsAccess(TLineType t) { return IsLoad(t) || t == lt::ST || t == lt::STD; }

class TPointerWalk {
 public:
  explicit TPointerWalk(const TAnalysis& facts)
      : Facts(facts), Lines(facts.Lines()), AddressTaken(facts.AddressTakenRegisters()) {}

  std::vector<TStretch> Collect() {
    for (int i = 0; i < Lines.Count(); ++i) {
      TStep step = TStep::End;
      if (Helper.IsValid()) {
        step = Follow(i);
        if (step == TStep::Going) continue;
        Close(i, step);
        if (step == TStep::Copy) continue;
      }
      if (const int second = LoadPair(i); second >= 0) {
        Begin(i, second, step == TStep::Reload);
        i = second;
      }
    }
    if (Helper.IsValid()) Close(Lines.Count(), TStep::End);
    return std::move(Stretches);
  }

  std::vector<TPushPair> TakePairs() { return std::move(Pairs); }

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

  // reload: the loads are a reload the stretch before may remove.
  void Begin(int i, int j, bool reload) {
    Helper = TPtrHelper();
    for (int k : {i, j}) {
      const auto slot = static_cast<std::int32_t>(Lines.Line(k)->Value);
      if (FrameLoadOfZ(k) == kZ) Helper.SetZl(slot);
      else Helper.SetZh(slot);
    }
    Current = TStretch();
    const bool lowFirst = FrameLoadOfZ(i) == kZ;
    Since = {.Simple = !reload, .LoadLo = lowFirst ? i : j, .LoadHi = lowFirst ? j : i};
  }

  bool IsReload(int i) const {
    const int second = LoadPair(i);
    if (second < 0) return false;
    for (int k : {i, second})
      if (!Helper.HoldsSlot(FrameLoadOfZ(k), static_cast<std::int32_t>(Lines.Line(k)->Value))) return false;
    return true;
  }

  // The line may not move or be passed over: it is no instruction the walk
  // knows, or what a skip passes over runs on one path only.
  bool Fixed(int i, const TLine& line) const {
    return !IsInstructionType(line.LineType) || line.Size == 0 || line.UnknownEffect || line.InMarkedRegion ||
           line.IsSkip() || Facts.MayBeSkipped(i);
  }
  // Or another path joins there.
  bool Blocks(int i, const TLine& line) const { return line.IsJoin() || Fixed(i, line); }

  // i moves on to the second push of a pair of Z.
  TStep Follow(int& i) {
    const TLine& line = *Lines.Line(i);
    if (IsPassiveMarker(line.LineType)) return TStep::Going;
    if (line.IsJoin() && !Rejoins(i)) return TStep::End;
    if (line.IsLabelLine()) return TStep::Going;
    if (Fixed(i, line)) return TStep::End;
    const TRegFlagSet reads = LineRegisterBits(line, AddressTaken, 0).Use;
    if (line.LineType == lt::PUSH && (reads & kZBits) && SavePair(i)) return TStep::Going;
    if (line.LineType == lt::MOVW && tVarList::RegisterNumber(line.SrcVar) == kZ && CopyFits(i, line))
      return TStep::Copy;
    Note(i, line, reads);
    if (line.FlowKind & fkConditional) return Branch(i, line);
    if (line.IsTransfer() || EndsFlow(line.LineType)) return TStep::End;
    if (IsAccess(line.LineType) && line.PtrReg == kZ) return Access(i, line);
    if ((line.LineType == lt::ADIW || line.LineType == lt::SBIW) && tVarList::RegisterNumber(line.DestVar) == kZ)
      return Adjust(i, line);
    if (FrameLoadOfZ(i) >= 0) return IsReload(i) ? TStep::Reload : TStep::End;
    return Other(i, line);
  }

  // What the copy of Z and the loads before a pair may rely on.
  void Note(int i, const TLine& line, TRegFlagSet reads) {
    const bool adjust =
        (line.LineType == lt::ADIW || line.LineType == lt::SBIW) && tVarList::RegisterNumber(line.DestVar) == kZ;
    // A branch leaves with Z as loaded, and with the copy's registers as they were.
    if ((reads & kZBits) || (line.FlowKind & fkConditional)) {
      Helper.SetZUsed(true);
      if (!adjust) Since.Simple = false;
    }
    if (adjust) {
      if (Since.Adjust >= 0) Since.Simple = false;
      Since.Adjust = i;
    }
    Since.Touched |= reads | Facts.Writes(i);
  }

  // MOVW Rd,R30 where the loads of Z can load Rd instead: Z was read by
  // nothing else and is dead after, Rd was neither read nor written since
  // the loads, is not Y (the second load needs it), and can take the ADIW.
  bool CopyFits(int i, const TLine& line) {
    const int rd = tVarList::RegisterNumber(line.DestVar);
    if (!Since.Simple || rd < 0 || rd == kY || rd == kZ || i + 1 >= Lines.Count()) return false;
    const TRegFlagSet pair = RegisterBit(rd) | RegisterBit(rd + 1);
    if (pair & (Since.Touched | Facts.SharedRegisters() | AddressTaken)) return false;
    if (Since.Adjust >= 0 && rd != 24 && rd != 26) return false;
    if (Facts.AnyLive(kZBits, i + 1)) return false;
    Current.Copy = TCopy{Since.LoadLo, Since.LoadHi, Since.Adjust, i, rd, Helper.State().Offset};
    return true;
  }

  // PUSH R30 / PUSH R31 (or R31 first) at i with nothing pending and Z dead
  // after them: where the POPs that take them back are found, the pair can
  // go. The loads go as well when Z was read by nothing but the pushes.
  bool SavePair(int& i) {
    const TPtrInfo& z = Helper.State();
    const int second = Facts.AdjacentInstruction(i, 1);
    if (z.Offset != 0 || z.ZlSlotStale || z.ZhSlotStale || second < 0) return false;
    const TLine& next = *Lines.Line(second);
    const int first = Facts.NamedRegister(i, 1), other = Facts.NamedRegister(second, 1);
    // One push of each byte of Z.
    if (next.LineType != lt::PUSH || Blocks(second, next) || !(RegisterBit(other) & kZBits) ||
        first + other != 2 * kZ + 1 || second + 1 >= Lines.Count() || Facts.AnyLive(kZBits, second + 1))
      return false;
    std::optional<TPushPair> pair = MatchPops(second, other, first);
    if (!pair) return false;
    pair->Pushes[0] = i;
    pair->Pushes[1] = second;
    if (!z.ZUsed && Since.Simple) {
      pair->LoadLo = Since.LoadLo;
      pair->LoadHi = Since.LoadHi;
      Since.Pair = static_cast<int>(Pairs.size());
    }
    Pairs.push_back(*pair);
    Helper.SetZUsed(true);
    Since.Simple = false;
    i = second;
    return true;
  }

  // The POP of `hi` directly followed by the POP of `lo` that take back the
  // pushes ending at line `from`: every line between is straight-line code
  // that pushes and pops in balance, moves Y only by a byte through Y+ or -Y,
  // and stores to neither slot, which are still in reach of a displacement there.
  std::optional<TPushPair> MatchPops(int from, int hi, int lo) const {
    std::int32_t shift = 0;
    int depth = 0;
    const TPtrInfo& z = Helper.State();
    for (int k = from + 1; k < Lines.Count(); ++k) {
      const TLine& line = *Lines.Line(k);
      if (IsPassiveMarker(line.LineType)) continue;
      if (Blocks(k, line) || line.IsTransfer() || EndsFlow(line.LineType)) return std::nullopt;
      for (std::int32_t slot : {z.ZlSlot, z.ZhSlot})
        if (Facts.MayWriteBytes(k, {.Kind = TMemoryAccess::TKind::Frame, .Start = slot + shift, .Size = 1}))
          return std::nullopt;
      if (line.LineType == lt::POP && depth == 0) {
        const int then = Facts.AdjacentInstruction(k, 1);
        if (Facts.NamedRegister(k, 1) != hi || then < 0 || Lines.Line(then)->LineType != lt::POP ||
            Blocks(then, *Lines.Line(then)) || Facts.NamedRegister(then, 1) != lo)
          return std::nullopt;
        TPushPair pair{};
        pair.Pops[0] = k;
        pair.Pops[1] = then;
        pair.PopReg[0] = hi;
        pair.PopReg[1] = lo;
        for (int n : {0, 1}) {
          pair.PopSlot[n] = (pair.PopReg[n] == kZ ? z.ZlSlot : z.ZhSlot) + shift;
          if (pair.PopSlot[n] < 0 || pair.PopSlot[n] > kMaxDisplacement) return std::nullopt;
        }
        pair.LoadLo = pair.LoadHi = -1;
        return pair;
      }
      if (Facts.Writes(k) & kYBits) {
        const int step = YStep(k, line);
        if (step == 0) return std::nullopt;
        shift += step;
      } else if (line.LineType == lt::PUSH || line.LineType == lt::POP) {
        depth += line.LineType == lt::PUSH ? 1 : -1;
      } else if (Facts.TouchesStack(k)) {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // How far a byte access through Y+ or -Y moves the slots' displacements; 0 for any other line.
  int YStep(int i, const TLine& line) const {
    const bool yStep = IsAccess(line.LineType) && line.PtrReg == kY && ModeOf(line) != TPointerMode::Plain;
    const int data = Facts.NamedRegister(i, IsLoad(line.LineType) ? 1 : 2);
    if (!yStep || data < 0 || (RegisterBit(data) & kYBits)) return 0;
    // Y one byte down puts each slot one displacement further up.
    return ModeOf(line) == TPointerMode::PreDecrement ? 1 : -1;
  }

  // The branch takes Z unmoved, where the code as written has it moved:
  // nothing at the target may read it, or the walk comes to the target
  // itself with the same move pending, and nothing else enters there.
  TStep Branch(int i, const TLine& line) {
    if (Helper.State().Offset == 0) return TStep::Going;
    const std::string_view target = Trim(line.TargetOperand());
    const int at = IsPlainLabel(target) ? FindLabelLine(Lines, target) : -1;
    if (at < 0) return TStep::GiveUp;
    if (!Facts.AnyLive(kZBits, at)) return TStep::Going;
    if (Pending.Label >= 0 || at <= i) return TStep::GiveUp;
    const TPredecessors preds = Facts.Predecessors(at);
    if (preds.Entered) return TStep::GiveUp;
    for (int p : preds.Lines)
      if (p < i || p >= at) return TStep::GiveUp;
    Pending = {at, Helper.State()};
    return TStep::Going;
  }

  // The label of a branch taken with a move pending: the stretch goes on when
  // the move and the slots are the same as at the branch.
  bool Rejoins(int i) {
    if (Pending.Label != i) return false;
    const TPtrInfo& now = Helper.State();
    const TPtrInfo& then = Pending.State;
    if (now.Offset != then.Offset || now.ZlSlot != then.ZlSlot || now.ZhSlot != then.ZhSlot) return false;
    Pending.Label = -1;
    Current.Rejoined = true;
    return true;
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
    const int step = YStep(i, line);
    if (step == 0) return TStep::End;
    Helper.ShiftSlots(step);
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
    // The branch to the label ahead took Z as it is now: a move put back
    // here would be missing there.
    if (Pending.Label >= 0) {
      step = TStep::GiveUp;
      Pending.Label = -1;
    }
    // A reload the stretch removes needs the loads it repeats.
    if (step == TStep::Reload && Since.Pair >= 0) Pairs[Since.Pair].LoadLo = Pairs[Since.Pair].LoadHi = -1;
    if (step == TStep::GiveUp) return;
    TStretch stretch = std::move(Current);
    stretch.End = i;
    if (step == TStep::Copy) {
      // The ADIW stays, on the copy.
      stretch.Folded.clear();
      Stretches.push_back(std::move(stretch));
      return;
    }
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
  // Since the loads that began the stretch.
  struct TSinceLoad {
    // Z was moved by one ADIW at most, read by nothing else, and no branch left.
    bool Simple = false;
    int LoadLo = -1, LoadHi = -1, Adjust = -1;
    // Registers read or written after the loads.
    TRegFlagSet Touched = 0;
    // The pair that removes the loads.
    int Pair = -1;
  } Since;
  // The label ahead a branch took with a move pending, and the state it took.
  struct TPending {
    int Label = -1;
    TPtrInfo State;
  } Pending;
  std::vector<TStretch> Stretches;
  std::vector<TPushPair> Pairs;
};

std::string RegisterName(int r) { return "R" + std::to_string(r); }

// No pair edit puts a line in: they go first, on the lines as numbered by the walk.
bool MakePairs(const TAnalysis& facts, const std::vector<TPushPair>& pairs) {
  bool changed = false;
  for (const TPushPair& p : pairs)
    changed = FireRule(facts, PushRule, [&](TEditBatch& batch) {
                for (int n : {0, 1}) {
                  batch.Remove(p.Pushes[n]);
                  batch.Replace(p.Pops[n], lt::LDD, "LDD", RegisterName(p.PopReg[n]),
                                "Y+" + std::to_string(p.PopSlot[n]));
                }
                if (p.LoadLo >= 0) {
                  batch.Remove(p.LoadLo);
                  batch.Remove(p.LoadHi);
                }
                return true;
              }) || changed;
  return changed;
}

bool MakeCopy(const TAnalysis& facts, const TCopy& c, int shift) {
  return FireRule(facts, CopyRule, [&](TEditBatch& batch) {
    const TLineList& lines = facts.Lines();
    batch.Replace(c.LoadLo + shift, lt::LDD, "LDD", RegisterName(c.Rd), lines.Line(c.LoadLo + shift)->Op2);
    batch.Replace(c.LoadHi + shift, lt::LDD, "LDD", RegisterName(c.Rd + 1), lines.Line(c.LoadHi + shift)->Op2);
    if (c.Adjust >= 0) batch.Replace(c.Adjust + shift, lt::ADIW, "ADIW", RegisterName(c.Rd), std::to_string(c.Offset));
    batch.Remove(c.Movw + shift);
    return true;
  });
}

// The stretches in order; `shift` counts the lines put in before the next one.
bool Make(const TAnalysis& facts, const std::vector<TStretch>& stretches) {
  bool changed = false;
  int shift = 0;
  for (const TStretch& s : stretches) {
    if (s.Copy) {
      changed = MakeCopy(facts, *s.Copy, shift) || changed;
      continue;
    }
    bool unmoved = !s.Edits();
    if (!unmoved && FireRule(facts, s.Rejoined ? RejoinRule : FoldRule, [&](TEditBatch& batch) {
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
  TPointerWalk walk(facts);
  const std::vector<TStretch> stretches = walk.Collect();
  const bool paired = MakePairs(facts, walk.TakePairs());
  return Make(facts, stretches) || paired;
}

}  // namespace korvid
