// The bit tests: the TestBit8 call inlined and the ANDI masks turned into
// skips, each beside the near misses where the call, the mask or its flags
// must stay; every case is simulated.
#include "passes/BitTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// The routine as the run-time library has it: bit _ACCA of the byte at X,
// answered in _ACCA as 255 or 0; bit numbers past 7 answer 0. `extra` goes
// before its RET.
std::string TestBit8Routine(const std::string& extra = "") {
  return ".FUNC SYSTEM.TestBit8\n.RETURNS 1\nSYSTEM.TestBit8:\n"
         " LD _ACCB,X\n INC _ACCA\ntb.shift:\n DEC _ACCA\n BREQ tb.test\n LSR _ACCB\n RJMP tb.shift\n"
         "tb.test:\n SER _ACCA\n SBRS _ACCB,0\n CLR _ACCA\n" +
         extra + " RET\n.ENDFUNC\n";
}

const std::string kAccb = "_ACCB                   .EQU    010h           ; var data byte\n";

// Main calls t, whose body is `body`, then sets R16, R24, R20 and the flags
// but T afresh: only what t stores and leaves in R17 is read of what it does.
std::string CallingT(const std::string& body, const std::string& routines = "") {
  return testing::Program(" RCALL t\n LDI R16,1\n LDI R24,0\n SUB R20,R20\n",
                          ".FUNC t\n.RETURNS 0\nt:\n" + body + " RET\n.ENDFUNC\n" + routines);
}

// X points at v, which holds 0A5h (bits 0, 2, 5 and 7 set); `routine` is the
// program's own TestBit8, if any, and `accb` declares _ACCB.
std::string WithTestBit8(const std::string& body, const std::string& routine = TestBit8Routine(),
                         const std::string& accb = kAccb) {
  std::string program =
      CallingT(" LDI R18,0A5h\n STS v,R18\n LDI R26,v AND 0FFh\n LDI R27,v SHRB 8\n" + body,
               routine + ".FUNC f\n.RETURNS 0\nf:\n INC R19\n RET\n.ENDFUNC\n");
  program.insert(std::strlen(testing::kHeader), accb);
  return program;
}

const std::string kCall = " RCALL SYSTEM.TestBit8";
const std::string kStore = " STS u,_ACCA\n";

std::vector<std::string> Inlined(int bit) {
  return {" LD _ACCB, X", " SER _ACCA", " SBRS _ACCB, " + std::to_string(bit), " CLR _ACCA"};
}

TEST(InlineTestBit8, TheCallBecomesASkipOnTheByteAtX) {
  testing::ExpectCases(
      InlineTestBit8,
      {
          {"set bit", WithTestBit8(" LDI _ACCA,2\n" + kCall + "\n" + kStore), {" LDI _ACCA,2", kCall}, Inlined(2)},
          {"clear bit", WithTestBit8(" LDI _ACCA,6\n" + kCall + "\n" + kStore), {kCall}, Inlined(6)},
          {"CLR loads bit 0", WithTestBit8(" CLR _ACCA\n" + kCall + "\n" + kStore), {kCall}, Inlined(0)},
          {"CALL, lines between", WithTestBit8(" LDI _ACCA,7\n INC R19\n STS w,R19\n CALL SYSTEM.TestBit8\n" + kStore),
           {" CALL SYSTEM.TestBit8"}, Inlined(7)},
          {"the flags set again",
           WithTestBit8(" LDI _ACCA,5\n" + kCall + "\n TST _ACCA\n BREQ zero\n INC R19\nzero:\n" + kStore +
                        " STS w,R19\n"),
           {kCall}, Inlined(5)},
      });
}

