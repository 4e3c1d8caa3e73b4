#include "source/Functions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/analysis/RoutineProgram.h"

namespace korvid {
namespace {

using testing::TRoutineProgram;

std::vector<std::pair<std::int32_t, std::vector<TParmAssignment>>> Records(const TFunction& f) {
  std::vector<std::pair<std::int32_t, std::vector<TParmAssignment>>> result;
  if (f.Parms)
    for (const auto& entry : f.Parms->Items) result.emplace_back(entry.Location, entry.Assignments);
  return result;
}

TEST(FunctionsTest, RoutinesGetTheirLinesSizesEntryLabelAndReturns) {
  TRoutineProgram p(
      ".FILE main.pas\n"
      ".FUNC Main, 12\n"
      "main.Main:\n"
      "  LDI R16,1   ; w:R16\n"
      "  CALL main.Sub\n"
      "  RET\n"
      ".ENDFUNC\n"
      "  NOP\n"
      ".FUNC Sub\n"
      ".RETURNS 2\n"
      "  RET\n"
      ".ENDFUNC\n"
      ".FUNC Ptr\n"
      ".RETURNS Z\n"
      "  RET\n"
      ".ENDFUNC\n");
  p.Track();
  TFunction& main = p.Func("main");
  EXPECT_EQ(main.SourceFile, "main.pas");
  EXPECT_EQ(main.StartLine, 1);
  EXPECT_EQ(main.EndLine, 6);
  EXPECT_EQ(main.EntryLabel, "main.Main");
  EXPECT_EQ(main.SystemEntryName(), "SYSTEM.$Main");
  EXPECT_EQ(main.InstrCount, 3);
  EXPECT_EQ(main.SizeBefore, 8);
  EXPECT_EQ(main.SizeAfter, 8);
  EXPECT_EQ(main.ReturnCount, 1);
  EXPECT_FALSE(main.ReturnKnown);
  EXPECT_EQ(p.Lines.Line(1)->Op2, "12");
  EXPECT_EQ(p.Lines.Line(3)->Func, &main);
  EXPECT_EQ(p.Lines.Line(1)->Func, nullptr);  // the header is no line of the routine
  EXPECT_EQ(p.Lines.Line(7)->Func, nullptr);
  EXPECT_TRUE(p.Func("SUB").ReturnKnown);
  EXPECT_EQ(p.Func("Sub").ReturnSize, 2);
  EXPECT_EQ(p.Func("Ptr").ReturnSize, kReturnPointer);
  EXPECT_EQ(p.Lines.Functions.FindByEntryLabel("MAIN.main"), &main);
  EXPECT_EQ(p.Lines.Functions.FindByEntryLabel("nowhere"), nullptr);
  EXPECT_EQ(p.Lines.Functions.FindByName("nowhere"), nullptr);
}

TEST(FunctionsTest, TableIsSortedWithoutCaseAndTracksTheLongestName) {
  TFunctionList table;
  for (const char* name : {"beta", "Alpha", "gamma_routine_name", "ALPHA2"}) table.AddFunction(name, "f", 0);
  std::vector<std::string> names;
  for (const TFunction* f : table.All()) names.push_back(f->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma_routine_name"}));
  EXPECT_EQ(table.MaxNameLen, 18);
  // A second record under a known name is kept but never found.
  TFunction& again = table.AddFunction("BETA", "g", 9);
  EXPECT_NE(table.FindByName("beta"), &again);
  EXPECT_FALSE(table.IsListed(again));
  EXPECT_EQ(table.Count(), 4u);
}

TEST(FunctionsTest, BrokenRoutineStructureLeavesEveryLineInOneRoutine) {
  TRoutineProgram p(
      ".FUNC outer\n"
      "  NOP\n"
      ".FUNC inner\n"  // nested: outer ends here
      "  NOP\n"
      ".ENDFUNC\n"
      ".FUNC\n"  // no name: accounted, never listed
      "  NOP\n"
      ".ENDFUNC\n"
      ".FUNC inner\n"  // defined twice
      "  NOP\n"
      ".ENDCODE\n"
      "  NOP\n"
      ".FUNC open\n"
      "  NOP\n");
  p.Track();
  const TFunctionList& table = p.Lines.Functions;
  EXPECT_EQ(table.Count(), 3u);
  EXPECT_EQ(p.Func("outer").SizeBefore, 2);
  EXPECT_EQ(p.Func("outer").EndLine, -1);
  EXPECT_EQ(p.Func("inner").SizeBefore, 2);
  EXPECT_EQ(p.Func("inner").EndLine, 4);
  ASSERT_NE(p.Lines.Line(6)->Func, nullptr);
  EXPECT_FALSE(table.IsListed(*p.Lines.Line(6)->Func));
  ASSERT_NE(p.Lines.Line(9)->Func, nullptr);
  EXPECT_NE(p.Lines.Line(9)->Func, &p.Func("inner"));
  EXPECT_EQ(p.Lines.Line(11)->Func, nullptr);  // after .ENDCODE
  EXPECT_EQ(p.Lines.Line(13)->Func, &p.Func("open"));

  // Removing the second "inner" leaves the first one listed and present.
  p.Lines.RemoveLine(8);
  EXPECT_TRUE(p.Lines.Line(9)->Func->Removed);
  EXPECT_FALSE(p.Func("inner").Removed);
  p.Lines.RemoveLine(2);
  EXPECT_TRUE(p.Func("inner").Removed);
}

TEST(FunctionsTest, FrameAllocationAndParameterLocations) {
  // SBIW as the first frame access allocates; the watch then makes LocalBytes 0.
  TRoutineProgram p(
      ".FUNC f\n"
      "  SBIW R28,4   ; m:R28 m:R29\n"
      "  SBIW R28,2   ; m:R28 m:R29\n"
      ".ENDFUNC\n"
      ".FUNC g\n"
      "  LDD R24,Y+2  ; w:R24\n"
      "  LDD R24,Y+3  ; w:R24\n"
      "  LDD R24,Y+3  ; w:R24\n"
      "  STD Y+3,R20  ; r:R20\n"
      ".ENDFUNC\n"
      ".FUNC h\n"
      "  LDD R25,Y+0  ; w:R25\n"
      "  SBIW R28,2   ; m:R28 m:R29\n"
      "  LDD R24,Y+3  ; w:R24\n"
      "  LDD R24,Y+1  ; w:R24\n"
      ".ENDFUNC\n");
  p.Track();
  TFunction& f = p.Func("f");
  EXPECT_EQ(f.LocalBytes, 0);
  EXPECT_EQ(f.FrameDepth, 6);
  EXPECT_EQ(f.MaxFrameDepth, 6);
  EXPECT_FALSE(f.Incomplete);

  // The first access is recorded before the watch sets LocalBytes to 0.
  TFunction& g = p.Func("g");
  EXPECT_EQ(g.LocalBytes, 0);
  auto records = Records(g);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].first, -2);
  EXPECT_EQ(records[1].first, -3);
  ASSERT_EQ(records[1].second.size(), 2u);
  EXPECT_EQ(records[1].second[0].Kind, pkLoaded);
  EXPECT_EQ(records[1].second[0].Reg, 24);
  EXPECT_EQ(records[1].second[0].Count, 2);
  EXPECT_EQ(records[1].second[0].Line, 6);
  EXPECT_EQ(records[1].second[1].Kind, pkStored);
  EXPECT_EQ(records[1].second[1].Reg, 20);
  EXPECT_EQ(g.Parms->MinLocation, -3);

