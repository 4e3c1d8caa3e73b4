// The pointer rewrites: where each fires and the near misses beside it, among
// them the programs a walk that folds as it goes, or is blind to a branch, a
// skip, live flags, a store to a slot or a move of Y, would break. Every case
// is simulated.
#include "passes/PointerOptimisation.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// The routine keeps four bytes of frame, Y+1 and Y+2 holding a pointer to
// 214h in a table from 210h to 25Fh whose bytes count down from 80. R24, R25
// and R20 hold values the table does not; Z and the flags are dead at the end.
std::string Framed(const std::string& body) {
  return testing::CalledRoutine(
      " SBIW R28,4\n LDI R26,10h\n LDI R27,2\n LDI R21,80\nfill:\n ST X+,R21\n DEC R21\n BRNE fill\n"
      " LDI R24,14h\n LDI R25,2\n STD Y+1,R24\n STD Y+2,R25\n LDI R24,0A5h\n LDI R25,5Ah\n LDI R20,3\n"
      " LDD R30,Y+1\n LDD R31,Y+2\n" +
      body + " ADIW R28,4\n");
}
void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(PointerOptimisation, cases); }

// R16 becomes what R30 held, so Z is read after the body.
const std::string kZRead = " MOV R16,R30\n";

TEST(PointerOptimisation, MovesFoldIntoDisplacements) {
  ExpectCases({
      {"loads after a move, Z dead", Framed(" ADIW R30,2\n LD R16,Z+\n LD R17,Z\n"), {" ADIW R30,2", " LD R16,Z+"},
       {" LDD R16,Z+2", " LDD R17,Z+3"}},
      {"moves both ways", Framed(" ADIW R30,3\n LD R16,-Z\n SBIW R30,2\n LD R17,Z\n"),
       {" ADIW R30,3", " SBIW R30,2", " LD R16,-Z"}, {" LDD R16,Z+2", " LD R17,Z"}},
      {"stores", Framed(" ADIW R30,1\n ST Z+,R24\n STD Z+1,R25\n LD R16,Z\n LD R17,Z+\n"), {" ADIW R30,1"},
       {" STD Z+1,R24", " STD Z+3,R25", " LDD R16,Z+2", " LDD R17,Z+2"}},
      {"Z read after: moved back once", Framed(" ADIW R30,2\n LD R16,Z+\n ADIW R30,1\n LD R17,Z\n" + kZRead),
       {" ADIW R30,2", " ADIW R30,1"}, {" LDD R16,Z+2", " LDD R17,Z+4", " ADIW R30,4"}},
      {"displacement 63", Framed(" ADIW R30,1\n LDD R16,Z+62\n"), {" ADIW R30,1"}, {" LDD R16,Z+63"}},
      // A move put back where Z is read costs what the folded one saved.
      {"displacement 64", Framed(" ADIW R30,2\n LDD R16,Z+62\n"), {}, {" ADIW R30,2", " LDD R16,Z+62"}},
      {"switched off", Framed(".OPTI NO_OPTI_PTR\n ADIW R30,2\n LD R16,Z+\n LD R17,Z\n"), {}, {" ADIW R30,2"}},
  });
}

