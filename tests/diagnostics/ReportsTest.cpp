#include "diagnostics/Reports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "source/Functions.h"

namespace korvid {
namespace {

const std::string kLongName = "Program_With_A_Name_Of_Forty_Characters";

// C calls A and B, which call each other (A also itself); Dead was removed;
// B calls indirectly; Intr and the long-named routine are entry points.
class ReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFunction& a = Add("A", "a.pas", 10, 8);
    a.AddCallee("B");
    a.AddCallee("A");
    TFunction& b = Add("B", "b.pas", 4, 4);
    b.AddCallee("unit.A");
    b.CallsIndirect = true;
    b.SetReturns("2", 2, true);
    b.LocalBytes = 1;
    b.Incomplete = true;
    TFunction& c = Add("C", "c.pas", 30, 22);
    c.AddCallee("A");
    c.AddCallee("B");
    c.SetReturns("0", 0, true);
    c.SetLocalBytes(0);
    c.RecordLoad(0, 24, 5);
    c.RecordLoad(0, 24, 6);
    c.RecordLoad(2, 24, 7);
    c.LocalBytes = 3;
    Add("Dead", "c.pas", 6, 0).Removed = true;
    TFunction& intr = Add("Intr", "i.pas", 12, 12);
    intr.AddCallee("Foo");
    intr.SetReturns("-1", -1, true);
    intr.SetLocalBytes(2);
    intr.RecordStore(1, 16, 3);
    Add(kLongName, "main.pas", 100, 90).SetReturns("4", 4, true);
  }

  TFunction& Add(const std::string& name, const std::string& file, int before, int after) {
    TFunction& f = table.AddFunction(name, file, 0);
    f.SizeBefore = before;
    f.SizeAfter = after;
    return f;
  }

  void ExpectLines(const TReportLines& actual, const TReportLines& expected) {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
      EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
    EXPECT_EQ(actual.size(), expected.size());
  }

  TFunctionList table;
};

TEST_F(ReportsTest, OptReportListsSizesInTableOrder) {
  TReportLines lines;
  WriteOptReport(table, lines);
  ExpectLines(lines, {"A, 10, 8", "B, 4, 4", "C, 30, 22", "Dead, 6, Removed", "Intr, 12, 12", kLongName + ", 100, 90"});
}

TEST_F(ReportsTest, CallAnalysisText) {
  TReportLines lines;
  WriteCallAnalysis(table, lines);
  const std::string pad37(37, ' ');
  ExpectLines(lines, {
                         "Functions (alphabetic listing)",
                         "==============================",
                         "",
                         "Name                                   Defined in File",
                         "-------------------------------------  ---------------",
                         "A" + std::string(36, ' ') + "  a.pas",
                         "B" + std::string(36, ' ') + "  b.pas",
                         "C" + std::string(36, ' ') + "  c.pas",
                         "Dead" + std::string(33, ' ') + "  c.pas",
                         "Intr" + std::string(33, ' ') + "  i.pas",
                         kLongName + "  main.pas",
                         "",
                         "Function Call Analysis",
                         "======================",
                         "",
                         "C",
                         "->A",
                         "--->B",
                         "    ** Analysis incomplete due to use of indirect calls **",
                         "----->A (Recursive call)",
                         "->B",
                         "  ** Analysis incomplete due to use of indirect calls **",
                         "--->A",
                         "----->B (Recursive call)",
                         "",
                         "Dead (*** Removed by Optimiser ***)",
                         "",
                         "Intr",
                         "",
                         kLongName,
                         "",
                         "Detailed Analysis",
                         "=================",
                         "",
                         "Name : A",
                         "Function Type : Not known",
                         "Return registers not known",
                         "Local Vars use 0 bytes",
                         "No parameters detected",
                         "",
                         "Name : B",
                         "Function Type : Function",
                         "Return registers : R16-17",
                         "Local Vars use 1 bytes",
                         "Full analysis not possible",
                         "",
                         "Name : C",
                         "Function Type : Procedure",
                         "No Return registers",
                         "Local Vars use 3 bytes",
                         "3 parameter bytes detected",
                         "Parameter at position 0:",
                         "  R24 loaded 1 time(s).",
                         "Parameter at position 1 not used",
                         "Parameter at position 2:",
                         "  R24 loaded 2 time(s).",
                         "  Potential Future Optimisations",
                         "  ++Use unused register instead of Parameter at location -2",
                         "  ++Remove Parameter at location -1",
                         "  ++Use register R24 instead of Parameter at location 0",
                         "",
                         "Name : Intr",
                         "Function Type : Interrupt",
                         "No Return registers",
                         "Local Vars use 2 bytes",
                         "No parameter usage detected",
                         "",
                         "Name : " + kLongName,
                         "Function Type : Function",
                         "Return registers : R16-19",
                         "Local Vars use 0 bytes",
                         "No parameters detected",
                         "",
                     });
  EXPECT_TRUE(table.FindByName("A")->IsCalled);
  EXPECT_FALSE(table.FindByName("C")->IsCalled);
  for (const TFunction* f : table.All()) EXPECT_FALSE(f->OnPath) << f->Name;
}

