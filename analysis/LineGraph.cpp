#include "analysis/LineGraph.h"

#include <string>

#include "analysis/EffectTable.h"
#include "analysis/LabelIndex.h"
#include "source/Variables.h"
#include "source/Classifier.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

bool IsCodeLine(const TLine& line) {
  return line.Size > 0 && (IsInstructionType(line.LineType) || line.LineType == lt::Unknown);
}

class TGraphBuilder {
 public:
  TGraphBuilder(TLineList& lines, TLineGraph recycled)
      : Lines(lines), Labels(*CurrentLabelIndex(lines)), Graph(std::move(recycled)) {
    // The old graph's storage is reused: a fresh one costs a page fault per few nodes.
    Graph.Nodes.clear();
    Graph.Nodes.resize(static_cast<std::size_t>(lines.Count()) + 1);
    Graph.Nodes.back().Kind = TNodeKind::Unknown;
    Graph.AddressTaken = AddressTakenRegisters(lines);
    Graph.Returns = CurrentRoutineSummaries(lines).ReturnSites();
  }

  TLineGraph Build() {
    // Backwards, so the next line with code is known at every skip.
    int nextSized = Graph.EndNode();
    for (int k = Lines.Count() - 1; k >= 0; --k) {
      BuildNode(k, nextSized);
      const TLine* line = Lines.Line(k);
      if (line == nullptr || line->Size > 0) nextSized = k;
    }
    return std::move(Graph);
  }

 private:
  // The line control reaches at the label, or -1 when that is not code we can follow.
  int TargetOf(const std::string& operand) const {
    const int found = Labels.UniqueLineOf(Trim(operand));
    if (found < 0) return -1;
    const TLine& target = *Lines.Line(found);
    return target.IsLabelLine() || IsCodeLine(target) ? found : -1;
  }

  void BuildNode(int k, int nextSized) {
    TLineNode& node = Graph.Nodes[k];
    const TLine* line = Lines.Line(k);
    if (line == nullptr || line->UnknownEffect || (line->FlowKind & fkBlockMarker) ||
        (line->Size > 0 && !IsCodeLine(*line))) {
      node.Kind = TNodeKind::Unknown;
      return;
    }
    node.Succ[0] = k + 1;
    if (line->Size == 0) return;
    node.Bits = LineRegisterBits(*line, Graph.AddressTaken, 0);
    switch (line->LineType) {
      case lt::RJMP:
      case lt::JMP:
        node.Succ[0] = TargetOf(line->Op1);
        break;
      case lt::RCALL:
      case lt::CALL:
        if (Labels.LineOf(Trim(line->Op1)) < 0)
          Lines.ReportAbort(k, "Label \"" + line->Op1 + "\" not found. Optimisation aborted.");
        AddCall(k, node);
        break;
      case lt::ICALL:
      case lt::EICALL:
        AddCall(k, node);
        break;
      case lt::RET: {
        node.Kind = TNodeKind::Return;
        TReturnEffect effect = ReturnEffectOf(Lines, k);
        node.Bits.Use |= effect.Returned;
        node.Routine = effect.Routine;
        break;
      }
      case lt::RETI:
        node.Kind = TNodeKind::ReturnI;
        break;
      default:
        if (line->IsSkip()) {
          // The skipped instruction is the next line with code, one word or two.
          const TLine* skipped = nextSized < Lines.Count() ? Lines.Line(nextSized) : nullptr;
          node.Succ[1] = skipped != nullptr && IsCodeLine(*skipped) ? nextSized + 1 : Graph.EndNode();
        } else if (line->FlowKind & fkConditional) {
          node.Succ[1] = TargetOf(line->TargetOperand());
          if (node.Succ[1] < 0) node.Kind = TNodeKind::Unknown;
        } else if (line->FlowKind & fkUnconditional) {
          node.Kind = TNodeKind::Unknown;  // IJMP, EIJMP and any jump we cannot follow
        }
        break;
    }
    if (node.Succ[0] < 0) node.Kind = TNodeKind::Unknown;
  }

  void AddCall(int k, TLineNode& node) {
    TCallEffect effect = CallEffectOf(Lines, k);
    node.IsCall = true;
    node.CallEntry = effect.Entry;
    if (effect.Entry < 0) node.Bits.Use |= kAllRegsAndFlags;
    node.Bits.Kill |= effect.MustWrite & ~node.Bits.Use;
    node.Bits.Def |= effect.MayWrite | effect.MustWrite | kCallBit;
  }

  TLineList& Lines;
  const TLabelIndex& Labels;
  TLineGraph Graph;
};

}  // namespace

TRegFlagSet AddressTakenRegisters(const TLineList& lines) {
  TRegFlagSet taken = 0;
  for (int r = 0; r < 32; ++r)
    if (lines.RegisterVar[r] != nullptr && lines.RegisterVar[r]->AddressTaken) taken |= RegisterBit(r);
  return taken;
}

TLineGraph BuildLineGraph(TLineList& lines, TLineGraph recycled) {
  return TGraphBuilder(lines, std::move(recycled)).Build();
}

TRegFlagSet VarBits(const TVar& var) {
  if (tVarList::IsFlag(var)) return TRegFlagSet{1} << (kFlagBit0 + var.Address);
  if (!tVarList::IsRegister(var)) return 0;
  TRegFlagSet bits = 0;
  int size = var.Size > 1 ? var.Size : 1;
  for (int r = static_cast<int>(var.Address); r < var.Address + size && r < 32; ++r) bits |= RegisterBit(r);
  return bits;
}

TLineBits LineRegisterBits(const TLine& line, TRegFlagSet addressTaken, std::uint32_t exemptPointers) {
  TLineBits bits;
  if (line.UnknownEffect) {
    bits.Use = bits.Def = kAllRegsAndFlags;
    return bits;
  }
  for (const TVarUsage& usage : line.Usages.Items()) {
    TRegFlagSet var = VarBits(*usage.Var);
    TUsageSet use = usage.Usage & ~uMarkMask;
    if (use & (uRead | uModify)) bits.Use |= var;
    if (use & (uWrite | uModify)) bits.Def |= var;
    if ((use & uWrite) && !(use & (uRead | uModify))) bits.Kill |= var;
  }
  bool exempt = line.PtrReg >= 24 && line.PtrReg <= 30 && (exemptPointers & (16u << ((line.PtrReg - 24) / 2)));
  if ((line.Memory & mem::PointerRead) && !exempt) bits.Use |= addressTaken;
  // A store through a pointer may change such a register, but never surely.
  if (line.Memory & mem::PointerWrite) bits.Def |= addressTaken;
  return bits;
}

}  // namespace korvid
