// The branch optimisation: every rule with a program where it fires and its
// near misses, and each fault a looser rule would make as a program the
// rule keeps behaving the same. Every case is simulated with the condition
// false, equal and true.
#include "passes/BranchOptimisation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// Main calls t, whose body is `code` after R20 = a, R21 = 5, R22 = a and R17 = 0;
// t stores R17 to v. Main then loads R16 to R23 afresh and sets the flags, T
// included: only what t stores is read of what it does.
std::string Calling(const std::string& code, int a) {
  const std::string body = " LDI R20," + std::to_string(a) + "\n LDI R21,5\n LDI R22," + std::to_string(a) +
                           "\n LDI R17,0\n" + code + " STS v,R17\n";
  std::string main = " RCALL t\n";
  for (int r = 16; r <= 23; ++r) main += " LDI R" + std::to_string(r) + ",77\n";
  main += " SUB R0,R0\n CLT\n";
  return testing::Program(main, ".FUNC t\n.RETURNS 0\nt:\n" + body + " RET\n.ENDFUNC\n");
}

// The same code with the condition below, at and above 5.
std::vector<TCase> Inputs(const char* name, const std::string& code, const std::vector<std::string>& gone,
                          const std::vector<std::string>& kept) {
  std::vector<TCase> cases;
  for (int a : {3, 5, 7}) cases.push_back({name, Calling(code, a), gone, kept});
  return cases;
}

void Expect(const std::vector<std::vector<TCase>>& groups, const std::set<std::string, std::less<>>& enabled = {}) {
  std::vector<TCase> cases;
  for (const auto& group : groups) cases.insert(cases.end(), group.begin(), group.end());
  testing::ExpectCases(BranchOptimisation, cases, true, enabled);
}

// Z1 sets R17 to 1, X1 to 2.
const std::string kArms = " BREQ Z1\n RJMP X1\nZ1:\n LDI R17,1\n RJMP D1\nX1:\n LDI R17,2\nD1:\n";
const std::string kArmsNe = " BRNE Z1\n RJMP X1\nZ1:\n LDI R17,1\n RJMP D1\nX1:\n LDI R17,2\nD1:\n";
// The boolean in T: R17 bit 0 gets it.
const std::string kTArm = "Z1:\n BLD R17,0\n";

TEST(BranchOptimisation, ConstantTests) {
  Expect({
      Inputs("CLR, BREQ always", " CLR R16\n TST R16\n BREQ Z1\n LDI R17,2\nZ1:\n", {" CLR R16", " TST R16", " BREQ Z1"},
             {" RJMP Z1"}),
      Inputs("CLR, BRNE never", " CLR R16\n TST R16\n BRNE Z1\n LDI R17,2\nZ1:\n", {" CLR R16", " TST R16", " BRNE Z1"},
             {" LDI R17,2"}),
      Inputs("LDI 0, BRLT never", " LDI R16,0\n TST R16\n BRLT Z1\n LDI R17,2\nZ1:\n", {" LDI R16,0", " BRLT Z1"}, {}),
      Inputs("SER, BREQ never", " SER R16\n TST R16\n BREQ Z1\n LDI R17,2\nZ1:\n", {" SER R16", " BREQ Z1"}, {}),
      Inputs("LDI 0FFh, BRNE always", " LDI R16,0FFh\n TST R16\n BRNE Z1\n LDI R17,2\nZ1:\n", {" TST R16"},
             {" RJMP Z1"}),
      // R read after: the branch goes, the start and the test stay.
      Inputs("R read after", " CLR R16\n TST R16\n BRNE Z1\n LDI R17,2\nZ1:\n ADD R17,R16\n", {" BRNE Z1"},
             {" CLR R16", " TST R16"}),
      // Fault: the flags of the test are read by the next branch; as written, TST went with BRLT.
      Inputs("flags read after the branch", " CLR R16\n TST R16\n BRLT Z1\n BREQ Y1\n LDI R17,2\nZ1:\n INC R17\nY1:\n",
             {" BRLT Z1", " BREQ Y1", " CLR R16"}, {" RJMP Y1"}),
      Inputs("flags read by IN", " CLR R16\n TST R16\n BRNE Z1\n IN R17,3Fh\n ANDI R17,1Eh\nZ1:\n", {" BRNE Z1"},
             {" TST R16"}),
      // Fault: a start a skip may jump over is no constant.
      Inputs("start after a skip", " CLR R16\n SBRC R20,0\n SER R16\n TST R16\n BREQ Z1\n LDI R17,2\nZ1:\n", {},
             {" SER R16", " TST R16", " BREQ Z1"}),
  });
}

