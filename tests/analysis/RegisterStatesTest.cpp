// Register records during a forward walk: what survives a line and what not.
#include "analysis/RegisterStates.h"

#include <gtest/gtest.h>

#include "source/LineList.h"

namespace korvid {
namespace {

TRegistersStates WalkTo(TLineList& lines, const std::string& text, int last) {
  lines.LoadFromText(text);
  TRegistersStates states;
  for (int i = 0; i <= last; ++i) {
    EnterRegisterStates(lines, i, states);
    UpdateRegisterStates(lines, i, states);
  }
  return states;
}

TEST(RegisterStates, LoadsAreRecordedUntilAJoin) {
  TLineList lines;
  TRegistersStates s = WalkTo(lines, " LDI R16,5\n LDI R17,5\n", 1);
  EXPECT_TRUE(s.Regs[16].Valid);
  EXPECT_EQ(s.Regs[16].LoadType, lt::LDI);
  EXPECT_EQ(s.Regs[16].LoadValue, 5);
  EXPECT_EQ(s.Regs[16].LoadLine, 0);
  s = WalkTo(lines, " LDI R16,5\nl:\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);
  // A label written before an instruction is a join too.
  s = WalkTo(lines, " LDI R16,5\nl: LDI R17,7\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);
  EXPECT_TRUE(s.Regs[17].Valid);
  // The instruction after the label already finds nothing known.
  lines.LoadFromText(" LDI R16,5\nl: LDI R16,5\n");
  s = TRegistersStates{};
  UpdateRegisterStates(lines, 0, s);
  EnterRegisterStates(lines, 1, s);
  EXPECT_FALSE(s.Regs[16].Valid);
  // A load that may be skipped leaves the register unknown.
  s = WalkTo(lines, " LDI R16,5\n SBRC R20,0\n LDI R16,7\n", 2);
  EXPECT_FALSE(s.Regs[16].Valid);
}

TEST(RegisterStates, StoresNameTheirTargetUntilMemoryMayChange) {
  TLineList lines;
  const std::string head = "v .EQU 0100h ; var data byte\nw .EQU 0102h ; var data byte\n STS v,R16\n";
  TRegistersStates s = WalkTo(lines, head, 2);
  ASSERT_NE(s.Regs[16].StoreTarget, nullptr);
  EXPECT_TRUE(s.Regs[16].StoreTarget->HasName("v"));
  s = WalkTo(lines, head + " STS w,R17\n", 3);
  EXPECT_NE(s.Regs[16].StoreTarget, nullptr);  // another byte
  s = WalkTo(lines, head + " ST Z,R17\n", 3);
  EXPECT_NE(s.Regs[16].StoreTarget, nullptr);  // no pointer is made from any address
  s = WalkTo(lines, head + " ST Z,R17\n LDI R30,w AND 0FFh\n", 3);
  EXPECT_NE(s.Regs[16].StoreTarget, nullptr);  // w's address is taken, but v lies below w
  s = WalkTo(lines, head + " ST Z,R17\n LDI R30,v AND 0FFh\n", 3);
  EXPECT_EQ(s.Regs[16].StoreTarget, nullptr);  // a pointer made from v's address
  s = WalkTo(lines, head + " ST Z,R17\n LDI R31,1\n", 3);
  EXPECT_EQ(s.Regs[16].StoreTarget, nullptr);  // a pointer made from a number reaches anything
  s = WalkTo(lines, " LDS R16,0100h\n ST X,R17\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);  // an address without a name: anything may be reached
  s = WalkTo(lines, " LDS R16,0100h\n STS 0100h,R16\n", 1);
  EXPECT_TRUE(s.Regs[16].Valid);  // stored back: still equal to memory
  // A call may store anything and write any register.
  s = WalkTo(lines, " LDD R16,Y+2\n RCALL p\n LDI R18,1\np: RET\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);
}

TEST(RegisterStates, EitherPointerByteInvalidatesItsRecords) {
  TLineList lines;
  TRegistersStates s = WalkTo(lines, " ST Z,R16\n LDI R31,04h\n", 1);
  EXPECT_EQ(s.Regs[16].StorePtrReg, 0);
  EXPECT_TRUE(s.Regs[31].Valid);
  s = WalkTo(lines, " LD R16,X\n INC R27\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);
  s = WalkTo(lines, " LD R16,X\n LDI R20,1\n", 1);
  EXPECT_TRUE(s.Regs[16].Valid);
  EXPECT_EQ(s.Regs[16].LoadPtrReg, 26);
  // Post-increment: the pointer and what was read through it are both stale.
  s = WalkTo(lines, " LDI R26,1\n LD R17,X\n LD R16,X+\n", 2);
  EXPECT_FALSE(s.Regs[26].Valid);
  EXPECT_FALSE(s.Regs[17].Valid);
  EXPECT_FALSE(s.Regs[16].Valid);
}

TEST(RegisterStates, CopiesDieWithTheirSource) {
  TLineList lines;
  TRegistersStates s = WalkTo(lines, " MOV R16,R17\n", 0);
  EXPECT_EQ(s.Regs[16].LoadSource, lines.RegisterVar[17]);
  EXPECT_EQ(s.Regs[17].StoreTarget, lines.RegisterVar[16]);
  s = WalkTo(lines, " MOV R16,R17\n INC R17\n", 1);
  EXPECT_FALSE(s.Regs[16].Valid);
  s = WalkTo(lines, " MOV R16,R17\n INC R16\n", 1);
  EXPECT_EQ(s.Regs[17].StoreTarget, nullptr);
}

}  // namespace
}  // namespace korvid
