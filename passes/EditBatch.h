// The edits one firing of a rule makes, checked as a whole and then made as a
// whole: every line they touch may change (the line filter), every
// instruction they write is encodable on the device, no line in a skip's
// shadow is removed or gets a line put before it unless the skip is edited
// too, and every transfer whose span they change still reaches. A conditional
// branch the edits push out of reach is repaired within the batch:
//   BREQ far   ->   BRNE reach.N / RJMP far / reach.N:
// (JMP where RJMP cannot reach and the device has it). When a check fails and
// no repair helps, nothing is changed. The firing is counted for the rule with
// the bytes it saved, and the change log names the rule.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source/LineTypes.h"

namespace korvid {

class TAnalysis;
class TLineList;
struct TRule;

class TEditBatch {
 public:
  TEditBatch(const TAnalysis& facts, const TRule& rule);

  void Remove(int line);
  // The line keeps its label and routine.
  void Replace(int line, TLineType type, std::string_view mnemonic, std::string_view op1, std::string_view op2 = "");
  // Lines put before the same line stand in the order they were staged.
  void InsertBefore(int line, TLineType type, std::string_view mnemonic, std::string_view op1,
                    std::string_view op2 = "");
  void InsertLabelBefore(int line, std::string_view name);
  // The instruction on `line` carries a label itself ("name  LDI R16,1"): a
  // label for which no line is put in.
  void Relabel(int line, std::string_view name);
  // The transfer on `line` goes elsewhere now: a ".BRANCH" note right before
  // it goes, and the tidy step writes a new one for the transfer as it stands;
  // a transfer new on the line gets a note whether one stood there or not.
  void ChangeBranchNote(int line, bool newTransfer = false);

  // False, with the program as it was, when a check fails or nothing was staged.
  bool Apply();

 private:
  enum class TKind { Remove, Replace, Insert, InsertLabel, Relabel };
  struct TEdit {
    TKind Kind;
    int Line;
    TLineType Type = 0;
    std::string Mnemonic;
    std::string Op1, Op2;  // a label's name in Op1
    int Delta = 0;         // bytes the edit adds (negative: removes)

    bool Inserts() const { return Kind == TKind::Insert || Kind == TKind::InsertLabel; }
    bool Labels() const { return Kind == TKind::InsertLabel || Kind == TKind::Relabel; }
  };

  bool MayChangeAll() const;
  bool AllEncodable() const;
  bool KeepsSkipShadows() const;
  bool EditsLine(int line) const;
  bool InsertsBefore(int line) const;
  // What the line's start moves by: the deltas of the edits before it.
  int Shift(int line) const;

  // The conditional branches the edits push out of reach and a repair may
  // bring back; none when a transfer is lost beyond repair or cannot be judged.
  std::optional<std::vector<int>> BranchesOutOfReach() const;
  bool ReplacedTransfersReach() const;
  bool StageReachRepairs(const std::vector<int>& branches);
  std::string FreshLabel(int line) const;

  void Make();

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRule& Rule;
  std::vector<TEdit> Edits;
  std::vector<int> NotedBranches;
  bool Refused = false;
};

// One firing of a rule: when the rule is enabled, `stage` puts its edits into a
// batch, which is then applied. True when the program changed.
bool FireRule(const TAnalysis& facts, const TRule& rule, const std::function<bool(TEditBatch&)>& stage);

}  // namespace korvid