TEST(PointerOptimisation, NoFoldWhereTheCodeAsWrittenDiffers) {
  ExpectCases({
      // BRNE reads the flags the ADIW sets.
      {"flags of the move read", Framed(" CP R24,R20\n ADIW R30,2\n LDD R16,Z+1\n BRNE out\n LDI R16,9\nout:\n"), {},
       {" ADIW R30,2"}},
      // The move would go back right where the compare's flags are read.
      {"compare before the move back",
       Framed(" ADIW R30,2\n LD R16,Z+\n CP R16,R24\n MOV R17,R30\n BRNE out\n LDI R16,9\nout:\n"), {},
       {" ADIW R30,2", " LD R16,Z+"}},
      {"skip before a move", Framed(" SBRC R20,0\n ADIW R30,1\n LD R16,Z\n"), {}, {" ADIW R30,1"}},
      {"skip while a move is pending", Framed(" ADIW R30,1\n LD R16,Z\n SBRC R20,0\n ADIW R30,1\n LD R17,Z\n"), {},
       {" ADIW R30,1", " LD R16,Z"}},
      // The branch takes Z as moved to a load of Z; unmoved, it would read a byte lower.
      {"branch to a read of Z", Framed(" ADIW R30,1\n TST R20\n BREQ on\n LD R16,Z+\non:\n LD R17,Z\n"), {},
       {" ADIW R30,1", " LD R16,Z+"}},
      // R20 is not 0: the branch is taken.
      {"branch to a read of Z, the same move on both paths",
       Framed(" ADIW R30,1\n TST R20\n BRNE on\n LD R16,Z\non:\n LD R17,Z\n"), {" ADIW R30,1"},
       {" LDD R16,Z+1", " LDD R17,Z+1"}},
      // The move put back before the skip would be missing on the branch's path.
      {"skip before the branch's label",
       Framed(" ADIW R30,1\n LD R16,Z\n ADIW R30,1\n TST R20\n BRNE on\n LD R18,Z\n SBRC R20,1\n INC R16\non:\n"
              " LD R17,Z\n"),
       {}, {" ADIW R30,1", " LD R16,Z", " LD R17,Z"}},
      // The second branch takes Z a byte further than the first and the fall-through.
      {"two branches to the read of Z",
       Framed(" ADIW R30,1\n TST R20\n BREQ on\n LD R16,Z+\n CPI R24,1\n BRNE on\n SBIW R30,1\non:\n LD R17,Z\n"),
       {}, {" ADIW R30,1", " LD R16,Z+"}},
      {"branch where Z is dead", Framed(" ADIW R30,1\n TST R20\n BREQ on\n LD R16,Z+\n LD R17,Z\non:\n"),
       {" ADIW R30,1"}, {" LDD R16,Z+1", " LDD R17,Z+2"}},
      {"SUBI and SBCI on Z", Framed(" ADIW R30,2\n LD R16,Z\n SUBI R30,1\n SBCI R31,0\n LD R17,Z\n"), {},
       {" ADIW R30,2", " SUBI R30,1"}},
      {"load of ZH through Z", Framed(" ADIW R30,1\n LD R16,Z\n LDD R31,Z+2\n MOV R17,R31\n"), {}, {" ADIW R30,1"}},
      {"Y moved by ADIW", Framed(" ADIW R30,1\n LD R16,Z+\n ADIW R28,1\n LD R17,Z\n SBIW R28,1\n"), {},
       {" ADIW R30,1", " LD R16,Z+"}},
      {"call reads Z", Framed(" ADIW R30,2\n LD R16,Z\n RCALL g\n") +
                           ".FUNC g\n.RETURNS 0\ng:\n LD R17,Z\n RET\n.ENDFUNC\n",
       {}, {" ADIW R30,2"}},
  });
}

TEST(PointerOptimisation, ReloadsOfTheSameSlotsGo) {
  // LD Y+ moves Y a byte up: the slots are Y+0 and Y+1 until ST -Y moves it back.
  const std::string up = " LD R18,Y+\n";
  const std::string down = " ST -Y,R18\n";
  const std::string reload = " LDD R30,Y+0\n LDD R31,Y+1\n";
  ExpectCases({
      {"after folded moves", Framed(" ADIW R30,2\n LD R16,Z\n" + up + reload + " LD R17,Z\n" + down),
       {" ADIW R30,2", " LDD R30,Y+0", " LDD R31,Y+1"}, {" LDD R16,Z+2", " LD R17,Z"}},
      {"with nothing moved", Framed(" LD R16,Z\n" + up + reload + " LDD R17,Z+1\n" + down), {" LDD R30,Y+0"}, {}},
      {"slot stored before", Framed(" ADIW R30,2\n LD R16,Z\n STD Y+1,R24\n" + up + reload + " LD R17,Z\n" + down),
       {" ADIW R30,2"}, {" LDD R30,Y+0", " LDD R31,Y+1"}},
      {"slot stored through X", Framed(" MOVW R26,R28\n ADIW R26,1\n ADIW R30,2\n LD R16,Z\n ST X+,R24\n" + up + reload +
                                       " LD R17,Z\n" + down),
       {}, {" LDD R30,Y+0"}},
      {"one byte reloaded", Framed(" ADIW R30,2\n LD R16,Z\n" + up + " LDD R30,Y+0\n LD R17,Z\n" + down), {},
       {" LDD R30,Y+0", " ADIW R30,2"}},
      {"another slot", Framed(" LD R16,Z\n" + up + " LDD R30,Y+1\n LDD R31,Y+2\n LD R17,Z\n" + down), {},
       {" LDD R30,Y+1", " LDD R31,Y+2"}},
  });
}

