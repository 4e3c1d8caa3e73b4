#include "source/Labels.h"

#include <gtest/gtest.h>

#include "source/LineList.h"

namespace korvid {
namespace {

TEST(LabelsTest, ReferencesAreCountedForSymbolsOnlyWithoutRegardToCase) {
  TASMLabelList labels;
  labels.AddRef("0FFh");
  labels.AddRef("$10");
  EXPECT_EQ(labels.Count(), 0u);
  labels.AddRef("buf AND 0FFh");
  labels.AddRef("BUF SHRB 8");
  labels.AddRef("Buf+2");
  EXPECT_EQ(labels.RefCountOf("buf"), 3);
  EXPECT_TRUE(labels.IsLabelRef("buf+4"));
  EXPECT_FALSE(labels.IsLabelRef("other"));
  EXPECT_FALSE(labels.IsLabelRef("12"));

  labels.ReleaseRef("12");
  labels.ReleaseRef("0FFh");
  labels.ReleaseRef("buf AND 0FFh");
  EXPECT_EQ(labels.RefCountOf("BUF"), 2);
  labels.Remove("bUf");
  EXPECT_EQ(labels.Find("buf"), nullptr);

  bool nearby = true;
  EXPECT_EQ(labels.LineOf("nothing", nearby), -1);
  EXPECT_FALSE(nearby);
}

TEST(LabelsTest, FindLabelLineFollowsInsertionsAndInsertedLabels) {
  TLineList lines;
  lines.LoadFromText("  NOP\nfirst:\n  NOP\n  NOP\nsecond:\n  NOP\n");
  EXPECT_EQ(FindLabelLine(lines, "SECOND"), 4);
  for (int i = 0; i < 3; ++i) {
    lines.InsertLine(2);
    lines.SetLine(2, lt::NOP, "", "NOP", "", nullptr);
  }
  EXPECT_EQ(FindLabelLine(lines, "second"), 7);
  EXPECT_EQ(FindLabelLine(lines, "first"), 1);

  InsertLabel(lines, 6, "_CSE0000");
  EXPECT_EQ(FindLabelLine(lines, "_CSE0000"), 6);
  EXPECT_EQ(FindLabelLine(lines, "second"), 8);
  EXPECT_EQ(FindLabelLine(lines, "missing"), -1);

  // A label whose line was rewritten no longer stands there.
  lines.RemoveLine(8);
  EXPECT_EQ(FindLabelLine(lines, "second"), -1);
}

// A jump's operand names one label, or is an expression, a number or an offset.
TEST(LabelsTest, PlainLabelsAreSingleNamesThatAreNoNumbers) {
  for (const char* plain : {"main", " L1 ", "SYSTEM.TestBit8", "HANDLER", "_CSE0001", "$main", "PC"})
    EXPECT_TRUE(IsPlainLabel(plain)) << plain;
  for (const char* other : {"", "L1+2", "main-1", "$1F", "12", "0FFh", "x AND 0FFh", "buf SHRB 8"})
    EXPECT_FALSE(IsPlainLabel(other)) << other;
}

}  // namespace
}  // namespace korvid
