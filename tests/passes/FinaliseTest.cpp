// The closing rewrites: where each fires and the near misses beside it, among
// them the programs a rule blind to a skip, to the flags arithmetic leaves or
// to a label would break. Every case is simulated.
#include "passes/Finalise.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::Program;
using testing::TCase;

// Flags are dead where the routine returns; they may be read after main.
std::string Routine(const std::string& body) { return testing::CalledRoutine(body); }

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(Finalise, cases); }

// R16 is 1 when the branch is taken, else 2.
std::string Outcome(const std::string& branch) {
  return " LDI R16,1\n " + branch + " took\n LDI R16,2\ntook:\n";
}

const std::string kShifts = " LSR R24\n LSR R24\n LSR R24\n LSR R24\n";

TEST(Finalise, ShiftsByFourBecomeASwap) {
  const std::string load = " LDI R24,0B7h\n LDI R20,0\n";
  ExpectCases({
      {"four shifts", Routine(load + kShifts + " MOV R17,R24\n"), {" LSR R24"}, {" SWAP R24", " ANDI R24,00Fh"}},
      {"label among them", Routine(load + " LSR R24\n LSR R24\nmid:\n LSR R24\n LSR R24\n MOV R17,R24\n"), {},
       {" LSR R24"}},
      {"register below R16", Routine(" LDI R24,0B7h\n MOV R2,R24\n LSR R2\n LSR R2\n LSR R2\n LSR R2\n MOV R17,R2\n"),
       {}, {" LSR R2"}},
      {"three shifts", Routine(load + " LSR R24\n LSR R24\n LSR R24\n MOV R17,R24\n"), {}, {" LSR R24"}},
      // The shifts leave bit 3 in the carry and in overflow and sign.
      {"carry read", Routine(load + kShifts + " CLR R16\n ADC R16,R20\n MOV R17,R24\n"), {}, {" LSR R24"}},
      {"sign read", Routine(load + kShifts + Outcome("BRLT")), {}, {" LSR R24"}},
      {"first skipped", Routine(load + " SBRC R20,0\n" + kShifts + " MOV R17,R24\n"), {}, {" LSR R24"}},
  });
}

TEST(Finalise, TheTFlagSetTwice) {
  ExpectCases({
      {"SET then CLT", Program(" LDI R16,0\n SET\n CLT\n BLD R16,0\n"), {" SET"}, {" CLT"}},
      {"CLT then SET", Program(" LDI R16,0\n CLT\n SET\n BLD R16,0\n"), {" CLT"}, {" SET"}},
      // Skipped, the first leaves T as it was; gone, the skip passes over the second.
      {"first skipped", Program(" LDI R16,0\n LDI R20,0\n SET\n SBRC R20,0\n CLT\n SET\n BLD R16,0\n"), {},
       {" CLT", " SBRC R20,0"}},
  });
}

TEST(Finalise, TestsOfAResultJustComputed) {
  const std::string off = ".OPTI NO_OPT_TST\n";
  ExpectCases({
      {"after ANDI", Routine(" LDI R24,0F0h\n ANDI R24,3\n TST R24\n" + Outcome("BREQ")), {" TST R24"}, {}},
      {"after COM, sign read", Routine(" LDI R24,0Fh\n COM R24\n TST R24\n" + Outcome("BRLT")), {" TST R24"}, {}},
      {"after INC, zero read", Routine(" LDI R24,0FFh\n INC R24\n TST R24\n" + Outcome("BREQ")), {" TST R24"}, {}},
      // INC of 7Fh sets overflow, so the sign flag differs from TST's.
      {"after INC, sign read", Routine(" LDI R24,7Fh\n INC R24\n TST R24\n" + Outcome("BRLT")), {}, {" TST R24"}},
      {"after ADD, overflow read", Routine(" LDI R24,40h\n ADD R24,R24\n TST R24\n" + Outcome("BRVS")), {},
       {" TST R24"}},
      {"after LSR, carry kept", Routine(" LDI R24,3\n LSR R24\n TST R24\n" + Outcome("BRCS")), {" TST R24"}, {}},
      {"result skipped", Routine(" LDI R24,0FFh\n LDI R20,0\n SBRC R20,0\n INC R24\n TST R24\n" + Outcome("BREQ")), {},
       {" TST R24"}},
      {"another register", Routine(" LDI R24,0FFh\n LDI R25,1\n INC R24\n TST R25\n" + Outcome("BREQ")), {},
       {" TST R25"}},
      // The loop comes back to the TST with flags of its own.
      {"entered at the test", Routine(" LDI R24,2\n LDI R25,0\n ANDI R24,3\nagain:\n TST R24\n BREQ done\n DEC R24\n"
                                      " INC R25\n RJMP again\ndone:\n MOV R16,R25\n"),
       {}, {" TST R24"}},
      {"switched off", Routine(off + " LDI R24,0F0h\n ANDI R24,3\n TST R24\n" + Outcome("BREQ")), {}, {" TST R24"}},
  });
}

