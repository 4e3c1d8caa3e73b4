// The questions every pass asks, each with the case that breaks a careless
// answer beside the one that holds.
#include "analysis/Analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../analysis/PathTestSupport.h"
#include "../passes/MainProgram.h"
#include "analysis/EffectTable.h"
#include "source/LineList.h"

namespace korvid {
namespace {

using testing::LineOf;
using testing::Program;
using testing::AsCalledRoutine;

struct TLoaded {
  explicit TLoaded(const std::string& text) { Lines.LoadFromText(text); }
  int At(const std::string& marker) const {
    int line = LineOf(Lines, marker);
    EXPECT_GE(line, 0) << marker;
    return line;
  }
  TLineList Lines;
  TAnalysis Facts{Lines};
};

TEST(Analysis, SkipShadowsFollowTheCurrentLines) {
  TLoaded p(Program(" LDS R16,v\n SBRC R16,1\n LDS R17,u ; two words\n INC R17 ; after\n"
                    " SBIS 5,1\nL1:\n INC R18 ; behind label\n STS v,R17\n STS u,R18\n"));
  EXPECT_TRUE(p.Facts.IsInSkipShadow(p.At("two words")));
  EXPECT_FALSE(p.Facts.IsInSkipShadow(p.At("; after")));
  EXPECT_TRUE(p.Facts.IsInSkipShadow(p.At("L1:")));
  EXPECT_TRUE(p.Facts.IsInSkipShadow(p.At("behind label")));
  // Once the skip is gone, so is its shadow.
  p.Lines.RemoveLine(p.At("SBRC"));
  EXPECT_FALSE(p.Facts.IsInSkipShadow(p.At("two words")));
}

TEST(Analysis, PointsWhereAFrozenRewriteChangedLivenessAnswerUsed) {
  TLoaded p(Program(" LDS R24,v ; load\n INC R24 ; inc\n STS v,R24\n LDI R20,1\n STS u,R20\n"));
  const TAnalysis& facts = p.Facts;
  const TRegFlagSet r20 = RegisterBit(20);
  {
    auto frozen = facts.Freeze();
    EXPECT_FALSE(facts.AnyLive(r20, p.At("; inc")));
    facts.MarkLivenessChanged(p.At("; load"), p.At("; inc"));
    EXPECT_TRUE(facts.AnyLive(r20, p.At("; inc")));
    EXPECT_FALSE(facts.AnyLive(r20, p.At("; load")));  // the lines' entry keeps its answer
  }
  EXPECT_FALSE(facts.AnyLive(r20, p.At("; inc")));
}

TEST(Analysis, RegistersReachedOnlyThroughNamedOperands) {
  TLoaded p(std::string(testing::kHeader) + "shv                     .EQU    013h           ; var data byte volatile\n" +
            ".ENTRYMAIN $\n.FUNC main\nmain:\n LDI R30,5 ; ldi\n ADD R24,R16 ; add\n MUL R0,R5 ; mul\n"
            " ST X+,R24 ; st\n LDI R26,shv AND 0FFh\n LD R5,X ; reads\n MOVW R24,R16 ; movw\n RET\n.ENDFUNC\n.ENTRY\n.END\n");
  const TAnalysis& facts = p.Facts;
  EXPECT_EQ(facts.NamedRegister(p.At("; add"), 1), 24);
  EXPECT_EQ(facts.NamedRegister(p.At("; add"), 2), 16);
  EXPECT_EQ(facts.NamedRegister(p.At("; ldi"), 2), -1);  // an immediate
  EXPECT_EQ(facts.NamedRegister(p.At("; movw"), 1), -1);  // a pair
  EXPECT_TRUE(facts.AccessesOnlyByName(p.At("; add"), RegisterBit(24) | RegisterBit(16) | RegisterBit(0)));
  EXPECT_FALSE(facts.AccessesOnlyByName(p.At("; mul"), RegisterBit(0)));   // writes R1:R0 unnamed
  EXPECT_FALSE(facts.AccessesOnlyByName(p.At("; st"), RegisterBit(26)));   // the pointer
  EXPECT_TRUE(facts.AccessesOnlyByName(p.At("; st"), RegisterBit(24)));
  EXPECT_FALSE(facts.AccessesOnlyByName(p.At("; movw"), RegisterBit(16)));
  // A pointer read may reach a register whose address is taken; a volatile
  // register variable is seen by interrupts.
  EXPECT_FALSE(facts.AccessesOnlyByName(p.At("; reads"), RegisterBit(19)));
  EXPECT_TRUE(facts.AccessesOnlyByName(p.At("; reads"), RegisterBit(16)));
  EXPECT_EQ(facts.SharedRegisters() & (RegisterBit(19) | RegisterBit(24) | RegisterBit(16)), RegisterBit(19));
}

TEST(Analysis, FlagsChangedByAReplacementAreEveryFlagEitherWrites) {
  TLoaded p(Program(" LDI R16,0 ; ldi\n POP R17 ; pop\n TST R16 ; tst\n STS v,R16\n"));
  const TLine& ldi = *p.Lines.Line(p.At("; ldi"));
  const TLine& pop = *p.Lines.Line(p.At("; pop"));
  const TLine& tst = *p.Lines.Line(p.At("; tst"));
  using namespace sreg;
  EXPECT_EQ(TAnalysis::FlagsChangedBy(ldi, lt::CLR), S | V | N | Z);  // LDI sets none, CLR four
  EXPECT_EQ(TAnalysis::FlagsChangedBy(pop, lt::ADIW), S | V | N | Z | C);
  EXPECT_EQ(TAnalysis::FlagsChangedBy(tst, lt::Unknown), S | V | N | Z);  // removed
  EXPECT_EQ(TAnalysis::FlagsChangedBy(ldi, lt::LDI), 0);
  EXPECT_EQ(TAnalysis::FlagsChangedBy(ldi, lt::OUT), All);  // OUT may write SREG
}

TEST(Analysis, FlagsAreReadThroughBranchesCallsAndSreg) {
  const std::string reader = ".FUNC reads\nreads:\n BRNE r1\n INC R16\nr1:\n RET\n.ENDFUNC\n";
  const std::string writer = ".FUNC sets\nsets:\n CLZ\n RET\n.ENDFUNC\n";
  struct TCase {
    const char* Name;
    std::string Body;
    bool Read;
  };
  const std::vector<TCase> cases = {
      {"branch", " TST R16 ; here\n BREQ e\n INC R16\ne:\n", true},
      {"set again first", " TST R16 ; here\n CP R16,R17\n BREQ e\n INC R16\ne:\n", false},
      {"IN SREG", " TST R16 ; here\n IN R18,3Fh\n STS u,R18\n", true},
      {"call of a reader", " TST R16 ; here\n RCALL reads\n", true},
      {"call of a writer", " TST R16 ; here\n RCALL sets\n BREQ e\n INC R16\ne:\n", false},
  };
  for (const TCase& c : cases) {
    TLoaded p(Program(" LDS R16,v\n LDS R17,u\n" + c.Body + " STS v,R16\n", reader + writer));
    EXPECT_EQ(p.Facts.FlagsReadAfter(sreg::Z, p.At("; here") + 1), c.Read) << c.Name;
  }
}

TEST(Analysis, FreeRegistersCountImplicitOperandsAndLiveness) {
  // A routine whose callers read only its result: registers it does not touch are dead.
  TLoaded p(AsCalledRoutine(" LDS R16,v ; first\n LDS R17,u\n MUL R16,R17\n MOV R16,R0\n LPM ; bare\n"
                                     " ADD R16,R0 ; last\n STS v,R16\n CLR R1\n RET\n"));
  const int first = p.At("; first"), last = p.At("; last");
  const TRegFlagSet low = RegisterBit(0) | RegisterBit(1) | RegisterBit(2);
  EXPECT_EQ(p.Facts.FreeRegister(first, last, low), 2);  // MUL writes R1:R0, bare LPM R0
  // R17 is loaded inside the range.
  EXPECT_EQ(p.Facts.FreeRegister(first, last, RegisterBit(17)), std::nullopt);
  EXPECT_EQ(p.Facts.FreeRegister(first, last, RegisterBit(17) | RegisterBit(20)), 20);
  EXPECT_TRUE(p.Facts.AnyLive(RegisterBit(0), p.At("MOV R16")));
  EXPECT_FALSE(p.Facts.AnyLive(RegisterBit(18) | RegisterBit(19), first));
}

TEST(Analysis, MemoryAccessesAreComparedByTheirBytes) {
  TLoaded p(Program(" STS v,R16 ; direct\n LDS R17,u ; other\n LDI R30,v AND 0FFh\n LDI R31,v SHRB 8\n"
                    " LD R18,Z ; known\n LDD R19,Y+3 ; frame\n LDD R21,Y+4 ; next slot\n LD R20,X ; unknown\n"
                    " STS wlo,R20\n"));
  using K = TMemoryAccess::TKind;
  const TMemoryAccess direct = p.Facts.MemoryAccessOf(p.At("; direct"));
  EXPECT_EQ(direct.Kind, K::Data);
  EXPECT_EQ(direct.Start, 0x200);
  EXPECT_TRUE(direct.Writes);
  EXPECT_TRUE(p.Facts.MemoryAccessOf(p.At("; known")).SameBytes(direct));
  const TMemoryAccess frame = p.Facts.MemoryAccessOf(p.At("; frame"));
  EXPECT_EQ(frame.Kind, K::Frame);
  EXPECT_EQ(frame.Start, 3);
  EXPECT_EQ(p.Facts.MemoryAccessOf(p.At("; unknown")).Kind, K::Unknown);
  EXPECT_FALSE(p.Facts.MayReadBytes(p.At("; other"), direct));
  EXPECT_TRUE(p.Facts.MayReadBytes(p.At("; known"), direct));
  // Nothing says Y holds the frame: through it, any data a pointer reaches may be read.
  EXPECT_TRUE(p.Facts.MayReadBytes(p.At("; frame"), direct));
  EXPECT_TRUE(p.Facts.MayReadBytes(p.At("; frame"), frame));
  EXPECT_FALSE(p.Facts.MayReadBytes(p.At("; next slot"), frame));
  EXPECT_TRUE(p.Facts.MayReadBytes(p.At("; unknown"), frame));
  // v's address is taken, so a pointer nobody knows may read it.
  EXPECT_TRUE(p.Facts.MayReadBytes(p.At("; unknown"), direct));
}

TEST(Analysis, LabelsAndPredecessors) {
  TLoaded p(Program(" LDS R16,v\n TST R16\n BREQ used\n INC R16 ; falls\nused:\n INC R16\nspare:\n STS v,R16\n",
                    ".FUNC other\nother:\n RET\n.ENDFUNC\n"));
  EXPECT_TRUE(p.Facts.LabelNeeded(p.At("used:")));
  EXPECT_FALSE(p.Facts.LabelNeeded(p.At("spare:")));
  EXPECT_TRUE(p.Facts.LabelNeeded(p.At("other:")));  // a routine begins there
  const TPredecessors into = p.Facts.Predecessors(p.At("used:"));
  EXPECT_EQ(into.Lines, (std::vector<int>{p.At("BREQ"), p.At("; falls")}));
  EXPECT_FALSE(into.Entered);
}

// A routine is entered from outside only through what other lines name or code that runs into it.
TEST(Analysis, RoutinesEnteredFromOutside) {
  const std::string routines =
      ".FUNC Dead\nMAIN.Dead:\nMAIN.Dead.loop:\n DEC R16\n BRNE MAIN.Dead.loop\n RET\n.ENDFUNC\n"
      ".FUNC Inner\nMAIN.Inner:\n NOP\nMAIN.Inner.in:\n RET\n.ENDFUNC\n"
      ".FUNC Taken\nMAIN.Taken:\n RET\n.ENDFUNC\n"
      ".FUNC Falls\nMAIN.Falls:\n INC R16\n.ENDFUNC\n"
      ".FUNC Into\nMAIN.Into:\n RET\n.ENDFUNC\n"
      ".FUNC Skips\nMAIN.Skips:\n SBRC R16,0\n RET\n.ENDFUNC\n"
      ".FUNC Behind\nMAIN.Behind:\n RET\n.ENDFUNC\n"
      "tab:\n .BYTE 1\n.FUNC AfterData\nMAIN.AfterData:\n RET\n.ENDFUNC\n"
      ".FUNC Sleeps\nMAIN.Sleeps:\n SLEEP\n.ENDFUNC\n"
      ".FUNC AfterSleep\nMAIN.AfterSleep:\n RET\n.ENDFUNC\n"
      ".FUNC Isr\nMAIN.Isr:\n RETI\n.ENDFUNC\n"
      ".FUNC Shifted\nMAIN.Shifted:\n RET\n.ENDFUNC\n";
  TLoaded p(Program(" RCALL MAIN.Inner.in\n LDI R30,MAIN.Taken AND 0FFh\n LDI R31,MAIN.Shifted SHRB 1 AND 0FFh\n",
                    routines));
  auto entered = [&p](const std::string& name) {
    const int header = p.At(".FUNC " + name);
    int end = header;
    while (p.Lines.Line(end)->LineType != lt::ENDFUNC) ++end;
    return p.Facts.EnteredFromOutside(header, end);
  };
  EXPECT_FALSE(entered("Dead"));  // its loop names its own label
  EXPECT_TRUE(entered("Inner"));
  EXPECT_TRUE(entered("Taken"));
  EXPECT_TRUE(entered("Shifted"));
  EXPECT_TRUE(entered("Into"));    // Falls runs off its end into it
  EXPECT_TRUE(entered("Behind"));  // the RET may be skipped
  EXPECT_FALSE(entered("AfterData"));
  EXPECT_TRUE(entered("AfterSleep"));
  EXPECT_TRUE(entered("Isr"));
  // A RET goes back to its callers: the line after it has no predecessor.
  EXPECT_TRUE(p.Facts.Predecessors(p.At("MAIN.Dead.loop") + 4).Lines.empty());
}

}  // namespace
}  // namespace korvid
