// The progress line at different terminal widths, and what signals leave behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>

#include "app/Progress.h"
#include "app/Signals.h"
#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;

TEST(TerminalTest, TheProgressLineFitsTheTerminalAndShowsThePercentage) {
  TProgressState state{123456, true, 12, 7676, 236018, "Common Exit Point Optimisation..."};
  struct TCase {
    int Width;
    bool Bar, WholeStatus;
  };
  for (TCase c : {TCase{200, true, true}, {80, false, true}, {40, false, false}, {12, false, false}}) {
    std::string line = FormatProgress(state, c.Width);
    // One column short of the width: a line filling it wraps on many terminals.
    EXPECT_LE(line.size(), static_cast<std::size_t>(c.Width - 1)) << line;
    EXPECT_EQ(line.find('[') != std::string::npos, c.Bar) << line;
    EXPECT_EQ(line.find(state.Status) != std::string::npos, c.WholeStatus) << line;
    if (c.Width >= 40) {
      EXPECT_NE(line.find("3.3%"), std::string::npos) << line;
    }
  }
  // Savings too small to fill a bar's cell still show as a number.
  state.Saved = 5000;
  EXPECT_NE(FormatProgress(state, 200).find("Saved 2.1% [ "), std::string::npos);
  // While loading there are no sizes: no empty fields either.
  EXPECT_EQ(FormatProgress({42, false, 0, -5000, 0, "Analysing..."}, 80), "Analysed 42 | Analysing...");
}

TEST(TerminalTest, SignalsRemoveRegisteredFilesAndCtrlCFirstOnlyAsksToHalt) {
  struct TCase {
    bool Halt;
    int Signal, Times;
    int DiesOf;  // 0: survives
    const char* Said;
  };
  for (TCase c : {TCase{true, SIGINT, 1, 0, "stopping after this step; Ctrl-C again quits without writing\n"},
                  {true, SIGINT, 2, SIGINT, "the input file is untouched"},
                  {false, SIGINT, 1, SIGINT, ""},
                  {false, SIGTERM, 1, SIGTERM, ""},
                  {true, SIGHUP, 1, SIGHUP, ""}}) {
    testing::TTempDirectory dir;
    const std::string folder = dir / "work", file = dir / "work/.p.asm.tmp1", said = dir / "said";
    fs::create_directory(folder);
    dir.Write("work/.p.asm.tmp1", "x");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int out = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDERR_FILENO);
      TRemoveOnSignal keepFolder(folder, true), keepFile(file);
      c.Halt ? InstallHaltHandler() : InstallCleanupHandler();
      for (int i = 0; i < c.Times; ++i) raise(c.Signal);
      _exit(HaltRequested() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (c.DiesOf == 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.Signal;
      EXPECT_TRUE(fs::exists(file));
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.DiesOf) << c.Signal << " x" << c.Times;
      EXPECT_FALSE(fs::exists(folder)) << c.Signal << " x" << c.Times;
    }
    EXPECT_NE(testing::TTempDirectory::Read(said).find(c.Said), std::string::npos) << c.Signal << " x" << c.Times;
  }
}

}  // namespace
}  // namespace korvid
