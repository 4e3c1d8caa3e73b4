#include "source/Expressions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "source/Errors.h"

namespace korvid {
namespace {

struct TCase {
  const char* Text;
  bool Known;
  std::int64_t Value;
};

TEST(Evaluate, NotationsAndOperators) {
  const TCase Cases[] = {
      {"12", true, 12},
      {"0FFh", true, 255},
      {"0ffH", true, 255},
      {"$FF", true, 255},
      {"$7fffffffffffffff", true, 0x7fffffffffffffff},
      {"1010b", true, 10},
      {"0B", true, 0},
      {"0Bh", true, 11},
      {"-5", true, -5},
      {"+5", true, 5},
      {"- 5", true, -5},
      {"  42  ", true, 42},
      {"2+3", true, 5},
      {"2 + 3", true, 5},
      {"-2+3", true, 1},
      {"5-7", true, -2},
      {"10-3-2", true, 5},
      {"1-2+3", true, 2},
      {"0Ah+$10+11b", true, 29},
      {"300 SHRB 8", true, 1},
      {"300 AND 0FFh", true, 44},
      {"100h+2Ch AND 0FFh", true, 0x2C},
      {"1 SHRB 63", true, 0},
      {"1 SHRB 200", true, 0},
      // A leading minus is the sign of the first operand, read as a 16-bit word.
      {"-4 AND 0FFh", true, 0xFC},
      {"-4 SHRB 8", true, 0xFF},
      {"-0012h AND 0FFh", true, 0xEE},
      {"-0012h SHRB 8", true, 0xFF},
      {"-1 AND 0FFFFh", true, 0xFFFF},
      {"-32768 SHRB 8", true, 0x80},
      // Only what the 16-bit reading decides is known.
      {"-32769 AND 0FFh", false, -1},
      {"-4 AND 10000h", false, -1},
      {"-4 SHRB 16", false, -1},
      {"5+-7", false, -1},
      {"5--7", false, -1},
      {"300 AND -1", false, -1},
      {"1 SHRB -1", false, -1},
      {"buf AND 0FFh", false, -1},
      {"buf SHRB 8", false, -1},
      {"buf+3", false, -1},
      {"HANDLER", false, -1},
      {"300 AND 0FFh SHRB 8", false, -1},
      {"1 AND 3 AND 7", false, -1},
      {"300 and 0FFh", false, -1},
  };
  for (const auto& Case : Cases) {
    auto Result = Evaluate(Case.Text);
    EXPECT_EQ(Result.Known, Case.Known) << Case.Text;
    EXPECT_EQ(Result.Value, Case.Value) << Case.Text;
  }
}

TEST(Evaluate, MalformedAndOverflowingTextIsUnknown) {
  const char* Texts[] = {
      "", " ", "-", "+", "--4", "2+", "+ +", "AND", "SHRB 8", "1 AND", "$", "$G1", "h", "0G5h", "102b", "12x",
      "1 2", "(5)", "0FFFFFFFFFFFFFFFFFFh", "$FFFFFFFFFFFFFFFF", "99999999999999999999", "9223372036854775808",
      "-9223372036854775808", "9223372036854775807+1", "-9223372036854775807-2",
      "11111111111111111111111111111111b",
  };
  for (const char* Text : Texts) {
    auto Result = Evaluate(Text);
    EXPECT_FALSE(Result.Known) << Text;
    EXPECT_EQ(Result.Value, -1) << Text;
  }
  EXPECT_FALSE(Evaluate(std::string(10000, '9')).Known);
  EXPECT_EQ(Evaluate("9223372036854775806+1").Value, 9223372036854775807);
  EXPECT_EQ(Evaluate("-9223372036854775807-1").Value, std::numeric_limits<std::int64_t>::min());
}

std::string InRandomNotation(std::int64_t Value, std::mt19937& Random) {
  char Hex[32];
  switch (Random() % 4) {
    case 0: return std::to_string(Value);
    case 1: std::snprintf(Hex, sizeof Hex, "0%llXh", static_cast<unsigned long long>(Value)); return Hex;
    case 2: std::snprintf(Hex, sizeof Hex, "$%llx", static_cast<unsigned long long>(Value)); return Hex;
    default: {
      std::string Bits;
      for (auto Rest = Value; Rest > 0; Rest /= 2) Bits.insert(Bits.begin(), char('0' + Rest % 2));
      return (Bits.empty() ? "0" : Bits) + "b";
    }
  }
}

TEST(Evaluate, RandomSumsOfConstantsInRandomNotations) {
  std::mt19937 Random(20240517);
  for (int Round = 0; Round < 2000; ++Round) {
    std::int64_t Expected = 0;
    std::string Text;
    int Terms = 1 + static_cast<int>(Random() % 6);
    for (int Term = 0; Term < Terms; ++Term) {
      std::int64_t Value = Random() % 70000;
      bool Minus = Random() % 2;
      if (Term > 0 || Minus) Text += Minus ? (Random() % 2 ? " - " : "-") : (Random() % 2 ? " + " : "+");
      Text += InRandomNotation(Value, Random);
      Expected += Minus ? -Value : Value;
    }
    auto Result = Evaluate(Text);
    ASSERT_TRUE(Result.Known) << Text;
    ASSERT_EQ(Result.Value, Expected) << Text;
  }
}

TEST(SplitOperands, SplitsAtFirstCommaAndKeepsSecondWithoutOne) {
  std::string First, Second = "old";
  SplitOperands(" R16 , Y+2 ", First, Second);
  EXPECT_EQ(First, "R16");
  EXPECT_EQ(Second, "Y+2");
  SplitOperands("a,b,c", First, Second);
  EXPECT_EQ(Second, "b,c");
  Second = "old";
  SplitOperands("  R17 ", First, Second);
  EXPECT_EQ(First, "R17");
  EXPECT_EQ(Second, "old");
}

TEST(SplitExpression, KindsAndParts) {
  struct TSplit {
    const char* Text;
    TExprKind Kind;
    const char* Left;
    const char* Right;
  } const Cases[] = {
      {"buf + 3", TExprKind::Plus, "buf", "3"},
      {"tab-2", TExprKind::Minus, "tab", "2"},
      {"buf + 3 AND 0FFh", TExprKind::Plus, "buf", "3 AND 0FFh"},
      {"buf SHRB 8", TExprKind::Shrb, "buf", "8"},
      {"buf  shrb\t8", TExprKind::Shrb, "buf", "8"},
      {"buf And 0FFh", TExprKind::And, "buf", "0FFh"},
      {"buf", TExprKind::Plain, "buf", ""},
      {"a OR b", TExprKind::Plain, "a OR b", ""},
      {"a AND b c", TExprKind::Plain, "a AND b c", ""},
      {"", TExprKind::Plain, "", ""},
  };
  for (const auto& Case : Cases) {
    auto Split = SplitExpression(Case.Text);
    EXPECT_EQ(Split.Kind, Case.Kind) << Case.Text;
    EXPECT_EQ(Split.Left, Case.Left) << Case.Text;
    EXPECT_EQ(Split.Right, Case.Right) << Case.Text;
  }
}

TEST(ResolvePointer, RegistersModesAndDisplacements) {
  struct TPointerCase {
    const char* Text;
    int Register;
    TPointerMode Mode;
    bool Known;
    std::int64_t Displacement;
  } const Cases[] = {
      {"Y+5", 28, TPointerMode::Plain, true, 5},
      {"y + 0Ah", 28, TPointerMode::Plain, true, 10},
      {"X+", 26, TPointerMode::PostIncrement, true, 0},
      {"-Z", 30, TPointerMode::PreDecrement, true, 0},
      {"- x", 26, TPointerMode::PreDecrement, true, 0},
      {"Z", 30, TPointerMode::Plain, true, 0},
      {"Y+q", 28, TPointerMode::Plain, false, -1},
      {"ZL", 30, TPointerMode::Plain, false, -1},
  };
  for (const auto& Case : Cases) {
    auto Pointer = ResolvePointer(Case.Text);
    EXPECT_EQ(Pointer.Register, Case.Register) << Case.Text;
    EXPECT_EQ(Pointer.Mode, Case.Mode) << Case.Text;
    EXPECT_EQ(Pointer.Displacement.Known, Case.Known) << Case.Text;
    EXPECT_EQ(Pointer.Displacement.Value, Case.Displacement) << Case.Text;
  }
  for (const char* Bad : {"W", "", "  ", "-", "-W", "-ZZ", "R16"}) {
    try {
      ResolvePointer(Bad);
      ADD_FAILURE() << "no exception for '" << Bad << "'";
    } catch (const KorvidError& Error) {
      EXPECT_STREQ(Error.what(), "Cannot Resolve XYZ register");
    }
  }
}

TEST(ReverseTables, ReversesPairUpAndBranchConditionsInvert) {
  int Reversible = 0;
  for (int Type = 0; Type < lt::Count; ++Type) {
    auto Line = static_cast<TLineType>(Type);
    auto Reverse = ReverseLineType(Line);
    if (Reverse == lt::Unknown) {
      EXPECT_EQ(ReverseMnemonic(Line), "") << Type;
      continue;
    }
    ++Reversible;
    EXPECT_EQ(ReverseLineType(Reverse), Line) << Type;
    EXPECT_FALSE(ReverseMnemonic(Line).empty()) << Type;
    int Code = BranchCondition(Line);
    if (Code >= 1 && Code <= 16) {
      EXPECT_EQ(std::to_string(BranchCondition(Reverse)), InvertCondition(std::to_string(Code))) << Type;
    }
  }
  EXPECT_EQ(Reversible, 34);
  EXPECT_EQ(ReverseMnemonic(lt::STD), "LDD");
  EXPECT_EQ(ReverseMnemonic(lt::BRSH), "BRLO");
  EXPECT_EQ(ReverseLineType(lt::MOVW), lt::MOVW);
  EXPECT_EQ(ReverseLineType(lt::ADD), lt::Unknown);
  EXPECT_EQ(BranchCondition(lt::BRLO), BranchCondition(lt::BRCS));
  EXPECT_EQ(BranchCondition(lt::EICALL), 21);
  EXPECT_EQ(BranchCondition(lt::ADD), 0);
}

TEST(InvertCondition, SwapsOppositePairsOnly) {
  EXPECT_EQ(InvertCondition("7"), "8");
  EXPECT_EQ(InvertCondition("8"), "7");
  EXPECT_EQ(InvertCondition("1"), "2");
  EXPECT_EQ(InvertCondition("16"), "15");
  for (const char* Unchanged : {"17", "0", "18", "-1", "", "x", "3a"}) EXPECT_EQ(InvertCondition(Unchanged), Unchanged);
}

TEST(NumberConversions, HexAndBinaryReaders) {
  EXPECT_TRUE(IsHexText(""));
  EXPECT_TRUE(IsHexText("09afAF"));
  EXPECT_FALSE(IsHexText("0FFh"));
  EXPECT_EQ(HexToInt64("0FFh"), 255);
  EXPECT_EQ(HexToInt64("01.90"), 0x190);
  EXPECT_EQ(HexToInt64(""), 0);
  EXPECT_EQ(HexToInt64("7FFFFFFFFFFFFFFF"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(HexToInt64("0FFFFFFFFFFFFFFFFFFh"), std::nullopt);
  EXPECT_TRUE(IsBinaryText("0110"));
  EXPECT_FALSE(IsBinaryText("012"));
  EXPECT_EQ(BinaryToInt("1010"), 10);
  EXPECT_EQ(BinaryToInt("1_0 1"), 5);
  EXPECT_EQ(BinaryToInt(std::string(32, '1')), -1);
  EXPECT_EQ(BinaryToInt("1" + std::string(31, '0')), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace korvid
