// The frame load rules: where each fires and the near misses beside it, among
// them the programs that a rule blind to a moving Y, a copy of Y or a label
// entered from elsewhere would break. Every case is simulated.
#include "passes/FrameLoads.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// The routine keeps eight bytes of frame below the caller's, Y+k holding 8-k,
// and returns R17:R16. R24, R25 and R20 hold values no frame byte holds.
std::string Framed(const std::string& body) {
  return testing::CalledRoutine(" SBIW R28,8\n MOVW R26,R28\n LDI R21,8\nfill:\n ST X+,R21\n DEC R21\n BRNE fill\n"
                                " LDI R24,0A5h\n LDI R25,5Ah\n LDI R20,3Ch\n" +
                                body + " ADIW R28,8\n");
}
void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(FrameLoads, cases); }

const std::string kSlotWriter = ".FUNC g\n.RETURNS 0\ng:\n LDD R18,Y+1\n INC R18\n STD Y+1,R18\n RET\n.ENDFUNC\n";

TEST(FrameLoads, StoresForwardToTheLoadsAfterThem) {
  ExpectCases({
      {"load into another register", Framed(" STD Y+1,R24\n LDS R16,u\n LDD R25,Y+1\n MOV R16,R25\n"),
       {" LDD R25,Y+1"}, {" MOV R25,R24"}},
      {"load into the stored register", Framed(" STD Y+1,R24\n INC R20\n LDD R24,Y+1\n MOV R16,R24\n"),
       {" LDD R24,Y+1"}, {" STD Y+1,R24"}},
      {"over a branch, a store to another byte and an STS",
       Framed(" STD Y+1,R24\n TST R20\n BREQ out\n STD Y+2,R20\n STS v,R20\n LDD R16,Y+1\nout:\n"),
       {" LDD R16,Y+1"}, {" MOV R16,R24"}},
      {"stored register changed", Framed(" STD Y+1,R24\n INC R24\n LDD R16,Y+1\n"), {}, {" LDD R16,Y+1"}},
      // The loop stores the byte again before it comes back to the load.
      {"load at a loop head", Framed(" LDI R20,3\n STD Y+1,R24\nagain:\n LDD R16,Y+1\n INC R16\n STD Y+1,R16\n"
                                     " DEC R20\n BRNE again\n"),
       {}, {" LDD R16,Y+1"}},
      {"call that writes the byte", Framed(" STD Y+1,R24\n RCALL g\n LDD R16,Y+1\n") + kSlotWriter, {},
       {" LDD R16,Y+1"}},
      {"skipped store", Framed(" STD Y+1,R20\n SBRC R24,0\n STD Y+1,R24\n LDD R16,Y+1\n"), {}, {" LDD R16,Y+1"}},
      {"store through a copy of Y in X",
       Framed(" MOV R26,R28\n MOV R27,R29\n ADIW R26,1\n STD Y+1,R24\n ST X,R20\n LDD R16,Y+1\n"), {},
       {" LDD R16,Y+1"}},
      // Y moves between: the load reads another byte.
      {"ST -Y between", Framed(" STD Y+1,R24\n ST -Y,R20\n LDD R16,Y+1\n LD R17,Y+\n"), {}, {" LDD R16,Y+1"}},
      {"Y moved to reach a far byte",
       Framed(" STD Y+1,R24\n SUBI R28,0FFh\n SBCI R29,0FFh\n LDD R16,Y+1\n SUBI R28,1\n SBCI R29,0\n"), {},
       {" LDD R16,Y+1"}},
      {"Y copied without MOVW", Framed(" STD Y+1,R24\n MOV R30,R28\n MOV R31,R29\n LDD R16,Y+1\n"), {},
       {" LDD R16,Y+1"}},
      {"LD through Y at the byte 0", Framed(" STD Y+0,R24\n LD R16,Y\n"), {}, {" LD R16,Y"}},
      {"switched off", Framed(".OPTI NO_OPT_LOCAL_VARS2\n STD Y+1,R24\n LDD R16,Y+1\n"), {}, {" LDD R16,Y+1"}},
  });
}

