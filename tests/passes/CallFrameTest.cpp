// The saves of Y around code that moves it: where the pass drops them and the
// near misses beside each, among them the programs the rule as first written
// would break (flags after the restore, a branch or skip in the stretch, a
// routine that pops its caller's bytes). Every case is simulated; main
// returns Y, so a Y put back wrongly shows.
#include "passes/CallFrame.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// g takes its two parameters off the Y frame; p leaves Y alone; h looks at
// the byte its caller pushed last; s moves Y by a different amount on each path.
const std::string kRoutines =
    ".FUNC g\n.RETURNS 2\ng:\n LD R16,Y+\n LD R17,Y+\n RET\n.ENDFUNC\n"
    ".FUNC p\n.RETURNS 0\np:\n INC R20\n RET\n.ENDFUNC\n"
    ".FUNC h\n.RETURNS 0\nh:\n POP R30\n POP R31\n POP R20\n PUSH R20\n PUSH R31\n PUSH R30\n RET\n.ENDFUNC\n"
    ".FUNC s\n.RETURNS 0\ns:\n TST R20\n BREQ s1\n ADIW R28,1\ns1:\n RET\n.ENDFUNC\n";

// Main runs `stretch` and returns Y with R20 added, so both a wrong Y and a wrong R20 show.
std::string Saved(const std::string& stretch) {
  return testing::Program(" SBIW R28,4\n LDI R16,11h\n LDI R17,22h\n LDI R20,3\n LDI R24,5\n" + stretch +
                              " MOVW R16,R28\n ADD R16,R20\n ADIW R28,4\n",
                          kRoutines);
}

const std::string kPush = " PUSH R28\n PUSH R29\n";
const std::string kPop = " POP R29\n POP R28\n";

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(CallFrame, cases); }

TEST(CallFrame, SavesOfYWithAKnownMovementGo) {
  const std::vector<std::string> save = {" PUSH R28", " PUSH R29", " POP R29", " POP R28"};
  ExpectCases({
      {"parameters taken off by the routine", Saved(kPush + " ST -Y,R16\n ST -Y,R17\n RCALL g\n" + kPop), save,
       {" RCALL g"}},
      {"pushed and released in the stretch", Saved(kPush + " SBIW R28,3\n STD Y+1,R16\n ADIW R28,3\n" + kPop), save,
       {}},
      {"bytes left: one ADIW", Saved(kPush + " ST -Y,R16\n ST -Y,R17\n RCALL p\n" + kPop), save, {" ADIW R28,2"}},
      {"joined with the release after it", Saved(kPush + " ST -Y,R16\n ST -Y,R17\n RCALL p\n" + kPop + " ADIW R28,3\n"),
       save, {" ADIW R28,5"}},
      {"release too large to join", Saved(kPush + " ST -Y,R16\n RCALL p\n" + kPop + " ADIW R28,63\n"),
       {" PUSH R28", " POP R28"}, {" ADIW R28,1", " ADIW R28,63"}},
      {"Y moved by SUBI and SBCI", Saved(kPush + " SUBI R28,5\n SBCI R29,0\n STD Y+1,R16\n" + kPop), save,
       {" ADIW R28,5"}},
      // The inner save puts Y back by itself: what lies inside is not counted.
      {"nested save", Saved(kPush + " ST -Y,R16\n" + kPush + " LDI R28,v AND 0FFh\n LDI R29,v SHRB 8\n ST Y,R17\n" +
                            kPop + kPop),
       {}, {" ADIW R28,1", " LDI R28,v AND 0FFh", " ST Y,R17"}},
      {"switched off here only",
       Saved(".OPTI NO_CALL_FRAME_OPT_LOCAL\n" + kPush + " ST -Y,R16\n RCALL g\n" + kPop +
             ".OPTI CALL_FRAME_OPT_LOCAL\n" + kPush + " ST -Y,R17\n ST -Y,R16\n RCALL g\n" + kPop),
       {}, {" PUSH R28", " POP R28"}},
  });
}

TEST(CallFrame, SavesStayWhereTheMovementIsNotKnownOrTheRestoreIsNeeded) {
  ExpectCases({
      // ADIW sets the flags that the compare left for the branch.
      {"flags read after the restore",
       Saved(kPush + " ST -Y,R16\n CPI R24,5\n" + kPop + " BRNE ne\n INC R20\nne:\n ADIW R28,1\n"), {},
       {" POP R28"}},
      // The branch goes to a second restore: without the save it would pop the return address.
      {"branch in the stretch",
       Saved(kPush + " ST -Y,R16\n TST R24\n BRNE other\n" + kPop + " ADIW R28,1\n RJMP done\nother:\n" + kPop +
             " ADIW R28,1\n INC R20\ndone:\n"),
       {}, {" PUSH R28"}},
      {"skipped push onto the frame", Saved(kPush + " SBRC R24,0\n ST -Y,R16\n" + kPop), {}, {" PUSH R28"}},
      {"routine looks at the caller's bytes", Saved(kPush + " RCALL h\n" + kPop), {}, {" PUSH R28"}},
      {"routine moves Y by different amounts", Saved(kPush + " RCALL s\n" + kPop), {}, {" PUSH R28"}},
      {"indirect call", Saved(kPush + " LDI R30,p AND 0FFh\n LDI R31,p SHRB 8\n ICALL\n" + kPop), {}, {" PUSH R28"}},
      {"Y loaded", Saved(kPush + " MOV R28,R24\n ST Y,R16\n" + kPop), {}, {" PUSH R28"}},
      {"released more than pushed", Saved(kPush + " LD R16,Y+\n" + kPop), {}, {" PUSH R28"}},
      {"64 bytes left", Saved(kPush + " SBIW R28,32\n SBIW R28,32\n" + kPop), {}, {" PUSH R28"}},
      {"no PUSH R29 next", Saved(" PUSH R28\n PUSH R16\n PUSH R29\n ST -Y,R16\n POP R29\n POP R16\n POP R28\n"), {},
       {" PUSH R28"}},
      {"pops swapped", Saved(kPush + " ST -Y,R16\n POP R28\n POP R29\n"), {}, {" POP R29"}},
      {"jump in the stretch", Saved(kPush + " ST -Y,R16\n RJMP on\non:\n" + kPop), {}, {" PUSH R28"}},
      {"label before the release", Saved(kPush + " ST -Y,R16\n ST -Y,R16\n RCALL p\n" + kPop + " TST R24\n BREQ rel\n"
                                         " INC R20\nrel:\n ADIW R28,3\n"),
       {" PUSH R28"}, {" ADIW R28,2", " ADIW R28,3"}},
  });
}

}  // namespace
}  // namespace korvid
