#include "passes/RegisterMoveElimination.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/LineGraph.h"
#include "passes/EditBatch.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Peephole";

constexpr TRule kRules[] = {
    {"move-retarget", kPass, D::NO_CHECK_MOV,
     "the lines that compute the copied register compute the copy's register instead"},
    {"move-exchange", kPass, D::NO_CHECK_MOV,
     "the two registers trade names in lines that need neither one's earlier value, so the copy is made already"},
    {"move-forward", kPass, D::NO_CHECK_MOV,
     "the one line that reads the copy reads the original, which holds the same value there"},
    {"move-pair-forward", kPass, D::NO_CHECK_MOV, "a MOVW of two copied registers copies the originals"},
    {"pair-move-definitions", kPass, std::nullopt,
     "the two lines that compute the pair a MOVW copies compute the target pair instead"},
};
const TRule& RetargetRule = kRules[0];
const TRule& ExchangeRule = kRules[1];
const TRule& ForwardRule = kRules[2];
const TRule& PairForwardRule = kRules[3];
const TRule& PairDefinitionsRule = kRules[4];

// Lines walked from a copy before the rewrite is given up.
constexpr int kMaxWalk = 32;

// MOV Rd,Rr: the registers and their names as the line writes them.
struct TMove {
  int Line = -1;
  int Dest = -1, Source = -1;
  std::string DestText, SourceText;
};

// A register renamed in the lines of a rewrite, and the name it gets.
struct TRename {
  int From;
  std::string To;
};

class TMoveElimination {
 public:
  explicit TMoveElimination(const TAnalysis& facts)
      : Facts(facts), Lines(facts.Lines()), Shared(facts.SharedRegisters()) {}

