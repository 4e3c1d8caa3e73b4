#include "app/UserBisectionDialog.h"

#include <gtest/gtest.h>

#include "app/ProjectFile.h"
#include "source/Errors.h"
#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

using testing::TTempDirectory;

// A user whose program breaks exactly when one hidden line is optimised, and
// who answers every question truthfully.
class TFaultyLineUser : public TSpecialDebugUser {
 public:
  explicit TFaultyLineUser(std::int32_t blockSize) : BlockSize(blockSize) {}

  void Show(const TSpecialDebugView& view) override { Shown.push_back(view.Kind); }
  std::optional<TSpecialDebugChoice> Choose(const TSpecialDebugView& view) override {
    Shown.push_back(view.Kind);
    Promised.push_back(view.TestsRemaining(BlockSize));
    if (Cancel) return std::nullopt;
    return TSpecialDebugChoice{Answer, BlockSize};
  }

  std::int32_t BlockSize;
  TSpecialDebugOption Answer = TSpecialDebugOption::NewTest;
  bool Cancel = false;
  std::vector<TSpecialDebugViewKind> Shown;
  std::vector<int> Promised;  // by options view, in order
};

struct TBisection {
  int Runs = 0;
  std::vector<int> PromisedAtRun;  // the run of each options view
  std::vector<int> Promised;
  TSpecialDebugBlock Found;
};

// Compiles, tests and reports until the dialog says the test is complete; every run is a new process.
TBisection Bisect(std::int32_t lineCount, std::int32_t faultyLine, std::int32_t blockSize) {
  TTempDirectory dir;
  TErrorFile errors;
  TFaultyLineUser user(blockSize);
  TBisection bisection;
  for (TSpecialDebugResult result = TSpecialDebugResult::NewTest; result != TSpecialDebugResult::TestComplete;) {
    EXPECT_LT(bisection.Runs, 100) << "the bisection does not end";
    if (bisection.Runs >= 100) break;
    TFormSpecialDebugMode form(user, errors);
    std::size_t questions = user.Promised.size();
    result = form.RunSpecialDebug(dir / "", lineCount);
    ++bisection.Runs;
    if (user.Promised.size() > questions) bisection.PromisedAtRun.push_back(bisection.Runs);
    user.Answer = form.IsLineEnabled(faultyLine) ? TSpecialDebugOption::LastFailed : TSpecialDebugOption::LastPassed;
    form.SaveState();
  }
  bisection.Promised = user.Promised;
  TSpecialDebug state;
  state.SetUp(dir / "");
  bisection.Found = state.Blocks().back();
  EXPECT_EQ(user.Shown.front(), TSpecialDebugViewKind::FirstTime);
  EXPECT_EQ(user.Shown.back(), TSpecialDebugViewKind::Complete);
  return bisection;
}

TEST(SpecialDebugDialogTest, BisectionFindsTheFaultyLineWithinTheRunsPromised) {
  struct TProgram {
    std::int32_t Lines, BlockSize;
  };
  for (TProgram program : {TProgram{1, 16}, TProgram{17, 16}, TProgram{100, 16}, TProgram{45, 1}}) {
    int firstPromise = -1, mostRuns = 0;
    for (std::int32_t faulty = 0; faulty < program.Lines; ++faulty) {
      SCOPED_TRACE(std::to_string(program.Lines) + " lines, block size " + std::to_string(program.BlockSize) +
                   ", faulty line " + std::to_string(faulty));
      TBisection bisection = Bisect(program.Lines, faulty, program.BlockSize);
      EXPECT_TRUE(bisection.Found.Failed);
      EXPECT_TRUE(bisection.Found.Contains(faulty));
      EXPECT_LE(bisection.Found.Lines(), program.BlockSize);
      for (std::size_t i = 0; i < bisection.Promised.size(); ++i)
        EXPECT_LE(bisection.Runs - bisection.PromisedAtRun[i], bisection.Promised[i]) << "promise of run " << i + 2;
      if (!bisection.Promised.empty()) firstPromise = bisection.Promised.front();
      mostRuns = std::max(mostRuns, bisection.Runs - 2);
    }
    // The first promise is the same for every faulty line, and some line needs all of it.
    if (firstPromise >= 0) {
      EXPECT_EQ(mostRuns, firstPromise) << program.Lines << " lines";
    }
  }
}

