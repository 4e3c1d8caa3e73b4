#include "source/LineFacts.h"

#include <gtest/gtest.h>

#include "analysis/BranchReach.h"
#include "source/LineList.h"

namespace korvid {
namespace {

TUsageSet Use(const TLineList& lines, int index, const TVar* var) { return lines.Line(index)->Usages.UsageOf(var); }

TEST(LineAnalysisTest, SizesAndControlFlowOfInstructionsAndData) {
  TLineList lines;
  lines.LoadFromText(
      "main:\n"              // 0
      "  LDS R17,buf\n"      // 1
      "lab: STS buf+1,R16\n" // 2
      "  SLEEP\n"            // 3
      "  BSET 3\n"           // 4
      "  RJMP main\n"        // 5
      "  JMP main\n"         // 6
      "  RCALL main\n"       // 7
      ".BYTE 1\n"            // 8
      ".ASCII 'abc'\n"       // 9
      "  FOO R1\n"           // 10
      "; note\n");           // 11
  const int sizes[] = {0, 4, 4, 2, 2, 2, 4, 2, 1, 3, 2, 0};
  for (int i = 0; i < lines.Count(); ++i) EXPECT_EQ(lines.Line(i)->Size, sizes[i]) << lines.Text(i);
  EXPECT_EQ(lines.CodeSize, 26);
  EXPECT_EQ(lines.DataBytes, 4);
  EXPECT_TRUE(lines.Line(5)->IsUnconditionalTransfer());
  EXPECT_TRUE(lines.Line(7)->FlowKind & fkCall);
  EXPECT_TRUE(lines.Line(10)->UnknownEffect);
  EXPECT_EQ(lines.Labels.RefCountOf("main"), 3);
  EXPECT_EQ(lines.Labels.RefCountOf("buf"), 2);
  EXPECT_EQ(lines.Labels.Find("lab")->LineIndex, 2);
}

TEST(LineAnalysisTest, UsagesOfRegistersFlagsAndImplicitOperands) {
  TLineList lines;
  lines.LoadFromText(
      "  ADD R16,R17\n"    // 0
      "  ADC R16,R17\n"    // 1
      "  IN R18,SREG\n"    // 2
      "  OUT 3Fh,R18\n"    // 3
      "  PUSH R16\n"       // 4
      "  LD R16,Z+\n"      // 5
      "  LDD R16,Y+2\n"    // 6
      "  MUL R20,R21\n"    // 7
      "  MOVW R24,R30\n"   // 8
      "  LDI R16,0\n"      // 9
      "  MOV _ACCA,XL\n"); // 10
  auto& r = lines.RegisterVar;
  auto& f = lines.FlagVar;
  EXPECT_EQ(Use(lines, 0, r[16]), uModify | uRead);
  EXPECT_EQ(Use(lines, 0, r[17]), uRead);
  EXPECT_EQ(Use(lines, 0, f[0]), uWrite);
  EXPECT_EQ(Use(lines, 1, f[0]), uWrite | uRead);
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_TRUE(Use(lines, 2, f[bit]) & uRead) << bit;
    EXPECT_TRUE(Use(lines, 3, f[bit]) & uWrite) << bit;
  }
  EXPECT_EQ(Use(lines, 4, r[16]), uRead | uPush);
  EXPECT_EQ(Use(lines, 5, r[30]), uModify | uRead);
  EXPECT_EQ(lines.Line(5)->PtrReg, 30);
  EXPECT_EQ(lines.Line(5)->PtrMode, 1);
  EXPECT_EQ(Use(lines, 6, r[28]), uRead);
  EXPECT_EQ(lines.Line(6)->Value, 2);
  EXPECT_TRUE(Use(lines, 7, r[0]) & uWrite);
  EXPECT_TRUE(Use(lines, 7, r[1]) & uWrite);
  EXPECT_EQ(Use(lines, 8, r[25]), uWrite);
  EXPECT_EQ(Use(lines, 8, r[31]), uRead);
  // An LDI of 0 stays an LDI: it sets no flags, unlike CLR.
  EXPECT_EQ(lines.Line(9)->LineType, lt::LDI);
  EXPECT_EQ(lines.Line(9)->Value, 0);
  EXPECT_EQ(Use(lines, 9, f[1]), 0u);
  // Register names resolve to the one variable of each register.
  EXPECT_EQ(lines.Line(10)->DestVar, r[17]);
  EXPECT_EQ(Use(lines, 10, r[26]), uRead);
}

TEST(LineAnalysisTest, TheLineAfterASkipMayBeSkippedWhateverStandsBetween) {
  TLineList lines;
  lines.LoadFromText("  SBRC R16,0\n.DEB\n.LINE 4\n; c\n  LDI R17,7\n  LDI R18,1\n");
  EXPECT_TRUE(lines.Line(4)->MaybeSkipped);
  EXPECT_FALSE(lines.Line(5)->MaybeSkipped);
  // A skip written later marks the line it now skips.
  lines.SetLine(4, lt::SBRS, "", "SBRS", "R17,1", nullptr);
  EXPECT_TRUE(lines.Line(5)->MaybeSkipped);
}

// Lines ending in ";r" are vector rows or inside a marked table; no other line is.
TEST(LineAnalysisTest, RowsAtTheProgramStartAreAVectorTable) {
  const char* const programs[] = {
      "vectors:\n JMP start ;r\n.LINE 2\n RJMP bad ;r\n RETI ;r\n NOP ;r\n JMP isr ;r\nstart:\n JMP x\n",
      "v0 JMP start ;r\n JMP isr ;r\nstart:\n NOP\n",
      " JMP start ;r\nv1 JMP isr\n JMP other\n",
      " JMP start ;r\n LDI R16,1\n JMP isr\n",
      " JMP start ;r\n.FUNC f\n JMP g\n.ENDFUNC\n",
      " JMP start ;r\n SLEEP\n JMP isr\n",
      ".FUNC main\nmain:\n JMP a\n JMP b\n.ENDFUNC\n JMP c\n",
      ".BYTE 1\n JMP a\n JMP b\n",
      " LDI R16,1\n JMP a\n",
      ".VECTTAB\n JMP start ;r\n JMP isr ;r\n.VECTTABE\n JMP c\n",
  };
  for (const char* program : programs) {
    TLineList lines;
    lines.LoadFromText(program);
    for (int i = 0; i < lines.Count(); ++i) {
      if (lines.Line(i)->Size == 0) continue;
      const bool row = lines.Text(i).find(";r") != std::string::npos;
      EXPECT_EQ(lines.Line(i)->InMarkedRegion, row) << program << "line " << i;
    }
  }
}

TEST(LineAnalysisTest, DollarNamesTheNextLabelEvenBeforeAnInstruction) {
  TLineList lines;
  lines.LoadFromText(".ENTRYMAIN $\nmain LDI R16,1\nlater:\n RET\n");
  EXPECT_EQ(lines.Line(0)->Op1, "main");
  EXPECT_EQ(lines.Labels.RefCountOf("main"), 1);
  EXPECT_EQ(lines.Labels.RefCountOf("later"), 0);
}

TEST(LineAnalysisTest, HeaderValuesAreStampedAndOldCompilersRejected) {
  TLineList lines;
  lines.LoadFromText("OPTIMISERREV .EQU 0000h ; rev\nCOMPILERREV .EQU 190h\n_iDataStart .EQU 0160h\n");
  EXPECT_NE(lines.Text(0).find("         ; rev"), std::string::npos);
  EXPECT_EQ(lines.Text(0).rfind("OPTIMISERREV", 0), 0u);
  EXPECT_FALSE(lines.CompilerUnsupported);
  EXPECT_EQ(lines.Vars.IDataStart, 0x160);
  TLineList old;
  old.LoadFromText("COMPILERREV .EQU 18Fh\n");
  EXPECT_TRUE(old.CompilerUnsupported);
}

TEST(LineAnalysisTest, EditsKeepSizesAndLabelReferencesInStep) {
  TLineList lines;
  lines.LoadFromText("a:\n  RJMP a\n  LDS R16,v\n  NOP\n");
  EXPECT_EQ(lines.CodeSize, 8);
  lines.SetLine(2, lt::RJMP, "", "RJMP", "a", nullptr);
  EXPECT_EQ(lines.Labels.RefCountOf("v"), 0);
  EXPECT_EQ(lines.Labels.RefCountOf("a"), 2);
  lines.RemoveLine(1);
  EXPECT_EQ(lines.Labels.RefCountOf("a"), 1);
  EXPECT_EQ(lines.CodeSize, 4);
  EXPECT_EQ(lines.BytesSaved(), 4);
}

TEST(LineAnalysisTest, BranchReachLimits) {
  // A branch, then n NOPs, then the label.
  auto reach = [](int nops, bool longJump) {
    std::string text = "  BREQ far\n";
    for (int i = 0; i < nops; ++i) text += "  NOP\n";
    text += "far:\n  NOP\n";
    TLineList lines;
    lines.LoadFromText(text);
    int distance = 0;
    return longJump ? LongBranchReach(lines, 0, "far", distance) : ShortBranchReach(lines, 0, "far", distance);
  };
  EXPECT_TRUE(reach(61, false));   // 2 + 122 bytes
  EXPECT_FALSE(reach(62, false));  // 2 + 124 = 126 bytes
  EXPECT_TRUE(reach(2038, true));  // 2 + 4076 bytes
  EXPECT_FALSE(reach(2039, true)); // 2 + 4078 = 4080 bytes

  TLineList back;
  back.LoadFromText("top:\n  NOP\n  BRNE top\n.ORG 100h\nlow:\n  RJMP low2\nlow2:\n  BRNE top\n");
  int distance = 0;
  EXPECT_TRUE(ShortBranchReach(back, 2, "top", distance));
  EXPECT_EQ(distance, -4);
  EXPECT_FALSE(ShortBranchReach(back, 7, "top", distance));
  EXPECT_FALSE(ShortBranchReach(back, 2, "nowhere", distance));
}

}  // namespace
}  // namespace korvid
