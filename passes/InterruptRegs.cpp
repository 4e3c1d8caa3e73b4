// Interrupt routines save only the registers they write (and SREG), right
// after their entry label, and restore them at one common exit:
//   isr: PUSH R16 / IN R16,SREG / PUSH R16 / PUSH R30 / ... R30 untouched ...
//        POP R30 / POP R16 / OUT SREG,R16 / POP R16 / RETI
//   -> isr: PUSH R16 / IN R16,SREG / PUSH R16 / ... / POP R16 / OUT SREG,R16 / POP R16 / RETI
// A handler marked REGS behind a stub that saves around its call saves for
// itself, and the vector jumps to it directly:
//   JMP SYSTEM.$h ... SYSTEM.$h: PUSH R16 / IN R16,SREG / PUSH R16 /
//     CALL SYSTEM.SaveAllRegs / CALL UNIT.h / CALL SYSTEM.RestoreAllRegs /
//     POP R16 / OUT SREG,R16 / POP R16 / RETI
//   UNIT.h: .OPTI REGS / ... / RET
//   -> JMP UNIT.h ... UNIT.h: PUSH R16 / PUSH R18 / IN R18,SREG / PUSH R18 /
//        .OPTI REGS / ... / POP R18 / OUT SREG,R18 / POP R18 / POP R16 / RETI
// A register is saved afterwards only when it was saved before and the routine
// writes it: one the old saves left to change keeps changing, so a RET
// handing back values and a routine that saved too little behave as they did.
// Only when every path of the routine ends at its own return of one kind at
// depth 0 without reading SP, calling its own labels or being entered
// elsewhere: then the saves bracket the whole routine.
#include "passes/InterruptRegs.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/CallEffects.h"
#include "passes/EditBatch.h"
#include "source/Functions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;

constexpr TRule kRules[] = {
    {"interrupt-saves-trimmed", "InterruptRegs", D::NO_OPTI_INTERRUPT_REGS,
     "an interrupt routine keeps only the saves of registers it writes, restored at one exit"},
    {"regs-handler-saves", "InterruptRegs", D::NO_OPTI_INTERRUPT_REGS,
     "a handler the vector enters directly saves what it writes and SREG, which the library stub saved for it"},
    {"stub-vector-redirect", "InterruptRegs", D::NO_OPTI_INTERRUPT_REGS,
     "a handler the vector enters directly saves what it writes of what its stub saved around the call"},
};
const TRule& TrimmedRule = kRules[0];
const TRule& LibraryStubRule = kRules[1];
const TRule& StubRule = kRules[2];

// Holders of SREG are taken below the pointer pairs, as the compiler's code does.
constexpr int kFirstPointer = 28;
constexpr int kAcca = 17;

bool IsCallOf(const TLine& line, std::string_view name) {
  return IsDirectCallType(line.LineType) && EqualsNoCase(Trim(line.Op1), name);
}

bool IsInterruptRoutine(const TFunction& routine) {
  return routine.ReturnKnown && routine.ReturnSize == kReturnInterrupt;
}

bool NamesSreg(std::string_view operand) { return EqualsNoCase(Trim(operand), "SREG"); }

std::string Register(int r) { return "R" + std::to_string(r); }

// What a routine or stub saves at its entry, in push order: registers, and
// SREG through a holder register pushed before it.
struct TSaves {
  struct TItem {
    int Reg;
    bool Sreg;
  };
  std::vector<TItem> Items;
  std::vector<int> Lines;
  // The first instruction after them.
  int After = -1;
  TRegFlagSet Regs = 0;
  int Holder = -1;

  bool Empty() const { return Items.empty(); }
};

// The saves a routine makes afterwards: each register it saved and writes,
// ascending, and SREG, when it saved SREG, through the old holder if it stays
// saved, else the highest of them below the pointer pairs, else the old
// holder pushed for that alone.
struct TPlan {
  std::vector<int> Regs;
  int Holder = -1;

