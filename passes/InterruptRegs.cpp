// Interrupt handlers marked REGS save for themselves what they write, so that
// the vector enters them directly instead of through a stub that saves every
// register with the library:
//   JMP SYSTEM.$h ... SYSTEM.$h: PUSH R16 / IN R16,SREG / PUSH R16 /
//     CALL SYSTEM.SaveAllRegs / CALL UNIT.h / CALL SYSTEM.RestoreAllRegs /
//     POP R16 / OUT SREG,R16 / POP R16 / RETI
//   UNIT.h: .OPTI REGS / ... / RET
//   -> JMP UNIT.h ... UNIT.h: PUSH R16 / PUSH R18 / IN R18,SREG / PUSH R18 /
//        .OPTI REGS / ... / RJMP x / x: POP R18 / OUT SREG,R18 / POP R18 /
//        POP R16 / RETI
// The stub's code goes (its label stays, named by nothing). Only when
// vector rows alone enter the stub, the stub alone calls the handler, and
// every path of the handler ends at its own RET at depth 0 without reading
// SP, calling its own labels or being entered elsewhere: then the saves
// bracket the whole handler, and what the library restored the prologue does.
#include "passes/InterruptRegs.h"

#include <vector>

#include "analysis/Analysis.h"
#include "analysis/RoutineSummary.h"
#include "passes/EditBatch.h"
#include "source/Functions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;

constexpr TRule kRules[] = {
    {"regs-handler-saves", "InterruptRegs", D::NO_OPTI_INTERRUPT_REGS,
     "a handler the vector enters directly saves what it writes and SREG, which the library stub saved for it"},
};
const TRule& HandlerSavesRule = kRules[0];

// Holders of SREG are taken below the pointer pairs, as the compiler's code does.
constexpr int kFirstPointer = 28;
constexpr int kAcca = 17;

bool IsCallOf(const TLine& line, std::string_view name) {
  return IsDirectCallType(line.LineType) && EqualsNoCase(Trim(line.Op1), name);
}

std::string Register(int r) { return "R" + std::to_string(r); }

