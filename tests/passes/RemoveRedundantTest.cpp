// Each rewrite of the redundant-line walk with the program where it fires and
// the near misses where it must not; behaviour is checked by simulation.
#include "passes/RemoveRedundant.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "passes/Driver.h"
#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"
#include "../passes/RunPass.h"
#include "source/LineList.h"
#include "verify/Toolchain.h"
#include "verify/Verify.h"

namespace korvid {
namespace {

using testing::Program;

std::string Optimised(const std::string& program) { return testing::RunPass(program, RemoveRedundant); }

using testing::Contains;
using testing::TCase;
using testing::ToolchainPresent;

void ExpectCases(const std::vector<TCase>& cases, bool simulated = true) {
  testing::ExpectCases(RemoveRedundant, cases, simulated);
}

TEST(RemoveRedundant, DeadWritesGoUnlessAPathReadsThem) {
  ExpectCases({
      {"overwritten register", Program(" LDI R16,5\n LDI R16,7\n STS v,R16\n"), {" LDI R16,5"}, {" LDI R16,7"}},
      {"read on the branch path", Program(" LDI R16,5\n CPI R20,1\n BREQ s\n LDI R16,7\ns:\n STS v,R16\n"),
       {},
       {" LDI R16,5"}},
      {"in a skip shadow, then overwritten",
       Program(" LDI R16,5\n SBRC R20,0\n LDI R16,7\n LDI R16,9\n STS v,R16\n"),
       {" LDI R16,5"},
       {" LDI R16,7", " LDI R16,9"}},
      {"flags read later", Program(" CPI R20,1\n LDI R16,1\n BREQ s\n STS v,R16\ns:\n"), {}, {" CPI R20,1"}},
      {"the returned registers stay", Program(" LDI R16,1\n LDI R17,2\n"), {}, {" LDI R16,1", " LDI R17,2"}},
      {"volatile port read stays", Program(" LDS R18,PORTB\n LDI R18,1\n STS v,R18\n"), {}, {" LDS R18,PORTB"}},
  });
}

// A line that only fed a removed one dies in the same walk, and so does a
// branch left pointing at the next line, with the compare that fed it.
TEST(RemoveRedundant, ChainsDieInOneWalk) {
  using testing::CalledRoutine;
  const std::string chain = " LDS R18,u\n MOV R19,R18\n CP R19,R20\n";
  const std::string branch = " LDS R18,u\n CPI R18,3\n BREQ s\n LDI R16,1\ns:\n LDI R16,2\n";
  ExpectCases({
      {"a compare and what it read", CalledRoutine(chain), {" LDS R18,u", " MOV R19,R18", " CP R19,R20"}, {}},
      {"a branch that now goes to the next line", CalledRoutine(branch),
       {" LDS R18,u", " CPI R18,3", " BREQ s", " LDI R16,1"},
       {}},
      {"the branch stays where the peephole pass is switched off", ".OPTI No_Phase_2_OR_3\n" + CalledRoutine(branch),
       {" LDI R16,1"},
       {" CPI R18,3\n BREQ s"}},
      {"a value read again above the removed line", CalledRoutine(chain + " MOV R16,R18\n"),
       {" MOV R19,R18", " CP R19,R20"},
       {" LDS R18,u"}},
  });
}

TEST(RemoveRedundant, CallsCountWhatTheRoutineReads) {
  const std::string overwrites = ".FUNC g\n.RETURNS 0\ng:\n LDI R20,4\n STS u,R20\n RET\n.ENDFUNC\n";
  const std::string reads = ".FUNC g\n.RETURNS 0\ng:\n STS u,R20\n RET\n.ENDFUNC\n";
  ExpectCases({
      {"routine overwrites it first", Program(" LDI R20,1\n RCALL g\n", overwrites), {" LDI R20,1"}, {}},
      {"routine reads it", Program(" LDI R20,1\n RCALL g\n", reads), {}, {" LDI R20,1"}},
      {"call skipped", Program(" LDI R20,1\n SBRC R21,0\n RCALL g\n STS v,R20\n", overwrites), {}, {" LDI R20,1"}},
      // The caller reads R21 after the call, so the routine's last write of it is live at its RET.
      {"live at the RET for the caller",
       Program(" RCALL g\n STS v,R21\n", ".FUNC g\n.RETURNS 0\ng:\n LDI R21,7\n RET\n.ENDFUNC\n"),
       {},
       {" LDI R21,7"}},
      {"routine writes a register whose address it was handed",
       "rv .EQU 017h ; var data byte\n" +
           Program(" LDI R23,5\n STS u,R23\n LDI R24,rv\n RCALL poke\n LDI R23,5\n STS v,R23\n",
                   ".FUNC poke\n.RETURNS 0\npoke:\n MOV R30,R24\n CLR R31\n LDI R18,9\n ST Z,R18\n RET\n.ENDFUNC\n"),
       {},
       {" RCALL poke\n LDI R23,5"}},
      {"dead at the RET",
       Program(" RCALL g\n STS v,R21\n CLR R22\n STS u,R22\n",
               ".FUNC g\n.RETURNS 0\ng:\n LDI R21,7\n LDI R22,8\n RET\n.ENDFUNC\n"),
       {" LDI R22,8"},
       {" LDI R21,7"}},
  });
}

TEST(RemoveRedundant, ReloadsOfHeldValuesGo) {
  ExpectCases({
      {"same constant", Program(" LDI R16,5\n STS v,R16\n LDI R16,5\n STS u,R16\n"), {}, {" LDI R16,5\n STS v,R16\n STS u,R16"}},
      {"label between", Program(" LDI R16,5\n STS v,R16\nl:\n LDI R16,5\n STS u,R16\n"), {}, {"l:\n LDI R16,5"}},
      {"reload after store", Program(" LDI R16,3\n STS v,R16\n LDS R16,v\n STS u,R16\n"), {" LDS R16,v"}, {}},
      {"pointer store between",
       Program(" LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R16,3\n STS v,R16\n LDI R17,9\n ST Z,R17\n"
               " LDS R16,v\n STS u,R16\n"),
       {},
       {" LDS R16,v"}},
      {"pointer store between two loads",
       Program(" LDI R26,w AND 0FFh\n LDI R27,w SHRB 8\n LDS R16,w\n STS v,R16\n LDI R17,9\n ST X,R17\n"
               " LDS R16,w\n STS u,R16\n"),
       {},
       {" LDS R16,w\n STS u,R16"}},
      {"pointer made from a variable above it",
       Program(" LDI R26,u AND 0FFh\n LDI R27,u SHRB 8\n LDI R16,3\n STS v,R16\n LDI R17,9\n ST X,R17\n"
               " LDS R16,v\n STS w,R16\n"),
       {" LDS R16,v"},
       {}},
      {"pointer known to hold another variable's address",
       Program(" LDI R16,3\n STS u,R16\n LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R17,9\n ST Z,R17\n"
               " LDS R16,u\n STS w,R16\n"),
       {" LDS R16,u"},
       {}},
      {"pointer stepped onto the variable",
       Program(" LDI R16,3\n STS u,R16\n LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R17,9\n ST Z+,R17\n"
               " ST Z,R17\n LDS R16,u\n STS w,R16\n"),
       {},
       {" LDS R16,u"}},
      {"routine stores through a pointer",
       Program(" LDI R16,3\n STS v,R16\n RCALL poke\n LDS R16,v\n STS u,R16\n",
               ".FUNC poke\n.RETURNS 0\npoke:\n LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R18,9\n ST Z,R18\n"
               " RET\n.ENDFUNC\n"),
       {},
       {" LDS R16,v"}},
      {"redundant CLR whose flags are read",
       Program(" CLR R16\n STS v,R16\n CPI R20,1\n CLR R16\n BREQ s\n STS u,R16\ns:\n"),
       {},
       {" CPI R20,1\n CLR R16"}},
      {"redundant CLR whose flags are set again",
       Program(" CLR R16\n STS v,R16\n CLR R16\n STS u,R16\n CPI R20,3\n BREQ s\n INC R16\ns:\n"),
       {" STS v,R16\n CLR R16"},
       {}},
  });
}

TEST(RemoveRedundant, OverwrittenStoresGoOnlyWhenNothingMayReadThem) {
  auto between = [](const std::string& middle, const std::string& routines = "") {
    return Program(" LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R16,1\n STS v,R16\n" + middle +
                       " LDI R18,2\n STS v,R18\n",
                   routines);
  };
  const std::string reader = ".FUNC r\n.RETURNS 0\nr:\n LDS R19,v\n STS u,R19\n RET\n.ENDFUNC\n";
  ExpectCases({
      {"overwritten", between(""), {" STS v,R16"}, {" STS v,R18"}},
      {"other bytes read between", between(" LDS R17,u\n STS w,R17\n"), {" STS v,R16"}, {}},
      {"read through a pointer", between(" LD R17,Z\n STS u,R17\n"), {}, {" STS v,R16"}},
      {"a label between", between("m:\n"), {}, {" STS v,R16"}},
      {"read through a pointer to a variable above it",
       Program(" LDI R30,u AND 0FFh\n LDI R31,u SHRB 8\n LDI R16,1\n STS v,R16\n LD R17,Z\n STS w,R17\n"
               " LDI R18,2\n STS v,R18\n"),
       {" STS v,R16"},
       {}},
      {"read through a pointer known to hold another address",
       Program(" LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R16,1\n STS u,R16\n LD R17,Z\n STS w,R17\n"
               " LDI R18,2\n STS u,R18\n"),
       {" STS u,R16"},
       {}},
      {"read through a displacement onto the variable",
       Program(" LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n LDI R16,1\n STS u,R16\n LDD R17,Z+1\n STS w,R17\n"
               " LDI R18,2\n STS u,R18\n"),
       {},
       {" STS u,R16"}},
      {"a call between", between(" RCALL r\n", reader), {}, {" STS v,R16"}},
      {"a BREAK between", between(" BREAK\n"), {}, {" STS v,R16"}},
      {"after a skip", Program(" LDI R16,1\n SBRC R20,0\n STS v,R16\n STS v,R17\n"), {}, {" STS v,R16"}},
      {"a word read under another name",
       Program(" LDI R16,1\n STS wlo,R16\n LDS R17,w\n LDI R18,2\n STS wlo,R18\n STS u,R17\n"),
       {},
       {" STS wlo,R16"}},
  });
}

std::string Nops(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += " NOP\n";
  return text;
}

// A JMP back over `nops` NOPs that are run on the way to it.
std::string BackwardJump(int nops) {
  return Program(" JMP skip\nfar:\n STS v,R16\n JMP done\nskip:\n" + Nops(nops) + " JMP far\ndone:\n");
}

TEST(RemoveRedundant, DeadCodeJumpsAndJumpTables) {
  const std::string table =
      " RJMP over\njtab:\n RJMP c0\n RJMP c1\nc0:\n LDI R16,1\n RJMP done\nc1:\n LDI R16,2\n RJMP done\n"
      "over:\n LDI R16,3\ndone:\n STS v,R16\n";
  ExpectCases({
      {"after an unconditional jump", Program(" RJMP a\n INC R16\n STS v,R16\na:\n LDI R16,1\n"),
       {" INC R16", " STS v,R16"},
       {}},
      {"a loop only its own jump enters",
       Program(" RJMP a\nisle:\n INC R16\n BRNE isle\na:\n LDI R16,1\n STS v,R16\n"),
       {"isle:", " INC R16", " BRNE isle"},
       {}},
      {"code entered from outside", Program(" RJMP a\nin:\n INC R16\n RJMP b\na:\n RJMP in\nb:\n STS v,R16\n"),
       {},
       {"in:", " INC R16"}},
      {"reached by a skip", Program(" SBRC R20,0\n RJMP a\n INC R16\na:\n STS v,R16\n"), {}, {" INC R16"}},
      {"jump to the next instruction", Program(" JMP n\n.LINE 5\nn:\n STS v,R16\n"), {" JMP n"}, {}},
      {"jump after a skip", Program(" SBRC R20,0\n JMP n\nn:\n STS v,R16\n"), {}, {"n:"}},
      {"rows of a table whose address is loaded",
       Program(" LDI R30,jtab AND 0FFh\n" + table), {}, {" RJMP c0\n RJMP c1"}},
  });
  // The same rows without an address load are dead after the first.
  std::string after = Optimised(Program(table));
  EXPECT_FALSE(Contains(after, " RJMP c1\n")) << after;
}

// The last distance at which a JMP becomes RJMP still assembles and runs the
// same; one word further it stays JMP.
TEST(RemoveRedundant, JmpBecomesRjmpUpToTheReachLimit) {
  int last = -1;
  bool beyond = false;
  for (int nops = 2000; nops <= 2060; ++nops) {
    if (Contains(Optimised(BackwardJump(nops)), " RJMP far\n")) {
      EXPECT_FALSE(beyond) << "converted again after a distance that was not: " << nops;
      last = nops;
    } else if (last >= 0) {
      beyond = true;
    }
  }
  ASSERT_GT(last, 2000);
  ASSERT_LT(last, 2060);
  ExpectCases({{"at the limit", BackwardJump(last), {" JMP far"}, {" RJMP far"}},
               {"one word beyond", BackwardJump(last + 1), {" RJMP far"}, {" JMP far"}}});
}

// The branch reaches the line labelled L with R16 = 5, the fall-through path
// with what `load` gives; `label` is written before the second `load`, whose
// flags the TST sets again.
std::string BranchMeetsLoad(const std::string& load, const std::string& label = "L ") {
  return Program(" LDI R17,9\n STS w,R17\n LDI R16,5\n STS v,R16\n LDI R20,1\n CPI R20,1\n BREQ L\n" + load +
                 "\n STS v,R16\n" + label + load + "\n STS u,R16\n TST R20\n");
}

TEST(RemoveRedundant, ALabelledInstructionIsAJoin) {
  ExpectCases({
      {"LDI after its label", BranchMeetsLoad(" LDI R16,7"), {}, {"L LDI R16,7"}},
      {"LDI after its label and colon", BranchMeetsLoad(" LDI R16,7", "L:"), {}, {"L: LDI R16,7"}},
      {"CLR", BranchMeetsLoad(" CLR R16"), {}, {"L CLR R16"}},
      {"LDS", BranchMeetsLoad(" LDS R16,w"), {}, {"L LDS R16,w"}},
      {"MOV", BranchMeetsLoad(" MOV R16,R17"), {}, {"L MOV R16,R17"}},
      {"label on a line of its own", BranchMeetsLoad(" LDI R16,7", "L:\n"), {}, {"L:\n LDI R16,7"}},
      // What the labelled line loads is known after it.
      {"reload after the labelled line",
       Program(" LDI R20,1\n CPI R20,1\n BREQ L\n LDI R16,5\nL LDI R16,7\n STS v,R16\n LDI R16,7\n STS u,R16\n"),
       {" STS v,R16\n LDI R16,7"},
       {"L LDI R16,7"}},
      // Nothing shows that no other path enters at an unreferenced label: it stays a join.
      {"unreferenced label", Program(" LDI R16,7\n STS v,R16\nL LDI R16,7\n STS u,R16\n"), {}, {"L LDI R16,7"}},
      {"labelled code after a jump",
       Program(" RJMP a\n INC R17\nL INC R16\n STS v,R16\n RJMP b\na:\n LDI R16,1\n RJMP L\nb:\n"),
       {" INC R17"},
       {"L INC R16", " STS v,R16"}},
      {"labelled code the analysis does not know, after a jump",
       Program(" RJMP a\nL: CLN\n INC R16\n RJMP b\na:\n LDI R16,1\n RJMP L\nb:\n"),
       {},
       {"L: CLN", " INC R16"}},
      {"a loop entered at a labelled line",
       Program(" RJMP a\nisle:\n INC R16\nback DEC R17\n BRNE isle\n RJMP b\na:\n LDI R17,3\n RJMP back\nb:\n"),
       {},
       {"isle:", " INC R16", "back DEC R17"}},
      {"jump to a labelled next instruction", Program(" JMP n\nn STS v,R16\n"), {" JMP n"}, {"n STS v,R16"}},
      {"overwriting store on a labelled line",
       Program(" LDI R16,1\n LDI R18,2\n STS v,R16\nm STS v,R18\n"),
       {},
       {" STS v,R16"}},
  });
}

// A program that starts itself at its first address, with `routines` after its start-up code.
std::string OwnStart(const std::string& code, const std::string& routines = "") {
  return std::string(testing::kHeader) + code + routines + ".ENTRY\n.END\n";
}

const std::string kIsr0 =
    ".FUNC isr0\n.RETURNS -1\nisr0:\n PUSH R16\n IN R16,3Fh\n PUSH R16\n LDS R16,u\n INC R16\n STS u,R16\n"
    " POP R16\n OUT 3Fh,R16\n POP R16\n RETI\n.ENDFUNC\n";

// Stack and frame pointer set, INT0 enabled and raised once, what its routine counted copied to v.
const std::string kStartUp =
    "start:\n LDI R16,21h\n OUT 3Eh,R16\n LDI R16,0FFh\n OUT 3Dh,R16\n LDI R28,0FFh\n LDI R29,20h\n"
    " CLR R16\n STS u,R16\n LDI R16,1\n OUT 1Dh,R16\n SEI\n SBI 0Bh,0\n NOP\n LDS R17,u\n STS v,R17\n"
    " CLI\n SLEEP\n";

// Phase 1 alone; the simulation of such programs is the test after this one.
TEST(RemoveRedundant, VectorRowsAtTheFirstAddressKeepTheirPlaceAndSize) {
  const std::string deadInStart = "start:\n RJMP over\n INC R20\nover:\n CLI\n SLEEP\n";
  ExpectCases(
      {
          {"unmarked rows", OwnStart(" JMP start\n JMP isr0\n JMP isr0\n" + deadInStart, kIsr0),
           {" INC R20"},
           {" JMP start\n JMP isr0\n JMP isr0"}},
          {"a label before the first row", OwnStart("vectors:\n JMP start\n JMP isr0\n" + deadInStart, kIsr0),
           {" INC R20"},
           {"vectors:\n JMP start\n JMP isr0"}},
          {"one-word rows", OwnStart(" RJMP start\n RETI\n NOP\n.LINE 3\n RJMP isr0\n" + deadInStart, kIsr0),
           {},
           {" RJMP start\n RETI\n NOP\n.LINE 3\n RJMP isr0"}},
          {"a row jumping to the next instruction", OwnStart(" JMP start\n" + deadInStart), {}, {" JMP start"}},
          {"rows end at a labelled line",
           OwnStart(" JMP start\nrow1 JMP isr0\n JMP isr0\n" + deadInStart, kIsr0),
           {" JMP isr0"},
           {" JMP start", "row1 RJMP isr0"}},
          {"rows end at another instruction",
           OwnStart(" JMP start\n JMP isr0\n LDI R20,1\n JMP isr0\n INC R20\n" + deadInStart, kIsr0),
           {" LDI R20,1\n JMP isr0", " INC R20"},
           {" JMP start\n JMP isr0"}},
      },
      false);
}

// Simulation only: needs the check to run a program from its own first address
// and to raise INT0 when the program sets PORTD bit 0 with EIMSK enabling it.
TEST(RemoveRedundantSimulation, AnUnmarkedVectorTableStillTakesTheInterrupt) {
  if (!ToolchainPresent()) GTEST_SKIP() << "no AVR toolchain";
  const std::string program = OwnStart(" JMP start\n JMP isr0\n" + kStartUp, kIsr0);
  verify::VerifyOptions options;
  options.budget = 200'000;
  // The check must see the interrupt at all: without its row it lands in the start-up code.
  std::string withoutRow = program;
  withoutRow.erase(withoutRow.find(" JMP isr0\n"), 10);
  verify::VerifyResult broken = verify::VerifyPrograms(program, withoutRow, options);
  EXPECT_EQ(broken.verdict, verify::VerifyResult::Verdict::Different) << broken.message;
  verify::VerifyResult result = verify::VerifyPrograms(program, Optimised(program), options);
  EXPECT_EQ(result.verdict, verify::VerifyResult::Verdict::Same) << result.message;
}

// The summary and the rule that made them count the same bytes.
TEST(RemoveRedundant, SavesBytesInTheSummaryAndCountsThemForTheRule) {
  TLineList lines;
  lines.LoadFromText(Program(" LDI R16,5\n LDI R16,7\n STS v,R16\n"));
  Optimise(lines, "");
  EXPECT_NE(lines.SaveToText().find("saved 2 bytes"), std::string::npos) << lines.SaveToText();
  const TRuleCount& dead = lines.Pass.RuleCounts["dead-result"];
  EXPECT_EQ(dead.Fired, 1);
  EXPECT_EQ(dead.BytesSaved, 2);
}

}  // namespace
}  // namespace korvid
