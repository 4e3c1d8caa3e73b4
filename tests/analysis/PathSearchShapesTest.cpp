// Liveness and modification on small control-flow shapes, each once with the
// register live and once dead, and the faults a literal reading would make.
#include <gtest/gtest.h>

#include "analysis/PathSearch.h"
#include "tests/analysis/PathTestSupport.h"

namespace korvid {
namespace {

using testing::LineOf;
using testing::AsCalledRoutine;
using testing::kRoutineBodyLine;

struct TShape {
  const char* Name;
  const char* Program;
  int Register;
  const char* From;  // marker of the line asked about
  bool Used;
};

bool UsedAt(TLineList& lines, int reg, const std::string& marker) {
  return IsUsedLater(lines, lines.RegisterVar[reg], LineOf(lines, marker));
}

void ExpectShapes(std::initializer_list<TShape> shapes) {
  for (const TShape& shape : shapes) {
    TLineList lines;
    lines.LoadFromText(AsCalledRoutine(shape.Program));
    EXPECT_EQ(UsedAt(lines, shape.Register, shape.From), shape.Used) << shape.Name;
  }
}

TEST(PathSearchShapes, StraightLineDiamondAndLoop) {
  ExpectShapes({
      {"straight live", " LDI R16,1 ;a\n MOV R17,R16\n RET\n", 16, ";a", false},
      {"straight read", " LDI R16,1\n MOV R17,R16 ;a\n RET\n", 16, ";a", true},
      {"straight dead", " MOV R17,R16\n LDI R16,2 ;a\n RET\n", 16, ";a", false},
      {"diamond live", " CPI R20,1 ;a\n BREQ e\n MOV R17,R16\n RJMP j\ne:\n LDI R16,0\nj:\n RET\n", 16, ";a", true},
      {"diamond dead", " CPI R20,1 ;a\n BREQ e\n LDI R16,5\n RJMP j\ne:\n LDI R16,0\nj:\n RET\n", 16, ";a", false},
      {"taken arm live", " CPI R20,1 ;a\n BREQ e\n LDI R16,5\n RET\ne:\n ADD R17,R16\n RET\n", 16, ";a", true},
      {"loop back-edge live", "l:\n ADD R17,R16\n LDI R16,3\n DEC R18 ;a\n BRNE l\n RET\n", 16, ";a", true},
      {"loop back-edge dead", "l:\n LDI R16,3\n ADD R17,R16\n DEC R18 ;a\n BRNE l\n RET\n", 16, ";a", false},
      {"counter of the loop", " LDI R18,9\nl:\n DEC R18 ;a\n BRNE l\n RET\n", 18, ";a", true},
  });
}

TEST(PathSearchShapes, EverySkipOverOneAndTwoWordInstructions) {
  for (const char* skip : {"CPSE R20,R21", "SBRC R20,0", "SBRS R20,0", "SBIC 5,0", "SBIS 5,0"}) {
    for (const char* skipped : {"LDI R16,7", "LDS R16,0100h", "MOV R16,R22"}) {
      for (const char* between : {"", "; note\n", " .LINE 12\n"}) {
        std::string head = std::string(" ") + skip + " ;a\n" + between + " " + skipped + "\n";
        TLineList live, dead;
        live.LoadFromText(AsCalledRoutine(head + " MOV R17,R16\n RET\n"));
        dead.LoadFromText(AsCalledRoutine(head + " LDI R16,9\n MOV R17,R16\n RET\n"));
        EXPECT_TRUE(UsedAt(live, 16, ";a")) << skip << " / " << skipped;
        EXPECT_FALSE(UsedAt(dead, 16, ";a")) << skip << " / " << skipped;
      }
    }
  }
}

TEST(PathSearchShapes, SkippedReturnEndsOnlyItsOwnPath) {
  ExpectShapes({
      {"skipped RET, store after", "f: SBRC R20,0 ;a\n RET\n STS 0100h,R16\n RET\n", 16, ";a", true},
      {"skipped RET, kill after", "f: SBRC R20,0 ;a\n RET\n LDI R16,1\n RET\n", 16, ";a", false},
      {"skipped jump", " SBRS R20,0 ;a\n RJMP o\n MOV R17,R16\no:\n RET\n", 16, ";a", true},
  });
}

TEST(PathSearchShapes, ReturnsCountWhatTheCallerMayRead) {
  const std::string body =
      "f: LDI R17,1\n"  // +0
      " ADIW R28,4\n"   // +1
      " RET\n";         // +2
  const int b = kRoutineBodyLine;
  TLineList unknown;
  unknown.LoadFromText(AsCalledRoutine(body, ""));
  // Return size unknown: every register may be handed back.
  EXPECT_TRUE(IsUsedLater(unknown, unknown.RegisterVar[16], b + 2));
  TLineList lines;
  lines.LoadFromText(AsCalledRoutine(body));
  bool reached = false;
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[17], b + 2));
  EXPECT_FALSE(IsUsedLater(lines, {.Var = lines.RegisterVar[16], .From = b + 1}, &reached));
  EXPECT_TRUE(reached);
  EXPECT_TRUE(IsUsedLater(lines, {.Var = lines.RegisterVar[16], .From = b + 1, .ReturnsEverything = true}, &reached));
  // The caller's frame pointer survives the call: releasing parameters must stay.
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[28], b + 2));
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[29], b + 2));
  // A register written before the RET: dead, and no path reaches the RET with it.
  EXPECT_FALSE(IsUsedLater(lines, {.Var = lines.RegisterVar[17], .From = b, .ReturnsEverything = true}, &reached));
  EXPECT_FALSE(reached);
}