TEST(FrameLoads, StoresEveryPathOverwritesGo) {
  const std::string loop = " LDI R19,3\nspin:\n DEC R19\n BRNE spin\n";
  ExpectCases({
      {"stored again", Framed(" STD Y+2,R24\n LDI R25,5\n STD Y+2,R25\n LDD R16,Y+2\n"), {" STD Y+2,R24"},
       {" STD Y+2,R25"}},
      {"stored again on both paths",
       Framed(" STD Y+2,R24\n TST R20\n BREQ one\n STD Y+2,R20\n RJMP both\none:\n STD Y+2,R25\nboth:\n LDD R16,Y+2\n"),
       {" STD Y+2,R24"}, {" STD Y+2,R20", " STD Y+2,R25"}},
      // The search meets the loop's lines again and must end there.
      {"branch into a tight loop", Framed(" STD Y+2,R24\n TST R20\n BREQ over\n" + loop + "over:\n STD Y+2,R20\n"
                                          " LDD R16,Y+2\n"),
       {" STD Y+2,R24"}, {" STD Y+2,R20"}},
      {"read on one path", Framed(" STD Y+2,R24\n TST R20\n BREQ one\n STD Y+2,R20\none:\n LDD R16,Y+2\n"), {},
       {" STD Y+2,R24"}},
      {"second store skipped", Framed(" STD Y+2,R24\n SBRC R20,0\n STD Y+2,R20\n LDD R16,Y+2\n"), {},
       {" STD Y+2,R24"}},
      {"ST -Y between", Framed(" STD Y+1,R24\n ST -Y,R20\n STD Y+1,R25\n LD R16,Y+\n LDD R17,Y+1\n"), {},
       {" STD Y+1,R24"}},
      {"read through a copy of Y", Framed(" STD Y+1,R24\n MOV R30,R28\n MOV R31,R29\n LDD R16,Z+1\n STD Y+1,R25\n"),
       {}, {" STD Y+1,R24"}},
      {"read through X", Framed(" MOVW R26,R28\n STD Y+1,R24\n ADIW R26,1\n LD R16,X\n STD Y+1,R25\n"), {},
       {" STD Y+1,R24"}},
      {"call that reads the byte", Framed(" STD Y+1,R24\n RCALL g\n STD Y+1,R25\n MOV R16,R18\n") + kSlotWriter, {},
       {" STD Y+1,R24"}},
      {"caller's byte, its Y unchanged at the return",
       testing::Program(" SBIW R28,2\n STD Y+1,R20\n RCALL f\n LDD R16,Y+1\n ADIW R28,2\n",
                        ".FUNC f\n.RETURNS 0\nf:\n LDI R24,0A5h\n STD Y+1,R24\n RET\n.ENDFUNC\n"),
       {}, {" STD Y+1,R24"}},
      {"only straight code under NO_OPT_LOCAL_VARS3",
       Framed(".OPTI NO_OPT_LOCAL_VARS3\n STD Y+2,R24\n TST R20\n BREQ one\n STD Y+2,R20\n RJMP both\none:\n"
              " STD Y+2,R25\nboth:\n LDD R16,Y+2\n STD Y+3,R24\n STD Y+3,R20\n LDD R17,Y+3\n"),
       {" STD Y+3,R24"}, {" STD Y+2,R24"}},
  });
}