TEST_F(ReportsTest, PointerReturnAndStoredParameters) {
  TFunction f("P", "", 0);
  f.SetReturns("Z", 0, false);
  f.SetLocalBytes(0);
  f.RecordStore(0, 20, 1);
  f.RecordStore(0, 20, 2);
  TReportLines lines;
  WriteFunctionBlock(f, lines);
  ExpectLines(lines, {"Name : P", "Function Type : Function", "Return registers : R22, R27, R30-31",
                      "Local Vars use 0 bytes", "1 parameter bytes detected", "Parameter at position 0:",
                      "  R20 stored 2 time(s)."});
}

TEST(SizeTableTest, ColumnsLineUp) {
  TFunctionList table;
  TFunction& main = table.AddFunction("MAIN", "", 0);
  main.SizeBefore = 120;
  main.SizeAfter = 96;
  table.AddFunction("GONE", "", 0).Removed = true;
  TReportLines lines;
  WriteSizeTable(table, lines);
  const std::string rule = ";+----------+----------+----------+";
  EXPECT_EQ(lines, (TReportLines{"", rule, ";| Function | Before   | After    |", rule,
                                 ";| GONE     | 0        | Removed  |", ";| MAIN     | 120      | 96       |", rule}));
  table.AddFunction("A_MUCH_LONGER_NAME", "", 0);
  lines.clear();
  WriteSizeTable(table, lines);
  EXPECT_EQ(lines[2], ";| Function           | Before   | After    |");
  EXPECT_EQ(lines[6], ";| MAIN               | 120      | 96       |");
}

TEST(CallTreeTest, LongCallCyclesEnd) {
  constexpr int kRoutines = 2000;
  TFunctionList table;
  auto name = [](int i) { return "f" + std::to_string(i); };
  for (int i = 0; i < kRoutines; ++i) table.AddFunction(name(i), "", 0).AddCallee(name((i + 1) % kRoutines));
  table.AddFunction("entry", "", 0).AddCallee("f0");
  TReportLines lines;
  WriteCallAnalysis(table, lines);
  auto tree = std::find(lines.begin(), lines.end(), "entry");
  ASSERT_NE(tree, lines.end());
  ASSERT_LT(tree + kRoutines + 1, lines.end());
  EXPECT_EQ(tree[kRoutines + 1], std::string(2 * kRoutines + 1, '-') + ">f0 (Recursive call)");
}

TEST(SaveReportTest, EveryLineEndsInCrLfAndTheFileIsReplaced) {
  auto dir = std::filesystem::temp_directory_path() / ("korvid-report-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  std::string path = (dir / "prog.opt").string();
  std::ofstream(path) << "old content that is longer";
  SaveReport(path, {"A, 1, 1", "", "B, 2, Removed"});
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "A, 1, 1\r\n\r\nB, 2, Removed\r\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvid
