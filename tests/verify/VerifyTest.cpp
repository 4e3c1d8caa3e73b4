#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "verify/Toolchain.h"
#include "ToolchainTest.h"
#include "verify/Verify.h"

namespace korvid::verify {
namespace {

using Verdict = VerifyResult::Verdict;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Example() { return ReadFile(std::filesystem::path(KORVID_SOURCE_DIR) / "examples/blink.asm"); }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class VerifyTest : public korvid::testing::TToolchainTest {
 protected:
  VerifyResult Check(const std::string& original, const std::string& optimised) {
    VerifyOptions options;
    options.budget = 200'000;
    return VerifyPrograms(original, optimised, options);
  }
};

TEST_F(VerifyTest, ExampleAgreesWithItselfAndFaultsAreFound) {
  const std::string blink = Example();
  VerifyResult same = Check(blink, blink);
  EXPECT_EQ(same.verdict, Verdict::Same) << same.message;
  EXPECT_GT(same.originalCycles, 100u);

  // A changed constant changes an I/O write; the report names both lines and the source line.
  VerifyResult io = Check(blink, Replace(blink, "        INC     R17\n", "        DEC     R17\n"));
  EXPECT_EQ(io.verdict, Verdict::Different);
  EXPECT_NE(io.message.find("I/O write 10 differs"), std::string::npos) << io.message;
  EXPECT_NE(io.message.find("(source line 34 of blink.pas): OUT     GPIOR0,R24"), std::string::npos) << io.message;

  // A store that writes another register shows in RAM, with the line that last wrote it.
  VerifyResult ram = Check(blink, Replace(blink, "STS     flag,_ACCA", "STS     flag,R16"));
  EXPECT_EQ(ram.verdict, Verdict::Different);
  EXPECT_NE(ram.message.find("RAM 0205h differs"), std::string::npos) << ram.message;
  EXPECT_NE(ram.message.find("last written at cycle"), std::string::npos) << ram.message;

  // The returned registers are compared: main returns R16:R17.
  VerifyResult reg = Check(blink, Replace(blink, "        LDS     R17,total+1\n        RET",
                                          "        LDS     R17,total\n        RET"));
  EXPECT_EQ(reg.verdict, Verdict::Different);
  EXPECT_NE(reg.message.find("return register R17"), std::string::npos) << reg.message;

  // A store to a frame slot nobody reads again is not behaviour.
  VerifyResult dead = Check(blink, Replace(blink, "        ADIW    R28,3                   ; the frame copy and i",
                                           "        STD     Y+2,R20\n        ADIW    R28,3"));
  EXPECT_EQ(dead.verdict, Verdict::Same) << dead.message;
}

TEST_F(VerifyTest, LoopsThatDoNotEndAndProgramsThatDoNotAssemble) {
  const std::string blink = Example();
  const std::string endless = Replace(blink, "        RJMP    Shift.loop", "        RJMP    Shift");
  VerifyResult optimisedLoops = Check(blink, endless);
  EXPECT_EQ(optimisedLoops.verdict, Verdict::Different);
  // The budget the user gave, not the cycle at which the simulation noticed.
  EXPECT_NE(optimisedLoops.message.find("did not end within 200000 cycles"), std::string::npos) << optimisedLoops.message;

  VerifyResult originalLoops = Check(endless, blink);
  EXPECT_EQ(originalLoops.verdict, Verdict::CouldNotCheck);

  VerifyResult bad = Check(blink, Replace(blink, "LDI     R20,8", "LDI     R20,800"));
  EXPECT_EQ(bad.verdict, Verdict::CouldNotCheck);
  EXPECT_NE(bad.message.find("optimised program cannot be assembled"), std::string::npos) << bad.message;
  EXPECT_NE(bad.message.find("LDI     R20,800"), std::string::npos) << bad.message;

  // A call out of RCALL reach: the linker's complaint in one line naming the program's line.
  const std::string far = Replace(blink, "\n.ENTRY\n", "\n.ORG 1000h\nfaraway: RET\n.ENTRY\n");
  VerifyResult link = Check(far, Replace(far, "        RCALL   Shift\n", "        RCALL   faraway\n"));
  EXPECT_EQ(link.verdict, Verdict::CouldNotCheck);
  EXPECT_NE(link.message.find("the linker rejects the program: line "), std::string::npos) << link.message;
  EXPECT_NE(link.message.find(": RCALL   faraway: the target is out of reach"), std::string::npos) << link.message;
  EXPECT_EQ(link.message.find('\n'), std::string::npos) << link.message;

  EXPECT_EQ(ExitCode(bad), 2);
  EXPECT_EQ(ExitCode(optimisedLoops), 1);
}

TEST_F(VerifyTest, ExampleOptimisedByKorvidBehavesTheSame) {
  auto dir = std::filesystem::temp_directory_path() / ("korvid-e2e-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(std::filesystem::path(KORVID_SOURCE_DIR) / "examples/blink.asm", dir / "blink.asm",
                             std::filesystem::copy_options::overwrite_existing);
  std::string command = std::string(KORVID_EXE) + " " + (dir / "blink.asm").string() + " -h > /dev/null 2>&1";
  int rc = std::system(command.c_str());
  bool written = std::filesystem::exists(dir / "blink.DSM");
  VerifyResult r;
  if (written) r = VerifyProgramFiles((dir / "blink.DSM").string(), (dir / "blink.asm").string(), {});
  std::filesystem::remove_all(dir);
  if (!written) GTEST_SKIP() << "korvid (exit " << rc << ") writes no blink.DSM yet";
  EXPECT_EQ(r.verdict, Verdict::Same) << r.message;
}

}  // namespace
}  // namespace korvid::verify