// main calls g, then reads R16 and R18; g is given as its body.
std::string CallerAndCallee(const std::string& call, const std::string& callee) {
  return ".FUNC main\nmain:\n LDI R16,1\n NOP ;a\n" + call +
         " ;b\n MOV R17,R16\n ADD R17,R18\nstop: RJMP stop\n.ENDFUNC\n"
         ".FUNC g\n.RETURNS 0\ng:\n" +
         callee + " RET\n.ENDFUNC\n";
}

TEST(PathSearchShapes, CallsReadWhatTheRoutineReadsBeforeWriting) {
  struct TCallCase {
    const char* Name;
    const char* Call;
    const char* Callee;
    int Register;
    const char* From;
    bool Used;
  } cases[] = {
      {"overwritten first", " RCALL g", " LDI R16,2\n", 16, ";a", false},
      {"read first", " RCALL g", " MOV R19,R16\n LDI R16,2\n", 16, ";a", true},
      {"overwritten on one path", " RCALL g", " SBRC R20,0\n LDI R16,2\n", 16, ";a", true},
      {"call skipped", " SBRC R21,0\n RCALL g", " LDI R16,2\n", 16, ";a", true},
      {"untouched, read after the call", " RCALL g", " NOP\n", 16, ";a", true},
      {"caller reads it after the RET", " RCALL g", " LDI R18,5\n NOP ;d\n", 18, ";d", true},
      {"nobody reads it after the RET", " RCALL g", " LDI R19,5\n NOP ;d\n", 19, ";d", false},
  };
  for (const TCallCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(CallerAndCallee(c.Call, c.Callee));
    EXPECT_EQ(UsedAt(lines, c.Register, c.From), c.Used) << c.Name;
    EXPECT_FALSE(lines.Run.Aborted) << c.Name;
  }

  TLineList lines;
  lines.LoadFromText(CallerAndCallee(" RCALL g", " LDI R16,2\n"));
  bool viaCall = false;
  EXPECT_TRUE(IsModifiedBetween(lines, lines.RegisterVar[16], LineOf(lines, ";b"), -1, viaCall));
  EXPECT_TRUE(viaCall);
  EXPECT_FALSE(IsModifiedBetween(lines, lines.RegisterVar[20], LineOf(lines, ";b"), -1));

  TLineList missing;
  missing.LoadFromText(" RCALL nowhere\n RET\n");
  EXPECT_TRUE(IsUsedLater(missing, missing.RegisterVar[16], 0));
  EXPECT_TRUE(missing.Run.Aborted);
}

TEST(PathSearchShapes, RetiIndirectJumpsAndTheEndReadEverything) {
  ExpectShapes({
      {"RETI live", " NOP ;a\n RETI\n", 16, ";a", true},
      {"RETI dead", " LDI R16,1 ;a\n RETI\n", 16, ";a", false},
      {"IJMP live", " NOP ;a\n IJMP\n", 5, ";a", true},
      {"IJMP dead", " CLR R5 ;a\n IJMP\n", 5, ";a", false},
      {"jump to a missing label", " RJMP nowhere ;a\n", 16, ";a", true},
      {"unknown instruction", " NOP ;a\n  FOO R1\n LDI R16,1\n RET\n", 16, ";a", true},
  });
  TLineList end;
  end.LoadFromText(" LDI R16,1\n NOP\n");
  EXPECT_TRUE(IsUsedLater(end, end.RegisterVar[16], 1));
}