  int Instructions() const { return 2 * static_cast<int>(Regs.size()) + (Holder >= 0 ? 4 : 0); }
  // The registers whose value the routine starts with differs from before
  // when the holder, which starts with a copy of SREG, changed.
  TRegFlagSet HolderChange(int old) const {
    return old == Holder ? 0 : (old >= 0 ? RegisterBit(old) : 0) | (Holder >= 0 ? RegisterBit(Holder) : 0);
  }
};

TPlan PlanSaves(const TSaves& old, TRegFlagSet written) {
  TPlan plan;
  for (int r = 0; r < 32; ++r)
    if (old.Regs & written & RegisterBit(r)) {
      plan.Regs.push_back(r);
      if (r < kFirstPointer && old.Holder >= 0 && plan.Holder != old.Holder) plan.Holder = r;
    }
  if (old.Holder >= 0 && plan.Holder < 0) {
    plan.Holder = old.Holder;
    plan.Regs.push_back(old.Holder);
    std::sort(plan.Regs.begin(), plan.Regs.end());
  }
  return plan;
}

// A routine's code: the lines after its entry label up to its ".ENDFUNC", and its returns.
struct TBody {
  int Entry = -1, End = -1;
  std::vector<int> Returns;
};

class TInterruptSaves {
 public:
  explicit TInterruptSaves(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    bool changed = false;
    for (TFunction* routine : Routines())
      changed |= FireRule(Facts, TrimmedRule, [&](TEditBatch& batch) { return TrimSaves(*routine, batch); });
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine& line = *Lines.Line(i);
      TFunction* handler = IsDirectCallType(line.LineType) ? Lines.Functions.FindByEntryLabel(Trim(line.Op1)) : nullptr;
      if (handler == nullptr || !handler->RegsDirective) continue;
      const int before = Next(i, -1);
      const bool library = before >= 0 && IsCallOf(*Lines.Line(before), "SYSTEM.SaveAllRegs");
      if (FireRule(Facts, library ? LibraryStubRule : StubRule,
                   [&](TEditBatch& batch) { return Stub(i, library, *handler, batch); })) {
        ReturnsFromInterrupt(*handler);
        changed = true;
      }
    }
    return changed;
  }

 private:
  // The next (or previous) instruction with only passive markers between; -1 otherwise.
  int Next(int k, int step = 1) const { return k < 0 ? -1 : Facts.AdjacentInstruction(k, step); }

  // Interrupt routines and routines marked REGS.
  std::vector<TFunction*> Routines() const {
    std::vector<TFunction*> found;
    for (TFunction* routine : Lines.Functions.All())
      if (routine->RegsDirective || IsInterruptRoutine(*routine)) found.push_back(routine);
    return found;
  }

  // The pushes of registers, and SREG read into one of them and pushed, from
  // line `from` on without a label between.
  TSaves EntrySaves(int from) const {
    TSaves saves;
    int k = from;
    for (; k >= 0 && !Lines.Line(k)->IsJoin(); k = Next(k)) {
      const TLine& line = *Lines.Line(k);
      const int r = Facts.NamedRegister(k, 1);
      if (r < 0) break;
      if (line.LineType == lt::PUSH && !(saves.Regs & RegisterBit(r))) {
        saves.Items.push_back({r, false});
        saves.Lines.push_back(k);
        saves.Regs |= RegisterBit(r);
        continue;
      }
      // SREG's holder keeps its own value pushed before it.
      const int push = Next(k);
      if (line.LineType != lt::IN || !NamesSreg(line.Op2) || saves.Holder >= 0 || !(saves.Regs & RegisterBit(r)) ||
          push < 0 || Lines.Line(push)->IsJoin() || Lines.Line(push)->LineType != lt::PUSH ||
          Facts.NamedRegister(push, 1) != r)
        break;
      saves.Items.push_back({r, true});
      saves.Lines.insert(saves.Lines.end(), {k, push});
      saves.Holder = r;
      k = push;
    }
    saves.After = k;
    return saves;
  }

  // The lines right before the return on line `ret` that restore `saves` in
  // reverse order, without a label between; none when they do not.
  std::optional<std::vector<int>> Restores(const TSaves& saves, int ret) const {
    std::vector<int> lines;
    int k = ret;
    auto expect = [&](TLineType type, int reg) {
      k = Next(k, -1);
      if (k < 0 || Lines.Line(k)->IsJoin() || Lines.Line(k)->LineType != type) return false;
      const int operand = type == lt::OUT ? 2 : 1;
      if (Facts.NamedRegister(k, operand) != reg || (type == lt::OUT && !NamesSreg(Lines.Line(k)->Op1))) return false;
      lines.push_back(k);
      return true;
    };
    for (const TSaves::TItem& item : saves.Items)
      if (!(item.Sreg ? expect(lt::OUT, item.Reg) && expect(lt::POP, item.Reg) : expect(lt::POP, item.Reg)))
        return std::nullopt;
    return lines;
  }

  // Trims the routine's own saves to the registers it writes.
  bool TrimSaves(const TFunction& routine, TEditBatch& batch) const {
    const bool interrupt = IsInterruptRoutine(routine);
    const std::optional<TBody> body = Body(routine, interrupt ? lt::RETI : lt::RET, true);
    if (!body) return false;
    // Directives such as REGS may stand between the label and the saves.
    int first = body->Entry + 1;
    while (first < body->End && Lines.Line(first)->Size == 0 && !Lines.Line(first)->IsJoin()) ++first;
    const TSaves saves = EntrySaves(first);
    if (saves.Empty()) return false;
    std::vector<int> restores, own = saves.Lines;
    for (int ret : body->Returns) {
      const std::optional<std::vector<int>> lines = Restores(saves, ret);
      if (!lines) return false;
      restores.insert(restores.end(), lines->begin(), lines->end());
    }
    own.insert(own.end(), restores.begin(), restores.end());
    const std::optional<TRegFlagSet> written = Written(*body, own);
    std::vector<int> bracket = own;
    bracket.insert(bracket.end(), body->Returns.begin(), body->Returns.end());
    if (!written || !KeepsSavedSlots(*body, static_cast<int>(saves.Lines.size()) - (saves.Holder >= 0), bracket))
      return false;
    const TPlan plan = PlanSaves(saves, *written);
    // Every return but one leaves by a jump of the same size as the return.
    const int before = static_cast<int>(saves.Lines.size() + restores.size());
    if (plan.Instructions() >= before || Facts.AnyLive(plan.HolderChange(saves.Holder), saves.After)) return false;
    for (int k : own) batch.Remove(k);
    Rewrite(*body, plan, lt::Unknown, batch);
    return true;
  }

  // The stub around the call of `handler` on line `call`, entered by vector
  // rows alone: `library` when it saves everything through the library.
  bool Stub(int call, bool library, TFunction& handler, TEditBatch& batch) const {
    const int save = library ? Next(call, -1) : call;
    const int restore = library ? Next(call) : call;
    if (Lines.Line(call)->IsJoin() || Lines.Line(restore)->IsJoin() ||
        (library && !IsCallOf(*Lines.Line(restore), "SYSTEM.RestoreAllRegs")))
      return false;
    int first = save;
    for (int k = Next(save, -1); k >= 0 && !Lines.Line(first)->IsJoin(); k = Next(k, -1)) {
      const TLineType type = Lines.Line(k)->LineType;
      if (type != lt::PUSH && (type != lt::IN || !NamesSreg(Lines.Line(k)->Op2))) break;
      first = k;
    }
    TSaves saves = EntrySaves(first);
    if (saves.After != save) return false;
    // The stub saves SREG around the call; its pops leave it at the RETI.
    int ret = restore;
    for (std::size_t n = 0; n < saves.Lines.size() + 1 && ret >= 0; ++n) ret = Next(ret);
    if (ret < 0 || Lines.Line(ret)->LineType != lt::RETI || Lines.Line(ret)->IsJoin() || (!library && saves.Holder < 0))
      return false;
    const std::optional<std::vector<int>> restores = Restores(saves, ret);
    if (!restores || Next(restores->empty() ? ret : restores->back(), -1) != restore) return false;
    const std::vector<int> rows = VectorRows(first);
    const std::string name(Trim(Lines.Line(call)->Op1));
    if (rows.empty() || Lines.Labels.RefCountOf(name) != 1 || Facts.IsAddressTaken(name)) return false;
    const std::optional<TBody> body = Body(handler, lt::RET, false);
    if (!body) return false;
    const std::optional<TRegFlagSet> written = Written(*body, {});
    if (!written || !KeepsSavedSlots(*body, 0, {})) return false;
    // The handler starts with the stub's holder of SREG as it was; the library restores every register.
    const int holder = saves.Holder;
    if (library) saves.Regs = kAllRegisters, saves.Holder = kAcca;
    const TPlan plan = PlanSaves(saves, *written);
    if (Facts.AnyLive(plan.HolderChange(holder), body->Entry)) return false;
    HandlerEntry = body->Entry;
    Rewrite(*body, plan, lt::RETI, batch);
    for (int k : rows) {
      batch.Replace(k, Lines.Line(k)->LineType, Lines.Line(k)->Mnemonic, name);
      batch.ChangeBranchNote(k);
    }
    // Nothing enters the stub any more.
    for (int line = first; line >= 0 && line <= ret; line = Next(line)) batch.Remove(line);
    return true;
  }

  // The plan's saves right after the entry label and its restores before the
  // last return, which the others jump to; the returns become `kind` unless Unknown.
  void Rewrite(const TBody& body, const TPlan& plan, TLineType kind, TEditBatch& batch) const {
    const int at = body.Entry + 1, exit = body.Returns.back();
    for (int r : plan.Regs) batch.InsertBefore(at, lt::PUSH, "PUSH", Register(r));
    if (plan.Holder >= 0) {
      batch.InsertBefore(at, lt::IN, "IN", Register(plan.Holder), "SREG");
      batch.InsertBefore(at, lt::PUSH, "PUSH", Register(plan.Holder));
    }
    if (body.Returns.size() > 1) {
      const std::string label = NewGeneratedLabel(Lines);
      for (int ret : body.Returns)
        if (ret != exit) batch.Replace(ret, lt::RJMP, "RJMP", label);
      batch.InsertLabelBefore(exit, label);
    }
    if (plan.Holder >= 0) {
      batch.InsertBefore(exit, lt::POP, "POP", Register(plan.Holder));
      batch.InsertBefore(exit, lt::OUT, "OUT", "SREG", Register(plan.Holder));
    }
    for (auto r = plan.Regs.rbegin(); r != plan.Regs.rend(); ++r) batch.InsertBefore(exit, lt::POP, "POP", Register(*r));
    if (kind != lt::Unknown) batch.Replace(exit, kind, kind == lt::RETI ? "RETI" : "RET", "");
  }

  // The vector rows that jump to the stub's label, when nothing else enters it.
  std::vector<int> VectorRows(int first) const {
    const int label = Facts.PreviousCodeLine(first) + 1;
    int stub = -1;
    for (int k = label; k < first; ++k)
      if (Lines.Line(k)->IsLabelLine()) stub = k;
    if (stub < 0 || Next(stub) != first || Facts.IsAddressTaken(Lines.Line(stub)->LabelName)) return {};
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

  // The routine's code after its entry label: entered there by calls (or, when
  // `jumpsIn`, by jumps from outside it), every path stays in it and ends at a
  // return of type `kind` with nothing left pushed, and SP is never read.
  std::optional<TBody> Body(const TFunction& routine, TLineType kind, bool jumpsIn) const {
    TBody body;
    body.Entry = FindLabelLine(Lines, routine.EntryLabel);
    std::vector<int> into;
    if (body.Entry < 0 || !Lines.Line(body.Entry)->IsLabelLine() || !CodePredecessors(body.Entry, into, true))
      return std::nullopt;
    body.End = body.Entry + 1;
    while (body.End < Lines.Count() && Lines.Line(body.End)->LineType != lt::ENDFUNC) ++body.End;
    if (body.End >= Lines.Count()) return std::nullopt;
    for (int p : into)
      if (!jumpsIn || !Lines.Line(p)->IsTransfer() || (p > body.Entry && p < body.End)) return std::nullopt;
    int last = -1;
    for (int k = body.Entry + 1; k < body.End; ++k) {
      const TLine& line = *Lines.Line(k);
      if (line.IsJoin() && !EnteredFromWithin(k, body)) return std::nullopt;
      if (line.Size == 0) continue;
      last = k;
      if (!StaysWithin(k, body, kind)) return std::nullopt;
      if (line.LineType == kind) {
        if (Facts.StackDepth(k) != 0) return std::nullopt;
        body.Returns.push_back(k);
      }
    }
    if (last < 0 || body.Returns.empty() || !Lines.Line(last)->IsUnconditionalTransfer() ||
        Facts.ReadsStackPointerBetween(body.Entry, -1))
      return std::nullopt;
    return body;
  }

  // Line k goes on only to lines of the body (or returns by `kind`), and calls
  // no label of it: nothing leaves the saves unrestored or restores twice.
  bool StaysWithin(int k, const TBody& body, TLineType kind) const {
    const TLine& line = *Lines.Line(k);
    if (line.UnknownEffect || !Facts.StackDepth(k)) return false;
    const TLineType type = line.LineType;
    if (type == kind) return true;
    if (type == lt::RET || type == lt::RETI || type == lt::IJMP || type == lt::EIJMP || type == lt::ICALL ||
        type == lt::EICALL)
      return false;
    if (!line.IsTransfer()) return true;
    const std::string_view target = Trim(line.TargetOperand());
    if (!IsPlainLabel(target)) return false;
    const int at = FindLabelLine(Lines, target);
    const bool inside = at > body.Entry && at < body.End;
    return IsDirectCallType(type) ? at >= 0 && !inside : inside;
  }

  // The label on line k is entered only by lines of the body.
  bool EnteredFromWithin(int k, const TBody& body) const {
    std::vector<int> from;
    if (!CodePredecessors(k, from)) return false;
    for (int p : from)
      if (p <= body.Entry || p >= body.End) return false;
    return true;
  }

  // No line of the body but `skipped` pops below the `pushes` bytes its
  // entry saved: the saves stay apart from what the body does on the stack.
  bool KeepsSavedSlots(const TBody& body, int pushes, const std::vector<int>& skipped) const {
    for (int k = body.Entry + 1; k < body.End; ++k) {
      if (Lines.Line(k)->Size == 0 || std::find(skipped.begin(), skipped.end(), k) != skipped.end()) continue;
      const int depth = Facts.StackDepth(k).value_or(-1);
      if (depth < pushes || (Lines.Line(k)->LineType == lt::POP && depth <= pushes)) return false;
    }
    return true;
  }

  // The registers the body's lines but `skipped` may write, through what they
  // call too; none when one may be a register an interrupt or a pointer sees,
  // whose change no restore may undo.
  std::optional<TRegFlagSet> Written(const TBody& body, const std::vector<int>& skipped) const {
    TRegFlagSet written = 0;
    for (int k = body.Entry + 1; k < body.End; ++k)
      if (Lines.Line(k)->Size > 0 && std::find(skipped.begin(), skipped.end(), k) == skipped.end())
        written |= Facts.Writes(k);
    written &= kAllRegisters;
    if (written & Facts.SharedRegisters()) return std::nullopt;
    return written;
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
  mutable int HandlerEntry = -1;
};

}  // namespace

std::span<const TRule> InterruptRegsRules() { return kRules; }

bool InterruptRegisterSaving(TLineList& lines, const TAnalysis& facts) {
  const std::vector<TFunction*> routines = lines.Functions.All();
  if (!lines.Run.Directives[D::INTERRUPT_REGS] &&
      std::none_of(routines.begin(), routines.end(), [](const TFunction* f) { return IsInterruptRoutine(*f); }))
    return false;
  return TInterruptSaves(facts).Run();
}

}  // namespace korvid
