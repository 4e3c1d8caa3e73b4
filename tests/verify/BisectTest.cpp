// The bisection against rewrites made wrong on purpose: a test-only pass that
// drops stores the program's result depends on, run beside the real passes so
// that many lines change and the search has to pick the guilty ones.
#include "verify/Bisect.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "../app/TempDirectory.h"
#include "diagnostics/UserBisection.h"
#include "source/Text.h"
#include "../passes/MainProgram.h"
#include "ToolchainTest.h"

namespace korvid::verify {
namespace {

using Outcome = TBisectReport::Outcome;

// Dead register loads for the real redundancy pass to remove, around the stores.
const char* const kBody =
    " LDI R16,5\n LDI R16,7\n STS v,R16\n"
    " LDI R18,1\n LDI R18,3\n STS u,R18\n"
    " LDI R19,9\n LDI R19,4\n OUT PORTB,R19\n"
    " STS u,R18\n"
    " LDI R20,2\n LDI R20,6\n OUT PORTB,R20\n";

std::string Program() { return testing::Program(kBody); }

// Analysis-time indices of the lines that read `text`, in order.
std::vector<std::int32_t> LinesReading(const std::string& text) {
  std::vector<std::int32_t> found;
  std::istringstream in(Program());
  std::string line;
  for (std::int32_t i = 0; std::getline(in, line); ++i)
    if (line == text) found.push_back(i);
  return found;
}

// Removes every store to `target` the line filter allows: wrong for a store
// whose value is read later, harmless for a store written again with the same value.
TPass DropStoresTo(const std::string& target) {
  return [target](TLineList& lines, const TAnalysis&) {
    bool changed = false;
    for (int i = 0; i < lines.Count(); ++i) {
      const TLine* line = lines.Line(i);
      if (line == nullptr || line->Removed || line->LineType != lt::STS || !EqualsNoCase(line->Op1, target)) continue;
      if (lines.MayChange(i)) changed = lines.RemoveLine(i) || changed;
    }
    return changed;
  };
}

// The faulty pass runs first, so the real passes do not take its rewrites from it.
TPassTable WithFaultyPass(TPass faulty) {
  TPassTable passes = DefaultPasses();
  std::swap(passes[static_cast<std::size_t>(TPassStep::Phase1)], passes[static_cast<std::size_t>(TPassStep::Phase2)]);
  passes[static_cast<std::size_t>(TPassStep::Phase1)] = std::move(faulty);
  return passes;
}

class BisectTest : public testing::TToolchainTest {
 protected:
  TBisectReport Run(const TPassTable& passes) {
    TBisectOptions options;
    options.verify.budget = 200'000;
    options.progress = [this](const std::string& text) { Progress.push_back(text); };
    return Bisect([](TLineList& lines) { lines.LoadFromText(Program(), "prog.asm"); }, passes, options);
  }

  std::vector<std::string> Progress;
};

TEST_F(BisectTest, ACorrectOptimisationIsConfirmedInOneRound) {
  TBisectReport report = Run(DefaultPasses());
  EXPECT_EQ(report.outcome, Outcome::Correct) << report.message;
  EXPECT_EQ(report.rounds, 1);
  EXPECT_TRUE(report.lines.empty());
}

TEST_F(BisectTest, NamesTheOneStoreThePassWronglyRemoved) {
  TBisectReport report = Run(WithFaultyPass(DropStoresTo("v")));
  ASSERT_EQ(report.outcome, Outcome::Fault) << report.message;
  EXPECT_EQ(report.lines, LinesReading(" STS v,R16"));
  ASSERT_EQ(report.changes.size(), 1u);
  EXPECT_EQ(report.changes[0].Pass, "Phase1");
  EXPECT_EQ(report.changes[0].Before, " STS v,R16");
  EXPECT_FALSE(report.message.empty());
  EXPECT_LE(report.rounds, report.bound);
  // The bound printed before the first round holds too.
  ASSERT_FALSE(Progress.empty());
  const std::string printed = "Estimated Tests Remaining : ";
  ASSERT_EQ(Progress.front().rfind(printed, 0), 0u) << Progress.front();
  EXPECT_LE(report.rounds, std::stoi(Progress.front().substr(printed.size())));
}

TEST_F(BisectTest, NamesBothStoresWhenOnlyRemovingThemTogetherBreaksTheProgram) {
  TBisectReport report = Run(WithFaultyPass(DropStoresTo("u")));
  ASSERT_EQ(report.outcome, Outcome::Fault) << report.message;
  std::vector<std::int32_t> stores = LinesReading(" STS u,R18");
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(report.lines, stores);
  EXPECT_TRUE(report.minimal);
  for (const TLineChange& change : report.changes) EXPECT_EQ(change.Pass, "Phase1");
  EXPECT_LE(report.rounds, report.bound);
  EXPECT_FALSE(report.passing.empty());
}

TEST_F(BisectTest, LeavesTheFolderTheManualModeReadsAsACompletedTest) {
  TBisectReport report = Run(WithFaultyPass(DropStoresTo("u")));
  ASSERT_EQ(report.outcome, Outcome::Fault) << report.message;
  testing::TTempDirectory dir;
  KeepDebugFolder(report, dir / "prog.asm");

  TSpecialDebug manual;
  ASSERT_FALSE(manual.SetUp(dir / "").has_value());
  EXPECT_FALSE(manual.NewTest());
  EXPECT_TRUE(manual.CheckLineCount(report.lineCount));
  for (std::int32_t line : report.lines) EXPECT_FALSE(manual.IsLineEnabled(line)) << line;
  EXPECT_EQ(manual.SelectNextTest(), -1);
  const std::filesystem::path kept = std::filesystem::path(manual.DebugDir()) / "prog.asm";
  for (const char* suffix : {"", "1", "F", "P"})
    EXPECT_TRUE(std::filesystem::exists(kept.string() + suffix)) << suffix;
}

TEST_F(BisectTest, TheCommandExitsZeroForACorrectProgramAndTwoForAMissingOne) {
  testing::TTempDirectory dir;
  std::string file = dir.Write("prog.asm", Program());
  std::string korvid = KORVID_EXE;
  auto exitCode = [&korvid](const std::string& file) {
    return WEXITSTATUS(std::system((korvid + " bisect " + file + " >/dev/null 2>&1").c_str()));
  };
  EXPECT_EQ(exitCode(file), 0);
  EXPECT_EQ(exitCode(dir / "missing.asm"), 2);
}

}  // namespace
}  // namespace korvid::verify
