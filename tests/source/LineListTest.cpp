#include "source/LineList.h"

#include <gtest/gtest.h>

#include <random>

#include "source/Classifier.h"

namespace korvid {
namespace {

TEST(LineListTest, SetLineLaysOutLabelMnemonicAndOperandColumns) {
  TLineList lines;
  lines.LoadFromText("a\nb\nc\n");
  EXPECT_TRUE(lines.SetLine(0, lt::MOV, "", "MOV", "R16, R17", nullptr));
  EXPECT_EQ(lines.Text(0), std::string(24, ' ') + "MOV" + std::string(7, ' ') + "R16, R17");
  std::string longLabel(30, 'L');
  lines.SetLine(1, lt::NOP, longLabel, "NOP", "", nullptr);
  EXPECT_EQ(lines.Text(1), longLabel + "NOP" + std::string(7, ' '));
  lines.SetLineOps(2, lt::MOV, "", "MOV", "R16", "", nullptr);
  EXPECT_EQ(lines.Text(2), std::string(24, ' ') + "MOV" + std::string(7, ' ') + "R16");
  lines.SetLineOps(2, lt::MOV, "", "MOV", "R16", "R17", nullptr);
  EXPECT_EQ(lines.Text(2), std::string(24, ' ') + "MOV" + std::string(7, ' ') + "R16, R17");
}

TEST(LineListTest, SetLineWithTheSameTextStillReinitialisesTheLine) {
  TLineList lines;
  lines.LoadFromText("                        NOP       \n");
  lines.Line(0)->Comment = "old";
  EXPECT_FALSE(lines.SetLine(0, lt::NOP, "", "NOP", "", nullptr));
  EXPECT_EQ(lines.Line(0)->Comment, "");
}

TEST(LineListTest, RemoveLineTurnsLinesIntoMarkedComments) {
  TLineList lines;
  lines.LoadFromText(".FUNC f\nf:\n  NOP\nsystem.endcode:\nlab LDI R16,7\n");
  EXPECT_FALSE(lines.RemoveLine(3));
  EXPECT_EQ(lines.Text(3), "system.endcode:");

  // A label right below its routine header takes the header with it.
  EXPECT_TRUE(lines.RemoveLine(1));
  EXPECT_EQ(lines.Text(0), ";" + std::string(33, ' '));
  EXPECT_EQ(lines.Text(1), ";" + std::string(33, ' '));
  EXPECT_TRUE(lines.Line(0)->Removed);
  EXPECT_TRUE(lines.Line(1)->Removed);
  EXPECT_EQ(lines.Line(1)->LineType, lt::Comment);

  // An instruction written after its label leaves the label in place.
  EXPECT_TRUE(lines.RemoveLine(4));
  EXPECT_EQ(lines.Text(4), "lab:");
  EXPECT_EQ(lines.Line(4)->LineType, lt::Label);
  EXPECT_FALSE(lines.Line(4)->Removed);
}

TEST(LineListTest, RemoveLineAlsoClearsTheLinkedLine) {
  TLineList lines;
  lines.LoadFromText("x\n  PUSH R16\n  NOP\n  POP R16\n");
  lines.Line(3)->LinkedLine = 1;
  lines.RemoveLine(3);
  EXPECT_EQ(lines.Line(1)->LineType, lt::Comment);
  EXPECT_FALSE(lines.Line(1)->Removed);
  EXPECT_TRUE(lines.Line(3)->Removed);
}

TEST(LineListTest, InsertedLinesTakeTheSourcePositionOfTheLineBefore) {
  TLineList lines;
  lines.LoadFromText("  NOP\n  NOP\n");
  lines.Line(0)->SrcFile = "demo.pas";
  lines.Line(0)->SrcLineNo = "12";
  lines.InsertLine(1);
  EXPECT_EQ(lines.Line(1), nullptr);
  lines.SetLine(1, lt::NOP, "", "NOP", "", nullptr);
  EXPECT_EQ(lines.Line(1)->SrcFile, "demo.pas");
  EXPECT_EQ(lines.Line(1)->SrcLineNo, "12");
  EXPECT_EQ(lines.Count(), 3);
}

TEST(LineListTest, CodeLineWalksStepOverLinesThatEmitNothing) {
  TLineList lines;
  lines.LoadFromText(
      "  NOP\n"        // 0
      "; comment\n"    // 1
      "\n"             // 2
      ".LINE 3\n"      // 3
      "lab:\n"         // 4
      ".FRAME 2\n"     // 5
      ".LOOP\n"        // 6
      ".BLOCK\n"       // 7
      "  NOP\n");      // 8
  EXPECT_EQ(lines.NextCodeLine(0, false, false, false, false), 4);
  EXPECT_EQ(lines.NextCodeLine(0, true, true, false, false), 5);
  EXPECT_EQ(lines.NextCodeLine(0, true, false, true, false), 6);
  EXPECT_EQ(lines.NextCodeLine(0, true, false, false, true), 7);
  EXPECT_EQ(lines.NextCodeLine(0, true, false, false, false), 8);
  EXPECT_EQ(lines.NextCodeLine(8, true, false, false, false), 9);
  EXPECT_EQ(lines.PrevCodeLine(8, false, true), 3);
  EXPECT_EQ(lines.PrevCodeLine(8, true, true), 0);
  EXPECT_EQ(lines.PrevCodeLine(8, true, false), 4);
  EXPECT_EQ(lines.PrevCodeLine(1, true, true), 0);
  EXPECT_EQ(lines.PrevCodeLine(0, true, true), -1);
}

TEST(LineListTest, SameInstructionComparesTypeAndOperandsWithoutCase) {
  TLineList lines;
  lines.LoadFromText("  LDI R16,5\n  ldi r16,5\n  LDI R16,6\n");
  lines.Line(0)->Op1 = "R16";
  lines.Line(0)->Op2 = "5";
  lines.Line(1)->Op1 = "r16";
  lines.Line(1)->Op2 = "5";
  lines.Line(2)->Op1 = "R16";
  lines.Line(2)->Op2 = "6";
  EXPECT_TRUE(lines.SameInstruction(0, 1));
  EXPECT_FALSE(lines.SameInstruction(0, 2));
}

TEST(LineListTest, LoadAndSaveRoundTripIsByteIdentical) {
  for (const std::string text : {"a\r\nb\r\n", "a\nb\n", "a\nb", "a\r\nb\nc", "\n\n", "x\r"}) {
    TLineList lines;
    lines.LoadFromText(text);
    EXPECT_EQ(lines.SaveToText(), text);
  }
}

TEST(LineListTest, ParallelParseMatchesSingleThreadedParse) {
  std::mt19937 random(7);
  const char* samples[] = {"  LDI R16,5", "lab:", "  STD Y+2,R16 ; frame", ".LINE 4", "x LDI R1,2", "", "; c",
                           ".FUNC f", "  RCALL f", "  SLEEP", "//", ".OPTI SPEED"};
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::string(samples[random() % std::size(samples)]) + "\n";
  TLineList lines;
  lines.LoadFromText(text);
  for (int i = 0; i < lines.Count(); ++i) {
    TParsedLine expected = ParseLine(lines.Text(i));
    const TLine& line = *lines.Line(i);
    ASSERT_EQ(line.LineType, expected.LineType) << i;
    ASSERT_EQ(line.LabelName, expected.LabelName) << i;
    ASSERT_EQ(line.Mnemonic, expected.Mnemonic) << i;
    ASSERT_EQ(line.Operands, expected.Operands) << i;
    ASSERT_EQ(line.Comment, expected.Comment) << i;
    ASSERT_EQ(line.LineIndex, i);
  }
}

}  // namespace
}  // namespace korvid
