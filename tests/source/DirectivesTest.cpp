#include "source/Directives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "source/LineList.h"

namespace korvid {
namespace {

TEST(DirectivesTest, KeywordsSetAndClearFlagsInProgramOrder) {
  TLineList lines;
  EXPECT_TRUE(lines.Run.Directives[TDirective::NO_BITTEST_OPT]);
  lines.LoadFromText(
      ".OPTI no_loop_opt ; lower case\n"
      ".OPTI NO_CALL_FRAME_OPT\n"
      ".OPTI CALL_FRAME_OPT\n"
      ".OPTI No_Phase_2_OR_3 \n"
      ".OPTI NO_ALLOW_INLINE\n"
      ".OPTI VOLATILE\n"
      "CNT .EQU 100h ; var data byte\n"
      ".OPTI VOLATILE_DFT\n");
  EXPECT_TRUE(lines.Run.Directives[TDirective::NO_LOOP_OPT]);
  EXPECT_FALSE(lines.Run.Directives[TDirective::NO_CALL_FRAME_OPT]);
  EXPECT_FALSE(lines.Run.Directives.Phase1Off());
  EXPECT_TRUE(lines.Run.Directives.Phase2Off());
  EXPECT_TRUE(lines.Run.Directives.Phase3Off());
  EXPECT_FALSE(lines.Run.AllowInline);
  EXPECT_TRUE(lines.Vars.IsVolatile(*lines.Vars.Find("CNT")));
  EXPECT_EQ(lines.Vars.VolatileDefault, volatility::Default);
}

TEST(DirectivesTest, UnknownKeywordsAreWarnedAboutAtTheirSourceLine) {
  auto dir = std::filesystem::temp_directory_path() / ("korvid-dir-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  TLineList lines;
  lines.Errors.ErrFile = (dir / "prog.err").string();
  lines.LoadFromText(".FILE demo.pas\n.LINE 7\n.OPTI NO_LOOP_OPTX\n.OPTI SMARTLINK_ONLY\n");
  std::ifstream in(dir / "prog.err");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("demo.pas (7,1) : Warning: Optimiser directive \"NO_LOOP_OPTX\" not recognised."),
            std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("SMARTLINK_ONLY used. This disabled all other optimisations"), std::string::npos);
  EXPECT_TRUE(lines.Run.Directives[TDirective::SMARTLINK_ONLY]);
  std::filesystem::remove_all(dir);
}

TEST(DirectivesTest, ReturnRegistersOfARetFollowItsRoutine) {
  TLineList lines;
  lines.LoadFromText(
      ".FUNC one\n.RETURNS 1\none:\n  RET\n.ENDFUNC\n"           // 0-4
      ".FUNC four\n.RETURNS 4\nfour:\n  RET\n.ENDFUNC\n"         // 5-9
      ".FUNC open\nopen:\n.OPTI NO_CHECK_RETURN_REGS\n  RET\n  RET\n.ENDFUNC\n");  // 10-15
  auto reads = [&](int index, int reg) { return (lines.Line(index)->Usages.UsageOf(lines.RegisterVar[reg]) & uRead) != 0; };
  EXPECT_TRUE(reads(3, 17));
  EXPECT_FALSE(reads(3, 16));
  EXPECT_TRUE(reads(8, 16) && reads(8, 19));
  EXPECT_FALSE(reads(8, 20));
  // Without a return size any register may be handed back.
  EXPECT_TRUE(reads(13, 5) && reads(14, 30));
  EXPECT_FALSE(lines.Run.Directives[TDirective::NO_CHECK_RETURN_REGS]);
  // Rewriting a RET keeps what it hands back.
  lines.SetLine(3, lt::RET, "", "RET", "", nullptr);
  EXPECT_TRUE(reads(3, 17));
}

}  // namespace
}  // namespace korvid
