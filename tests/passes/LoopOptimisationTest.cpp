// Loops whose copy of Y in Z goes: the accesses the pass rebases, and the
// loops it must leave as they are, among them the programs the pass as first
// written would break (Z read by a callee or a copy, a pointer loaded through
// the copy, a copy of Y with a displacement, a state that differs at a label,
// a displacement past 63). Every case is simulated; main returns Y in R17:R16
// beside a sum of what the loop read, so both a wrong Y and a wrong byte show.
#include "passes/LoopOptimisation.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"
#include "analysis/Analysis.h"
#include "source/LineList.h"

namespace korvid {
namespace {

using testing::TCase;

// Main keeps six bytes of frame, Y+q holding 10h+q and Y+4:Y+5 the address of v;
// `body` runs three times between the loop's label and its branch back. Z is
// dead after `release`.
std::string Looped(const std::string& body, const std::string& header = " MOVW R30,R28\n",
                   const std::string& release = " ADIW R28,2\n.ENDLOOP\n", const std::string& routines = "") {
  return testing::Program(" SBIW R28,6\n.FRAME 6\n LDI R16,10h\n STD Y+0,R16\n LDI R16,11h\n STD Y+1,R16\n"
                          " LDI R16,12h\n STD Y+2,R16\n LDI R16,13h\n STD Y+3,R16\n LDI R16,v AND 0FFh\n"
                          " STD Y+4,R16\n LDI R16,v SHRB 8\n STD Y+5,R16\n LDI R20,3\n CLR R21\n.LOOP\n" +
                              header + " ST -Y,R31\n ST -Y,R30\ntop:\n" + body + " DEC R20\n BRNE top\n" + release +
                              " CLR R30\n CLR R31\n LDD R16,Y+1\n ADD R21,R16\n STS u,R21\n MOVW R16,R28\n ADD R16,R21\n ADIW R28,6\n",
                          ".FUNC p\n.RETURNS 0\np:\n INC R22\n RET\n.ENDFUNC\n"
                          ".FUNC rdz\n.RETURNS 0\nrdz:\n LDD R17,Z+1\n RET\n.ENDFUNC\n" +
                              routines);
}

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(LoopOptimisation, cases); }

TEST(LoopOptimisation, AccessesThroughTheCopyGoThroughY) {
  const std::vector<std::string> header = {" MOVW R30,R28", " ST -Y,R31", " ST -Y,R30", " ADIW R28,2"};
  ExpectCases({
      {"through Z and past the copy",
       Looped(" LDD R16,Z+1\n LD R17,Z\n ADD R16,R17\n STD Z+1,R16\n LDD R18,Y+4\n ADD R21,R18\n"), header,
       {" LDD R16,Y+001h", " LDD R17,Y+000h", " STD Y+001h,R16", " LDD R18,Y+002h"}},
      {"header with a step", Looped(" LDD R16,Z+1\n ADD R21,R16\n", " MOVW R30,R28\n ADIW R30,2\n"),
       {" ADIW R30,2", " MOVW R30,R28"}, {" LDD R16,Y+003h"}},
      {"bytes pushed in the loop", Looped(" ST -Y,R20\n LDD R16,Z+0\n LDD R17,Y+0\n LDD R18,Y+4\n LD R19,Y+\n"
                                          " ADD R21,R16\n ADD R21,R17\n ADD R21,R18\n"),
       header, {" LDD R16,Y+001h", " LDD R17,Y+0", " LDD R18,Y+002h"}},
      {"copy loaded back after a call", Looped(" RCALL p\n LDD R30,Y+0\n LDD R31,Y+1\n LDD R16,Z+2\n ADD R21,R16\n"),
       {" LDD R30,Y+0", " LDD R31,Y+1", " MOVW R30,R28"}, {" LDD R16,Y+002h"}},
      // &local[1] is Y+3 with the copy on the frame and Y+1 without it.
      {"copy of Y with a displacement", Looped(" MOVW R24,R28\n ADIW R24,3\n MOVW R26,R24\n LD R16,X\n"
                                               " ADD R21,R16\n"),
       header, {" ADIW R24,1"}},
      {"copy of Y by SUBI and SBCI", Looped(" MOVW R26,R28\n SUBI R26,0FCh\n SBCI R27,0FFh\n LD R16,X\n"
                                            " ADD R21,R16\n"),
       header, {" SUBI R26,0FEh", " SBCI R27,0FFh"}},
      {"loop entered at its test", Looped(" CLR R23\n RJMP test\nagain:\n LDD R16,Z+2\n ADD R21,R16\n INC R23\n"
                                          "test:\n CPI R23,2\n BRLO again\n"),
       header, {" LDD R16,Y+002h"}},
  });
}

TEST(LoopOptimisation, LoopsStayWhereTheCopyIsReadOrYCannotBeFollowed) {
  const std::vector<std::string> kept = {" MOVW R30,R28", " ST -Y,R31"};
  ExpectCases({
      {"copy read by a routine", Looped(" RCALL rdz\n ADD R21,R17\n"), {}, kept},
      {"copy copied", Looped(" MOVW R26,R30\n LD R16,X\n ADD R21,R16\n"), {}, kept},
      // After LDD R30,Z+4 Z no longer holds the copy: LD R16,Z reads v.
      {"pointer loaded through the copy", Looped(" LDD R30,Z+4\n LDD R31,Z+5\n LD R16,Z\n ADD R21,R16\n"
                                                 " LDD R30,Y+0\n LDD R31,Y+1\n"),
       {}, kept},
      {"copy of Y not adjusted", Looped(" MOVW R26,R28\n LD R16,X+\n ADD R21,R16\n"), {}, kept},
      {"displacement past 63", Looped(" LDD R16,Z+30\n ADD R21,R16\n", " MOVW R30,R28\n ADIW R30,40\n"), {},
       kept},
      {"LD -Z below the frame", Looped(" LD R16,-Z\n ADD R21,R16\n LDD R30,Y+0\n LDD R31,Y+1\n"), {}, kept},
      {"Z after ICALL", Looped(" LDI R30,p AND 0FFh\n LDI R31,p SHRB 8\n ICALL\n LDD R30,Y+0\n LDD R31,Y+1\n"
                               " LD R16,Z\n ADD R21,R16\n"),
       {}, kept},
      // The label is reached with the copy in Z on one path and with v's address on the other.
      {"states differ at a label", Looped(" MOV R16,R20\n ANDI R16,1\n BREQ lb\n LDI R30,v AND 0FFh\n"
                                          " LDI R31,v SHRB 8\nlb:\n LD R16,Z\n ADD R21,R16\n LDD R30,Y+0\n"
                                          " LDD R31,Y+1\n"),
       {}, kept},
      {"copy released after the loop", Looped(" LDD R16,Z+1\n ADD R21,R16\n", " MOVW R30,R28\n",
                                              ".ENDLOOP\n ADIW R28,2\n"),
       {}, kept},
      {"copy read after the loop", Looped(" LDD R16,Z+1\n ADD R21,R16\n", " MOVW R30,R28\n",
                                          " ADIW R28,2\n.ENDLOOP\n LD R16,Z\n ADD R21,R16\n"),
       {}, kept},
      {"loaded with LDI", Looped(" LD R16,Z\n ADD R21,R16\n", " LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"), {},
       {" LD R16,Z"}},
      {"switched off", ".OPTI NO_LOOP_OPT\n" + Looped(" LD R16,Z\n ADD R21,R16\n"), {}, kept},
  });
}

// The shapes the compiler never writes stop the optimisation, and the
// program is left as it was: no loop half rewritten.
TEST(LoopOptimisation, UnexpectedShapesAbortWithTheirNumber) {
  struct TAbort {
    std::string Body;
    const char* Code;
  };
  const TAbort aborts[] = {
      {" ST Z+,R20\n LDD R30,Y+0\n LDD R31,Y+1\n", "LOOP007"},
      {" LDD R16,Z+1\n ADD R21,R16\n ADIW R28,1\n SBIW R28,1\n", "LOOP015"},
      {" LDD R16,Z+1\n MOVW R26,R28\n SUBI R24,0FEh\n SBCI R27,0FFh\n", "LOOP021"},
      {" LDD R16,Z+1\n POP R16\n PUSH R16\n", "LOOP025"},
  };
  for (const TAbort& a : aborts) {
    TLineList lines, loaded;
    lines.LoadFromText(Looped(a.Body));
    loaded.LoadFromText(Looped(a.Body));
    const TAnalysis facts(lines);
    LoopOptimisation(lines, facts);
    EXPECT_TRUE(lines.Run.Aborted) << a.Code;
    EXPECT_EQ(lines.SaveToText(), loaded.SaveToText()) << a.Code;
  }
}

}  // namespace
}  // namespace korvid
