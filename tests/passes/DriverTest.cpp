#include "passes/Driver.h"

#include <gtest/gtest.h>

#include "diagnostics/UserBisection.h"
#include "source/LineList.h"

namespace korvid {
namespace {

// Stub passes that record their order and report "changed" a set number of times.
struct TRecorder {
  std::vector<TPassStep> Calls;
  std::array<int, static_cast<std::size_t>(TPassStep::Count)> ChangesLeft{};
  std::function<void(TLineList&, TPassStep)> Hook;

  TPassTable Table() {
    TPassTable table;
    for (std::size_t s = 0; s < table.size(); ++s) {
      table[s] = [this, s](TLineList& lines, const TAnalysis&) {
        auto step = static_cast<TPassStep>(s);
        Calls.push_back(step);
        if (Hook) Hook(lines, step);
        if (ChangesLeft[s] == 0) return false;
        --ChangesLeft[s];
        return true;
      };
    }
    return table;
  }
  int Count(TPassStep step) const { return static_cast<int>(std::count(Calls.begin(), Calls.end(), step)); }
};

TEST(DriverTest, PhasesIterateUntilNothingChangesThenTheClosingPassesRun) {
  TLineList lines;
  lines.LoadFromText("  NOP\n");
  TRecorder recorder;
  recorder.ChangesLeft[static_cast<int>(TPassStep::Phase2)] = 2;
  recorder.ChangesLeft[static_cast<int>(TPassStep::CommonExit)] = 1;
  Optimise(lines, "", recorder.Table());
  // Two changing iterations, one quiet one, the common exit pass, one more
  // quiet iteration; the closing phases would repeat that quiet iteration.
  EXPECT_EQ(recorder.Count(TPassStep::Phase4), 4);
  EXPECT_EQ(recorder.Count(TPassStep::CommonExit), 1);
  EXPECT_EQ(recorder.Count(TPassStep::Phase1), 4);
  EXPECT_EQ(recorder.Count(TPassStep::Finalise), 1);
  EXPECT_EQ(lines.Run.Iteration, 4);
  std::vector<TPassStep> start(recorder.Calls.begin(), recorder.Calls.begin() + 10);
  EXPECT_EQ(start, (std::vector<TPassStep>{TPassStep::BitTest8, TPassStep::InterruptRegs, TPassStep::Loop, TPassStep::CallFrame,
                                           TPassStep::Branch, TPassStep::Phase1, TPassStep::Phase2,
                                           TPassStep::Phase3, TPassStep::Phase4, TPassStep::Phase1}));
  EXPECT_EQ(lines.Run.StatusText, "Done!");
}

TEST(DriverTest, NothingChangedSinceTheIterationsSettledSkipsTheRepeats) {
  TLineList lines;
  lines.LoadFromText("  NOP\n");
  TRecorder recorder;
  recorder.ChangesLeft[static_cast<int>(TPassStep::Phase2)] = 2;
  Optimise(lines, "", recorder.Table());
  // The common exit pass changed nothing: no iteration after it, no closing phases.
  EXPECT_EQ(recorder.Count(TPassStep::Phase4), 3);
  EXPECT_EQ(recorder.Count(TPassStep::Phase1), 3);
  EXPECT_EQ(recorder.Count(TPassStep::Finalise), 1);
  EXPECT_EQ(lines.Run.Iteration, 4);
}

TEST(DriverTest, AQuickRunThatChangedSomethingStillRunsTheClosingPhases) {
  TLineList lines;
  lines.LoadFromText("  NOP\n");
  lines.Run.QuickOpt = true;
  TRecorder recorder;
  recorder.ChangesLeft[static_cast<int>(TPassStep::Phase4)] = 1;
  Optimise(lines, "", recorder.Table());
  // The one iteration (phases 1 and 2 twice), the common exit pass, the closing phases.
  EXPECT_EQ(recorder.Count(TPassStep::Phase1), 3);
  EXPECT_EQ(recorder.Count(TPassStep::Phase3), 2);
  EXPECT_EQ(recorder.Count(TPassStep::CommonExit), 1);
}

TEST(DriverTest, ModesAndDirectivesChooseThePasses) {
  auto run = [](auto setUp) {
    TLineList lines;
    lines.LoadFromText("  NOP\n");
    setUp(lines);
    TRecorder recorder;
    recorder.ChangesLeft[static_cast<int>(TPassStep::Phase3)] = 1;
    Optimise(lines, "", recorder.Table());
    return recorder;
  };
  TRecorder smartlink = run([](TLineList& l) { l.Run.Directives.Set(TDirective::SMARTLINK_ONLY); });
  EXPECT_EQ(smartlink.Count(TPassStep::Phase3), 2);
  EXPECT_EQ(smartlink.Calls.size(), 2u);

  TRecorder quick = run([](TLineList& l) { l.Run.QuickOpt = true; });
  EXPECT_EQ(quick.Count(TPassStep::CommonExit), 1);
  EXPECT_EQ(quick.Count(TPassStep::Phase4), 1);

  TRecorder speed = run([](TLineList& l) { l.Run.Directives.Set(TDirective::SPEED); });
  EXPECT_EQ(speed.Count(TPassStep::CommonExit), 0);

  TRecorder noLoop = run([](TLineList& l) { l.Run.Directives.Set(TDirective::NO_LOOP_OPT); });
  EXPECT_EQ(noLoop.Count(TPassStep::Loop), 0);
}

TEST(DriverTest, HaltStillClosesAndAbortLeavesAtOnce) {
  TLineList lines;
  lines.LoadFromText("  NOP\n");
  TRecorder recorder;
  recorder.ChangesLeft[static_cast<int>(TPassStep::Phase1)] = 100;
  recorder.Hook = [](TLineList& l, TPassStep step) {
    if (step == TPassStep::Phase2) l.Run.OptimiseEnabled = false;
  };
  Optimise(lines, "", recorder.Table());
  EXPECT_EQ(recorder.Count(TPassStep::Phase4), 1);
  EXPECT_EQ(recorder.Count(TPassStep::Finalise), 1);
  EXPECT_NE(lines.Text(lines.Count() - 1).find("Total Time"), std::string::npos);

  TLineList aborted;
  aborted.LoadFromText("  NOP\n");
  TRecorder aborting;
  aborting.Hook = [](TLineList& l, TPassStep step) {
    if (step == TPassStep::Loop) l.ReportAbort(0, "stop");
  };
  Optimise(aborted, "", aborting.Table());
  EXPECT_EQ(aborting.Calls.back(), TPassStep::Loop);
  EXPECT_EQ(aborted.Count(), 1);
}

// Enables only the even lines, and records how the driver asked.
struct TEvenLinesDebug : TSpecialDebugHook {
  TSpecialDebugResult RunSpecialDebug(const std::string& directory, std::int32_t lineCount) override {
    Asked.push_back(directory + ":" + std::to_string(lineCount));
    return Result;
  }
  bool IsLineEnabled(std::int32_t lineIndex) const override { return lineIndex % 2 == 0; }
  TSpecialDebugResult Result = TSpecialDebugResult::LastFailed;
  std::vector<std::string> Asked;
};

TEST(DriverTest, SpecialDebugModeChoosesTheLinesThePassesMayChange) {
  // Which of three lines the first pass may change, and whether SPECIAL_DEBUG stayed in force.
  auto run = [](TSpecialDebugHook* mode, bool directive) {
    TLineList lines;
    lines.LoadFromText("  NOP\n  NOP\n  NOP\n");
    lines.Run.Directives.Set(TDirective::SPECIAL_DEBUG, directive);
    lines.Run.SpecialDebug = mode;
    std::string seen;
    TRecorder recorder;
    recorder.Hook = [&seen](TLineList& l, TPassStep step) {
      if (step == TPassStep::BitTest8)
        for (int i = 0; i < 3; ++i) seen += l.MayChange(i) ? "+" : "-";
    };
    Optimise(lines, "dir/", recorder.Table());
    return seen + (lines.Run.Directives[TDirective::SPECIAL_DEBUG] ? " debug" : "");
  };
  TEvenLinesDebug testing;
  EXPECT_EQ(run(&testing, true), "+-+ debug");
  EXPECT_EQ(testing.Asked, std::vector<std::string>{"dir/:3"});

  TEvenLinesDebug complete;
  complete.Result = TSpecialDebugResult::TestComplete;
  EXPECT_EQ(run(&complete, true), "+++");

  TEvenLinesDebug notAsked;
  EXPECT_EQ(run(&notAsked, false), "+++");
  EXPECT_TRUE(notAsked.Asked.empty());
  EXPECT_EQ(run(nullptr, true), "+++") << "without the mode the whole program is optimised";
}

TEST(DriverTest, ChangeLogNamesThePassOfEachEditAndLeavesOutTidyAndSummary) {
  TLineList lines;
  lines.LoadFromText("  NOP\n\n\n  NOP\n");
  std::vector<TLineChange> log;
  lines.Pass.ChangeLog = &log;
  TRecorder recorder;
  recorder.Hook = [](TLineList& list, TPassStep step) {
    // Tidying after the first iteration deletes lines: ask the count first.
    if (step == TPassStep::Phase3 && list.Count() > 3 && list.Line(3)->LineType == lt::NOP) list.RemoveLine(3);
  };
  Optimise(lines, "", recorder.Table());
  // The blank line tidied away and the appended summary are no pass's doing.
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].LineIndex, 3);
  EXPECT_EQ(log[0].Pass, "Phase3");
  EXPECT_EQ(log[0].Before, "  NOP");
  EXPECT_TRUE(lines.Pass.Name.empty());
}

