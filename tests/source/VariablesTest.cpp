#include "source/Variables.h"

#include <gtest/gtest.h>

#include "source/Errors.h"

namespace korvid {
namespace {

TEST(VariablesTest, DeclarationsGiveKindSizeAndVolatility) {
  tVarList vars;
  TVar* cnt = vars.Declare("CNT", true, "var data word", "105h");
  EXPECT_EQ(cnt->Kind, vk::Data);
  EXPECT_EQ(cnt->Size, 2);
  EXPECT_EQ(cnt->Address, 0x105);
  EXPECT_FALSE(vars.IsVolatile(*cnt));
  EXPECT_TRUE(vars.IsVolatile(*vars.Declare("PORTV", true, "var data byte volatile", "200h")));
  EXPECT_FALSE(vars.IsVolatile(*vars.Declare("CALM", true, "var data byte nonvolatile", "201h")));

  TVar* ten = vars.Declare("TEN", true, "const", "10");
  EXPECT_EQ(ten->Kind, vk::Constant);
  EXPECT_EQ(ten->Size, 0);
  EXPECT_EQ(ten->Address, 10);

  // Another name for the same place, class and size is an alias.
  EXPECT_EQ(vars.Declare("COUNT", false, "var data word", "105h"), cnt);
  EXPECT_EQ(cnt->PrimaryName, "CNT");
  EXPECT_EQ(vars.Find("count"), cnt);
  // Same address, other size: another variable.
  EXPECT_NE(vars.Declare("CNTLO", false, "var data byte", "105h"), cnt);
}

TEST(VariablesTest, DefaultVolatilityDependsOnTheMemoryClass) {
  tVarList vars;
  vars.IDataStart = 0x100;
  EXPECT_TRUE(vars.IsVolatile(*vars.Declare("LOW", true, "var idata byte", "80h")));
  EXPECT_FALSE(vars.IsVolatile(*vars.Declare("HIGH", true, "var idata byte", "100h")));
  EXPECT_TRUE(vars.IsVolatile(*vars.Declare("EXT", true, "var xdata byte", "1000h")));
  EXPECT_TRUE(vars.IsVolatile(*vars.Declare("U", true, "var udata byte", "300h")));
  vars.VolatileDefault = volatility::Volatile;
  EXPECT_TRUE(vars.IsVolatile(*vars.Declare("D", true, "var data byte", "400h")));
}

TEST(VariablesTest, RegistersAreNotAlwaysLiveButDottedNamesAre) {
  tVarList vars;
  EXPECT_FALSE(tVarList::IsAlwaysLive(*vars.AddVar("R16", true, 1, vk::Data, volatility::Default, 16, 16)));
  EXPECT_FALSE(tVarList::IsAlwaysLive(*vars.AddVar("Z", true, 2, vk::Data, volatility::Default, 30, 30)));
  EXPECT_TRUE(tVarList::IsAlwaysLive(*vars.AddVar("_FRAMEPTR", true, 2, vk::Data, volatility::Default, 300, 300)));
  EXPECT_TRUE(tVarList::IsAlwaysLive(*vars.AddVar("main.x", true, 1, vk::Data, volatility::Default, 301, 301)));
}

TEST(VariablesTest, OperandsDeriveVariablesFromTheirBase) {
  tVarList vars;
  TVar* buf = vars.Declare("BUF", true, "var data byte", "200h");
  TVar* second = vars.FindOrCreate("BUF+2", vk::Data);
  EXPECT_EQ(second->Address, 0x202);
  EXPECT_EQ(second->BaseAddress, 0x200);
  EXPECT_EQ(vars.FindOrCreate("buf+2", vk::Data), second);
  EXPECT_EQ(vars.FindOrCreate("BUF-1", vk::Data)->Address, 0x1FF);
  EXPECT_EQ(vars.FindOrCreate("200h", vk::Data), buf);
  EXPECT_EQ(vars.FindOrCreate("UNDECLARED+1", vk::Data)->Address, -1);
  EXPECT_EQ(vars.FindOrCreate("BUF+7FFFFFFFFFFFFFFFh", vk::Data)->Address, -1);
  TVar* somewhere = vars.FindOrCreate("SOMEWHERE", vk::Data);
  EXPECT_EQ(vars.Find("somewhere"), somewhere);
}

TEST(VariablesTest, UsageOfAMissingVariableIsAnInternalError) {
  TVarUsageList list;
  EXPECT_THROW(AddUsage(list, nullptr, uRead), KorvidError);
  tVarList vars;
  TVar* r16 = vars.AddVar("R16", true, 1, vk::Data, volatility::Default, 16, 16);
  AddUsage(list, r16, uRead);
  AddUsage(list, r16, uWrite);
  EXPECT_EQ(list.UsageOf(r16), uRead | uWrite);
}

}  // namespace
}  // namespace korvid
