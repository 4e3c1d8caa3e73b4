#include "app/UserBisectionSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/RunFlow.h"
#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

using testing::TTempDirectory;

TEST(SpecialDebugSessionTest, InteractiveRunsAskOnTheSameInputAndKeepFilesUnderTheChosenName) {
  TTempDirectory dir;
  std::string program = ".OPTI SPECIAL_DEBUG\n";
  for (int i = 0; i < 40; ++i) program += "  NOP\n";
  const std::string input = dir.Write("prog.asm", program);
  auto run = [&input](const std::string& answers, std::string* prompts = nullptr) {
    std::istringstream in(input + "\n" + answers);
    std::ostringstream out;
    int status = RunInteractive(in, out);
    if (prompts != nullptr) *prompts = out.str();
    return status;
  };
  ASSERT_EQ(run("out.asm\n"), kExitSuccess);
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/out.asm"), program);
  const std::string firstBuild = TTempDirectory::Read(dir / "out.asm");
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/out.asm1"), firstBuild);

  std::string prompts;
  ASSERT_EQ(run("2\n\nout.asm\n", &prompts), kExitSuccess);
  EXPECT_NE(prompts.find("Estimated Tests Remaining : "), std::string::npos) << prompts;
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/out.asmF"), firstBuild);
  const std::string state = TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg");
  EXPECT_EQ(state, "0,16,41,FAIL\n1,0,20,FAIL\n2,0,10,FAIL\n");

  // No answer: the run stops, and neither the program nor the test moves on.
  const std::string secondBuild = TTempDirectory::Read(dir / "out.asm");
  EXPECT_EQ(run(""), kExitFailed);
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg"), state);
  EXPECT_EQ(TTempDirectory::Read(dir / "out.asm"), secondBuild);

  // A cancelled save writes no program, so the answer given is asked for again.
  EXPECT_EQ(run("3\n\n\n"), kExitSuccess);
  EXPECT_EQ(TTempDirectory::Read(dir / "KORVID_DEBUG/Korvid.dbg"), state);
}

}  // namespace
}  // namespace korvid
