// The branch optimisation's walk, shared by the files that hold its rules: the
// booleans decided by the flags (BranchOptimisation.cpp), the rewrites of a
// boolean's tail that let those fire, the copies and the short-circuit rule
// (BranchTails.cpp), and the rules around a single test: constant tests, ORI
// and COM (BranchTests.cpp).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/CallEffects.h"
#include "analysis/EffectTable.h"
#include "passes/EditBatch.h"
#include "passes/Rule.h"
#include "source/Line.h"

namespace korvid {

class TLineList;

// The flags TST sets.
inline constexpr std::uint8_t kTestFlags = sreg::S | sreg::V | sreg::N | sreg::Z;

// The flags a line writes, as the analysis counts them.
inline std::uint8_t FlagsOf(const TLine& line) { return TAnalysis::FlagsChangedBy(line, lt::Unknown); }

// The pass's rules, declared in BranchOptimisation.cpp.
namespace branchrules {
extern const TRule& OriToSer;
extern const TRule& OriAfterLogic;
extern const TRule& ComBeforeTest;
extern const TRule& ConstantTestNever;
extern const TRule& ConstantTestAlways;
extern const TRule& BoolCopy;
extern const TRule& BoolNegate;
extern const TRule& ShortCircuit;
extern const TRule& Retarget;
extern const TRule& Invert;
extern const TRule& InvertSkip;
extern const TRule& SwapConstants;
extern const TRule& TDirect;
extern const TRule& TInverted;
}  // namespace branchrules

class TBranchWalk {
 public:
  explicit TBranchWalk(const TAnalysis& facts);
  bool Run();

 private:
  // A register loaded with a boolean constant: CLR, SER or LDI 0 / 0FFh.
  struct TStart {
    int Line;
    int Register;
    bool True;  // 0FFh
  };

  // A materialised boolean, as far as it was matched:
  //   start / head (branches to L, other lines) or skip / setter / [L:]
  //   [COM R] [CLT|SET] / TST R / D: BREQ|BRNE Z / E: RJMP|JMP X or T line / F: Z:
  struct TBoolean {
    TStart Start{};
    std::vector<int> Head;      // every line between the start and the setter
    std::vector<int> Branches;  // the head's branches, all to Target
    std::string Target;
    int Skip = -1;  // skip form: the skip right after the start
    int Setter = -1;
    int Label = -1;      // the join after the setter; -1: none (skip form only)
    int FirstTail = -1;  // the first instruction after the setter and its label
    int Com = -1;
    int TLine = -1;  // CLT or SET in the tail
    bool TSets = false;
    int Test = -1, Decision = -1, Exit = -1, Follow = -1;
    bool OnEqual = false;  // D is BREQ
  };

  enum class TMatch { None, Boolean, Restart };
  enum class TAction { None, Retarget, Invert, Swap, TDirect, TInverted };

  bool Fire(const TRule& rule, const std::function<bool(TEditBatch&)>& stage);

  // The pass loop's rules for one line.
  void OriRules(int i);       // BranchTests.cpp
  void ComBeforeTest(int i);  // BranchTests.cpp
  void BooleanRules(int start);

  // BranchTests.cpp
  bool ConstantTest(const TStart& start);

  // BranchOptimisation.cpp
  std::optional<TStart> StartAt(int i) const;
  TMatch MatchBoolean(const TStart& start, TBoolean& b);
  bool MatchHead(TBoolean& b) const;
  bool MatchLabel(TBoolean& b) const;
  TMatch MatchTail(TBoolean& b);
  bool MatchDecision(TBoolean& b) const;
  static TAction ChooseAction(const TBoolean& b);
  bool Rewrite(TAction action, const TBoolean& b);
  bool Retarget(const TBoolean& b);
  bool Invert(const TBoolean& b);
  bool SwapConstants(const TBoolean& b);
  bool TFlagRewrite(const TBoolean& b, bool inverted);
  // The register and the flags the removed lines wrote are dead where the decision leads.
  bool DeadAtExits(const TBoolean& b, std::uint8_t flags, bool registerToo) const;
  bool StartFlagsUnread(const TBoolean& b, TLineType replacement) const;
  void ReportUnexpected(int line, const char* code) const;

  // BranchTails.cpp
  bool TailCopy(int compare, int r);
  bool ShortCircuit(int push, int r);

  // Small questions about lines.
  int Reg(int i) const;  // the register the line names first; -1: none
  bool IsJoin(int i) const;
  // Whether the line reads or writes any register or flag of `set`.
  bool Touches(int i, TRegFlagSet set) const;
  std::optional<bool> ConstantLoaded(int i, int r) const;  // the boolean a CLR/SER/LDI of r loads
  // The first line after i that is no passive marker; -1 at the end.
  int NextNonPassive(int i) const;
  // The label is named by `count` operands and nothing else may enter there.
  bool ReferencedOnly(const std::string& name, int count) const;

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRegFlagSet Shared;
  // COM lines whose register holds 0 or 0FFh whenever they run, from the booleans matched.
  std::unordered_set<const TLine*> BooleanComs;
  bool Changed = false;
};

}  // namespace korvid