// A test of 100 lines whose first half is under test, as left by the first run.
struct TStartedTest : ::testing::Test {
  void SetUp() override {
    TFormSpecialDebugMode first(user, errors);
    ASSERT_EQ(first.RunSpecialDebug(dir / "", 100), TSpecialDebugResult::NewTest);
    first.SaveState();
    user.Shown.clear();
  }
  TSpecialDebug State() const {
    TSpecialDebug state;
    state.SetUp(dir / "");
    return state;
  }

  TTempDirectory dir;
  TErrorFile errors;
  TFaultyLineUser user{16};
};

TEST_F(TStartedTest, AnswersAreRecordedOnTheBlockUnderTest) {
  user.Answer = TSpecialDebugOption::LastFailed;
  TFormSpecialDebugMode form(user, errors);
  EXPECT_EQ(form.RunSpecialDebug(dir / "", 100), TSpecialDebugResult::LastFailed);
  EXPECT_TRUE(form.LastTestFailed());
  EXPECT_FALSE(form.LastTestPassed());
  EXPECT_EQ(user.Shown, std::vector<TSpecialDebugViewKind>{TSpecialDebugViewKind::Options});
  EXPECT_EQ(form.DebugDir(), dir / "KORVID_DEBUG");
  form.SaveState();
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg"), "0,16,100,FAIL\n1,0,49,FAIL\n2,0,24,FAIL\n");

  user.Answer = TSpecialDebugOption::NewTest;
  user.BlockSize = 8;
  TFormSpecialDebugMode again(user, errors);
  EXPECT_EQ(again.RunSpecialDebug(dir / "", 100), TSpecialDebugResult::NewTest);
  again.SaveState();
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg"), "0,8,100,FAIL\n1,0,49,FAIL\n");
}

TEST_F(TStartedTest, AChangedLineCountStartsAgainWithoutAsking) {
  TFormSpecialDebugMode form(user, errors);
  EXPECT_EQ(form.RunSpecialDebug(dir / "", 120), TSpecialDebugResult::NewTest);
  EXPECT_TRUE(user.Shown.empty());
  form.SaveState();
  EXPECT_EQ(State().Blocks(), (std::vector<TSpecialDebugBlock>{{0, 0, 119, true}, {1, 0, 59, true}}));
}

TEST_F(TStartedTest, CancellingStopsTheRunAndSavesNothing) {
  user.Cancel = true;
  TFormSpecialDebugMode form(user, errors);
  EXPECT_THROW(form.RunSpecialDebug(dir / "", 100), KorvidError);
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg"), "0,16,100,FAIL\n1,0,49,FAIL\n");
}

TEST_F(TStartedTest, ADamagedStateFileIsWarnedAboutAndTheTestStartsAgain) {
  errors.ErrFile = dir / "prog.err";
  dir.Write("KORVID_DEBUG/Korvid.dbg", "0,16,100,FAIL\n1,0,49,FAIL\n1,70,30,PASS\n");
  TFormSpecialDebugMode form(user, errors);
  EXPECT_EQ(form.RunSpecialDebug(dir / "", 100), TSpecialDebugResult::NewTest);
  EXPECT_EQ(user.Shown, std::vector<TSpecialDebugViewKind>{TSpecialDebugViewKind::FirstTime});
  std::string warning = TTempDirectory::Read(dir / "prog.err");
  EXPECT_EQ(warning.rfind("KORVID_DEBUG/Korvid.dbg (3,1) : Warning: Special debug state file not usable (lines 70 - 30", 0), 0u)
      << warning;
  form.SaveState();
  EXPECT_EQ(State().Blocks().size(), 2u);
}

TEST(SpecialDebugDialogTest, AProgramNoLargerThanABlockCompletesAtOnce) {
  TTempDirectory dir;
  TErrorFile errors;
  TFaultyLineUser user(16);
  TFormSpecialDebugMode form(user, errors);
  EXPECT_FALSE(form.HasRun());
  EXPECT_EQ(form.RunSpecialDebug(dir / "", 16), TSpecialDebugResult::TestComplete);
  EXPECT_TRUE(form.HasRun());
  EXPECT_EQ(user.Shown, (std::vector<TSpecialDebugViewKind>{TSpecialDebugViewKind::FirstTime,
                                                            TSpecialDebugViewKind::Complete}));
}

}  // namespace
}  // namespace korvid
