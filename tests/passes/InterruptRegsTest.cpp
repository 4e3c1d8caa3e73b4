// Handlers marked REGS entered by the vector instead of through the library's
// save-everything stub, beside the near misses that must keep their stub; every
// case is simulated with the interrupt really raised.
#include "passes/InterruptRegs.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/PassCases.h"
#include "source/LineList.h"

namespace korvid {
namespace {

using testing::TCase;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Every register and SREG into the runtime's part of RAM, and back.
std::string Library() {
  std::string save = ".FUNC SYSTEM.SaveAllRegs\n.RETURNS 0\nSYSTEM.SaveAllRegs:\n";
  std::string restore = ".FUNC SYSTEM.RestoreAllRegs\n.RETURNS 0\nSYSTEM.RestoreAllRegs:\n LDS R0,7968\n OUT SREG,R0\n";
  for (int r = 0; r < 32; ++r) {
    save += " STS " + std::to_string(0x1F00 + r) + ",R" + std::to_string(r) + "\n";
    restore += " LDS R" + std::to_string(r) + "," + std::to_string(0x1F00 + r) + "\n";
  }
  save += " IN R0,SREG\n STS 7968,R0\n LDS R0,7936\n RET\n";
  return save + ".ENDFUNC\n" + restore + " RET\n.ENDFUNC\n";
}

const std::string kStub =
    ".FUNC SYSTEM.$h0\n.RETURNS -1\nSYSTEM.$h0:\n PUSH R16\n IN R16,SREG\n PUSH R16\n CALL SYSTEM.SaveAllRegs\n CALL UNIT.h0\n"
    " CALL SYSTEM.RestoreAllRegs\n POP R16\n OUT SREG,R16\n POP R16\n RETI\n.ENDFUNC\n";
const std::string kHandler =
    ".FUNC UNIT.h0\n.RETURNS 0\nUNIT.h0:\n.OPTI REGS\n LDS R16,count\n INC R16\n STS count,R16\n"
    " LDI R20,99\n CPI R20,1\n RET\n.ENDFUNC\n";

// Its own vector table and start; main raises INT0 inside `section`, which
// keeps values in R16, R20 and the flags across it.
std::string Program(const std::string& section, const std::string& routines = kStub + kHandler) {
  return "result  .EQU 200h ; var idata byte\ncount .EQU 201h ; var idata byte volatile\n"
         "PORTD .EQU 0Bh ; var pdata byte volatile\nEIMSK .EQU 1Dh ; var pdata byte volatile\n"
         "GPIOR0 .EQU 1Eh ; var pdata byte volatile\n"
         " JMP start\n JMP SYSTEM.$h0\n RETI\n NOP\n"
         "start:\n LDI R16,0FFh\n OUT SPL,R16\n LDI R16,21h\n OUT SPH,R16\n LDI R28,0FFh\n LDI R29,20h\n"
         " CALL main\n STS result,R16\n CLI\n SLEEP\n" +
         Library() + routines +
         ".FUNC main\n.RETURNS 1\nmain:\n LDI R16,1\n OUT EIMSK,R16\n SEI\n" + section + " RET\n.ENDFUNC\n";
}

const std::string kSection =
    " LDI R20,5\n LDI R16,7\n CBI PORTD,0\n SBI PORTD,0\n ADD R20,R16\n CPI R20,12\n BREQ L1\n INC R20\nL1:\n"
    " MOV R16,R20\n";

TEST(InterruptRegs, HandlerSavesForItselfWhereOnlyItsStubCallsIt) {
  const std::string tail = " RJMP tail\n.ENDFUNC\n.FUNC tail\n.RETURNS 0\ntail:\n INC R20\n RET\n.ENDFUNC\n";
  const std::string sub = " RCALL UNIT.h0.sub\n RET\nUNIT.h0.sub:\n INC R20\n RET\n.ENDFUNC\n";
  const std::string secondStub = Replace(Replace(kStub, "$h0", "$h1"), "$h0:", "$h1:");
  testing::ExpectCases(InterruptRegisterSaving, {
      {"stub", Program(kSection), {" CALL SYSTEM.SaveAllRegs", " JMP SYSTEM.$h0", "UNIT.h0:\n.OPTI REGS"},
       {" JMP UNIT.h0", "UNIT.h0:\n PUSH R16\n PUSH R20\n IN R20,SREG\n PUSH R20\n.OPTI REGS",
        " POP R20\n OUT SREG,R20\n POP R20\n POP R16\n RETI"}},
      {"directive after code", Program(kSection, kStub + Replace(kHandler, ".OPTI REGS\n LDS R16,count\n",
                                                                  " LDS R16,count\n.OPTI REGS\n")),
       {" CALL SYSTEM.SaveAllRegs"}, {"UNIT.h0:\n PUSH R16"}},
      {"handler called from main", Program(" CALL UNIT.h0\n" + kSection), {}, {" CALL SYSTEM.SaveAllRegs"}},
      {"handler shared by two stubs",
       Replace(Program(kSection, kStub + secondStub + kHandler), " RETI\n NOP\n", " JMP SYSTEM.$h1\n"), {},
       {" CALL SYSTEM.SaveAllRegs", " JMP SYSTEM.$h0"}},
      {"handler leaves by a jump", Program(kSection, kStub + Replace(kHandler, " RET\n.ENDFUNC\n", tail)), {},
       {" CALL SYSTEM.SaveAllRegs"}},
      {"handler calls a label of its own", Program(kSection, kStub + Replace(kHandler, " RET\n.ENDFUNC\n", sub)), {},
       {" CALL SYSTEM.SaveAllRegs"}},
      {"handler reads SP", Program(kSection, kStub + Replace(kHandler, " LDI R20,99\n", " IN R20,SPL\n")), {},
       {" CALL SYSTEM.SaveAllRegs"}},
      // R21 is a variable whose address the handler takes and stores through.
      {"handler stores into a register through a pointer",
       "rv .EQU 15h ; var data byte\n" +
           Program(kSection + " ADD R16,R21\n",
                   kStub + Replace(kHandler, " LDI R20,99\n", " LDI R30,rv AND 0FFh\n LDI R31,rv SHRB 8\n ST Z,R16\n")),
       {}, {" CALL SYSTEM.SaveAllRegs"}},
      {"stub writes a port", Program(kSection, Replace(kStub, " OUT SREG,R16\n", " OUT SREG,R16\n OUT GPIOR0,R16\n") +
                                                   kHandler),
       {}, {" CALL SYSTEM.SaveAllRegs"}},
  });
  // Broken already, so not simulated: a pop the stub did not push.
  const std::string unbalanced = Replace(kStub, " PUSH R16\n IN R16,SREG\n", " IN R16,SREG\n");
  testing::ExpectCases(InterruptRegisterSaving,
                       {{"stub pops more than it pushes", Program(kSection, unbalanced + kHandler), {},
                         {" CALL SYSTEM.SaveAllRegs"}}},
                       false);
}

// An interrupt routine as the compiler writes it, entered by the vector: it
// saves R16, SREG, R20 and R30 but writes only R16 and R20.
const std::string kIsr =
    ".FUNC isr0\n.RETURNS -1\nisr0:\n PUSH R16\n IN R16,SREG\n PUSH R16\n PUSH R20\n PUSH R30\n LDS R16,count\n"
    " INC R16\n STS count,R16\n LDI R20,99\n CPI R20,1\n POP R30\n POP R20\n POP R16\n OUT SREG,R16\n POP R16\n"
    " RETI\n.ENDFUNC\n";
const std::string kRestore = " POP R30\n POP R20\n POP R16\n OUT SREG,R16\n POP R16\n";

std::string IsrProgram(const std::string& section, const std::string& isr) {
  return Replace(Program(section, isr), " JMP SYSTEM.$h0\n", " JMP isr0\n");
}

TEST(InterruptRegs, InterruptRoutineSavesOnlyWhatItWrites) {
  const std::string twoExits = Replace(kIsr, " CPI R20,1\n", " CPI R20,1\n BRNE early\n" + kRestore + " RETI\nearly:\n");
  const std::string ownSreg = Replace(kIsr, " LDI R20,99\n", " IN R20,SREG\n CLI\n OUT SREG,R20\n LDI R20,99\n");
  const std::string exact = Replace(Replace(kIsr, " PUSH R30\n", ""), " POP R30\n", "");
  const std::string sub = Replace(kIsr, " RETI\n.ENDFUNC\n", " RETI\nisr0.sub:\n INC R20\n RET\n.ENDFUNC\n");
  const std::string jumpOut =
      Replace(kIsr, " POP R16\n OUT SREG,R16\n POP R16\n RETI\n.ENDFUNC\n",
              " RJMP done\n.ENDFUNC\n.FUNC done\n.RETURNS 0\ndone:\n POP R16\n OUT SREG,R16\n POP R16\n RETI\n.ENDFUNC\n");
  // Saves R16 it leaves alone, not R24 it hands back: R24 stays unsaved.
  const std::string hands = ".FUNC give\n.RETURNS 1\ngive:\n.OPTI REGS\n PUSH R16\n PUSH R20\n LDI R20,3\n LDI R24,40\n"
                            " ADD R24,R20\n POP R20\n POP R16\n RET\n.ENDFUNC\n";
  testing::ExpectCases(InterruptRegisterSaving, {
      {"saves too much", IsrProgram(kSection, kIsr), {" PUSH R30", " POP R30"},
       {"isr0:\n PUSH R16\n PUSH R20\n IN R16,SREG\n PUSH R16", " POP R16\n OUT SREG,R16\n POP R20\n POP R16\n RETI"}},
      {"two exits share one", IsrProgram(kSection, twoExits),
       {" PUSH R30", " BRNE early\n POP R30"}, {" BRNE early", "early:"}},
      {"reads SREG for itself", IsrProgram(kSection, ownSreg), {" PUSH R30"},
       {" IN R20,SREG\n CLI\n OUT SREG,R20", " POP R16\n OUT SREG,R16\n POP R20"}},
      {"saves what it writes", IsrProgram(kSection, exact), {}, {"isr0:\n PUSH R16\n IN R16,SREG\n PUSH R16\n PUSH R20"}},
      {"calls a label of its own", IsrProgram(kSection, sub), {}, {" PUSH R30"}},
      {"leaves by a jump", IsrProgram(kSection, jumpOut), {}, {" PUSH R30"}},
      {"hands back a register", IsrProgram(" CALL give\n" + kSection + " ADD R16,R24\n", kIsr + hands),
       {" PUSH R16\n PUSH R20\n LDI R20,3"}, {"give:\n PUSH R20\n.OPTI REGS\n LDI R20,3"}},
  });
}

// A stub that saves the registers its handler writes around the call: the
// vector enters the handler, which saves them for itself.
TEST(InterruptRegs, StubSavingForItsHandler) {
  const std::string stub = Replace(Replace(kStub, " CALL SYSTEM.SaveAllRegs\n", " PUSH R20\n"),
                                   " CALL SYSTEM.RestoreAllRegs\n", " POP R20\n");
  const std::string port = Replace(stub, " POP R20\n", " OUT GPIOR0,R16\n POP R20\n");
  const std::string swapped = Replace(Replace(stub, " PUSH R20\n", " PUSH R20\n PUSH R21\n"), " POP R20\n",
                                      " POP R20\n POP R21\n");
  testing::ExpectCases(InterruptRegisterSaving, {
      {"stub", Program(kSection, stub + kHandler), {" JMP SYSTEM.$h0", " PUSH R20\n CALL UNIT.h0"},
       {" JMP UNIT.h0", "UNIT.h0:\n PUSH R16\n PUSH R20\n IN R16,SREG\n PUSH R16\n.OPTI REGS"}},
      {"stub writes a port", Program(kSection, port + kHandler), {}, {" JMP SYSTEM.$h0"}},
      {"stub swaps two registers", Program(kSection, swapped + kHandler), {}, {" JMP SYSTEM.$h0"}},
      {"handler called from main", Program(" CALL UNIT.h0\n" + kSection, stub + kHandler), {}, {" JMP SYSTEM.$h0"}},
  });
}

// The interrupt raised between every two instructions of the section: the
// whole optimiser leaves what the program computes as it was.
TEST(InterruptRegs, InterruptAnywhereInASection) {
  const std::vector<std::string> lines = {" LDI R20,5\n", " LDI R16,7\n", " ADD R20,R16\n", " CPI R20,12\n",
                                          " BREQ L1\n",   " INC R20\n",   "L1:\n",         " MOV R16,R20\n"};
  std::vector<TCase> cases;
  for (std::size_t at = 0; at <= lines.size(); ++at) {
    std::string section = " CBI PORTD,0\n";
    for (std::size_t k = 0; k < lines.size(); ++k) section += (k == at ? " SBI PORTD,0\n" : "") + lines[k];
    if (at == lines.size()) section += " SBI PORTD,0\n";
    cases.push_back({"section", Program(section), {}, {}});
    cases.push_back({"section, own saves", IsrProgram(section, kIsr), {}, {}});
  }
  const TPass whole = [](TLineList& program, const TAnalysis&) {
    Optimise(program, "");
    return false;
  };
  testing::ExpectCases(whole, cases);
}

}  // namespace
}  // namespace korvid
