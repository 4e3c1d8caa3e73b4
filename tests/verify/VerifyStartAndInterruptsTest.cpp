// The check runs programs as the device does: from their own first address when they have
// code before their routines, with external interrupts raised by the program's own writes.
#include <gtest/gtest.h>

#include "ToolchainTest.h"
#include "verify/Verify.h"

namespace korvid::verify {
namespace {

using Verdict = VerifyResult::Verdict;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

const char* const kDeclarations =
    "result  .EQU    200h    ; var idata byte\n"
    "count   .EQU    201h    ; var idata byte volatile\n";

// Main compares, lets INT0 in by its own write to PORTD, then branches on the compare.
const char* const kMain =
    ".FUNC main\n"
    ".RETURNS 1\n"
    "main:   LDI     R16,1\n"
    "        OUT     EIMSK,R16\n"
    "        SEI\n"
    "        LDI     R17,3\n"
    "        CPI     R17,3\n"
    "        SBI     PORTD,0\n"
    "        BRNE    skip\n"
    "        ADD     R24,R17\n"
    "skip:   MOV     R17,R24\n"
    "        CBI     PORTD,0\n"
    "        RET\n"
    ".ENDFUNC\n";

const char* const kInterruptRoutine =
    ".FUNC isr0\n"
    ".RETURNS -1\n"
    "isr0:   PUSH    R17\n"
    "        IN      R17,SREG\n"
    "        PUSH    R17\n"
    "        LDS     R17,count\n"
    "        INC     R17\n"
    "        STS     count,R17\n"
    "        POP     R17\n"
    "        OUT     SREG,R17\n"
    "        POP     R17\n"
    "        RETI\n"
    ".ENDFUNC\n";

// Vector rows, then start-up code that hands main a value in R24 and keeps its result.
std::string OwnStart(const std::string& rows) {
  return std::string(kDeclarations) + rows +
         "start:  LDI     R16,0FFh\n"
         "        OUT     SPL,R16\n"
         "        LDI     R16,21h\n"
         "        OUT     SPH,R16\n"
         "        LDI     R28,0FFh\n"
         "        LDI     R29,20h\n"
         "        LDI     R24,5\n"
         "        CALL    main\n"
         "        STS     result,R17\n"
         "        CLI\n"
         "        SLEEP\n" +
         kMain + kInterruptRoutine;
}

const char* const kRows = "        JMP     start\n        JMP     isr0\n        RETI\n";

class VerifyStartAndInterruptsTest : public korvid::testing::TToolchainTest {
 protected:
  Verdict Check(const std::string& original, const std::string& optimised) {
    VerifyOptions options;
    options.budget = 100'000;
    VerifyResult r = VerifyPrograms(original, optimised, options);
    Message = r.message;
    return r.verdict;
  }
  std::string Message;
};

TEST_F(VerifyStartAndInterruptsTest, ProgramsRunFromTheirOwnStart) {
  const std::string program = OwnStart(kRows);
  EXPECT_EQ(Check(program, program), Verdict::Same) << Message;
  // What the start-up hands to main is behaviour, and so is what the interrupt routine stores.
  EXPECT_EQ(Check(program, Replace(program, "LDI     R24,5", "LDI     R24,6")), Verdict::Different);
  EXPECT_EQ(Check(program, Replace(program, "        INC     R17\n", "        DEC     R17\n")), Verdict::Different);
  // A routine that loses SREG turns the branch main takes after the interrupt.
  const std::string unsaved = Replace(Replace(program, "        IN      R17,SREG\n        PUSH    R17\n", ""),
                                      "        POP     R17\n        OUT     SREG,R17\n", "");
  EXPECT_EQ(Check(program, unsaved), Verdict::Different);
  EXPECT_NE(Message.find("RAM 0200h differs"), std::string::npos) << Message;
}

TEST_F(VerifyStartAndInterruptsTest, VectorRowsRouteTheInterrupts) {
  const std::string program = OwnStart(kRows);
  // Rows removed as if unreachable after the first JMP: the interrupt lands in the start-up code.
  EXPECT_EQ(Check(program, OwnStart("        JMP     start\n")), Verdict::Different) << Message;
  // A row shortened to RJMP moves every later row.
  EXPECT_EQ(Check(program, OwnStart("        RJMP    start\n        JMP     isr0\n        RETI\n")),
            Verdict::Different)
      << Message;
}

TEST_F(VerifyStartAndInterruptsTest, TheHarnessTableServesProgramsWithoutAStart) {
  // Routines first: the harness calls main and routes INT0 to the first routine returning by -1.
  const std::string program = std::string(kDeclarations) + kInterruptRoutine + ".ENTRYMAIN $\n" + kMain;
  EXPECT_EQ(Check(program, program), Verdict::Same) << Message;
  EXPECT_EQ(Check(program, Replace(program, "        INC     R17\n", "        DEC     R17\n")), Verdict::Different);
  // Without EIMSK's bit the write raises nothing, so the routine's body does not matter.
  const std::string masked = Replace(program, "main:   LDI     R16,1", "main:   LDI     R16,2");
  EXPECT_EQ(Check(masked, Replace(masked, "        INC     R17\n", "        DEC     R17\n")), Verdict::Same) << Message;
}

// The instruction on a labelled line is reached by the branch as well as by the fall-through.
TEST_F(VerifyStartAndInterruptsTest, ALabelledInstructionIsAJoin) {
  const std::string body =
      "a       .EQU    200h    ; var idata byte\n"
      "b       .EQU    201h    ; var idata byte\n"
      ".ENTRYMAIN $\n.FUNC main\n.RETURNS 0\nmain:\n"
      "        LDI     R16,5\n"
      "        LDI     R24,1\n"
      "        CPI     R24,0\n"
      "        BRNE    L\n"
      "        LDI     R16,7\n"
      "        STS     a,R16\n"
      "L       LDI     R16,7\n"
      "        STS     b,R16\n"
      "        RET\n.ENDFUNC\n";
  EXPECT_EQ(Check(body, Replace(body, "L       LDI     R16,7", "L:")), Verdict::Different) << Message;
}

}  // namespace
}  // namespace korvid::verify
