#include "analysis/RoutineSummary.h"

#include <gtest/gtest.h>

#include "tests/analysis/PathTestSupport.h"
#include "tests/analysis/RoutineProgram.h"

namespace korvid {
namespace {

using testing::LineOf;
using testing::TRoutineProgram;

TRegisterSet Regs(std::initializer_list<int> numbers) {
  TRegisterSet set;
  for (int r : numbers) set.set(static_cast<std::size_t>(r));
  return set;
}

TEST(RoutineSummaryTest, EffectsAreClosedOverCallsAndCycles) {
  TRoutineProgram p(
      ".FUNC main\n"
      ".RETURNS 0\n"
      "main:\n"
      "  RCALL ping\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC ping\n"
      ".RETURNS 0\n"
      "ping:\n"
      "  LDI R16,1      ; w:R16\n"
      "  BREQ done      ; r:Z\n"
      "  RCALL pong\n"
      "done:\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC pong\n"
      ".RETURNS 0\n"
      "pong:\n"
      "  STS counter,R17 ; r:R17 w:@counter\n"
      "  INC R18         ; m:R18 w:Z\n"
      "  RCALL ping\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC quiet\n"
      ".RETURNS 0\n"
      "quiet:\n"
      "  RET\n"
      ".ENDFUNC\n");
  p.Track();
  TRoutineSummaries summaries(p.Lines);
  for (const char* name : {"main", "ping", "pong"}) {
    const TRoutineEffects& e = summaries.Of(&p.Func(name));
    EXPECT_FALSE(e.Unknown) << name;
    EXPECT_EQ(e.RegsWritten, Regs({16, 18})) << name;
    EXPECT_EQ(e.RegsRead, Regs({17, 18})) << name;
    EXPECT_TRUE(e.MayWriteFlag(1)) << name;
    EXPECT_FALSE(e.MayWriteFlag(0)) << name;
    EXPECT_TRUE(e.MayStore(*p.Vars.Find("counter"))) << name;
    EXPECT_FALSE(e.StoresThroughPointer) << name;
  }
  EXPECT_FALSE(summaries.Of(&p.Func("quiet")).MayStoreAnything());
  EXPECT_EQ(&summaries.AtCall(3), &summaries.Of(&p.Func("ping")));
  EXPECT_EQ(summaries.OwnerOf(9), &p.Func("ping"));
  EXPECT_TRUE(summaries.Of(nullptr).Unknown);
}

TEST(RoutineSummaryTest, CodeThatCannotBeFollowedMeansEverything) {
  TRoutineProgram p(
      ".FUNC indirect\n"
      "  ICALL        ; r:R30 r:R31\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC outside\n"
      "  RCALL lib\n"  // a label outside every routine
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC offset\n"
      "  RJMP offset+2\n"
      ".ENDFUNC\n"
      ".FUNC fallsoff\n"
      "  NOP\n"
      ".ENDFUNC\n"
      ".FUNC skipped\n"
      "  SBRC R20,0   ; r:R20\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC caller\n"
      "  RCALL x.skipper\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC pointer\n"
      "x.skipper:\n"
      "  ST Z,R16     ; r:R16\n"
      "  RET\n"
      ".ENDFUNC\n"
      "lib:\n"
      "  RET\n");
  p.Track();
  p.Lines.Line(15)->FlowKind = fkSkip | fkConditional;
  TRoutineSummaries summaries(p.Lines);
  for (const char* name : {"indirect", "outside", "offset", "fallsoff", "skipped"})
    EXPECT_TRUE(summaries.Of(&p.Func(name)).Unknown) << name;
  EXPECT_TRUE(summaries.Of(&p.Func("indirect")).CallsIndirect);
  const TRoutineEffects& pointer = summaries.Of(&p.Func("pointer"));
  EXPECT_FALSE(pointer.Unknown);
  EXPECT_TRUE(pointer.StoresThroughPointer);
  EXPECT_FALSE(pointer.MayStore(*p.Reg[0]));  // no address of R0 is taken
  p.Reg[0]->AddressTaken = true;
  EXPECT_TRUE(pointer.MayStore(*p.Reg[0]));
  EXPECT_TRUE(summaries.Of(&p.Func("caller")).StoresThroughPointer);
  EXPECT_TRUE(summaries.AtCall(5).Unknown);
}

TEST(RoutineSummaryTest, MemoryNamesOverlapByAddress) {
  tVarList vars;
  TVar* word = vars.Declare("CNT", true, "var data word", "105h");
  TVar* high = vars.Declare("CNTHI", true, "var data byte", "106h");
  TVar* other = vars.Declare("OTHER", true, "var data byte", "107h");
  TRoutineEffects effects;
  effects.VarsWritten.insert(word);
  EXPECT_TRUE(effects.MayStore(*high));
  EXPECT_FALSE(effects.MayStore(*other));
}

const TReturnSites& SitesOf(const TRoutineSummaries& summaries, const TRoutineProgram& p, const std::string& label) {
  return summaries.ReturnSites()[static_cast<std::size_t>(summaries.RoutineOfLine(LineOf(p.Lines, label + ":")))];
}

// ping and pong call each other and nothing else calls them: a RET of either
// goes back to the line after one of the two calls.
TEST(RoutineSummaryTest, ReturnSitesFollowTheCallers) {
  const std::string cycle =
      ".FUNC ping\n"
      ".RETURNS 0\n"
      "ping:\n"
      "  MOV R20,R21   ; w:R20 r:R21\n"
      "  RCALL pong\n"
      "  RET ;after pong\n"
      ".ENDFUNC\n"
      ".FUNC pong\n"
      "pong:\n"
      ".RETURNS 0\n"
      "  TST R22       ; r:R22 w:Z\n"
      "  RCALL ping\n"
      "  RET ;after ping\n"
      ".ENDFUNC\n";
  TRoutineProgram closed(cycle);
  closed.Track();
  TRoutineSummaries summaries(closed.Lines);
  const TReturnSites& pong = SitesOf(summaries, closed, "pong");
  EXPECT_FALSE(pong.Everything);
  EXPECT_EQ(pong.Lines, std::vector<int>{LineOf(closed.Lines, ";after pong")});
  EXPECT_EQ(SitesOf(summaries, closed, "ping").Lines, std::vector<int>{LineOf(closed.Lines, ";after ping")});

  // Called from a routine nobody calls: that one returns anywhere.
  TRoutineProgram entered(cycle + ".FUNC main\nmain:\n  RCALL ping\n  RET ;after main\n.ENDFUNC\n");
  entered.Track();
  TRoutineSummaries open(entered.Lines);
  EXPECT_EQ(SitesOf(open, entered, "ping").Lines.size(), 2u);
  EXPECT_FALSE(SitesOf(open, entered, "ping").Everything);
  EXPECT_TRUE(SitesOf(open, entered, "main").Everything);

  // A label used as data can be called in ways no call line shows.
  TRoutineProgram taken(cycle + "  LDI R30,pong  ; w:R30\n");
  taken.Track();
  EXPECT_TRUE(SitesOf(TRoutineSummaries(taken.Lines), taken, "pong").Everything);

  // A routine jumped into returns for its jumper.
  TRoutineProgram jumped(
      ".FUNC a\na:\n  RJMP b\n.ENDFUNC\n.FUNC b\nb:\n  RET\n.ENDFUNC\n"
      ".FUNC main\nmain:\n  RCALL a\n  RET ;after a\n.ENDFUNC\n");
  jumped.Track();
  TRoutineSummaries via(jumped.Lines);
  EXPECT_EQ(SitesOf(via, jumped, "b").Via, std::vector<int>{via.RoutineOfLine(LineOf(jumped.Lines, "a:"))});
}

TEST(RoutineSummaryTest, UnreadableReturnSizesHandBackEverything) {
  TFunction f("f", "", 0);
  f.SetReturns("SIZE", -1, false);
  EXPECT_FALSE(f.ReturnKnown);
  EXPECT_TRUE(ReturnRegisters(f).all());
  f.SetReturns("z", 0, false);
  EXPECT_EQ(ReturnRegisters(f), Regs({22, 27, 30, 31}));
  // A size at the int limit hands back R16 to R31, without overflowing on the way.
  f.SetReturns("2147483647", 2147483647, true);
  EXPECT_EQ(ReturnRegisters(f), Regs({16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}));
}

TEST(RoutineSummaryTest, LongCallChainsAndCyclesNeedNoDeepStack) {
  constexpr int kRoutines = 20000;
  std::string text;
  for (int i = 0; i < kRoutines; ++i) {
    text += ".FUNC f" + std::to_string(i) + "\nf" + std::to_string(i) + ":\n";
    text += "  RCALL f" + std::to_string((i + 1) % kRoutines) + "\n  RET\n.ENDFUNC\n";
  }
  text += ".FUNC last\nlast:\n  LDI R5,1 ; w:R5\n  RET\n.ENDFUNC\n";
  text.replace(text.find("RCALL f1\n"), 9, "RCALL last\n  RCALL f1\n");
  TRoutineProgram p(text);
  p.Track();
  TRoutineSummaries summaries(p.Lines);
  EXPECT_TRUE(summaries.Of(&p.Func("f12345")).MayWrite(5));
  EXPECT_FALSE(summaries.Of(&p.Func("f12345")).MayWrite(6));
}

}  // namespace
}  // namespace korvid
