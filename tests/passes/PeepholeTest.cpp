// The peephole rules: where each fires and the near misses beside it; every
// case is simulated.
#include "passes/Peephole.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

std::string Program(const std::string& body) { return testing::CalledRoutine(body); }
void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(PeepholePass, cases); }

const std::string kFrame = " LDI R28,0\n LDI R29,5\n";

TEST(Peephole, RegisterRules) {
  ExpectCases({
      {"ADIW merge", Program(" LDS R24,v\n LDI R25,1\n ADIW R24,3\n ADIW R24,5\n MOVW R16,R24\n"),
       {" ADIW R24,5"}, {" ADIW R24,00008h"}},
      {"ADIW carry read", Program(" LDS R24,v\n LDI R25,255\n ADIW R24,3\n ADIW R24,5\n LDI R16,0\n BRCC L1\n"
                                  " LDI R16,1\nL1:\n"),
       {}, {" ADIW R24,3", " ADIW R24,5"}},
      {"ADIW sum 64", Program(" LDS R24,v\n LDI R25,1\n ADIW R24,40\n ADIW R24,24\n MOVW R16,R24\n"), {},
       {" ADIW R24,40", " ADIW R24,24"}},
      {"reload after store", Program(" LDS R18,u\n STS v,R18\n LDS R16,v\n"), {" LDS R16,v"}, {}},
      {"reload of a volatile byte", Program(" LDS R18,u\n STS vol,R18\n LDS R16,vol\n"), {}, {" LDS R16,vol"}},
      {"reload after a skipped store", Program(" LDS R18,u\n SBRC R18,0\n STS v,R18\n LDS R16,v\n"), {},
       {" LDS R16,v"}},
      {"mask merge", Program(" LDS R16,v\n SBR R16,1\n INC R17\n SBR R16,4\n"), {" SBR R16,1"}, {" SBR R16,005h"}},
      {"mask merge over other bits", Program(" LDS R16,v\n SBR R16,1\n CBR R16,16\n SBR R16,4\n"), {" SBR R16,1"},
       {" CBR R16,16"}},
      {"mask read between", Program(" LDS R16,v\n SBR R16,1\n PUSH R16\n POP R18\n STS u,R18\n SBR R16,4\n"), {},
       {" SBR R16,1"}},
      {"mask cleared between", Program(" LDS R16,v\n SBR R16,1\n CBR R16,1\n SBR R16,4\n"), {}, {" SBR R16,1"}},
      {"known compare", Program(" LDI R16,1\n LDI R18,5\n CPI R18,5\n BREQ L1\n LDI R16,2\nL1:\n"),
       {" CPI R18,5", " BREQ L1"}, {" RJMP L1"}},
      {"known compare, carry read after",
       Program(" LDI R16,1\n SEC\n LDI R18,5\n CPI R18,5\n BRNE L1\n BRSH L1\n LDI R16,2\nL1:\n"), {" BRNE L1"},
       {" CPI R18,5"}},
      {"compare with another constant", Program(" LDI R16,1\n LDI R18,5\n CPI R18,6\n BREQ L1\n LDI R16,2\nL1:\n"),
       {}, {" CPI R18,6", " BREQ L1"}},
      {"frame push and pop", Program(kFrame + " LDS R16,v\n ST -Y,R16\n LD R16,Y+\n"), {" ST -Y,R16", " LD R16,Y+"},
       {}},
      {"frame pop and push", Program(kFrame + " LDS R16,v\n ST Y+,R16\n LD R16,-Y\n"), {}, {" ST Y+,R16"}},
      {"dead post-increment", Program(" LDS R30,w\n LDI R31,2\n LD R16,Z+\n"), {" LD R16,Z+"}, {" LD R16,Z"}},
      {"push and pop around code", Program(" LDS R18,v\n PUSH R18\n LDS R19,u\n INC R19\n STS u,R19\n POP R18\n"
                                           " STS v,R18\n"),
       {" PUSH R18", " POP R18"}, {}},
      {"pushed register changed and read after",
       Program(" LDS R18,v\n PUSH R18\n LDI R18,5\n STS u,R18\n POP R18\n STS v,R18\n"), {}, {" PUSH R18"}},
      {"pops swapped", Program(" LDS R18,v\n LDS R19,u\n PUSH R18\n PUSH R19\n POP R18\n POP R19\n STS v,R18\n"
                               " STS u,R19\n"),
       {}, {" PUSH R18", " PUSH R19"}},
      {"stack pointer read between",
       Program(" LDS R18,v\n PUSH R18\n IN R20,SPL\n STS u,R20\n POP R18\n STS v,R18\n"), {}, {" PUSH R18"}},
      {"post-increment with the high byte read", Program(" LDS R30,w\n LDI R31,2\n LD R16,Z+\n MOV R17,R31\n"), {},
       {" LD R16,Z+"}},
  });
}

TEST(Peephole, TransferRules) {
  const std::string tail = " LDI R16,3\nL2:\n LDI R17,4\nL3:\n";
  ExpectCases({
      {"jump to a jump", Program(" LDS R16,v\n RJMP L1\n LDI R16,5\nL1:\n RJMP L3\n" + tail), {" RJMP L1"},
       {" RJMP L3"}},
      {"branch to a jump", Program(" LDS R16,v\n TST R16\n BREQ L1\n LDI R16,5\nL1:\n RJMP L3\n" + tail),
       {" BREQ L1"}, {" BREQ L3"}},
      {"branch over a jump", Program(" LDS R16,v\n TST R16\n BREQ L1\n RJMP L2\nL1:\n" + tail),
       {" BREQ L1", " RJMP L2"}, {" BRNE L2"}},
      {"branch over a jump with its note",
       Program(" LDS R16,v\n TST R16\n.BRANCH 3,L1\n BREQ L1\n.BRANCH 20,L2\n RJMP L2\nL1:\n" + tail),
       {".BRANCH 3,L1", ".BRANCH 20,L2"}, {".BRANCH 4, L2", " BRNE L2"}},
      {"skipped branch over a jump", Program(" LDS R16,v\n TST R16\n SBRC R16,3\n BREQ L1\n RJMP L2\nL1:\n" + tail),
       {}, {" BREQ L1", " RJMP L2"}},
      {"branch to the next line", Program(" LDS R16,v\n TST R16\n BREQ L1\nL1:\n" + tail), {" BREQ L1"}, {}},
      {"skip over a jump over a jump", Program(" LDS R16,v\n SBRC R16,2\n RJMP L1\n RJMP L2\nL1:\n" + tail),
       {" SBRC R16,2", " RJMP L1"}, {" SBRS R16,2", " RJMP L2"}},
      {"jumps in a circle", Program(" LDS R16,v\n TST R16\n BREQ L3\n RJMP L1\nL1:\n RJMP L2\nL2:\n RJMP L1\nL3:\n"), {},
       {" RJMP L1"}},
  });
}

TEST(Peephole, CallsShortenExceptTheDelay) {
  const std::string routines = ".FUNC g\ng:\n INC R16\n SWAP R16\n RET\n.ENDFUNC\n.FUNC SYSTEM.UDELAY\nSYSTEM.UDELAY:\n RET\n.ENDFUNC\n";
  const std::string program = testing::Program(" LDI R16,1\n CALL g\n CALL SYSTEM.UDELAY\n", routines);
  testing::ExpectCases(PeepholePass, {{"calls", program, {" CALL g"}, {" RCALL g", " CALL SYSTEM.UDELAY"}}});
}

}  // namespace
}  // namespace korvid
