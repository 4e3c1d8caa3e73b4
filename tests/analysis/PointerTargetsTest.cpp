// Where pointer accesses reach: known only while straight-line code has loaded
// the pair with known bytes and nothing since may have changed them.
#include "analysis/PointerTargets.h"

#include <gtest/gtest.h>

#include <string>

#include "source/LineList.h"
#include "tests/analysis/PathTestSupport.h"

namespace korvid {
namespace {

constexpr const char* kDeclarations =
    "v .EQU 0100h ; var data byte\n"
    "u .EQU 01FFh ; var data byte\n";

// Every line ending in "; @hex" must reach that address, every line ending in "; @?" nothing known.
void ExpectTargets(const std::string& body) {
  TLineList lines;
  lines.LoadFromText(std::string(kDeclarations) + ".FUNC f\nf:\n" + body + " RET\n.ENDFUNC\n");
  const TPointerTargets& targets = CurrentPointerTargets(lines);
  int checked = 0;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string text = lines.Text(i);
    std::size_t at = text.find("; @");
    if (at == std::string::npos) continue;
    std::string expected = text.substr(at + 3);
    int want = expected == "?" ? -1 : std::stoi(expected, nullptr, 16);
    EXPECT_EQ(targets.TargetOf(i), want) << text;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(PointerTargets, StraightLineLoadsAndStepsAreFollowed) {
  ExpectTargets(
      // A labelled line's own load counts from the label on.
      "l LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"
      " LD R16,Z+ ; @100\n"
      " LD R17,Z ; @101\n"
      " LDD R18,Z+3 ; @104\n"
      " ST -Z,R18 ; @100\n"
      " ADIW R30,2\n ST Z,R1 ; @102\n"
      " SBIW R30,3\n LD R2,Z ; @FF\n"
      " MOVW R26,R30\n LD R3,X+ ; @FF\n LD R3,X ; @100\n"
      " LDI R28,u+1 AND 0FFh\n LDI R29,u+1 SHRB 8\n ST -Y,R4 ; @1FF\n"
      " CLR R31\n LDI R30,5\n ST Z,R5 ; @5\n"
      " SER R31\n LDI R30,0FFh\n ST Z+,R5 ; @FFFF\n ST Z,R5 ; @0\n");
}

TEST(PointerTargets, AnythingUnfollowedLeavesThePointerUnknown) {
  ExpectTargets(
      " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"
      "l:\n LD R16,Z ; @?\n"
      " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"
      "m LD R16,Z ; @?\n"
      " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"
      " SBRC R20,0\n LDI R30,u AND 0FFh\n LD R16,Z ; @?\n"
      " LDI R30,v AND 0FFh\n INC R30\n LD R16,Z ; @?\n"
      " LDI R30,v AND 0FFh\n LD R30,Z+ ; @100\n LD R16,Z ; @?\n"
      " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n ICALL\n LD R16,Z ; @?\n"
      " LDI R26,v AND 0FFh\n LDI R27,v\n LD R16,X ; @?\n"
      " LDI R26,nowhere AND 0FFh\n LDI R27,0\n LD R16,X ; @?\n"
      " LDI R26,v and 0FFh\n LD R16,X ; @?\n"
      " LDI R26,-v AND 0FFh\n LD R16,X ; @?\n");
}

TEST(PointerTargets, TransfersByOffsetLeaveEveryPointerUnknown) {
  // The RJMP lands on the ST with Z still at v, past the LDI no label marks.
  ExpectTargets(
      " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n RJMP PC+2\n LDI R30,u AND 0FFh\n ST Z,R16 ; @?\n");
}

TEST(PointerTargets, CallsKeepThePointerUnlessTheRoutineMayChangeIt) {
  TLineList lines;
  lines.LoadFromText(std::string(kDeclarations) +
                     ".FUNC f\nf:\n LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n RCALL keeps\n LD R16,Z ;a\n"
                     " RCALL moves\n LD R16,Z ;b\n RET\n.ENDFUNC\n"
                     ".FUNC keeps\nkeeps:\n INC R20\n RET\n.ENDFUNC\n"
                     ".FUNC moves\nmoves:\n ADIW R30,1\n RET\n.ENDFUNC\n");
  EXPECT_EQ(CurrentPointerTargets(lines).TargetOf(testing::LineOf(lines, ";a")), 0x100);
  EXPECT_EQ(CurrentPointerTargets(lines).TargetOf(testing::LineOf(lines, ";b")), -1);
}

TEST(PointerTargets, ImmediateBytes) {
  TLineList lines;
  lines.LoadFromText(std::string(kDeclarations) + " NOP\n");
  struct TCase {
    const char* Text;
    std::int64_t Want;  // -1: unknown
  };
  const TCase cases[] = {
      {"v AND 0FFh", 0x00},     {"v SHRB 8", 0x01},    {"u+2 AND 0FFh", 0x01}, {"u+2 SHRB 8", 0x02},
      {"u - 0FFh AND 0FFh", 0}, {"12", 12},            {"300", -1},            {"v", -1},
      {"v+u AND 0FFh", -1},     {"x AND 0FFh", -1},
  };
  for (const TCase& c : cases) {
    std::optional<std::int64_t> value = ImmediateByte(lines.Vars, c.Text);
    EXPECT_EQ(value.value_or(-1), c.Want) << c.Text;
  }
}

}  // namespace
}  // namespace korvid