TEST(PathSearchShapes, FlagsAsTheyWereStayLiveUntilSetAgain) {
  auto flagsUsed = [](const char* program, std::uint8_t mask, bool stopAtConditional) {
    TLineList lines;
    lines.LoadFromText(AsCalledRoutine(program));
    return IsUsedLater(lines, {.Var = lines.RegisterVar[24],
                               .From = LineOf(lines, ";a") + 1,
                               .Flags = mask,
                               .FlagsAtConditional = stopAtConditional});
  };
  const std::uint8_t subFlags = 0x3F;  // H S V N Z C
  EXPECT_TRUE(flagsUsed(" SUB R24,R22 ;a\n CLR R24\n ROL R24\n MOV R17,R24\n RET\n", subFlags, false));
  EXPECT_FALSE(flagsUsed(" SUB R24,R22 ;a\n CLR R24\n SEC\n ROL R24\n MOV R17,R24\n RET\n", subFlags, false));
  EXPECT_TRUE(flagsUsed(" ADD R24,R22 ;a\n MOV R24,R20\n ADC R25,R23\n RET\n", subFlags, false));
  EXPECT_TRUE(flagsUsed(" SUBI R24,1 ;a\n IN R16,SREG\n LDI R24,0\n RET\n", subFlags, false));
  EXPECT_TRUE(flagsUsed(" SBIW R24,1 ;a\n SBRC R21,0\n INC R22\n BRNE x\nx:\n LDI R24,0\n RET\n", 0, true));
  EXPECT_FALSE(flagsUsed(" SBIW R24,1 ;a\n INC R22\n BRNE x\nx:\n LDI R24,0\n RET\n", 0, true));
  EXPECT_TRUE(flagsUsed(" CLR R24\n CPI R20,1\n CLR R24 ;a\n BREQ x\nx:\n RET\n", 0x1E, false));
}

TEST(PathSearchShapes, AnswersFollowEditsAndEntryPoints) {
  TLineList lines;
  lines.LoadFromText(AsCalledRoutine(
      " RJMP l ;a\n"       // +0
      "l:\n"               // +1
      " ADD R17,R16\n"     // +2
      " LDI R16,3 ;b\n"    // +3
      " DEC R18\n"         // +4
      " BRNE l\n"          // +5
      " RET\n"));          // +6
  const int b = kRoutineBodyLine;
  // Asked inside the loop first, then from the jump into it: both see the back edge.
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[16], b + 4));
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[16], b));
  lines.SetLine(b + 2, lt::LDI, "", "LDI", "R17,1", nullptr);
  EXPECT_FALSE(IsUsedLater(lines, lines.RegisterVar[16], b + 4));
  EXPECT_FALSE(IsUsedLater(lines, lines.RegisterVar[16], b));
}

TEST(PathSearchShapes, ModifiedBetweenFollowsEveryPath) {
  TLineList lines;
  lines.LoadFromText(
      " CPI R20,1\n"       // 0
      " BREQ e\n"          // 1
      " NOP\n"             // 2
      " RJMP j\n"          // 3
      "e:\n"               // 4
      " INC R16\n"         // 5
      "j:\n"               // 6
      " SBRC R20,0\n"      // 7
      " LDI R18,1\n"       // 8
      " MOV R19,R20\n"     // 9
      " RET\n"             // 10
      " IJMP\n");          // 11
  auto modified = [&](int reg, int from, int to) { return IsModifiedBetween(lines, lines.RegisterVar[reg], from, to); };
  EXPECT_TRUE(modified(16, 0, 6));  // on the taken arm only
  EXPECT_FALSE(modified(16, 2, 6));
  EXPECT_FALSE(modified(16, 6, -1));
  EXPECT_TRUE(modified(18, 6, -1));  // by a line that may be skipped
  EXPECT_FALSE(modified(18, 0, 8));
  EXPECT_TRUE(modified(19, 0, -1));
  EXPECT_FALSE(modified(19, 0, 9));
  EXPECT_FALSE(modified(20, 0, -1));  // the path ends at the RET
  EXPECT_TRUE(modified(20, 11, -1));  // an indirect jump may go anywhere
  EXPECT_TRUE(IsModifiedBetween(lines, lines.FlagVar[1], 0, -1));
  EXPECT_FALSE(IsModifiedBetween(lines, lines.FlagVar[1], 2, -1));
}

}  // namespace
}  // namespace korvid
