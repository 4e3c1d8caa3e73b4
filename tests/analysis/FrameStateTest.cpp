// The Z bookkeeping and the per-label frame states: offsets kept within a
// displacement, the copy in Z brought back only by a POP into its own
// register, and a label that two paths reach with different states refused.
#include <gtest/gtest.h>

#include "analysis/FrameSyncPoints.h"
#include "analysis/PointerRegisters.h"

namespace korvid {
namespace {

TEST(PointerRegisters, OffsetsStayWithinADisplacement) {
  TPtrHelper z;
  z.SetZl(3);
  z.SetZh(4);
  EXPECT_TRUE(z.IsValid());
  EXPECT_FALSE(z.SubOffset(1));  // nothing below a fresh Z
  EXPECT_TRUE(z.AddOffset(2));
  EXPECT_TRUE(z.AddOffset(61));
  EXPECT_FALSE(z.AddOffset(1));
  EXPECT_EQ(z.State().Offset, 63);
  z.Invalidate();
  EXPECT_FALSE(z.IsValid());
}

TEST(PointerRegisters, OnlyAPopIntoItsOwnRegisterBringsTheCopyBack) {
  auto saved = [](std::initializer_list<int> pops, bool writeBetween) {
    tZStack stack;
    stack.SetCopyInZ(true);
    stack.Push(30);
    stack.Push(31);
    if (writeBetween) stack.Written(30);
    for (int reg : pops) stack.Pop(reg);
    return stack.CopyInZ();
  };
  EXPECT_TRUE(saved({31, 30}, false));
  EXPECT_TRUE(saved({31, 30}, true));   // the live copy was pushed, not a stale flag
  EXPECT_FALSE(saved({30, 31}, false)); // a swap
  tZStack other;
  other.Push(16);
  EXPECT_FALSE(other.Pop(30)->Value);
  EXPECT_FALSE(tZStack().Pop(30).has_value());
}

TEST(FrameSyncPoints, EveryPathIntoALabelMustBringTheSameState) {
  TFrameState copy, lowered;
  copy.ZStack.SetCopyInZ(true);
  lowered.Extra = 1;
  TFrameSyncPoints points;
  EXPECT_TRUE(points.Store("L1", copy));
  EXPECT_TRUE(points.Store("l1", copy));  // two jumps with the same state
  EXPECT_FALSE(points.Store("L1", lowered));
  // Falling in with another state than the jumps brought.
  TFrameState here = lowered;
  EXPECT_FALSE(points.Arrive("L1", here, false));
  // After a jump the label's state is the one stored.
  EXPECT_TRUE(points.Arrive("L1", here, true));
  EXPECT_EQ(here, copy);
  // A label no jump reached yet takes the walk's state; a later jump must match it.
  TFrameState top = lowered;
  EXPECT_TRUE(points.Arrive("Top", top, true));
  EXPECT_EQ(top, lowered);
  EXPECT_FALSE(points.Store("TOP", copy));
  EXPECT_TRUE(points.AllArrived());
  EXPECT_TRUE(points.Store("Out", copy));
  EXPECT_FALSE(points.AllArrived());
}

}  // namespace
}  // namespace korvid