  bool Run() {
    bool changed = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line == nullptr) continue;
      if (line->LineType == lt::ENTRY) break;
      if (line->LineType == lt::MOV)
        changed = EliminateMove(i) || changed;
      else if (line->LineType == lt::MOVW)
        changed = EliminatePairMove(i) || changed;
    }
    return changed;
  }

 private:
  // Each firing stages its edits in a batch and names the lines it spans.
  // The analysis stays frozen for the walk: a firing may make a register live
  // only inside the lines it spans, which are entered at their first line
  // alone and leave every register as live as before at both ends; the
  // analysis is told, and answers questions from inside them with "used".
  bool Fire(const TRule& rule, int first, int last, const std::function<void(TEditBatch&)>& stage) {
    const bool fired = FireRule(Facts, rule, [&](TEditBatch& batch) {
      stage(batch);
      return true;
    });
    if (fired) Facts.MarkLivenessChanged(first, last);
    return fired;
  }

  bool EliminateMove(int i) {
    std::optional<TMove> move = CopyAt(i);
    if (!move) return false;
    return RenameBackward(*move) || RenameForward(*move) || RenamePairForward(*move);
  }

  // --- MOV Rd,Rr, taken away when the copy is nowhere needed as a separate value.
  std::optional<TMove> CopyAt(int i) const {
    const TLine& line = *Lines.Line(i);
    TMove move{i, Facts.NamedRegister(i, 1), Facts.NamedRegister(i, 2), line.Op1, line.Op2};
    if (move.Dest < 0 || move.Source < 0 || move.Dest == move.Source) return std::nullopt;
    if (((RegisterBit(move.Dest) | RegisterBit(move.Source)) & Shared) || line.IsJoin() || Facts.MayBeSkipped(i))
      return std::nullopt;
    return move;
  }

  // The lines before the copy that compute Rr, renamed to compute Rd; where
  // they use Rd as well, the two registers trade names:
  //   LDS R24,v / SUBI R24,3 / MOV R16,R24               -> LDS R16,v / SUBI R16,3
  //   LDS R16,a / LDS R24,b / ADD R24,R16 / MOV R16,R24  -> LDS R24,a / LDS R16,b / ADD R16,R24
  // The renamed stretch begins where neither register's earlier value is
  // needed, and runs straight to the copy. After it Rd holds what the copy
  // gave it, and Rr what Rd held, so Rr must be dead after the copy.
  bool RenameBackward(const TMove& move) {
    const TRegFlagSet dest = RegisterBit(move.Dest), source = RegisterBit(move.Source), both = dest | source;
    std::vector<int> renamed;
    bool needDest = false, needSource = true, touchesDest = false;
    int k = move.Line;
    for (int walked = 0;; ++walked) {
      k = Facts.AdjacentInstruction(k, -1);
      if (k < 0 || walked == kMaxWalk || !RunsStraight(k)) return false;
      const TLineBits bits = Bits(k);
      if (((bits.Use | bits.Def | bits.Kill) & both) == 0) {
        if (Lines.Line(k)->IsJoin()) return false;
        continue;
      }
      if (!Facts.AccessesOnlyByName(k, both)) return false;
      renamed.push_back(k);
      touchesDest = touchesDest || ((bits.Use | bits.Def) & dest);
      needDest = (bits.Use & dest) || (needDest && !(bits.Kill & dest));
      needSource = (bits.Use & source) || (needSource && !(bits.Kill & source));
      if (!needDest && !needSource) break;
      // Entered here with a value from before still needed.
      if (Lines.Line(k)->IsJoin()) return false;
    }
    if (Facts.AnyLive(source, move.Line + 1)) return false;
    const std::vector<TRename> names{{move.Source, move.DestText}, {move.Dest, move.SourceText}};
    return Fire(touchesDest ? ExchangeRule : RetargetRule, k, move.Line, [&](TEditBatch& batch) {
      for (int line : renamed) StageRename(line, names, batch);
      batch.Remove(move.Line);
    });
  }

  // The first line after the copy that uses Rd reads Rr instead:
  //   MOV R24,R16 / ST X+,R24   ->   ST X+,R16
  // Nothing between touches either register, so both hold the same value
  // there; Rd must be dead after that line, and where the line also writes
  // Rd (INC, SUBI), Rr, which it then writes instead.
  bool RenameForward(const TMove& move) {
    const TRegFlagSet dest = RegisterBit(move.Dest), source = RegisterBit(move.Source);
    const int user = NextTouching(move.Line, dest | source);
    if (user < 0 || !Facts.AccessesOnlyByName(user, dest | source)) return false;
    const TLineBits bits = Bits(user);
    const bool firstNamesDest = Facts.NamedRegister(user, 1) == move.Dest;
    const bool secondNamesDest = Facts.NamedRegister(user, 2) == move.Dest;
    if (!(bits.Use & dest) || firstNamesDest == secondNamesDest) return false;
    if (Facts.AnyLive(dest, user + 1)) return false;
    if ((bits.Def & dest) && Facts.AnyLive(source, user + 1)) return false;
    return Fire(ForwardRule, move.Line, user, [&](TEditBatch& batch) {
      StageRename(user, {{move.Dest, move.SourceText}}, batch);
      batch.Remove(move.Line);
    });
  }

  // Two copies into a pair that a MOVW then copies on:
  //   MOV R24,R16 / MOV R25,R17 / MOVW R20,R24   ->   MOVW R20,R16
  // Nothing else between touches the four registers, and the copied pair is
  // dead after the MOVW.
  bool RenamePairForward(const TMove& low) {
    if (low.Dest % 2 != 0 || low.Source % 2 != 0) return false;
    const TRegFlagSet dest = RegisterBit(low.Dest) | RegisterBit(low.Dest + 1);
    const TRegFlagSet all = dest | RegisterBit(low.Source) | RegisterBit(low.Source + 1);
    if (all & Shared) return false;
    const int high = NextTouching(low.Line, all);
    if (high < 0 || Lines.Line(high)->LineType != lt::MOV || Facts.NamedRegister(high, 1) != low.Dest + 1 ||
        Facts.NamedRegister(high, 2) != low.Source + 1)
      return false;
    const int user = NextTouching(high, all);
    if (user < 0) return false;
    const TLine& movw = *Lines.Line(user);
    if (movw.LineType != lt::MOVW || tVarList::RegisterNumber(movw.SrcVar) != low.Dest) return false;
    const int target = tVarList::RegisterNumber(movw.DestVar);
    if (target < 0 || ((RegisterBit(target) | RegisterBit(target + 1)) & dest)) return false;
    if (Facts.AnyLive(dest, user + 1)) return false;
    return Fire(PairForwardRule, low.Line, user, [&](TEditBatch& batch) {
      batch.Replace(user, movw.LineType, movw.Mnemonic, movw.Op1, low.SourceText);
      batch.Remove(low.Line);
      batch.Remove(high);
    });
  }

  // --- MOVW Rd,Rr right after the two lines that compute Rr and Rr+1:
  //   LDS R24,v / LDS R25,v+1 / MOVW R16,R24   ->   LDS R16,v / LDS R17,v+1
  // Each definition writes its register whole and reads none of the four,
  // except a copy from the very register it is renamed to, which goes.
  bool EliminatePairMove(int i) {
    const TLine& movw = *Lines.Line(i);
    const int dest = tVarList::RegisterNumber(movw.DestVar), source = tVarList::RegisterNumber(movw.SrcVar);
    if (dest < 0 || source < 0 || dest == source || movw.IsJoin() || Facts.MayBeSkipped(i)) return false;
    const TRegFlagSet sourcePair = RegisterBit(source) | RegisterBit(source + 1);
    const TRegFlagSet all = sourcePair | RegisterBit(dest) | RegisterBit(dest + 1);
    if (all & Shared) return false;
    const int second = Facts.AdjacentInstruction(i, -1);
    if (second < 0 || Lines.Line(second)->IsJoin()) return false;
    const int first = Facts.AdjacentInstruction(second, -1);
    if (first < 0) return false;
    const std::vector<TRename> names{{source, movw.Op1}, {source + 1, "R" + std::to_string(dest + 1)}};
    std::vector<int> copies;  // definitions that copy from their new register
    TRegFlagSet defined = 0;
    for (int k : {first, second}) {
      if (!RunsStraight(k) || !Facts.AccessesOnlyByName(k, all)) return false;
      const int written = Facts.NamedRegister(k, 1);
      if (written != source && written != source + 1) return false;
      const int renamedTo = written - source + dest;
      const TLineBits bits = Bits(k);
      if ((bits.Def & all) != RegisterBit(written) || !(bits.Kill & RegisterBit(written))) return false;
      defined |= RegisterBit(written);
      const TRegFlagSet read = bits.Use & all;
      if (read == 0) continue;
      if (Lines.Line(k)->LineType != lt::MOV || Facts.NamedRegister(k, 2) != renamedTo) return false;
      copies.push_back(k);
    }
    if (defined != sourcePair || Facts.AnyLive(sourcePair, i + 1)) return false;
    return Fire(PairDefinitionsRule, first, i, [&](TEditBatch& batch) {
      for (int k : {first, second}) {
        if (std::find(copies.begin(), copies.end(), k) != copies.end())
          batch.Remove(k);
        else
          StageRename(k, names, batch);
      }
      batch.Remove(i);
    });
  }

  // --- shared pieces

  // An instruction that runs whenever the next one does, apart from being entered itself.
  bool RunsStraight(int k) const {
    const TLine& line = *Lines.Line(k);
    return !line.IsTransfer() && !line.IsSkip() && !line.UnknownEffect && !Facts.MayBeSkipped(k);
  }

  // The first instruction after line `from` that touches a register of
  // `regs`, with only straight-line code between; -1 when none is found.
  int NextTouching(int from, TRegFlagSet regs) const {
    int k = from;
    for (int walked = 0; walked < kMaxWalk; ++walked) {
      k = Facts.AdjacentInstruction(k, 1);
      if (k < 0 || Lines.Line(k)->IsJoin() || !RunsStraight(k)) return -1;
      const TLineBits bits = Bits(k);
      if ((bits.Use | bits.Def | bits.Kill) & regs) return k;
    }
    return -1;
  }

  TLineBits Bits(int k) const { return LineRegisterBits(*Lines.Line(k), Facts.AddressTakenRegisters(), 0); }

  // Line k with every operand naming a register of `names` renamed.
  void StageRename(int k, const std::vector<TRename>& names, TEditBatch& batch) const {
    const TLine& line = *Lines.Line(k);
    std::string operands[2] = {line.Op1, line.Op2};
    for (int operand : {1, 2}) {
      const int r = Facts.NamedRegister(k, operand);
      for (const TRename& name : names)
        if (r == name.From) operands[operand - 1] = name.To;
    }
    batch.Replace(k, line.LineType, line.Mnemonic, operands[0], operands[1]);
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRegFlagSet Shared;
};

}  // namespace

std::span<const TRule> RegisterMoveEliminationRules() { return kRules; }

bool EliminateRegisterMoves(TLineList& /*lines*/, const TAnalysis& facts) {
  auto frozen = facts.Freeze();
  return TMoveElimination(facts).Run();
}

}  // namespace korvid