TEST(FrameLoads, PointerCopiesOfYBecomeDisplacements) {
  ExpectCases({
      {"load, copy and step go", Framed(" MOVW R30,R28\n ADIW R30,2\n LD R16,Z\n"),
       {" MOVW R30,R28", " ADIW R30,2", " LD R16,Z"}, {" LDD R16,Y+002h"}},
      {"load and store back", Framed(" MOVW R30,R28\n LDD R16,Z+3\n INC R16\n STD Z+3,R16\n"
                                     " LDD R17,Y+3\n"),
       {" MOVW R30,R28", " LDD R16,Z+3", " STD Z+3,R16"}, {" STD Y+003h,R16"}},
      {"through X", Framed(" MOVW R26,R28\n ADIW R26,3\n LD R16,X\n"), {" LD R16,X"},
       {" LDD R16,Y+003h"}},
      {"post-increment first", Framed(" MOVW R30,R28\n LD R17,Z+\n LD R16,Z\n"), {" LD R16,Z\n"},
       {" LD R17,Z+", " LDD R16,Y+001h", " MOVW R30,R28"}},
      {"copy pushed", Framed(" MOVW R30,R28\n PUSH R30\n PUSH R31\n LD R16,Z\n POP R31\n POP R30\n"),
       {" LD R16,Z"}, {" MOVW R30,R28", " LDD R16,Y+000h"}},
      {"high byte read after", Framed(" MOVW R30,R28\n LD R16,Z\n MOV R17,R31\n"), {" LD R16,Z"},
       {" MOVW R30,R28"}},
      {"carry of the step read", Framed(" MOVW R30,R28\n ADIW R30,2\n LD R16,Z\n CLR R17\n"
                                        " ROL R17\n"),
       {" LD R16,Z"}, {" ADIW R30,2"}},
      {"Y moved between", Framed(" MOVW R30,R28\n SBIW R28,4\n LD R16,Z\n ADIW R28,4\n"), {},
       {" LD R16,Z"}},
      {"displacement beyond 63", Framed(" MOVW R30,R28\n ADIW R30,60\n STD Z+5,R24\n LDD R16,Z+5\n"), {},
       {" LDD R16,Z+5"}},
      {"skipped copy", Framed(" LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n SBRC R20,0\n MOVW R30,R28\n LD R16,Z\n"), {},
       {" LD R16,Z"}},
  });
}

TEST(FrameLoads, BooleanChainsDecideTheirCarryBranches) {
  auto tested = [](const std::string& test) {
    return Framed(" LDI R16,1\n" + test + " LDI R16,2\n RJMP done\nno:\n LDI R16,3\n RJMP done\nyes:\n LDI R16,4\n"
                  "done:\n");
  };
  ExpectCases({
      {"carry clear after CPI 0", tested(" CPI R24,0\n BRLO yes\n"), {" BRLO yes"}, {" CPI R24,0"}},
      {"always at or above 0", tested(" CPI R24,0\n BRSH yes\n"), {" BRSH yes"}, {" RJMP yes"}},
      {"past BREQ on 255 the carry is set", tested(" CPI R24,0FFh\n BREQ no\n BRLO yes\n"), {" BRLO yes"},
       {" RJMP yes"}},
      {"past BRNE on 255 the carry is clear", tested(" CPI R24,0FFh\n BRNE no\n BRLO yes\n"), {" BRLO yes"}, {}},
      {"a chain", tested(" CPI R24,0\n BRNE t\n CPI R20,0\nt:\n BRLO yes\n"), {" BRLO yes"}, {"t:"}},
      {"a line that keeps the flags first", tested(" CPI R24,0\n LDI R25,5\n BRLO yes\n"), {" BRLO yes"}, {}},
      {"compare with 1", tested(" CPI R24,1\n BRLO yes\n"), {}, {" BRLO yes"}},
      {"skipped compare", tested(" CP R24,R20\n SBRC R20,0\n CPI R24,0\n BRLO yes\n"), {}, {" BRLO yes"}},
      {"flags set again before the branch", tested(" CPI R24,0\n SUB R20,R24\n BRLO yes\n"), {}, {" BRLO yes"}},
      {"label entered from elsewhere", tested(" CP R20,R24\n BRSH e\n CPI R24,0\ne:\n BRLO yes\n"), {},
       {" BRLO yes"}},
      {"chain label jumped to from elsewhere",
       tested(" CP R20,R24\n BRLO t\n CPI R24,0\n BRNE t\n CPI R20,0\nt:\n BRLO yes\n"), {}, {" BRLO yes"}},
      {"chain of other values", tested(" CPI R24,0\n BRNE t\n CPI R20,0FFh\nt:\n BRLO yes\n"), {}, {" BRLO yes"}},
  });
}

}  // namespace
}  // namespace korvid