TEST(BranchOptimisation, BranchFormRewrites) {
  const std::string lowHead = " CP R20,R21\n LDI R16,0\n BRLO L1\n";
  const std::string highHead = " CP R20,R21\n LDI R16,0FFh\n BRLO L1\n";
  Expect({
      Inputs("retarget", lowHead + " SER R16\nL1:\n TST R16\n" + kArms, {" LDI R16,0", " SER R16", " TST R16"},
             {" BRLO Z1", " RJMP X1"}),
      Inputs("retarget, two branches and a line between",
             " CP R20,R21\n LDI R16,0\n BRLO L1\n CPI R22,9\n BREQ L1\n LDI R16,0FFh\nL1:\n TST R16\n" + kArms,
             {" LDI R16,0FFh", " TST R16"}, {" BRLO Z1", " BREQ Z1"}),
      Inputs("invert", lowHead + " SER R16\nL1:\n TST R16\n" + kArmsNe, {" BRLO L1", " SER R16", " TST R16"},
             {" BRSH Z1", " RJMP X1"}),
      // Fault: the last branch goes the other way, whatever its condition (as written, BRLO would).
      Inputs("invert BRLO / BREQ", " CP R20,R21\n LDI R16,0\n BRLO L1\n BREQ L1\n SER R16\nL1:\n TST R16\n" + kArmsNe,
             {" BREQ L1", " TST R16"}, {" BRLO L1", " BRNE Z1"}),
      Inputs("retarget drop COM", lowHead + " SER R16\nL1:\n COM R16\n TST R16\n" + kArmsNe,
             {" COM R16", " TST R16"}, {" BRLO Z1"}),
      Inputs("swap, then invert", lowHead + " SER R16\nL1:\n COM R16\n TST R16\n" + kArms,
             {" COM R16", " TST R16", " SER R16"}, {" BRSH Z1"}),
      Inputs("SER: invert", highHead + " CLR R16\nL1:\n TST R16\n" + kArms, {" TST R16"}, {" BRSH Z1"}),
      Inputs("SER: retarget", highHead + " CLR R16\nL1:\n TST R16\n" + kArmsNe, {" TST R16"}, {" BRLO Z1"}),
      Inputs("SER: retarget drop COM", highHead + " CLR R16\nL1:\n COM R16\n TST R16\n" + kArms, {" COM R16"},
             {" BRLO Z1"}),
      Inputs("COM setter", lowHead + " COM R16\nL1:\n TST R16\n" + kArms, {" COM R16", " TST R16"}, {" BRLO Z1"}),
      // Fault: the swap needs LDI, which R5 has not.
      Inputs("swap of a low register", " CLR R5\n CP R20,R21\n BRLO L1\n COM R5\nL1:\n COM R5\n TST R5\n" + kArms, {},
             {" CLR R5", " TST R5"}),
      // Two BREQs leave the invert alone; the swap still saves the COM.
      Inputs("swap only", " CP R20,R21\n LDI R16,0\n BREQ L1\n CPI R22,3\n BREQ L1\n SER R16\nL1:\n COM R16\n TST R16\n" +
                              kArms,
             {" COM R16"}, {" LDI R16, 0FFh", " LDI R16, 0", " TST R16"}),
  });
}

TEST(BranchOptimisation, SkipFormRewrites) {
  Expect({
      Inputs("retarget", " CLR R16\n SBRC R20,0\n SER R16\n TST R16\n" + kArms, {" CLR R16", " SER R16", " TST R16"},
             {" SBRC R20, 0", " RJMP X1"}),
      Inputs("invert", " CLR R16\n SBRC R20,1\n SER R16\n TST R16\n" + kArmsNe, {" SBRC R20,1", " TST R16"},
             {" SBRS R20, 1"}),
      Inputs("invert, unreferenced label", " CLR R16\n SBRS R20,2\n SER R16\nS1:\n TST R16\n" + kArmsNe,
             {" SBRS R20,2"}, {" SBRC R20, 2"}),
      Inputs("retarget CPSE", " SER R16\n CPSE R20,R21\n CLR R16\n TST R16\n" + kArmsNe, {" TST R16"},
             {" CPSE R20, R21"}),
      Inputs("no invert for CPSE", " CLR R16\n CPSE R20,R21\n SER R16\n TST R16\n" + kArmsNe, {},
             {" CPSE R20,R21", " TST R16"}),
      Inputs("swap", " CLR R16\n SBRC R20,0\n COM R16\nS1:\n COM R16\n TST R16\n BREQ Z1\n RJMP X1\nZ1:\n INC R17\n"
                     "X1:\n ADD R17,R16\n",
             {" COM R16"}, {" LDI R16, 0FFh", " LDI R16, 0"}),
  });
}

