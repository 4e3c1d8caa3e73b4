// The common exit step: tails shared by paths to one label, the PUSH/POP pairs
// it starts with, and the near misses, each simulated.
#include "passes/CommonExit.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// f takes one of three paths by R18 (1, 2 or 3): the first two jump to l9,
// the last falls into it. Main runs each and sums up what they leave.
std::string ThreePaths(const std::string& one, const std::string& two, const std::string& three) {
  std::string main = " CLR R20\n CLR R21\n";
  for (int k = 1; k <= 3; ++k)
    main += " LDI R18," + std::to_string(k) + "\n RCALL f\n LSL R20\n ADD R20,R19\n LSL R21\n ADD R21,R16\n";
  return testing::Program(main + " STS v,R20\n STS u,R21\n",
                          ".FUNC f\n.RETURNS 0\nf:\n LDI R19,1\n CLR R16\n CPI R18,1\n BREQ p1\n CPI R18,2\n"
                          " BREQ p2\n RJMP p3\np1:\n" +
                              one + " RJMP l9\np2:\n" + two + " RJMP l9\np3:\n" + three +
                              "l9:\n STS w,R19\n RET\n.ENDFUNC\n");
}

void ExpectCases(const std::vector<TCase>& cases, bool simulated = true) {
  testing::ExpectCases(CommonExit, cases, simulated);
}

TEST(CommonExit, PathsToOneLabelShareTheirTail) {
  const std::string tail = " LDI R16,1\n STS w+1,R16\n INC R19\n";
  ExpectCases({
      {"a jumping and a falling path", ThreePaths(" NOP\n", " INC R17\n" + tail, " DEC R17\n" + tail),
       {" STS w+1,R16\n INC R19\n RJMP l9"}, {" INC R17\n.BRANCH 20,_CSE0000\n RJMP _CSE0000", "_CSE0000:\n LDI R16,1"}},
      // p3 keeps its copy; p1 shares all of it (at p3's own label), p2 the last two lines.
      {"tails of two lengths", ThreePaths(tail, " LDI R16,2\n STS w+1,R16\n INC R19\n", tail),
       {}, {"p1:\n.BRANCH 20,p3\n RJMP p3", " LDI R16,2\n.BRANCH 20,_CSE0000\n RJMP _CSE0000", "_CSE0000:\n STS w+1,R16"}},
      {"a copy right before the kept one runs on into it", ThreePaths(" NOP\n", tail, tail),
       {" STS w+1,R16\n INC R19\n RJMP l9"}, {"p2:\np3:\n LDI R16,1"}},
      {"source line markers join the kept copy",
       ThreePaths(" NOP\n", " INC R17\n.LINE 10\n LDI R16,1\n.LINE 11\n STS w+1,R16\n",
                  " DEC R17\n.LINE 20\n LDI R16,1\n.LINE 21\n STS w+1,R16\n"),
       {}, {".LINE 10\n.BRANCH 20,_CSE0000\n RJMP _CSE0000", ".LINE 11\n.LINE 21\n STS w+1,R16"}},
      {"first difference at a skip", ThreePaths(" NOP\n", " SBRC R18,1\n INC R19\n", " SBRS R18,1\n INC R19\n"),
       {" RJMP _CSE0000"}, {}},
      {"LDI 0 and CLR", ThreePaths(" NOP\n", " LDI R19,0\n", " CLR R19\n"), {" RJMP _CSE0000"}, {" LDI R19,0"}},
      // A skip passes over the jump, not over the line after the other path's skip.
      {"jump in a skip's shadow",
       ThreePaths(" NOP\n", " INC R19\n SBRS R18,1\n RJMP l9\n LDI R19,9\n", " INC R19\n SBRS R18,1\n"),
       {" RJMP _CSE0000"}, {}},
  });
}

TEST(CommonExit, DataEndsAPath) {
  // The routine returns past the data word after its call: tails that differ
  // only in the data stay apart.
  const std::string skipWord = ".FUNC skip\n.RETURNS 0\nskip:\n RET\n.ENDFUNC\n";
  const std::string program =
      testing::Program(" LDS R18,v\n TST R18\n BREQ p3\n LDI R19,1\n RCALL skip\n.WORD 1\n RJMP l9\np3:\n"
                       " LDI R19,1\n RCALL skip\n.WORD 2\nl9:\n STS u,R19\n",
                       skipWord);
  ExpectCases({{"data words differ", program, {" RJMP _CSE0000"}, {".WORD 1", ".WORD 2"}}}, false);
}

TEST(CommonExit, PushPopPairsAroundCodeThatNeedsNeither) {
  auto program = [](const std::string& between, const std::string& pop = "R20") {
    return testing::CalledRoutine(" LDI R20,3\n PUSH R20\n" + between + " POP " + pop + "\n STS v,R20\n");
  };
  ExpectCases({
      {"pair around a store", program(" LDI R21,4\n STS u,R21\n"), {" PUSH R20", " POP R20"}, {}},
      {"stack pointer read between", program(" IN R28,3Dh\n IN R29,3Eh\n LDD R21,Y+1\n STS u,R21\n"), {},
       {" PUSH R20", " POP R20"}},
      {"another register popped", program(" LDI R21,4\n STS u,R21\n", "R17"), {}, {" PUSH R20", " POP R17"}},
      {"label between", program("again:\n DEC R21\n BRNE again\n"), {}, {" PUSH R20"}},
      // One of two POPs runs, each under a skip.
      {"skipped pop", program(" LDI R20,7\n LDS R21,u\n SBRC R21,0\n", "R20\n SBRS R21,0\n POP R22"), {},
       {" PUSH R20"}},
  });
}

}  // namespace
}  // namespace korvid
