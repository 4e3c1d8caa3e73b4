// Register copies: where each rule takes one away, and the near misses where a
// copy must stay; every case is simulated.
#include "passes/RegisterMoveElimination.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

std::string Program(const std::string& body) { return testing::CalledRoutine(body); }

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(EliminateRegisterMoves, cases); }

TEST(RegisterMoveElimination, CopiesGo) {
  ExpectCases({
      {"retarget", Program(" LDS R24,v\n SUBI R24,3\n MOV R16,R24\n LDI R17,0\n"), {" MOV R16,R24"},
       {" LDS R16,v", " SUBI R16,3"}},
      {"retarget keeps a flagless LDI 0 between compare and branch",
       Program(" LDS R18,v\n LDI R16,1\n CPI R18,3\n LDI R24,0\n MOV R16,R24\n BRNE L1\n LDI R16,7\nL1:\n"),
       {" MOV R16,R24"}, {" LDI R16,0"}},
      {"exchange", Program(" LDS R16,v\n LDS R24,u\n ADD R24,R16\n MOV R16,R24\n LDI R17,0\n"), {" MOV R16,R24"},
       {" LDS R24,v", " LDS R16,u", " ADD R16,R24"}},
      {"forward into a store", Program(" LDS R18,v\n MOV R24,R18\n STS u,R24\n MOV R16,R18\n INC R18\n STS v,R18\n"),
       {" MOV R24,R18"}, {" STS u,R18"}},
      {"forward into PUSH", Program(" LDS R18,v\n MOV R24,R18\n PUSH R24\n POP R16\n STS u,R18\n LDI R17,0\n"),
       {" MOV R24,R18"}, {" PUSH R18"}},
      {"forward after the retarget needs R2", Program(" LDS R24,v\n SUBI R24,5\n MOV R2,R24\n STS u,R2\n"),
       {" MOV R2,R24"}, {" SUBI R24,5", " STS u,R24"}},
      {"pair forward", Program(" LDS R16,v\n LDS R17,u\n MOV R24,R16\n MOV R25,R17\n MOVW R20,R24\n STS v,R20\n"
                               " STS u,R21\n"),
       {" MOV R24,R16", " MOV R25,R17"}, {" MOVW R20,R16"}},
      {"pair definitions", Program(" LDS R24,v\n LDS R25,u\n MOVW R16,R24\n"), {" MOVW R16,R24"},
       {" LDS R16,v", " LDS R17,u"}},
      {"pair definitions copying from the target", Program(" LDS R16,v\n MOV R24,R16\n MOV R25,R17\n MOVW R16,R24\n"),
       {" MOVW R16,R24", " MOV R24,R16", " MOV R25,R17"}, {" LDS R16,v"}},
  });
}

TEST(RegisterMoveElimination, CopiesStay) {
  ExpectCases({
      {"label between", Program(" LDS R24,v\nL1:\n MOV R16,R24\n LDI R17,0\n"), {}, {" MOV R16,R24"}},
      {"skipped copy", Program(" LDS R24,v\n LDS R16,u\n SBRC R24,0\n MOV R16,R24\n LDI R17,0\n"), {},
       {" MOV R16,R24"}},
      {"MUL writes R0 after its definition",
       Program(" LDS R0,v\n STS u,R0\n LDS R22,u\n MUL R22,R22\n MOV R16,R0\n LDI R17,0\n"), {}, {" MOV R16,R0"}},
      {"the copy's register used as pointer",
       Program(" LDI R27,2\n LDI R24,1\n ST X,R18\n LDI R26,1\n ST X,R18\n MOV R26,R24\n ST X,R18\n"), {},
       {" MOV R26,R24"}},
      {"the original read later", Program(" LDS R24,v\n MOV R16,R24\n STS u,R24\n LDI R17,0\n"), {},
       {" MOV R16,R24"}},
      {"CPI cannot name R2", Program(" LDS R2,v\n MOV R24,R2\n CPI R24,5\n BRNE L1\n STS u,R2\nL1:\n"), {},
       {" MOV R24,R2"}},
      {"ADIW reads the copy as a pair", Program(" MOV R24,R16\n ADIW R24,1\n STS v,R24\n"), {}, {" MOV R24,R16"}},
      {"ADD names the copy twice", Program(" MOV R24,R16\n ADD R24,R24\n IN R18,SREG\n STS v,R18\n"), {},
       {" MOV R24,R16"}},
      {"the high copy live after MOVW",
       Program(" LDS R16,v\n LDS R17,u\n MOV R24,R16\n MOV R25,R17\n MOVW R20,R24\n STS v,R20\n STS u,R25\n"), {},
       {" MOV R25,R17"}},
      {"pair definition reads what it defines", Program(" LDS R24,v\n LDS R25,u\n INC R25\n MOVW R16,R24\n"), {},
       {" MOVW R16,R24"}},
      {"pair definition skipped", Program(" LDS R24,v\n LDS R25,u\n SBRC R24,0\n LDS R25,v\n MOVW R16,R24\n"), {},
       {" MOVW R16,R24"}},
      {"switched off", Program(".OPTI NO_CHECK_MOV\n LDS R24,v\n MOV R16,R24\n LDI R17,0\n"), {}, {" MOV R16,R24"}},
  });
}

}  // namespace
}  // namespace korvid