TEST(InlineTestBit8, TheCallStaysWhereTheNumberOrWhatElseTheRoutineDoesMayMatter) {
  auto kept = [](const char* name, const std::string& body, const std::string& routine = TestBit8Routine(),
                 const std::string& accb = kAccb) {
    return TCase{name, WithTestBit8(body, routine, accb), {}, {kCall}};
  };
  testing::ExpectCases(
      InlineTestBit8,
      {
          kept("no load", kCall + "\n" + kStore),
          kept("label between", " LDI _ACCA,2\nelse:\n" + kCall + "\n" + kStore),
          kept("call between", " LDI _ACCA,2\n RCALL f\n" + kCall + "\n" + kStore),
          kept("skip between", " LDI _ACCA,2\n SBRC R18,1\n INC R19\n" + kCall + "\n" + kStore),
          kept("skipped load", " SBRC R18,1\n LDI _ACCA,2\n" + kCall + "\n" + kStore),
          kept("_ACCA read between", " LDI _ACCA,2\n STS w,_ACCA\n" + kCall + "\n" + kStore),
          kept("_ACCA written through Z between",
               " LDI _ACCA,2\n LDI R30,acca AND 0FFh\n LDI R31,acca SHRB 8\n LDI R19,5\n ST Z,R19\n" + kCall + "\n" +
                   kStore,
               TestBit8Routine(), kAccb + "acca                    .EQU    011h           ; var data byte\n"),
          kept("bit 8", " LDI _ACCA,8\n" + kCall + "\n" + kStore),
          kept("_ACCB read after", " LDI _ACCA,2\n" + kCall + "\n" + kStore + " STS w,_ACCB\n"),
          kept("Z read after", " LDI _ACCA,2\n" + kCall + "\n BREQ zero\n INC R19\nzero:\n STS w,R19\n"),
          kept("flags of the CLR read before", " CLR _ACCA\n IN R19,3Fh\n STS w,R19\n" + kCall + "\n" + kStore),
          kept("the routine stores", " LDI _ACCA,2\n" + kCall + "\n" + kStore, TestBit8Routine(" STS wlo,_ACCB\n")),
          kept("the routine writes R20, read after", " LDI _ACCA,2\n" + kCall + "\n" + kStore + " STS w,R20\n",
               TestBit8Routine(" LDI R20,3\n")),
          kept("_ACCB not a register", " LDI _ACCA,2\n" + kCall + "\n" + kStore, TestBit8Routine(),
               "_ACCB                   .EQU    010h\n"),
          kept("switched off", ".OPTI NO_BITTEST8\n LDI _ACCA,2\n" + kCall + "\n" + kStore),
      });
}

// The ANDI rules run only when asked for: NO_BITTEST_OPT is in force from the start.
const std::set<std::string, std::less<>> kAndiRules = {"andi-zero", "andi-after-logic", "andi-bit-branch",
                                                        "andi-cpi-bit-branch"};

void ExpectAndiCases(const std::vector<TCase>& cases) {
  testing::ExpectCases(OptimiseAndiBitTests, cases, true, kAndiRules);
}

// R24 holds v (0A5h) masked by `test`, which branches to `skip` over INC R19.
std::string Masking(const std::string& test, const std::string& after = "") {
  return CallingT(" LDI R18,0A5h\n STS v,R18\n LDS R24,v\n CLR R19\n" + test + " INC R19\nskip:\n" + after +
                  " STS u,R19\n");
}

