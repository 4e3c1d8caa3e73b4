#include <gtest/gtest.h>

#include "verify/Expression.h"
#include "verify/Lowering.h"

namespace korvid::verify {
namespace {

std::optional<SymValue> Symbols(const std::string& name) {
  if (name == "v") return SymValue{0x205, {}, SymValue::Part::Whole};
  if (name == "L") return SymValue{0, "L", SymValue::Part::Whole};
  return std::nullopt;
}

long long Eval(const std::string& text) { return EvaluateConstant(text, Symbols); }

TEST(LoweringExpressions, NotationsOperatorsAndLabelBytes) {
  EXPECT_EQ(Eval("0FFh"), 255);
  EXPECT_EQ(Eval("$FF"), 255);
  EXPECT_EQ(Eval("1010b"), 10);
  EXPECT_EQ(Eval("12"), 12);
  EXPECT_EQ(Eval("300 SHRB 8"), 1);
  EXPECT_EQ(Eval("300 AND 0FFh"), 44);
  EXPECT_EQ(Eval("-2+3"), 1);
  EXPECT_EQ(Eval("5-7-1"), -3);
  // Negative values are 16-bit words to the assembler.
  EXPECT_EQ(Eval("-4 AND 0FFh"), 0xFC);
  EXPECT_EQ(Eval("-4 SHRB 8"), 0xFF);
  EXPECT_EQ(Eval("v+4 AND 0FFh"), 0x09);
  EXPECT_EQ(Eval("v+1 SHRB 8"), 2);

  SymValue low = EvaluateExpression("L+1 AND 0FFh", Symbols);
  EXPECT_EQ(low.label, "L");
  EXPECT_EQ(low.constant, 1);
  EXPECT_EQ(low.part, SymValue::Part::Low);
  EXPECT_EQ(EvaluateExpression("L SHRB 8", Symbols).part, SymValue::Part::High);

  EXPECT_THROW(Eval("nosuch"), LoweringError);
  EXPECT_THROW(Eval("12G"), LoweringError);
  EXPECT_THROW(EvaluateExpression("L AND 0Fh", Symbols), LoweringError);
  EXPECT_THROW(Eval("L"), LoweringError);
}

const Mcu& Mega() { return *FindMcu("atmega2560"); }

std::string Program(const std::string& body, const std::string& returns = "2") {
  return "_ACCB .EQU 10h ; var data byte\n"
         "_FRAMEPTR .EQU 1Ch ; var data word\n"
         "v .EQU 205h ; var idata byte\n"
         ".FILE t.pas\n"
         ".ENTRYMAIN $\n"
         ".FUNC main\n"
         ".RETURNS " + returns + "\n"
         "main:\n" + body + "\n        RET\n.ENDFUNC\n";
}

// The lowered text of the program's own lines, without the runtime.
std::string Code(const LoweredProgram& p) {
  std::string code;
  size_t start = 0;
  for (size_t i = 0; i < p.loweredToDialect.size(); ++i) {
    size_t end = p.assembly.find('\n', start);
    int d = p.loweredToDialect[i];
    if (d >= 0 && !p.lines[d].runtime) code += p.assembly.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return code;
}

TEST(Lowering, TranslatesInstructionsOperandsAndDirectives) {
  LoweredProgram p = Lower(Program(".LINE 3\n"
                                   "        LDI     _ACCB,v AND 0FFh\n"
                                   "        ldi     r17,main SHRB 8 // high byte\n"
                                   "        STS     v+1,R16\n"
                                   "        LDD     R18,Y+2\n"
                                   "        ST      -Y,R18\n"
                                   "        ADIW    _FRAMEPTR,1\n"
                                   "        OUT     PORTB,R16\n"
                                   "lab     CLN\n"
                                   "lab2:   SBRC    R16,0\n"
                                   ".DEB\n"
                                   ".OPTI NO_LOOP_OPT\n"
                                   ".LOOP\n"
                                   "        RJMP    SYSTEM.ENDPROG\n"
                                   ".ENDLOOP\n"
                                   "tab:    .BYTE   1,0FFh\n"
                                   "        .ASCII  'hi'\n"
                                   "        .WORD   tab\n"
                                   "        NOP\n"),
                           Mega());
  std::string code = Code(p);
  for (const char* expected :
       {"ldi r16, 5\n", "ldi r17, pm_hi8(k_main)\n", "sts 518, r16\n", "ldd r18, Y+2\n", "st -Y, r18\n",
        "adiw r28, 1\n", "out 5, r16\n", "k_lab:\n", "cln\n", "k_lab2:\n", "sbrc r16, 0\n", "; .DEB\n",
        "; .OPTI NO_LOOP_OPT\n", "; .LOOP\n", "rjmp k_system_2eendprog\n", ".byte 1, 255\n", ".ascii \"hi\"\n",
        ".word gs(k_tab)\n", ".balign 2\n", "; .FUNC main\n"})
    EXPECT_NE(code.find(expected), std::string::npos) << expected << " not in\n" << code;
  EXPECT_EQ(p.mainLabel, "main");
  EXPECT_EQ(p.returnRegisters, (std::vector<int>{16, 17}));
  // The line map gives each instruction's source line marker.
  int sts = -1;
  for (size_t i = 0; i < p.lines.size(); ++i)
    if (p.lines[i].text.find("STS     v+1") != std::string::npos) sts = static_cast<int>(i);
  ASSERT_GE(sts, 0);
  EXPECT_EQ(DescribeLine(p, sts), "line 12 (source line 3 of t.pas): STS     v+1,R16");
}

TEST(Lowering, ReturnSizesScopesAndRuntimeOverrides) {
  EXPECT_EQ(Lower(Program("", "1"), Mega()).returnRegisters, std::vector<int>{17});
  EXPECT_EQ(Lower(Program("", "Z"), Mega()).returnRegisters, (std::vector<int>{30, 31, 22, 27}));
  EXPECT_TRUE(Lower(Program("", "0"), Mega()).returnRegisters.empty());

  LoweredProgram scoped = Lower(Program(".UNIT blink\n%.x:\n        RJMP %.x\n"), Mega());
  EXPECT_NE(Code(scoped).find("rjmp k_blink_2ex"), std::string::npos);

  // A program that brings its own library routine replaces the runtime's.
  LoweredProgram own = Lower(Program("        RCALL SYSTEM.UDELAY\n") + "SYSTEM.UDELAY:\n        RET\n", Mega());
  int definitions = 0;
  for (size_t pos = 0; (pos = own.assembly.find("k_system_2eudelay:", pos)) != std::string::npos; ++pos) ++definitions;
  EXPECT_EQ(definitions, 1);
}

TEST(Lowering, UnknownLinesAreErrorsNamingTheLine) {
  auto message = [](const std::string& body) {
    try {
      Lower(Program(body), Mega());
    } catch (const LoweringError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("        FROB"), "line 9: \"FROB\" is neither an instruction nor a label: FROB");
  EXPECT_EQ(message("        FROB R16"), "line 9: neither \"FROB\" nor \"R16\" is an instruction: FROB R16");
  EXPECT_EQ(message("x:      FROB R16"), "line 9: unknown instruction \"FROB\": x:      FROB R16");
  EXPECT_EQ(message(".FROB 100h"), "line 9: directive the lowering cannot translate: .FROB 100h");
  EXPECT_EQ(message(".DEPHASE"), "line 9: .DEPHASE without .PHASE: .DEPHASE");
  EXPECT_EQ(message("        LDI R16,nosuch"), "line 9: unknown symbol \"nosuch\" in expression \"nosuch\": LDI R16,nosuch");
  EXPECT_EQ(message("        INC R16,R17"), "line 9: INC needs 1 operand: INC R16,R17");
  EXPECT_EQ(message("        LD R16,W"), "line 9: \"W\" is not a pointer operand: LD R16,W");
  EXPECT_EQ(message("x:\nx:"), "line 10: label \"X\" defined twice: x:");
  EXPECT_THROW(Lower(".FUNC f\nf:\n        NOP\n.ENDFUNC\n", Mega()), LoweringError);  // no main routine
}

// Code before the first routine is the program's own start: it lands at address 0, and the
// harness adds no vector table, no start-up and no call of main, only library routines.
TEST(Lowering, ProgramsWithTheirOwnStart) {
  LoweredProgram p = Lower("        JMP     start\n"
                           "        JMP     isr\n"
                           "start:  CALL    SYSTEM.UDELAY\n"
                           "        CLI\n"
                           "        SLEEP\n"
                           ".FUNC isr\n.RETURNS -1\nisr:\n        RETI\n.ENDFUNC\n",
                           Mega());
  EXPECT_TRUE(p.ownStart);
  EXPECT_TRUE(p.mainLabel.empty());
  const std::string code = Code(p);
  EXPECT_EQ(code.find("__kl_0:\n\tjmp k_start\n"), 0u) << code;
  EXPECT_EQ(p.assembly.find("k_system_2ereset"), std::string::npos);
  EXPECT_NE(p.assembly.find("k_system_2eudelay:"), std::string::npos);

  // A routine first: the harness's table routes the wired interrupts to the routines
  // returning by -1, in the order they stand, and the rest to a bare RETI.
  LoweredProgram called = Lower(".FUNC isr\n.RETURNS -1\nisr:\n        RETI\n.ENDFUNC\n" + Program(""), Mega());
  EXPECT_FALSE(called.ownStart);
  EXPECT_NE(called.assembly.find("\tjmp k_system_2ereset\n\tjmp k_isr\n\tjmp k_system_2enointerrupt\n"),
            std::string::npos)
      << called.assembly;
}

// Dialect addresses count words: .ORG places code, .PHASE gives labels another address.
TEST(Lowering, AddressBlocks) {
  LoweredProgram p = Lower(Program(".ORG 100h\n"
                                   "        NOP\n"
                                   ".PHASE 800h\n"
                                   "moved:  RJMP    moved\n"
                                   ".DEPHASE\n"
                                   "after:  NOP\n"),
                           Mega());
  const std::string code = Code(p);
  EXPECT_NE(code.find(".org 512\n"), std::string::npos) << code;
  EXPECT_NE(code.find(".set k_moved, 4096 + (. - .Lphase"), std::string::npos) << code;
  EXPECT_NE(code.find("k_after:\n"), std::string::npos) << code;
}

}  // namespace
}  // namespace korvid::verify