  // Y+0 as the first access is a local; with depth 2, Y+3 is parameter byte -1 and Y+1 a local.
  records = Records(p.Func("h"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].first, -1);
  EXPECT_EQ(p.Func("h").Parms->MinLocation, -1);
}

TEST(FunctionsTest, FramesThatCannotBeFollowedMakeTheAnalysisIncomplete) {
  TRoutineProgram p(
      ".FUNC jumps\n"
      "  SBIW R28,2   ; m:R28 m:R29\n"
      "  RJMP x\n"
      "x:\n"
      "  STD Y+1,R16  ; r:R16\n"
      ".ENDFUNC\n"
      ".FUNC framed\n"
      "  SBIW R28,2   ; m:R28 m:R29\n"
      "  RJMP y\n"
      "y:\n"
      ".FRAME 2\n"
      "  STD Y+3,R16  ; r:R16\n"
      "  ST -Y,R17    ; r:R17\n"
      "  LD R18,Y+    ; w:R18\n"
      ".ENDFUNC\n"
      ".FUNC moves\n"
      "  ADIW R28,2   ; m:R28 m:R29\n"
      "  CALL later\n"
      ".ENDFUNC\n");
  p.Track();
  EXPECT_TRUE(p.Func("jumps").Incomplete);
  TFunction& framed = p.Func("framed");
  EXPECT_FALSE(framed.Incomplete);
  EXPECT_EQ(Records(framed).size(), 1u);
  EXPECT_EQ(Records(framed)[0].first, -1);
  EXPECT_EQ(framed.FrameDepth, 2);
  EXPECT_EQ(framed.MaxFrameDepth, 3);
  // Once incomplete, calls are no longer recorded either.
  EXPECT_TRUE(p.Func("moves").Incomplete);
  EXPECT_TRUE(p.Func("moves").Callees().empty());
}

TEST(FunctionsTest, ResolveCallsKeepsOnlyCallsOfOtherRoutines) {
  TRoutineProgram p(
      ".FUNC a\n"
      "  CALL UNIT.Proc\n"
      "  RCALL a\n"
      "  RCALL SYSTEM.Helper\n"
      "  CALL Proc\n"
      ".ENDFUNC\n"
      ".FUNC proc\n"
      "  RCALL a\n"
      ".ENDFUNC\n"
      ".FUNC lonely\n"
      "  RCALL lonely\n"
      ".ENDFUNC\n");
  p.Track();
  EXPECT_EQ(p.Func("a").Callees().size(), 3u);  // Proc, a, Helper
  p.Lines.Functions.ResolveCalls();
  ASSERT_EQ(p.Func("a").Callees().size(), 1u);
  EXPECT_TRUE(p.Func("a").CallsName("PROC"));
  EXPECT_TRUE(p.Func("a").IsCalled);
  EXPECT_TRUE(p.Func("proc").IsCalled);
  EXPECT_FALSE(p.Func("lonely").IsCalled);
  EXPECT_TRUE(p.Func("lonely").Callees().empty());
}

TEST(FunctionsTest, SuggestionsGiveARegisterToTheParameterTouchedFirst) {
  TFunction f("f", "", 0);
  f.SetLocalBytes(0);
  f.RecordLoad(0, 24, 10);   // location 0, touched first
  f.RecordLoad(3, 24, 11);   // location -3
  f.RecordLoad(1, 22, 12);   // location -1
  f.RecordStore(1, 22, 13);  // ... stored as well: no suggestion
  f.BuildFuncOpts();
  ASSERT_EQ(f.Opts.size(), 3u);
  EXPECT_EQ(f.Opts[0].Location, -3);
  EXPECT_EQ(f.Opts[0].Kind, okUseUnusedRegister);
  EXPECT_EQ(f.Opts[1].Location, -2);
  EXPECT_EQ(f.Opts[1].Kind, okRemoveParameter);
  EXPECT_EQ(f.Opts[1].Reg, -1);
  EXPECT_EQ(f.Opts[2].Location, 0);
  EXPECT_EQ(f.Opts[2].Kind, okUseRegister);
  EXPECT_EQ(f.Opts[2].Reg, 24);
  EXPECT_EQ(f.Opts[2].Line, 10);
  f.Incomplete = true;
  f.BuildFuncOpts();
  EXPECT_TRUE(f.Opts.empty());
}

TEST(FunctionsTest, RoutineSizeFollowsEveryEditOfItsLines) {
  TRoutineProgram p(
      ".FUNC f\n"
      "f:\n"
      "  LDI R16,1  ; w:R16\n"
      "  CALL g\n"
      "  RET\n"
      ".ENDFUNC\n");
  p.Track();
  TFunction& f = p.Func("f");
  ASSERT_EQ(f.SizeAfter, 8);
  p.Lines.RemoveLine(3);
  EXPECT_EQ(f.SizeAfter, 4);
  EXPECT_EQ(f.SizeBefore, 8);
  p.Lines.InsertLine(3);
  p.Lines.SetLine(3, lt::NOP, "", "NOP", "", &f);
  EXPECT_EQ(p.Lines.Line(3)->Func, &f);
  int sum = 0;
  for (int i = 0; i < p.Lines.Count(); ++i)
    if (p.Lines.Line(i)->Func == &f) sum += p.Lines.Line(i)->Size;
  EXPECT_EQ(f.SizeAfter, sum);
  // Removing the entry label takes the header with it and marks the routine.
  p.Lines.RemoveLine(1);
  EXPECT_TRUE(f.Removed);
}

class CompanionFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("korvid-unuv-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    path = (dir / "prog.unuV").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void Write(const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
  std::string Read() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path dir;
  std::string path;
};

TEST_F(CompanionFileTest, RemovedRoutinesLoseTheirLinesAndTheFileIsRewrittenOnce) {
  Write("keep \"Main\"\r\nunused \"Dead\" 12\r\n\"dead\" again\r\n\"DeadToo\" stays\r\nno quotes Dead\r\n");
  TFunctionList table;
  table.AddFunction("Dead", "", 0);
  table.LoadCompanionFile(path);
  EXPECT_FALSE(table.SaveCompanionFile());  // nothing deleted: left alone
  table.MarkRemoved("Dead");
  EXPECT_TRUE(table.FindByName("dead")->Removed);
  EXPECT_TRUE(table.CompanionModified);
  EXPECT_TRUE(table.SaveCompanionFile());
  EXPECT_EQ(Read(), "keep \"Main\"\r\n\"DeadToo\" stays\r\nno quotes Dead\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);  // no temporary left
}

TEST_F(CompanionFileTest, MissingEmptyOrBinaryFilesAreNeverWritten) {
  for (const std::string& content : {std::string("-"), std::string(""), std::string("a \"f\"\n\0\x01", 8)}) {
    std::filesystem::remove(path);
    if (content != "-") Write(content);
    TFunctionList table;
    table.AddFunction("f", "", 0);
    table.LoadCompanionFile(path);
    table.MarkRemoved("f");
    EXPECT_FALSE(table.SaveCompanionFile());
    EXPECT_EQ(std::filesystem::exists(path), content != "-");
    if (content != "-") {
      EXPECT_EQ(Read(), content);
    }
  }
}

}  // namespace
}  // namespace korvid