TEST(AndiBitTest, MasksBecomeClearsRemovalsAndSkips) {
  ExpectAndiCases({
      {"ANDI 0", CallingT(" LDI R16,7\n ANDI R16,0\n IN R17,3Fh\n STS u,R16\n"), {" ANDI R16,0"}, {" CLR R16"}},
      {"ANDI 0FFh after OR", CallingT(" LDI R16,7\n LDI R17,80h\n OR R16,R17\n ANDI R16,0FFh\n IN R17,3Fh\n STS u,R16\n"),
       {" ANDI R16,0FFh"}, {" OR R16,R17"}},
      {"BREQ on a set bit", Masking(" ANDI R24,4\n BREQ skip\n"), {" ANDI R24,4", " BREQ skip"}, {" SBRC R24, 2"}},
      {"BRNE on a clear bit, LDI between", Masking(" ANDI R24,8\n LDI R18,3\n BRNE skip\n"), {" ANDI R24,8"},
       {" LDI R18,3", " SBRS R24, 3"}},
      {"LDI of 0 between", Masking(" ANDI R24,1\n LDI R18,0\n BREQ skip\n"), {" ANDI R24,1"}, {" SBRC R24, 0"}},
      {"over a two-word STS", CallingT(" LDI R24,20h\n LDI R19,9\n ANDI R24,20h\n BREQ skip\n STS u,R19\nskip:\n"),
       {" ANDI R24,20h"}, {" SBRC R24, 5"}},
      {"ANDI/CPI, BRNE", Masking(" ANDI R24,4\n CPI R24,4\n BRNE skip\n"), {" ANDI R24,4", " CPI R24,4"},
       {" SBRC R24, 2"}},
      {"ANDI/CPI, SER, BREQ", Masking(" ANDI R24,80h\n CPI R24,80h\n SER R18\n BREQ skip\n"), {" CPI R24,80h"},
       {" SBRS R24, 7"}},
  });
}

TEST(AndiBitTest, MasksStayWhereTheirRegisterOrFlagsMayBeRead) {
  auto kept = [](const char* name, const std::string& program, const std::string& line) {
    return TCase{name, program, {}, {line}};
  };
  ExpectAndiCases({
      kept("ANDI 0FFh after ADD", CallingT(" LDI R16,7\n LDI R17,80h\n ADD R16,R17\n ANDI R16,0FFh\n"),
           " ANDI R16,0FFh"),
      kept("ANDI 0FFh after OR of another register",
           CallingT(" LDI R16,7\n LDI R17,80h\n OR R17,R16\n ANDI R16,0FFh\n IN R17,3Fh\n STS u,R16\n"), " ANDI R16,0FFh"),
      kept("ANDI 0FFh entered by a label",
           CallingT(" LDI R16,0\n LDI R17,80h\n OR R16,R17\nagain:\n ANDI R16,0FFh\n IN R17,3Fh\n STS u,R16\n"),
           " ANDI R16,0FFh"),
      kept("a real CLR between", Masking(" ANDI R24,4\n CLR R18\n BREQ skip\n"), " ANDI R24,4"),
      kept("two bits", Masking(" ANDI R24,6\n BREQ skip\n"), " ANDI R24,6"),
      kept("LDI of the masked register between", Masking(" ANDI R24,4\n LDI R24,0\n BREQ skip\n"), " ANDI R24,4"),
      kept("two instructions before the label", Masking(" ANDI R24,4\n BREQ skip\n INC R19\n"), " ANDI R24,4"),
      kept("masked register read after", Masking(" ANDI R24,4\n BREQ skip\n", " ADD R19,R24\n"), " ANDI R24,4"),
      kept("flags read after", Masking(" ANDI R24,4\n BREQ skip\n", " IN R20,3Fh\n STS w,R20\n"), " ANDI R24,4"),
      kept("skipped ANDI", Masking(" SBRC R18,1\n ANDI R24,4\n BREQ skip\n"), " ANDI R24,4"),
      kept("CPI of another bit", Masking(" ANDI R24,4\n CPI R24,8\n BRNE skip\n"), " CPI R24,8"),
      kept("carry of the CPI read after", Masking(" ANDI R24,4\n CPI R24,4\n BRNE skip\n", " ADC R19,R19\n"),
           " CPI R24,4"),
      kept("switched off in the program", ".OPTI NO_BITTEST_OPT\n" + Masking(" ANDI R24,4\n BREQ skip\n"),
           " ANDI R24,4"),
  });
  // Without being asked for, none of them runs.
  testing::ExpectCases(OptimiseAndiBitTests, {kept("not asked for", Masking(" ANDI R24,4\n BREQ skip\n"), " ANDI R24,4")},
                       false);
}

}  // namespace
}  // namespace korvid
