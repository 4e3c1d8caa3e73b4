// Phase 3: labels nothing names and routines nothing enters go; the near
// misses where a line, data, an address, a branch or falling through still
// reaches them stay. Every case that the lowering can assemble is simulated.
#include "passes/RemoveUnreferenced.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"
#include "analysis/Analysis.h"
#include "source/LineList.h"

namespace korvid {
namespace {

using testing::Program;
using testing::TCase;

void ExpectCases(const std::vector<TCase>& cases, bool simulated = true) {
  testing::ExpectCases(RemoveUnreferenced, cases, simulated);
}

const std::string kCount = " LDS R16,v\n INC R16\n STS v,R16\n";

// Routine `name` with `between` its header and its entry label, then `body`.
std::string Routine(const std::string& name, const std::string& body = kCount + " RET\n",
                    const std::string& between = "") {
  return "\n.FUNC " + name + "\n" + between + "MAIN." + name + ":\n" + body + ".ENDFUNC\n";
}

TEST(RemoveUnreferenced, LabelsNothingNamesGo) {
  ExpectCases({
      {"generated label", Program(" LDS R16,v\n_CSE0007:\n INC R16\n STS v,R16\n"), {"_CSE0007:"}, {" INC R16"}},
      {"generated label a branch names", Program(" LDS R16,v\n TST R16\n BREQ _CSE0008\n INC R16\n_CSE0008:\n"),
       {}, {"_CSE0008:"}},
      {"short last part: a label, no routine", Program(" LDS R16,v\nA.B:\n INC R16\n STS v,R16\n"), {"A.B:"}, {}},
      {"in a skip's shadow: labels have no size", Program(" LDS R16,v\n SBRC R16,0\nshadow.l:\n INC R16\n"),
       {"shadow.l:"}, {" INC R16"}},
      {"after .VALID", Program(" LDS R16,v\n.VALID\nkeep.me:\n INC R16\n"), {}, {"keep.me:"}},
      {"a routine's entry, though nothing calls it", Program(kCount, Routine("B", kCount + " RET\n", ".RETURNS 0\n")),
       {}, {"MAIN.B:"}},
  });
  // The lowering takes code addresses in words and cannot put one into data that runs: not simulated.
  ExpectCases({{"named in an expression", Program(" LDI R30,lab SHRB 1 AND 0FFh\n STS v,R30\nlab:\n"), {}, {"lab:"}},
               {"named by .ADDR", Program(" LDS R16,v\ntarget.l:\n INC R16\n", "tab:\n .ADDR target.l\n"), {"tab:"},
                {"target.l:"}},
               {"in the vector table", ".VECTTAB\nrow.0:\n RETI\n.VECTTABE\n" + Program(kCount), {}, {"row.0:"}}},
              false);
}

TEST(RemoveUnreferenced, RoutinesNothingEntersGo) {
  const std::string markers = ".LINE 7\n.FRAME 0\n.FILE t.pas\n.BRANCH 19\n\n";
  const std::string loop = "MAIN.Blink.loop:\n DEC R16\n BRNE MAIN.Blink.loop\n RET\n";
  ExpectCases({
      {"uncalled, markers before its entry", Program(kCount, Routine("Blink", kCount + " RET\n", markers)),
       {".FUNC Blink", "MAIN.Blink:", ".BRANCH 19"}, {".FUNC main"}},
      {"its loop names its own label", Program(kCount, Routine("Blink", loop)), {"MAIN.Blink.loop:"}, {}},
      {"a callee only it calls goes next", Program(kCount, Routine("Blink", " RCALL MAIN.Leaf\n RET\n") +
                                                               Routine("Leaf")),
       {".FUNC Blink", ".FUNC Leaf"}, {}},
      {"after data", Program(kCount, "tab:\n .BYTE 1\n .BYTE 2\n" + Routine("Blink")), {"MAIN.Blink:"}, {" .BYTE 2"}},
      {"called", Program(" RCALL MAIN.Blink\n", Routine("Blink")), {}, {"MAIN.Blink:"}},
      {".VALID before its entry", Program(kCount, Routine("Blink", kCount + " RET\n", ".VALID\n")), {},
       {"MAIN.Blink:"}},
      {"an inner label called", Program(" RCALL MAIN.Blink.in\n", Routine("Blink", " NOP\nMAIN.Blink.in:\n RET\n")),
       {}, {"MAIN.Blink:", "MAIN.Blink.in:"}},
      {"an inner label branched to by BRID",
       Program(" LDS R16,v\n BRID MAIN.Blink.in\n INC R16\n STS v,R16\n",
               Routine("Blink", " NOP\nMAIN.Blink.in:\n DEC R16\n STS v,R16\n LDS R17,u\n RET\n")),
       {}, {"MAIN.Blink.in:"}},
      {"address taken, called by ICALL",
       Program(" LDI R30,MAIN.Blink AND 0FFh\n LDI R31,MAIN.Blink SHRB 8\n ICALL\n", Routine("Blink")), {},
       {"MAIN.Blink:"}},
      {"the routine before falls into it",
       Program(" RCALL MAIN.Prev\n", Routine("Prev", kCount) + Routine("Blink")), {}, {"MAIN.Blink:"}},
      {"the routine before may skip its RET",
       Program(" RCALL MAIN.Prev\n", Routine("Prev", " LDS R16,v\n SBRC R16,0\n RET\n") + Routine("Blink")), {},
       {"MAIN.Blink:"}},
      {"an interrupt routine", Program(kCount, Routine("Blink", kCount + " RETI\n")), {}, {"MAIN.Blink:"}},
  });
  ExpectCases({{"address taken in an expression",
                Program(" LDI R30,MAIN.Blink SHRB 1 AND 0FFh\n STS v,R30\n", Routine("Blink")), {}, {"MAIN.Blink:"}},
               {"named by .ADDR", Program(kCount, Routine("Blink") + "tab:\n .ADDR MAIN.Blink\n"), {}, {"MAIN.Blink:"}},
               {"a vector row jumps to it", ".VECTTAB\n JMP MAIN.Blink\n.VECTTABE\n" + Program(kCount, Routine("Blink")),
                {}, {"MAIN.Blink:"}}},
              false);
}

TEST(RemoveUnreferenced, BitMaskTableGoesWithItsRoutineAndNoMore) {
  std::string eight;
  for (int bit = 0; bit < 8; ++bit) eight += " .BYTE " + std::to_string(1 << bit) + "\n";
  const std::string table = " LDI R30,SYSTEM.BitMaskTab AND 0FFh\n RET\nSYSTEM.BitMaskTab:\n";
  ExpectCases({
      {"eight lines, the next data stays", Program(kCount, Routine("Bits", table + eight + " .BYTE 0AAh\n .BYTE 0\n")),
       {"SYSTEM.BitMaskTab:", " .BYTE 1", " .BYTE 128"}, {" .BYTE 0AAh"}},
      {"all on one line: the next routine stays",
       Program(" RCALL MAIN.Next\n", Routine("Bits", table + " .BYTE 1,2,4,8,16,32,64,128\n") + Routine("Next")),
       {" .BYTE 1,2,4,8,16,32,64,128"}, {".FUNC Next", "MAIN.Next:", " LDS R16,v"}},
  });
}

TEST(RemoveUnreferenced, OneFileLineStaysAroundARemovedRoutine) {
  const std::string routines = "\n.FILE a.pas\n\n" + Routine("Blink") + "\n\n.FILE a.pas\n" + Routine("Next");
  const std::string after = testing::RunPass(Program(" RCALL MAIN.Next\n", routines), RemoveUnreferenced);
  std::size_t files = 0;
  for (std::size_t at = after.find(".FILE a.pas"); at != std::string::npos; at = after.find(".FILE a.pas", at + 1))
    ++files;
  EXPECT_EQ(files, 1u) << after;
  EXPECT_EQ(after.find("\n\n\n"), std::string::npos) << after;
  EXPECT_TRUE(testing::Contains(after, "MAIN.Next:\n"));
}

// The companion file lists routines by their quoted names: a removed one loses its lines.
TEST(RemoveUnreferenced, CompanionFileLosesTheRemovedRoutine) {
  TLineList lines;
  lines.LoadFromText(Program(" RCALL MAIN.Next\n", Routine("Blink") + Routine("Next")));
  lines.Functions.CompanionLines = {"uses \"Blink\" 12", "uses \"Next\" 14", "other"};
  const TAnalysis facts(lines);
  EXPECT_TRUE(RemoveUnreferenced(lines, facts));
  EXPECT_EQ(lines.Functions.CompanionLines, (std::vector<std::string>{"uses \"Next\" 14", "other"}));
  EXPECT_TRUE(lines.Functions.CompanionModified);
}

}  // namespace
}  // namespace korvid