TEST(DriverTest, SummaryArithmeticAndDurations) {
  auto lines = SummaryLines("Version 1.0.0.1", 200, 7, std::chrono::seconds(5), std::chrono::seconds(61),
                            std::chrono::seconds(90061));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "; Korvid Optimiser Version 1.0.0.1 saved 7 bytes.");
  EXPECT_EQ(lines[2], "; Original size was 200 so % saved = 4%");
  EXPECT_EQ(lines[3], "; Analysis Time (hh:mm:ss) : 00:00:05");
  EXPECT_EQ(lines[4], "; Optimisation Time (hh:mm:ss) : 00:01:01");
  EXPECT_EQ(lines[5], "; Total Time (hh:mm:ss) : 25:01:01");
  EXPECT_EQ(SummaryLines("V", 200, 5, {}, {}, {})[2], "; Original size was 200 so % saved = 3%");
  EXPECT_EQ(SummaryLines("V", 200, -7, {}, {}, {})[2], "; Original size was 200 so % saved = -3%");
  EXPECT_EQ(SummaryLines("V", 0, 0, {}, {}, {})[1], "; Korvid Optimiser V did not find any code to optimise.");
}

TEST(DriverTest, TidyShrinksBlanksDropsRemovedLinesAndStrayFunctionEnds) {
  TLineList lines;
  lines.LoadFromText("  NOP\n\n\n\n.ENDFUNC\n  BREQ x\nx:\n");
  lines.RemoveLine(0);
  lines.Line(5)->BranchMark = true;
  TidyLines(lines);
  ASSERT_EQ(lines.Count(), 4);
  EXPECT_EQ(lines.Line(0)->LineType, lt::Blank);
  EXPECT_EQ(lines.Line(1)->LineType, lt::BRANCH);
  EXPECT_EQ(lines.Line(1)->Operands, "3, x");
  EXPECT_EQ(lines.Line(2)->LineType, lt::BREQ);
  EXPECT_FALSE(lines.Line(2)->BranchMark);
  EXPECT_EQ(BranchKind(lt::BRID), 16);
  EXPECT_EQ(BranchKind(lt::NOP), 0);
}

}  // namespace
}  // namespace korvid
