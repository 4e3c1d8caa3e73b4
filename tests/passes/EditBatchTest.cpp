// A batch of edits is made whole or not at all: each check that refuses it
// leaves the program byte for byte as it was.
#include "passes/EditBatch.h"

#include <gtest/gtest.h>

#include <string>

#include "../analysis/PathTestSupport.h"
#include "../passes/MainProgram.h"
#include "analysis/Analysis.h"
#include "passes/Rule.h"
#include "source/LineList.h"
#include "../verify/ToolchainTest.h"
#include "verify/Verify.h"

namespace korvid {
namespace {

using testing::LineOf;
using testing::Program;

constexpr TRule kTestRule{"test-rule", "test", std::nullopt, "edits made by the tests"};

struct TProgram {
  explicit TProgram(const std::string& text) {
    Lines.LoadFromText(text);
    Lines.Pass.Name = "test";
    Lines.Pass.ChangeLog = &Changes;
  }
  int At(const std::string& marker) const { return LineOf(Lines, marker); }
  // Applies the batch `stage` fills; a refused batch must leave every byte as it was.
  template <typename TStage>
  bool Apply(TStage stage) {
    const std::string before = Lines.SaveToText();
    const std::int32_t size = Lines.CodeSize;
    const auto counts = Lines.Pass.RuleCounts;
    TEditBatch batch(Facts, kTestRule);
    stage(batch);
    const bool applied = batch.Apply();
    if (!applied) {
      EXPECT_EQ(Lines.SaveToText(), before);
      EXPECT_EQ(Lines.CodeSize, size);
      EXPECT_EQ(Lines.Pass.RuleCounts.size(), counts.size());
    }
    return applied;
  }
  TLineList Lines;
  TAnalysis Facts{Lines};
  std::vector<TLineChange> Changes;
};

// A BREQ `words` words before its label, over an INC that only the fall-through
// runs: 63 is the farthest a branch reaches forward.
std::string BranchOver(int words) {
  std::string body = " LDS R16,v\n TST R16\n BREQ far\n INC R16\n";
  for (int i = 1; i < words; ++i) body += " NOP\n";
  return Program(body + "far:\n STS v,R16\n");
}

TEST(EditBatch, AGrowingEditKeepsEveryBranchAcrossItInReach) {
  TProgram below(BranchOver(62));
  EXPECT_TRUE(below.Apply([&](TEditBatch& b) { b.InsertBefore(below.At("far:"), lt::NOP, "NOP", ""); }));
  EXPECT_LT(below.At("reach."), 0);  // still in reach: nothing to repair
  // An inserted branch must reach itself: ahead of the BREQ it is one word further out.
  TProgram atLimit(BranchOver(63));
  EXPECT_FALSE(atLimit.Apply([&](TEditBatch& b) { b.InsertBefore(atLimit.At("BREQ"), lt::BRNE, "BRNE", "far"); }));
  TProgram belowAgain(BranchOver(62));
  EXPECT_TRUE(
      belowAgain.Apply([&](TEditBatch& b) { b.InsertBefore(belowAgain.At("BREQ"), lt::BRNE, "BRNE", "far"); }));
  // A removal in the same batch can pay for the growth.
  TProgram paid(BranchOver(63));
  EXPECT_TRUE(paid.Apply([&](TEditBatch& b) {
    b.Remove(paid.At(" NOP"));
    b.InsertBefore(paid.At("far:"), lt::NOP, "NOP", "");
  }));
  EXPECT_LT(paid.At("reach."), 0);
  // Under a skip the branch must stay one instruction, so it cannot be repaired.
  std::string skipped = BranchOver(63);
  skipped.replace(skipped.find(" BREQ"), 0, " SBRC R17,0\n");
  TProgram shadowed(skipped);
  EXPECT_FALSE(shadowed.Apply([&](TEditBatch& b) { b.InsertBefore(shadowed.At("far:"), lt::NOP, "NOP", ""); }));
}

// The limit the batch keeps is the assembler's: one word further does not assemble.
class EditBatchReach : public testing::TToolchainTest {};

TEST_F(EditBatchReach, TheBranchLimitIsTheAssemblers) {
  using verify::VerifyResult;
  EXPECT_EQ(verify::VerifyPrograms(BranchOver(63), BranchOver(63), {}).verdict, VerifyResult::Verdict::Same);
  EXPECT_EQ(verify::VerifyPrograms(BranchOver(63), BranchOver(64), {}).verdict, VerifyResult::Verdict::CouldNotCheck);
}

// Pushed one word out, the branch jumps on the opposite condition over a jump to its label.
TEST_F(EditBatchReach, ABranchPushedOutOfReachIsRepairedAndBehavesTheSame) {
  using verify::VerifyResult;
  for (const char* condition : {"BREQ", "BRNE"}) {
    std::string original = BranchOver(63);
    original.replace(original.find("BREQ"), 4, condition);
    TProgram p(original);
    ASSERT_TRUE(p.Apply([&](TEditBatch& b) { b.InsertBefore(p.At("far:"), lt::NOP, "NOP", ""); })) << condition;
    const std::string repaired = p.Lines.SaveToText();
    const int branch = p.At(std::string(condition) == "BREQ" ? "BRNE" : "BREQ");
    ASSERT_GE(branch, 0) << repaired;
    EXPECT_NE(p.Lines.Text(branch).find("reach."), std::string::npos);
    EXPECT_NE(p.Lines.Text(branch + 1).find("RJMP"), std::string::npos);
    EXPECT_NE(p.Lines.Text(branch + 2).find("reach."), std::string::npos);
    EXPECT_EQ(verify::VerifyPrograms(original, repaired, {}).verdict, VerifyResult::Verdict::Same) << repaired;
  }
}

TEST(EditBatch, ALineInASkipShadowStaysUnlessTheSkipChangesWithIt) {
  const std::string text = Program(" LDS R16,v\n SBRC R16,1\n JMP out ; shadowed\n INC R16\nout:\n STS v,R16\n");
  {
    TProgram p(text);
    EXPECT_FALSE(p.Apply([&](TEditBatch& b) { b.Remove(p.At("shadowed")); }));
    EXPECT_FALSE(p.Apply([&](TEditBatch& b) { b.InsertBefore(p.At("shadowed"), lt::NOP, "NOP", ""); }));
    // One instruction for one, whatever its size, is still skipped whole.
    EXPECT_TRUE(p.Apply([&](TEditBatch& b) { b.Replace(p.At("shadowed"), lt::RJMP, "RJMP", "out"); }));
  }
  TProgram p(text);
  EXPECT_TRUE(p.Apply([&](TEditBatch& b) {
    b.Remove(p.At("SBRC"));
    b.Remove(p.At("shadowed"));
  }));
}

TEST(EditBatch, WritesOnlyEncodableInstructionsOnLinesItMayChange) {
  const std::string text = Program(" LDI R16,5 ; load\n ADIW R24,1 ; add\n STS v,R16\n STS u,R24\n");
  TProgram p(text);
  const int load = p.At("; load"), add = p.At("; add");
  EXPECT_FALSE(p.Apply([&](TEditBatch& b) { b.Replace(load, lt::LDI, "LDI", "R15", "5"); }));
  EXPECT_FALSE(p.Apply([&](TEditBatch& b) { b.Replace(add, lt::ADIW, "ADIW", "R24", "64"); }));
  EXPECT_FALSE(p.Apply([&](TEditBatch& b) {
    b.Replace(load, lt::LDI, "LDI", "R16", "6");
    b.Replace(add, lt::ADIW, "ADIW", "R25", "1");
  }));
  p.Lines.Pass.LineFilter = [&](std::int32_t lineIndex) { return lineIndex != p.Lines.Line(add)->LineIndex; };
  EXPECT_FALSE(p.Apply([&](TEditBatch& b) { b.Replace(add, lt::ADIW, "ADIW", "R24", "2"); }));
  EXPECT_TRUE(p.Apply([&](TEditBatch& b) { b.Replace(load, lt::LDI, "LDI", "R16", "6"); }));
}

TEST(EditBatch, EachFiringIsCountedAndLoggedForItsRule) {
  TProgram p(Program(" LDI R16,5\n LDI R16,7 ; second\n STS v,R16\n"));
  const int second = p.At("; second");
  const std::int32_t secondIndex = p.Lines.Line(second)->LineIndex;
  ASSERT_TRUE(p.Apply([&](TEditBatch& b) { b.Remove(second - 1); }));
  ASSERT_TRUE(p.Apply([&](TEditBatch& b) { b.InsertBefore(second, lt::NOP, "NOP", ""); }));
  const TRuleCount& count = p.Lines.Pass.RuleCounts[std::string(kTestRule.Name)];
  EXPECT_EQ(count.Fired, 2);
  EXPECT_EQ(count.BytesSaved, 0);  // two bytes out, two in
  ASSERT_EQ(p.Changes.size(), 2u);
  EXPECT_EQ(p.Changes[1].Rule, "test-rule");
  // The inserted line counts as the line it was put in for, for the change log and the line filter.
  EXPECT_EQ(p.Changes[1].LineIndex, secondIndex);
  EXPECT_EQ(p.Lines.Line(second)->LineIndex, secondIndex);
}

}  // namespace
}  // namespace korvid