TEST(PointerOptimisation, CopyOfZLoadedFromTheSlots) {
  ExpectCases({
      {"into X after a move", Framed(" ADIW R30,2\n MOVW R26,R30\n LD R16,X+\n LD R17,X\n"),
       {" MOVW R26,R30", " ADIW R30,2", " LDD R30,Y+1"}, {" LDD R26,Y+1", " LDD R27,Y+2", " ADIW R26,2"}},
      {"into R18, nothing moved", Framed(" MOVW R18,R30\n MOV R16,R18\n MOV R17,R19\n"), {" MOVW R18,R30"},
       {" LDD R18,Y+1", " LDD R19,Y+2"}},
      // No ADIW on R18.
      {"into R18 after a move", Framed(" ADIW R30,2\n MOVW R18,R30\n MOV R16,R18\n"), {},
       {" ADIW R30,2", " MOVW R18,R30"}},
      // Loaded into Z, it would be read as unloaded.
      {"Z read through before the copy", Framed(" LDD R16,Z+1\n MOVW R26,R30\n LD R17,X\n"), {},
       {" MOVW R26,R30", " LDD R30,Y+1"}},
      {"Z read after the copy", Framed(" MOVW R26,R30\n LD R16,X\n LD R17,Z\n"), {}, {" MOVW R26,R30"}},
      {"R24 read before the copy", Framed(" MOV R16,R24\n MOVW R24,R30\n MOV R17,R25\n"), {}, {" MOVW R24,R30"}},
      // The branch reads Z at its target.
      {"branch before the copy",
       Framed(" TST R20\n BRNE on\n MOVW R26,R30\n LD R16,X\n RJMP out\non:\n LD R16,Z\nout:\n"), {},
       {" MOVW R26,R30"}},
      // Loaded into R28, Y would have moved before the second load.
      {"into Y", Framed(" STD Y+3,R30\n STD Y+4,R31\n MOVW R18,R28\n LDD R30,Y+3\n LDD R31,Y+4\n MOVW R28,R30\n"
                        " LD R16,Y\n MOVW R28,R18\n"),
       {}, {" MOVW R28,R30", " LDD R30,Y+3"}},
  });
}

TEST(PointerOptimisation, PushedZReloadedFromTheSlots) {
  // Z pushed around a read of another pointer, and read again after the pops.
  const std::string other = " LDI R30,20h\n LDI R31,2\n LD R16,Z\n";
  const std::string pushes = " PUSH R30\n PUSH R31\n", pops = " POP R31\n POP R30\n";
  ExpectCases({
      {"loads only pushed", Framed(pushes + other + pops + " LD R17,Z\n"),
       {" PUSH R30", " POP R30", " LDD R30,Y+1\n LDD R31,Y+2"}, {" LDD R31,Y+2\n LDD R30,Y+1\n LD R17,Z"}},
      {"Z read before the pushes", Framed(" MOV R17,R30\n" + pushes + other + pops + " LD R18,Z\n ADD R17,R18\n"),
       {" PUSH R31", " POP R31"}, {" LDD R30,Y+1\n LDD R31,Y+2\n MOV R17,R30"}},
      {"other pushes between", Framed(pushes + " PUSH R24\n" + other + " POP R24\n" + pops + " LD R17,Z\n"),
       {" PUSH R30", " POP R30"}, {" PUSH R24", " POP R24"}},
      // Y a byte up at the pops: the slots are Y+0 and Y+1 there.
      {"Y moved between", Framed(pushes + " LD R18,Y+\n" + other + pops + " LD R17,Z\n ST -Y,R18\n"),
       {" PUSH R30", " POP R30"}, {" LDD R31,Y+1", " LDD R30,Y+0"}},
      {"Y moved past the slots", Framed(pushes + " LD R18,Y+\n LD R18,Y+\n LD R18,Y+\n" + other + pops +
                                        " LD R17,Z\n ST -Y,R18\n ST -Y,R18\n ST -Y,R18\n"),
       {}, {" PUSH R30", " POP R30"}},
      // Y back as pushed: the byte it stepped no longer counts.
      {"Y popped between", Framed(pushes + other + " PUSH R28\n PUSH R29\n LD R18,Y+\n POP R29\n POP R28\n" + pops +
                                  " LD R17,Z\n"),
       {}, {" PUSH R30", " POP R30"}},
      {"slot stored between", Framed(pushes + " STD Y+1,R24\n" + other + pops + " LD R17,Z\n"), {},
       {" PUSH R30", " POP R30"}},
      // Put back before the pushes, the move would be lost at the pops.
      {"move pending at the pushes", Framed(" ADIW R30,1\n" + pushes + other + pops + " LD R17,Z\n"), {},
       {" PUSH R30", " POP R30", " ADIW R30,1"}},
      {"two pop sites", Framed(pushes + other + " TST R20\n BRNE two\n" + pops + " LD R17,Z\n RJMP out\ntwo:\n" +
                               pops + " LDD R17,Z+1\nout:\n"),
       {}, {" PUSH R30", " POP R30"}},
  });
}

}  // namespace
}  // namespace korvid
