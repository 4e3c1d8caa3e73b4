// Calls of small routines inlined by the peephole walk, each beside the near
// misses that would change behaviour if inlined; every case is simulated.
#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"
#include "passes/Peephole.h"

namespace korvid {
namespace {

using testing::TCase;

std::string Routine(const std::string& name, const std::string& body) {
  return ".FUNC " + name + "\n.RETURNS 0\n" + name + ":\n" + body + " RET\n.ENDFUNC\n";
}

const std::string kRoutines =
    Routine("e0", "") + Routine("e1", " COM R16\n") + Routine("twice", " COM R16\n INC R16\n") +
    Routine("g", " SUBI R16,3\n SWAP R16\n") + Routine("ej", " RJMP g\n") + Routine("sp", " IN R16,SPL\n") +
    Routine("skip", " SBRC R16,0\n RET\n INC R16\n") + Routine("branch", " BRNE g\n") +
    Routine("e2", " LDD _ACCA,Y+0\n COM _ACCA\n") + Routine("second", " LDD _ACCA,Y+1\n COM _ACCA\n") +
    Routine("releases", " LDD _ACCA,Y+0\n ADIW R28,1\n") + Routine("viax", " LDD _ACCA,Y+0\n LD R16,X\n") +
    ".ENTRYUNIT ent\n" + Routine("ent", "");

// Main with Y on a frame stack of its own; R17:R16 come back, the flags do not.
std::string Program(const std::string& body) {
  return testing::Program(" LDI R28,0\n LDI R29,5\n LDI R17,9\n" + body + " SUB R0,R0\n", kRoutines);
}

TEST(Inlining, RoutinesOfNoOrOneInstruction) {
  testing::ExpectCases(PeepholePass, {
      {"empty routine and its note", Program(" LDS R16,v\n.BRANCH 18, e0\n RCALL e0\n"), {" RCALL e0", ".BRANCH 18, e0"},
       {}},
      {"empty routine in a skip shadow", Program(" LDS R16,v\n SBRC R16,0\n RCALL e0\n LDI R16,5\n"), {},
       {" RCALL e0"}},
      {"entry label", Program(" LDS R16,v\n RCALL ent\n"), {}, {" RCALL ent"}},
      {"one instruction", Program(" LDS R16,v\n CALL e1\n"), {" CALL e1", " RCALL e1"}, {}},
      {"one instruction in a skip shadow", Program(" LDS R16,v\n SBRC R16,0\n RCALL e1\n"), {}, {" RCALL e1"}},
      {"NO_ALLOW_INLINE keeps one instruction, not an empty routine",
       Program(".OPTI NO_ALLOW_INLINE\n LDS R16,v\n RCALL e1\n RCALL e0\n"), {" RCALL e0"}, {" RCALL e1"}},
      {"ALLOW_INLINE again", Program(".OPTI NO_ALLOW_INLINE\n.OPTI ALLOW_INLINE\n LDS R16,v\n RCALL e1\n"),
       {" RCALL e1"}, {}},
      {"two instructions", Program(" LDS R16,v\n RCALL twice\n"), {}, {" RCALL twice"}},
      {"a jump becomes a call of its label", Program(" LDS R16,v\n.BRANCH 18, ej\n RCALL ej\n"),
       {" RCALL ej", ".BRANCH 18, ej"}, {" RCALL g", ".BRANCH 18, g"}},
      {"stack pointer read", Program(" RCALL sp\n"), {}, {" RCALL sp"}},
      {"skip", Program(" LDS R16,v\n RCALL skip\n"), {}, {" RCALL skip"}},
      {"branch", Program(" LDS R16,v\n TST R16\n RCALL branch\n"), {}, {" RCALL branch"}},
  });
}

TEST(Inlining, RoutinesOfAParameterAndOneInstruction) {
  testing::ExpectCases(PeepholePass, {
      {"parameter", Program(" LDS R18,v\n ST -Y,R18\n RCALL e2\n ADIW R28,1\n MOV R16,R17\n"),
       {" ST -Y,R18", " RCALL e2", " ADIW R28,1\n MOV R16,R17"}, {}},
      {"parameter already in _ACCA", Program(" LDS R17,v\n ST -Y,R17\n RCALL e2\n ADIW R28,1\n MOV R16,R17\n"),
       {" ST -Y,R17", " RCALL e2", " MOV _ACCA,R17"}, {}},
      {"one of three parameter bytes",
       Program(" LDS R18,v\n ST -Y,R18\n ST -Y,R18\n ST -Y,R18\n RCALL e2\n ADIW R28,3\n MOV R16,R17\n"
               " LD R18,Y\n ADD R16,R18\n"),
       {" RCALL e2", " ADIW R28,3"}, {" ADIW R28,2"}},
      {"second parameter byte", Program(" LDS R18,v\n LDS R19,u\n ST -Y,R18\n ST -Y,R19\n RCALL second\n"
                                        " ADIW R28,2\n MOV R16,R17\n"),
       {}, {" RCALL second"}},
      {"release not next", Program(" LDS R18,v\n ST -Y,R18\n RCALL e2\n MOV R16,R17\n ADIW R28,1\n"), {},
       {" RCALL e2"}},
      {"no push before the call", Program(" LDS R18,v\n STD Y+0,R18\n RCALL e2\n ADIW R28,1\n MOV R16,R17\n"), {},
       {" RCALL e2"}},
      {"routine moves Y", Program(" LDS R18,v\n ST -Y,R18\n RCALL releases\n MOV R16,R17\n MOV R17,R28\n"), {},
       {" RCALL releases"}},
      {"flags of the release read", Program(" LDS R18,v\n ST -Y,R18\n RCALL e2\n ADIW R28,1\n MOV R16,R17\n"
                                            " BRNE L1\n INC R16\nL1:\n"),
       {}, {" RCALL e2"}},
      // X points at the pushed byte, which the inlined call would no longer store.
      {"parameter read through a pointer",
       Program(" LDI R18,77\n MOVW R26,R28\n SBIW R26,1\n ST -Y,R18\n RCALL viax\n ADIW R28,1\n"), {},
       {" RCALL viax"}},
      {"label between push and call", Program(" LDS R18,v\n ST -Y,R18\nL1:\n RCALL e2\n ADIW R28,1\n MOV R16,R17\n"),
       {}, {" RCALL e2"}},
  });
}

// Over 4 KiB of data between main and `far`: RCALL cannot reach across it.
TEST(Inlining, CallsReachAcrossData) {
  std::string data;
  for (int row = 0; row < 70; ++row) data += " .ASCII '" + std::string(64, 'k') + "'\n";
  const std::string far = Routine("farj", " JMP far\n") + Routine("nearg", " INC R16\n NEG R16\n") + "tab:\n" + data +
                          Routine("far", " SUBI R16,5\n SWAP R16\n");
  const std::string program = testing::Program(" LDS R16,v\n RCALL farj\n CALL far\n CALL nearg\n", far);
  testing::ExpectCases(PeepholePass, {{"far jump called", program, {" RCALL farj", " RCALL far"},
                                       {" CALL far", " RCALL nearg"}}});
}

}  // namespace
}  // namespace korvid