TEST(BranchOptimisation, TFlagForms) {
  Expect({
      Inputs("CLR, CLT: direct", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n CLT\n TST R16\n BREQ Z1\n SET\n" + kTArm,
             {" TST R16", " LDI R16,0"}, {" CLT", " SET"}),
      Inputs("CLR, COM, CLT: inverted",
             " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n COM R16\n CLT\n TST R16\n BREQ Z1\n SET\n" + kTArm,
             {" TST R16", " COM R16"}, {" CLT", " SET"}),
      Inputs("CLR, COM, SET: direct",
             " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n COM R16\n SET\n TST R16\n BREQ Z1\n CLT\n" + kTArm,
             {" TST R16", " COM R16"}, {}),
      Inputs("SER, CLT: direct", " CP R20,R21\n LDI R16,0FFh\n BRLO L1\n CLR R16\nL1:\n CLT\n TST R16\n BREQ Z1\n SET\n" +
                                     kTArm,
             {" TST R16"}, {}),
      Inputs("skip form", " CLR R16\n SBRC R20,0\n SER R16\n CLT\n TST R16\n BREQ Z1\n SET\n" + kTArm,
             {" TST R16", " CLR R16"}, {" SBRC R20,0"}),
      // T read between: the head may not see the T the start now sets.
      Inputs("T read in the head", " CLT\n CP R20,R21\n LDI R16,0\n BRTS L1\n BRLO L1\n SER R16\nL1:\n CLT\n TST R16\n"
                                   " BREQ Z1\n SET\n" + kTArm,
             {}, {" TST R16"}),
  });
}

TEST(BranchOptimisation, TailCopies) {
  const std::string head = " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n";
  Expect({
      Inputs("copy", head + " CPI R16,0FFh\n LDI R16,0FFh\n BREQ L5\n CLR R16\nL5:\n TST R16\n" + kArms,
             {" CPI R16,0FFh", " CLR R16", "L5:", " TST R16"}, {" BRLO Z1"}),
      Inputs("negation", head + " CPI R16,0FFh\n LDI R16,0FFh\n BRNE L5\n CLR R16\nL5:\n TST R16\n" + kArms,
             {" CPI R16,0FFh", " BRNE L5"}, {}),
      Inputs("copy of 0", head + " CPI R16,0\n LDI R16,0\n BREQ L5\n SER R16\nL5:\n TST R16\n" + kArms,
             {" CPI R16,0", " SER R16"}, {}),
      // Fault: the compare of another register says nothing about R16; what
      // follows it is a boolean of its own, decided by the flags.
      Inputs("CPI of another register",
             head + " CPI R22,0FFh\n LDI R16,0FFh\n BREQ L5\n CLR R16\nL5:\n TST R16\n" + kArms, {" TST R16"},
             {" CPI R22,0FFh", " SER R16", " BRLO L1"}),
      // Fault: the first load must load R.
      Inputs("load of another register",
             head + " CPI R16,0FFh\n LDI R18,0FFh\n BREQ L5\n CLR R16\nL5:\n MOV R17,R18\n TST R16\n" + kArms, {},
             {" CPI R16,0FFh"}),
      Inputs("L5 named elsewhere", head + " CPI R16,0\n LDI R16,0\n BREQ L5\n SER R16\nL5:\n TST R16\n BREQ Z1\n"
                                          " RJMP X1\nZ1:\n LDI R17,1\n RJMP D1\nX1:\n LDI R17,2\n LDI R16,0FFh\n"
                                          " SUBI R20,2\n BRSH L5\nD1:\n",
             {" CPI R16,0"}, {"L5:", " TST R16"}),
  });
}

