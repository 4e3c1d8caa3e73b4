#include "passes/EditBatch.h"

#include <algorithm>

#include "analysis/Analysis.h"
#include "passes/Rule.h"
#include "source/LineList.h"

namespace korvid {


bool FireRule(const TAnalysis& facts, const TRule& rule, const std::function<bool(TEditBatch&)>& stage) {
  if (!RuleEnabled(facts.Lines(), rule)) return false;
  TEditBatch batch(facts, rule);
  return stage(batch) && batch.Apply();
}

TEditBatch::TEditBatch(const TAnalysis& facts, const TRule& rule) : Facts(facts), Lines(facts.Lines()), Rule(rule) {}

void TEditBatch::Remove(int line) { Edits.push_back({TKind::Remove, line, 0, {}, {}, {}, -Lines.Line(line)->Size}); }

void TEditBatch::ChangeBranchNote(int line, bool newTransfer) {
  const TLine* before = line > 0 ? Lines.Line(line - 1) : nullptr;
  const bool noted = before != nullptr && before->LineType == lt::BRANCH;
  if (noted) Remove(line - 1);
  if (noted || newTransfer) NotedBranches.push_back(line);
}

void TEditBatch::InsertLabelBefore(int line, std::string_view name) {
  Edits.push_back({TKind::InsertLabel, line, lt::Label, {}, std::string(name), {}, 0});
}

void TEditBatch::Relabel(int line, std::string_view name) {
  Edits.push_back({TKind::Relabel, line, lt::Label, {}, std::string(name), {}, 0});
}

void TEditBatch::Replace(int line, TLineType type, std::string_view mnemonic, std::string_view op1,
                         std::string_view op2) {
  const int size = TAnalysis::InstructionSize(type);
  if (size == 0) Refused = true;
  Edits.push_back({TKind::Replace, line, type, std::string(mnemonic), std::string(op1), std::string(op2),
                   size - Lines.Line(line)->Size});
}

void TEditBatch::InsertBefore(int line, TLineType type, std::string_view mnemonic, std::string_view op1,
                              std::string_view op2) {
  const int size = TAnalysis::InstructionSize(type);
  if (size == 0) Refused = true;
  Edits.push_back({TKind::Insert, line, type, std::string(mnemonic), std::string(op1), std::string(op2), size});
}

bool TEditBatch::Apply() {
  if (Refused || Edits.empty() || !MayChangeAll() || !AllEncodable() || !KeepsSkipShadows() ||
      !ReplacedTransfersReach())
    return false;
  // A repair grows the code too, so it may push another branch out: a few rounds.
  for (int round = 0;; ++round) {
    std::optional<std::vector<int>> lost = BranchesOutOfReach();
    if (!lost) return false;
    if (lost->empty()) break;
    if (round == 4 || !StageReachRepairs(*lost)) return false;
  }
  const std::int32_t sizeBefore = Lines.CodeSize;
  Lines.Pass.Rule = Rule.Name;
  Make();
  Lines.Pass.Rule = {};
  TRuleCount& count = Lines.Pass.RuleCounts[std::string(Rule.Name)];
  ++count.Fired;
  count.BytesSaved += sizeBefore - Lines.CodeSize;
  return true;
}

bool TEditBatch::MayChangeAll() const {
  return std::all_of(Edits.begin(), Edits.end(), [this](const TEdit& edit) {
    if (edit.Inserts() && edit.Line >= Lines.Count()) return true;
    if (edit.Kind == TKind::Remove && !Lines.CanRemove(edit.Line)) return false;
    return Lines.MayChange(edit.Line);
  });
}

bool TEditBatch::AllEncodable() const {
  return std::all_of(Edits.begin(), Edits.end(), [this](const TEdit& edit) {
    return edit.Kind == TKind::Remove || edit.Labels() || Facts.EncodingFault(edit.Type, edit.Op1, edit.Op2).empty();
  });
}

bool TEditBatch::EditsLine(int line) const {
  return std::any_of(Edits.begin(), Edits.end(), [line](const TEdit& edit) {
    return (edit.Kind == TKind::Remove || edit.Kind == TKind::Replace) && edit.Line == line;
  });
}

bool TEditBatch::InsertsBefore(int line) const {
  return std::any_of(Edits.begin(), Edits.end(), [line](const TEdit& edit) {
    return edit.Inserts() && edit.Line == line;
  });
}

// A skip jumps over exactly the next instruction, one or two words: that
// instruction may become another one, but not go, nor get one put before it.
bool TEditBatch::KeepsSkipShadows() const {
  for (const TEdit& edit : Edits) {
    if (edit.Kind == TKind::Replace || edit.Line >= Lines.Count()) continue;
    const bool movesShadow = edit.Kind == TKind::Remove ? Lines.Line(edit.Line)->Size != 0 : edit.Delta != 0;
    if (movesShadow && Facts.IsInSkipShadow(edit.Line) && !EditsLine(Facts.PreviousCodeLine(edit.Line)))
      return false;
  }
  return true;
}

void TEditBatch::Make() {
  // From the last line back, so the staged line numbers stay valid; at one
  // line the replacement first, then the insertions in the order staged.
  std::vector<const TEdit*> order;
  for (const TEdit& edit : Edits) order.push_back(&edit);
  std::stable_sort(order.begin(), order.end(), [](const TEdit* a, const TEdit* b) {
    if (a->Line != b->Line) return a->Line > b->Line;
    return !a->Inserts() && b->Inserts();
  });
  std::vector<const TEdit*> inserts;
  auto flushInserts = [&] {
    for (auto it = inserts.rbegin(); it != inserts.rend(); ++it) {
      const TEdit& edit = **it;
      const TLine* anchor = edit.Line < Lines.Count() ? Lines.Line(edit.Line) : nullptr;
      Lines.InsertLine(edit.Line, anchor != nullptr ? anchor->LineIndex : 0);
      if (edit.Kind == TKind::InsertLabel)
        Lines.SetLabelLine(edit.Line, edit.Op1);
      else
        Lines.SetLineOps(edit.Line, edit.Type, "", edit.Mnemonic, edit.Op1, edit.Op2,
                         anchor != nullptr ? anchor->Func : nullptr);
    }
    inserts.clear();
  };
  for (const TEdit* edit : order) {
    if (!inserts.empty() && inserts.front()->Line != edit->Line) flushInserts();
    const TLine& line = *Lines.Line(std::min(edit->Line, Lines.Count() - 1));
    switch (edit->Kind) {
      case TKind::Remove:
        Lines.RemoveLine(edit->Line);
        break;
      case TKind::Replace:
        Lines.SetLineOps(edit->Line, edit->Type, line.LabelName, edit->Mnemonic, edit->Op1, edit->Op2, line.Func);
        break;
      case TKind::Relabel: {
        const std::string mnemonic = line.Mnemonic, operands = line.Operands;
        Lines.SetLine(edit->Line, line.LineType, edit->Op1, mnemonic, operands, line.Func);
        break;
      }
      case TKind::Insert:
      case TKind::InsertLabel:
        inserts.push_back(edit);
        break;
    }
  }
  flushInserts();
  for (int line : NotedBranches) {
    // Lines put in before the transfer moved it down.
    int moved = line;
    for (const TEdit& edit : Edits) moved += edit.Inserts() && edit.Line <= line;
    if (TLine* transfer = Lines.Line(moved); transfer != nullptr && transfer->Size > 0) transfer->BranchMark = true;
  }
}

}  // namespace korvid