TEST(Finalise, MovesMadeUseless) {
  // MOVW elsewhere tells that the device has it.
  const std::string movw = " MOVW R26,R24\n";
  const std::string sources = " LDI R18,12h\n LDI R19,34h\n LDI R20,0\n";
  ExpectCases({
      {"to itself", Program(" LDI R16,5\n MOV R16,R16\n"), {" MOV R16,R16"}, {}},
      {"to itself, final moves kept", Program(".OPTI No_Opt_Final_MOV\n LDI R16,5\n MOV R16,R16\n"),
       {" MOV R16,R16"}, {}},
      {"to itself, skipped", Program(" LDI R16,5\n LDI R20,0\n SBRC R20,0\n MOV R16,R16\n INC R16\n"), {},
       {" MOV R16,R16"}},
      {"pair, low first", Program(sources + " MOV R16,R18\n MOV R17,R19\n" + movw), {" MOV R16,R18", " MOV R17,R19"},
       {" MOVW R16,R18"}},
      {"pair, high first", Program(sources + " MOV R17,R19\n MOV R16,R18\n" + movw), {" MOV R16,R18", " MOV R17,R19"},
       {" MOVW R16,R18"}},
      {"no MOVW on the device", Program(sources + " MOV R16,R18\n MOV R17,R19\n"), {}, {" MOV R17,R19"}},
      {"mixed parity", Program(sources + " MOV R16,R19\n MOV R17,R18\n" + movw), {}, {" MOV R16,R19"}},
      {"not partners", Program(sources + " MOV R16,R18\n MOV R17,R21\n" + movw), {}, {" MOV R16,R18"}},
      {"first skipped", Program(sources + " LDI R16,1\n SBRC R20,0\n MOV R16,R18\n MOV R17,R19\n" + movw), {},
       {" MOV R16,R18"}},
      {"switched off", Program(".OPTI No_Opt_Final_MOV\n" + sources + " MOV R16,R18\n MOV R17,R19\n" + movw), {},
       {" MOV R16,R18"}},
  });
}

TEST(Finalise, PairCopiedStraightBack) {
  const std::string load = " LDI R30,12h\n LDI R31,34h\n LDI R20,0\n";
  const std::string result = " MOVW R16,R24\n";
  ExpectCases({
      {"copied back", Program(load + " MOVW R24,R30\n MOVW R30,R24\n" + result), {" MOVW R30,R24"},
       {" MOVW R24,R30"}},
      {"not the inverse", Program(load + " LDI R26,5\n MOVW R24,R30\n MOVW R30,R26\n MOVW R16,R30\n"), {},
       {" MOVW R30,R26"}},
      // Skipped, the first leaves R25:R24 as they were and the second copies them.
      {"first skipped", Program(load + " LDI R24,7\n SBRC R20,0\n MOVW R24,R30\n MOVW R30,R24\n MOVW R16,R30\n"), {},
       {" MOVW R30,R24"}},
      {"switched off", Program(".OPTI NO_OPT_LOCAL_VARS\n" + load + " MOVW R24,R30\n MOVW R30,R24\n" + result), {},
       {" MOVW R30,R24"}},
  });
}

}  // namespace
}  // namespace korvid