TEST(BranchOptimisation, NearMisses) {
  Expect({
      Inputs("two head targets", " CP R20,R21\n LDI R16,0\n BRLO L1\n BREQ L2\n SER R16\nL1:\nL2:\n TST R16\n" + kArms,
             {}, {" TST R16", " BRLO L1"}),
      Inputs("label of another name", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL2:\nL1:\n TST R16\n" + kArms, {},
             {" TST R16"}),
      Inputs("skip not right after the start", " CLR R16\n MOV R18,R20\n SBRC R18,0\n SER R16\n TST R16\n" + kArms, {},
             {" TST R16", " SER R16"}),
      Inputs("two BREQs under invert", " CP R20,R21\n LDI R16,0\n BREQ L1\n CPI R22,3\n BREQ L1\n SER R16\nL1:\n"
                                       " TST R16\n" + kArmsNe,
             {}, {" TST R16", " BREQ L1"}),
      // Faults: the start and setter went although R is read after the decision.
      Inputs("R read after D", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n TST R16\n BREQ Z1\n RJMP X1\nZ1:\n"
                               " LDI R17,1\n RJMP D1\nX1:\n MOV R17,R16\nD1:\n",
             {}, {" TST R16", " SER R16"}),
      // Fault: a back edge into L loses its test.
      Inputs("L referenced elsewhere", " LDI R18,2\nB1:\n CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n TST R16\n"
                                       " BREQ Z1\n RJMP X1\nZ1:\n INC R17\n RJMP D1\nX1:\n INC R17\n INC R17\n"
                                       " LDI R16,0FFh\n DEC R18\n BRNE L1\nD1:\n",
             {}, {" TST R16"}),
      // Fault: the decision goes elsewhere than the follow label.
      Inputs("D not to F", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n TST R16\n BREQ W1\n RJMP X1\nZ1:\n"
                           " LDI R17,1\n RJMP D1\nX1:\n LDI R17,2\n RJMP D1\nW1:\n LDI R17,3\nD1:\n",
             {}, {" TST R16", " BREQ W1"}),
      // Fault: a COM of another register is no setter.
      Inputs("setter of another register", " CP R20,R21\n LDI R16,0\n BRLO L1\n COM R18\nL1:\n TST R16\n" + kArms, {},
             {" TST R16", " LDI R16,0"}),
  });
}

TEST(BranchOptimisation, OriAndComRules) {
  const std::set<std::string, std::less<>> enabled = {"ori-to-ser", "ori-after-logic", "com-before-test"};
  Expect({Inputs("ORI 0FFh", " MOV R16,R20\n ORI R16,0FFh\n MOV R17,R16\n", {" ORI R16,0FFh"}, {" SER R16"}),
          Inputs("ORI 0FFh, flags read", " MOV R16,R20\n ORI R16,0FFh\n IN R17,3Fh\n", {}, {" ORI R16,0FFh"}),
          Inputs("ORI 0 after ANDI", " MOV R16,R20\n ANDI R16,7\n ORI R16,0\n BREQ Z1\n INC R17\nZ1:\n",
                 {" ORI R16,0"}, {" ANDI R16,7"}),
          Inputs("ORI 0 after ANDI of another register", " MOV R16,R20\n MOV R18,R20\n ANDI R18,7\n ORI R16,0\n"
                                                         " BREQ Z1\n INC R17\nZ1:\n",
                 {}, {" ORI R16,0"}),
          Inputs("COM of a boolean", " CLR R16\n SBRC R20,0\n SER R16\n COM R16\n LDI R18,1\n TST R16\n BRNE Z1\n"
                                     " INC R17\nZ1:\n",
                 {" COM R16", " BRNE Z1"}, {" BREQ Z1"}),
          Inputs("COM of a boolean, BREQ", " CLR R16\n SBRC R20,1\n SER R16\n COM R16\n TST R16\n BREQ Z1\n INC R17\nZ1:\n",
                 {" COM R16"}, {" BRNE Z1"}),
          Inputs("COM of a boolean read after", " CLR R16\n SBRC R20,0\n SER R16\n COM R16\n TST R16\n BRNE Z1\n"
                                                " INC R17\nZ1:\n ADD R17,R16\n",
                 {}, {" COM R16"}),
          // Not known to be 0 or 0FFh: the complement's test says nothing about R16's.
          Inputs("COM of any byte", " MOV R16,R20\n COM R16\n TST R16\n BRNE Z1\n INC R17\nZ1:\n", {}, {" COM R16"})},
         enabled);
  // Without being asked for, the ORI and COM rules stay off.
  testing::ExpectCases(BranchOptimisation,
                       {{"not asked for", Calling(" MOV R16,R20\n ORI R16,0FFh\n MOV R17,R16\n", 3), {}, {" ORI R16,0FFh"}}},
                       false);
}

