#include "app/UserBisectionDialog.h"

#include "source/FileNames.h"
#include "app/ProjectFile.h"
#include "source/Errors.h"

namespace korvid {

namespace {

// The first-time and the completion view show only their text.
TSpecialDebugView TextView(TSpecialDebugViewKind kind) {
  TSpecialDebugView view;
  view.Kind = kind;
  return view;
}

}  // namespace

TSpecialDebugResult TFormSpecialDebugMode::RunSpecialDebug(const std::string& directory, std::int32_t lineCount) {
  Ran = true;
  if (std::optional<TStateFileProblem> problem = Debug.SetUp(LocalFileName(directory)))
    Errors.WriteWarning("Special debug state file not usable (" + problem->Message + "); a new test starts",
                        problem->FileName, problem->Line, 1);
  if (Debug.NewTest()) {
    User.Show(TextView(TSpecialDebugViewKind::FirstTime));
    Result = TSpecialDebugResult::NewTest;
    Debug.CheckLineCount(lineCount);
  } else if (Debug.CheckLineCount(lineCount)) {
    Result = AskAboutLastTest();
  } else {
    // The program changed, so the answer would be about another program.
    Result = TSpecialDebugResult::NewTest;
  }
  std::optional<std::int32_t> preset = User.PresetBlockSize();
  if (Result == TSpecialDebugResult::NewTest && preset) Debug.SetBlockSize(*preset);
  if (Debug.SelectNextTest() < 0) {
    User.Show(TextView(TSpecialDebugViewKind::Complete));
    Result = TSpecialDebugResult::TestComplete;
  }
  return Result;
}

TSpecialDebugResult TFormSpecialDebugMode::AskAboutLastTest() {
  TSpecialDebugView view{TSpecialDebugViewKind::Options, Debug.ResultText(), Debug.BlockSize(),
                         [this](std::int32_t blockSize) { return Debug.TestsRemaining(blockSize); }};
  std::optional<TSpecialDebugChoice> choice = User.Choose(view);
  if (!choice) throw KorvidError("special debug mode cancelled without the last test's result");
  if (!Debug.SetBlockSize(choice->BlockSize))
    throw KorvidError("special debug block size " + std::to_string(choice->BlockSize) + " is not 1, 2, 4, 8 or 16");
  switch (choice->Option) {
    case TSpecialDebugOption::NewTest:
      Debug.Reset();
      return TSpecialDebugResult::NewTest;
    case TSpecialDebugOption::LastFailed:
      Debug.SetLastResult(true);
      return TSpecialDebugResult::LastFailed;
    case TSpecialDebugOption::LastPassed:
      Debug.SetLastResult(false);
      return TSpecialDebugResult::LastPassed;
  }
  return TSpecialDebugResult::NewTest;
}

void TFormSpecialDebugMode::SaveState() const {
  if (Ran) Debug.SaveState();
}

}  // namespace korvid