class THandlerSaves {
 public:
  explicit THandlerSaves(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    bool changed = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      if (!IsCallOf(*Lines.Line(i), "SYSTEM.SaveAllRegs")) continue;
      if (FireRule(Facts, HandlerSavesRule, [&](TEditBatch& batch) { return Stub(i, batch); })) {
        ReturnsFromInterrupt(*Handler);
        changed = true;
      }
    }
    return changed;
  }

 private:
  // The next instruction with only passive markers between; -1 otherwise.
  int Next(int k) const { return k < 0 ? -1 : Facts.AdjacentInstruction(k, 1); }

  bool Stub(int save, TEditBatch& batch) const {
    const int call = Next(save), restore = Next(call);
    if (restore < 0 || !IsDirectCallType(Lines.Line(call)->LineType) || Lines.Line(call)->IsJoin() ||
        !IsCallOf(*Lines.Line(restore), "SYSTEM.RestoreAllRegs") || Lines.Line(restore)->IsJoin())
      return false;
    // Around the library's save and restore only the stub's own saves of
    // registers and SREG, popped as many as pushed.
    int first = save, pushes = 0;
    for (int k = Facts.AdjacentInstruction(save, -1); k >= 0 && !Lines.Line(first)->IsJoin();
         k = Facts.AdjacentInstruction(k, -1)) {
      const TLine& line = *Lines.Line(k);
      if (line.LineType == lt::PUSH) ++pushes;
      else if (line.LineType != lt::IN || !EqualsNoCase(Trim(line.Op2), "SREG")) break;
      first = k;
    }
    int k = Next(restore);
    for (; k >= 0 && !Lines.Line(k)->IsJoin(); k = Next(k)) {
      const TLine& line = *Lines.Line(k);
      if (line.LineType == lt::POP) --pushes;
      else if (line.LineType != lt::OUT || !EqualsNoCase(Trim(line.Op1), "SREG")) break;
    }
    if (k < 0 || pushes != 0 || Lines.Line(k)->LineType != lt::RETI || Lines.Line(k)->IsJoin()) return false;
    const std::vector<int> rows = VectorRows(first);
    if (rows.empty()) return false;
    const std::string handler(Trim(Lines.Line(call)->Op1));
    TFunction* routine = Lines.Functions.FindByEntryLabel(handler);
    Handler = routine;
    if (routine == nullptr || !routine->RegsDirective || Lines.Labels.RefCountOf(handler) != 1 ||
        Facts.IsAddressTaken(handler))
      return false;
    if (!SavesOwnRegisters(FindLabelLine(Lines, handler), *routine, batch)) return false;
    Redirect(rows, handler, batch);
    // Nothing enters the stub any more.
    for (int line = first; line >= 0 && line <= k; line = Next(line)) batch.Remove(line);
    return true;
  }

  // The vector rows that jump to the stub's label, when nothing else enters it.
  std::vector<int> VectorRows(int first) const {
    const int label = Facts.PreviousCodeLine(first) + 1;
    int stub = -1;
    for (int k = label; k < first; ++k)
      if (Lines.Line(k)->IsLabelLine()) stub = k;
    if (stub < 0 || Facts.AdjacentInstruction(stub, 1) != first || Facts.IsAddressTaken(Lines.Line(stub)->LabelName))
      return {};
    std::vector<int> rows;
    if (!CodePredecessors(stub, rows)) return {};
    for (int k : rows) {
      const TLine& row = *Lines.Line(k);
      if (!row.IsJump() || !EqualsNoCase(Trim(row.Op1), Lines.Line(stub)->LabelName)) return {};
    }
    return rows;
  }

  // The instructions control comes from into line k, through the directives
  // before it; false when it is entered in other ways (unless `called`: by the
  // calls the caller has counted) or from another label.
  bool CodePredecessors(int k, std::vector<int>& found, bool called = false) const {
    const TPredecessors from = Facts.Predecessors(k);
    if (from.Entered && !called) return false;
    for (int p : from.Lines) {
      const TLine& line = *Lines.Line(p);
      if (line.Size > 0 || line.IsTransfer())
        found.push_back(p);
      else if (line.IsJoin() || !CodePredecessors(p, found))
        return false;
    }
    return true;
  }

  void Redirect(const std::vector<int>& rows, const std::string& handler, TEditBatch& batch) const {
    for (int k : rows) {
      const TLine& row = *Lines.Line(k);
      batch.Replace(k, row.LineType, row.Mnemonic, handler);
      batch.ChangeBranchNote(k);
    }
  }

  // The routine's lines after its entry label, up to its ".ENDFUNC": every
  // path stays among them and ends at a RET with nothing left pushed.
  bool SavesOwnRegisters(int entry, const TFunction& routine, TEditBatch& batch) const {
    std::vector<int> into;
    if (entry < 0 || !Lines.Line(entry)->IsLabelLine() || !CodePredecessors(entry, into, true) || !into.empty())
      return false;
    HandlerEntry = entry;
    int end = entry + 1;
    while (end < Lines.Count() && Lines.Line(end)->LineType != lt::ENDFUNC) ++end;
    if (end >= Lines.Count()) return false;
    std::vector<int> returns;
    int last = -1;
    for (int k = entry + 1; k < end; ++k) {
      const TLine& line = *Lines.Line(k);
      if (line.IsJoin() && !EnteredFromWithin(k, entry, end)) return false;
      if (line.Size == 0) continue;
      last = k;
      if (!StaysWithin(k, entry, end)) return false;
      if (line.LineType == lt::RET) {
        if (Facts.StackDepth(k) != 0) return false;
        returns.push_back(k);
      }
    }
    if (last < 0 || returns.empty() || !Lines.Line(last)->IsUnconditionalTransfer()) return false;
    if (Facts.ReadsStackPointerBetween(entry, -1)) return false;
    const TRoutineEffects& effects = Facts.Summaries().Of(&routine);
    // A store through a pointer may write a register whose address is taken,
    // which no PUSH below would save.
    if (effects.Unknown || (effects.StoresThroughPointer && (Facts.AddressTakenRegisters() & kAllRegisters) != 0))
      return false;

    std::vector<int> saved;
    int holder = -1;
    for (int r = 0; r < 32; ++r)
      if (effects.MayWrite(r)) {
        saved.push_back(r);
        if (r < kFirstPointer) holder = r;
      }
    if (holder < 0) saved.push_back(holder = kAcca);
    const std::string exit = NewGeneratedLabel(Lines);
    for (int r : saved) batch.InsertBefore(entry + 1, lt::PUSH, "PUSH", Register(r));
    batch.InsertBefore(entry + 1, lt::IN, "IN", Register(holder), "SREG");
    batch.InsertBefore(entry + 1, lt::PUSH, "PUSH", Register(holder));
    for (int k : returns) batch.Replace(k, lt::RJMP, "RJMP", exit);
    batch.InsertLabelBefore(end, exit);
    batch.InsertBefore(end, lt::POP, "POP", Register(holder));
    batch.InsertBefore(end, lt::OUT, "OUT", "SREG", Register(holder));
    for (auto r = saved.rbegin(); r != saved.rend(); ++r) batch.InsertBefore(end, lt::POP, "POP", Register(*r));
    batch.InsertBefore(end, lt::RETI, "RETI", "");
    return true;
  }

  // Line k, code of the routine between `entry` and `end`, goes on only to
  // lines between them (or returns, at the caller's depth), and calls no
  // label between them: nothing leaves the saves unrestored or restores twice.
  bool StaysWithin(int k, int entry, int end) const {
    const TLine& line = *Lines.Line(k);
    if (line.UnknownEffect || !Facts.StackDepth(k)) return false;
    const TLineType type = line.LineType;
    if (type == lt::RETI || type == lt::IJMP || type == lt::EIJMP || type == lt::ICALL || type == lt::EICALL)
      return false;
    if (!line.IsTransfer() || type == lt::RET) return true;
    const std::string_view target = Trim(line.TargetOperand());
    if (!IsPlainLabel(target)) return false;
    const int at = FindLabelLine(Lines, target);
    const bool inside = at > entry && at < end;
    return IsDirectCallType(type) ? at >= 0 && !inside : inside;
  }

  // The label on line k is entered only by lines of the routine.
  bool EnteredFromWithin(int k, int entry, int end) const {
    std::vector<int> from;
    if (!CodePredecessors(k, from)) return false;
    for (int p : from)
      if (p <= entry || p >= end) return false;
    return true;
  }

  // The handler now returns from the interrupt: every register it leaves is
  // read where it returns to, here and in a later run of the optimiser.
  void ReturnsFromInterrupt(TFunction& routine) const {
    for (int k = HandlerEntry; k >= 0 && Lines.Line(k)->LineType != lt::FUNC; --k) {
      const TLine& line = *Lines.Line(k);
      if (line.LineType != lt::RETURNS) continue;
      Lines.SetLine(k, lt::RETURNS, "", line.Mnemonic, "-1", line.Func);
      break;
    }
    routine.SetReturns("-1", kReturnInterrupt, true);
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  mutable TFunction* Handler = nullptr;
  mutable int HandlerEntry = -1;
};

}  // namespace

std::span<const TRule> InterruptRegsRules() { return kRules; }

bool InterruptRegisterSaving(TLineList& lines, const TAnalysis& facts) {
  if (!lines.Run.Directives[D::INTERRUPT_REGS]) return false;
  return THandlerSaves(facts).Run();
}

}  // namespace korvid