TEST(BranchOptimisation, ShortCircuit) {
  // b := (a < 5) and (a = 5): R16 the left operand, R16 again the right one.
  const std::string code = " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n PUSH R16\n CLR R16\n CP R20,R21\n"
                           " BRNE L2\n SER R16\nL2:\n POP R18\n %OP R16,R18\n TST R16\n" + kArms;
  auto with = [&](const char* op) {
    std::string text = code;
    text.replace(text.find("%OP"), 3, op);
    return text;
  };
  Expect({Inputs("AND", with("AND"), {" PUSH R16", " POP R18", " AND R16,R18"}, {" BRNE _CSE0000"}),
          Inputs("OR", with("OR"), {" PUSH R16", " POP R18"}, {" BREQ _CSE0000"}),
          // Rx read after: the POP must stay.
          Inputs("Rx read after", with("AND") + " ADD R17,R18\n", {}, {" PUSH R16", " POP R18"}),
          // Faults: no TST right after the operator, or an operator that is not the POP's.
          Inputs("no TST after the operator", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n PUSH R16\n"
                                              " CLR R16\n POP R18\n AND R16,R18\n STS u,R16\n TST R16\n" + kArms,
                 {}, {" PUSH R16"}),
          Inputs("a later operator", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n PUSH R16\n CLR R16\n"
                                     " POP R18\n MOV R19,R18\n AND R16,R18\n TST R16\n" + kArms,
                 {}, {" PUSH R16"}),
          // The right operand stores: skipping it would lose the store.
          Inputs("right operand stores", " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n PUSH R16\n STS u,R20\n"
                                         " CLR R16\n POP R18\n AND R16,R18\n TST R16\n" + kArms,
                 {}, {" PUSH R16"})},
         {"short-circuit"});
  // Off unless the program asks for it.
  testing::ExpectCases(BranchOptimisation, {{"not asked for", Calling(with("AND"), 3), {}, {" PUSH R16"}}}, false);
}

// A T line whose exit is a jump, or T and COM in the other order: a rewrite
// that went ahead would stop half done. The message goes to the error file
// and nothing changes.
TEST(BranchOptimisation, TFlagMessagesLeaveTheProgramAsItWas) {
  const std::string head = " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n";
  const std::string jumpExit = " BREQ Z1\n RJMP X1\nZ1:\n SET\nX1:\n BLD R17,0\n";
  const struct {
    std::string Tail;
    const char* Code;
  } cases[] = {
      {" CLT\n TST R16\n" + jumpExit, "OBRT005"},
      {" COM R16\n CLT\n TST R16\n" + jumpExit, "OBRT001"},
      {" CLT\n COM R16\n TST R16\n BREQ Z1\n SET\n" + kTArm, "OBRT003"},
      {" SET\n COM R16\n TST R16\n BREQ Z1\n CLT\n" + kTArm, "OBRT004"},
  };
  for (const auto& c : cases) {
    TLineList lines;
    lines.LoadFromText(Calling(head + c.Tail, 3));
    std::vector<std::string> messages;
    lines.Errors.Echo = [&](const std::string& line) { messages.push_back(line); };
    const TAnalysis facts(lines);
    EXPECT_FALSE(BranchOptimisation(lines, facts)) << c.Code;
    EXPECT_FALSE(lines.Run.Aborted) << c.Code;
    ASSERT_EQ(messages.size(), 1u) << c.Code;
    EXPECT_NE(messages[0].find(std::string("unexpected line. Optimisation aborted (ERR code ") + c.Code + ")"),
              std::string::npos)
        << messages[0];
  }
}

TEST(BranchOptimisation, DirectivesSwitchRulesOff) {
  const std::string copy = " CP R20,R21\n LDI R16,0\n BRLO L1\n SER R16\nL1:\n CPI R16,0FFh\n LDI R16,0FFh\n BREQ L5\n"
                           " CLR R16\nL5:\n TST R16\n BREQ Z1\n INC R17\nZ1:\n";
  testing::ExpectCases(BranchOptimisation,
                       {{"NO_OPTI_BOOL_CHECK", ".OPTI NO_OPTI_BOOL_CHECK\n" + Calling(copy, 3), {}, {" CPI R16,0FFh"}}});
}

}  // namespace
}  // namespace korvid
