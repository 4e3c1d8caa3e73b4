// Stack depths and stack-pointer reads on small routines, each beside the near
// miss that would be answered the other way.
#include "analysis/StackDepth.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/analysis/PathTestSupport.h"

namespace korvid {
namespace {

using testing::AsCalledRoutine;
using testing::LineOf;

std::string Routine(const std::string& name, const std::string& body) {
  return ".FUNC " + name + "\n" + name + ":\n" + body + ".ENDFUNC\n";
}

// The body as a routine called once, with further routines after its caller.
std::string In(const std::string& body, const std::string& routines = "") { return AsCalledRoutine(body) + routines; }

const std::string kKeep = Routine("keep", " PUSH R17\n POP R17\n RET\n");
const std::string kLeave = Routine("leave", " PUSH R30\n PUSH R31\n RET\n");
const std::string kCallsMid = Routine("far", " RCALL mid\n RET\n");

struct TDepthCase {
  const char* Name;
  std::string Program;
  const char* Marker;
  std::optional<int> Depth;
};

TEST(StackDepth, DepthBeforeLines) {
  const TDepthCase cases[] = {
      {"pair, inside", In(" PUSH R16\n PUSH R17\n NOP ;a\n POP R17\n POP R16\n RET\n"), ";a", 2},
      {"pair, at RET", In(" PUSH R16\n PUSH R17\n POP R17\n POP R16\n RET ;a\n"), ";a", 0},
      {"RET with two bytes left", In(" PUSH R30\n PUSH R31\n RET ;a\n"), ";a", 2},
      {"call of a balanced routine", In(" PUSH R16\n RCALL keep\n NOP ;a\n POP R16\n RET\n", kKeep), ";a", 1},
      {"call of a routine leaving bytes", In(" PUSH R16\n RCALL leave\n NOP ;a\n POP R16\n RET\n", kLeave), ";a",
       std::nullopt},
      {"recursion", In(" PUSH R16\n RCALL shape\n NOP ;a\n POP R16\n RET\n"), ";a", 1},
      {"indirect call", In(" PUSH R16\n ICALL\n NOP ;a\n POP R16\n RET\n"), ";a", std::nullopt},
      {"push in one arm", In(" BREQ e\n PUSH R17\n RJMP j\ne:\n NOP\nj:\n NOP ;a\n RET\n"), ";a", std::nullopt},
      {"push in both arms", In(" BREQ e\n PUSH R17\n RJMP j\ne:\n PUSH R18\nj:\n NOP ;a\n POP R17\n RET\n"), ";a", 1},
      {"skipped push", In(" SBRC R16,0\n PUSH R17\n NOP ;a\n RET\n"), ";a", std::nullopt},
      {"skipped NOP", In(" SBRC R16,0\n NOP\n PUSH R17\n NOP ;a\n POP R17\n RET\n"), ";a", 1},
      {"loop pushing every round", In("l:\n PUSH R16\n DEC R17 ;a\n BRNE l\n RET\n"), ";a", std::nullopt},
      {"loop with a pair", In("l:\n PUSH R16\n POP R16\n DEC R17 ;a\n BRNE l\n RET\n"), ";a", 0},
      {"OUT SPL", In(" PUSH R16\n OUT SPL,R28\n NOP ;a\n RET\n"), ";a", std::nullopt},
      {"STS to SPH's data address", In(" STS 5Eh,R29\n NOP ;a\n RET\n"), ";a", std::nullopt},
      {"IN of SPL only reads", In(" PUSH R16\n IN R28,SPL\n NOP ;a\n POP R16\n RET\n"), ";a", 1},
      {"label entered through its address", In(" PUSH R16\n LDI R30,lab AND 0FFh\nlab:\n NOP ;a\n POP R16\n RET\n"),
       ";a", std::nullopt},
      {"label only jumped to", In(" PUSH R16\n RJMP lab\nlab:\n NOP ;a\n POP R16\n RET\n"), ";a", 1},
      {"data run into", In(" PUSH R16\n .WORD 0FFFFh\n NOP ;a\n POP R16\n RET\n"), ";a", std::nullopt},
      {"data jumped over", In(" PUSH R16\n RJMP o\n .WORD 0FFFFh\no:\n NOP ;a\n POP R16\n RET\n"), ";a", 1},
      {"routine with an indirect jump", In(" PUSH R16\n NOP ;a\n IJMP\n"), ";a", std::nullopt},
      {"transfer by offset elsewhere", In(" PUSH R16\n NOP ;a\n POP R16\n RET\n", Routine("far", " RJMP shape+2\n")),
       ";a", std::nullopt},
      {"second entry called at depth 0", In(" PUSH R16\n POP R16\nmid:\n NOP ;a\n RET\n", kCallsMid), ";a", 0},
      {"second entry called at another depth", In(" PUSH R16\nmid:\n NOP ;a\n POP R16\n RET\n", kCallsMid), ";a",
       std::nullopt},
      {"tail jump with a byte pushed", In(" PUSH R16\n RJMP tail\n", Routine("tail", " NOP ;a\n POP R16\n RET\n")),
       ";a", std::nullopt},
      {"caller of that tail jump", In(" PUSH R16\n RJMP tail\n", Routine("tail", " POP R16\n RET\n")), "stop:",
       std::nullopt},
      {"caller of a balanced tail jump", In(" RJMP tail\n", Routine("tail", " RET\n")), "stop:", 0},
      {"falls into the next routine pushed", Routine("a", " PUSH R16\n") + Routine("b", " NOP ;a\n POP R16\n RET\n"),
       ";a", std::nullopt},
      {"falls into the next routine balanced", Routine("a", " PUSH R16\n POP R16\n") + Routine("b", " NOP ;a\n RET\n"),
       ";a", 0},
      {"outside code jumps into the middle", "start:\n RJMP mid\n" + In(" PUSH R16\nmid:\n NOP ;a\n POP R16\n RET\n"),
       ";a", std::nullopt},
      {"outside code jumps to the entry", "start:\n RJMP shape\n" + In(" PUSH R16\nmid:\n NOP ;a\n POP R16\n RET\n"),
       ";a", 1},
      {"outside every routine", "start:\n PUSH R16 ;a\n RJMP start\n" + In(" RET\n"), ";a", std::nullopt},
  };

  for (const TDepthCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(c.Program);
    int at = LineOf(lines, c.Marker);
    ASSERT_GE(at, 0) << c.Name;
    EXPECT_EQ(TStackDepths(lines).Before(at), c.Depth) << c.Name;
  }
}

struct TReadCase {
  const char* Name;
  std::string Body;
  bool Reads;
  std::string Callees = "";
};

TEST(StackDepth, StackPointerReadsBetweenLines) {
  const std::string peek = Routine("peek", " IN R30,SPL\n RET\n");
  const std::string flags = Routine("flags", " IN R30,SREG\n RET\n");
  const TReadCase cases[] = {
      {"IN of SPL between", " PUSH R16 ;from\n IN R28,SPL\n POP R16 ;to\n RET\n", true},
      {"IN of SPL after the end", " PUSH R16 ;from\n POP R16 ;to\n IN R28,SPL\n RET\n", false},
      {"on the first line", " IN R28,SPL ;from\n NOP ;to\n RET\n", true},
      {"on the end line", " NOP ;from\n IN R28,SPL ;to\n RET\n", false},
      {"jumped over", " RJMP o ;from\n IN R28,SPL\no:\n NOP ;to\n RET\n", false},
      {"in one arm of a branch", " BREQ o ;from\n IN R28,SPL\no:\n NOP ;to\n RET\n", true},
      {"by the back edge", "l:\n IN R28,SPL\n DEC R17 ;from\n BRNE l\n NOP ;to\n RET\n", true},
      {"past a RET", " NOP ;from\n RET\n IN R28,SPL\n NOP ;to\n RET\n", false},
      {"in a called routine", " PUSH R16 ;from\n RCALL peek\n POP R16 ;to\n RET\n", true, peek},
      {"called routine reads SREG", " PUSH R16 ;from\n RCALL flags\n POP R16 ;to\n RET\n", false, flags},
      {"LDS of SPH's data address", " LDS R30,5Eh ;from\n NOP ;to\n RET\n", true},
      {"LDS of SREG's data address", " LDS R30,5Fh ;from\n NOP ;to\n RET\n", false},
      {"OUT SPL writes only", " OUT SPL,R28 ;from\n NOP ;to\n RET\n", false},
      {"indirect call", " ICALL ;from\n NOP ;to\n RET\n", true},
  };
  for (const TReadCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(In(c.Body, c.Callees));
    int from = LineOf(lines, ";from"), to = LineOf(lines, ";to");
    ASSERT_TRUE(from >= 0 && to >= 0) << c.Name;
    EXPECT_EQ(ReadsStackPointerBetween(lines, from, to), c.Reads) << c.Name;
  }
}

}  // namespace
}  // namespace korvid
