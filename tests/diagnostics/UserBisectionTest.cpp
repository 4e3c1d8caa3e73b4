#include "diagnostics/UserBisection.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

using testing::TTempDirectory;
using Blocks = std::vector<TSpecialDebugBlock>;

// A test of a 100-line program whose first half passed and whose second half is under test.
TSpecialDebug SecondHalfUnderTest(const std::string& directory) {
  TSpecialDebug debug;
  debug.SetUp(directory);
  debug.CheckLineCount(100);
  debug.SelectNextTest();
  debug.SetLastResult(false);
  debug.SelectNextTest();
  return debug;
}

TEST(SpecialDebugTest, StateFileOfThreeBlocksReadsBackTheSame) {
  TTempDirectory dir;
  TSpecialDebug debug = SecondHalfUnderTest(dir / "project/");
  ASSERT_TRUE(debug.SetBlockSize(4));
  debug.SaveState();
  EXPECT_EQ(debug.DebugDir(), dir / "project/KORVID_DEBUG");
  EXPECT_EQ(TTempDirectory::Read(dir / "project/KORVID_DEBUG/Korvid.dbg"), "0,4,100,FAIL\n1,0,49,PASS\n1,50,99,FAIL\n");

  TSpecialDebug again;
  EXPECT_FALSE(again.SetUp(dir / "project"));
  EXPECT_FALSE(again.NewTest());
  EXPECT_EQ(again.Blocks(), debug.Blocks());
  EXPECT_EQ(again.BlockSize(), 4);
  EXPECT_EQ(again.LineCount(), 100);
  EXPECT_EQ(again.ResultText(), "Result For test of lines 50 - 99");

  // Blanks, capitals and CR LF, as an editor may leave them, are read alike.
  dir.Write("project/KORVID_DEBUG/Korvid.dbg", "0, 4 ,100, fail\r\n1,0,49,Pass\r\n\r\n1,50,99,FAIL \r\n");
  TSpecialDebug edited;
  EXPECT_FALSE(edited.SetUp(dir / "project"));
  EXPECT_EQ(edited.Blocks(), debug.Blocks());
}

TEST(SpecialDebugTest, DamagedStateFileStartsANewTestAndSaysWhere) {
  struct TCase {
    const char* Text;
    int Line;
    const char* Reason;
  };
  const TCase cases[] = {
      {"", 1, "is empty"},
      {"\n\n", 1, "holds no test"},
      {"0,16,100\n", 1, "expected 4 fields"},
      {"0,16,100,FAIL\n1,0,49,FAIL,again\n", 2, "expected 4 fields"},
      {"0,16,many,FAIL\n", 1, "\"many\" is not a number"},
      {"0,16,100,FAIL\n1,0,4x9,FAIL\n", 2, "\"4x9\" is not a number"},
      {"0,16,99999999999,FAIL\n", 1, "is not a number"},
      {"0,16,100,FAILED\n", 1, "neither PASS nor FAIL"},
      {"0,12,100,FAIL\n", 1, "block size 12"},
      {"0,-16,100,FAIL\n", 1, "block size -16"},
      {"0,16,0,FAIL\n", 1, "line count 0"},
      {"0,16,100,FAIL\n1,-5,49,FAIL\n", 2, "not a range"},
      {"0,16,100,FAIL\n1,60,20,FAIL\n", 2, "not a range"},
      {"0,16,100,FAIL\n1,50,100,FAIL\n", 2, "not a range within the program's lines 0 - 99"},
      // The line count edited below the blocks of the test it describes.
      {"0,16,50,FAIL\n1,0,49,PASS\n1,50,99,FAIL\n", 3, "not a range"},
      {"0,16,100,FAIL\n0,0,49,FAIL\n", 2, "level 0 is below 1"},
      {"0,16,100,FAIL\n1,0,49,FAIL\n3,0,24,FAIL\n", 3, "no earlier block of level 2"},
      {"0,16,100,FAIL\n1,0,49,PASS\n2,50,74,FAIL\n", 3, "no earlier block of level 1"},
  };
  for (const TCase& c : cases) {
    TTempDirectory dir;
    std::string stateFile = dir.Write("KORVID_DEBUG/Korvid.dbg", c.Text);
    TSpecialDebug debug;
    std::optional<TStateFileProblem> problem = debug.SetUp(dir / "");
    ASSERT_TRUE(problem) << c.Text;
    EXPECT_EQ(problem->FileName, stateFile);
    EXPECT_EQ(problem->Line, c.Line) << c.Text;
    EXPECT_NE(problem->Message.find(c.Reason), std::string::npos) << c.Text << problem->Message;
    EXPECT_TRUE(debug.NewTest()) << c.Text;
    EXPECT_EQ(debug.Blocks().size(), 1u) << c.Text;
    EXPECT_EQ(debug.BlockSize(), kDefaultBlockSize) << c.Text;
  }
}

TEST(SpecialDebugTest, OnlyTheBlockUnderTestChangesBesidesLinesAlreadyPassed) {
  TTempDirectory dir;
  TSpecialDebug debug;
  debug.SetUp(dir / "");
  debug.CheckLineCount(100);
  debug.SelectNextTest();  // lines 0 - 49 under test
  for (int line : {0, 10, 49}) EXPECT_TRUE(debug.IsLineEnabled(line)) << line;
  for (int line : {50, 99}) EXPECT_FALSE(debug.IsLineEnabled(line)) << line;
  EXPECT_TRUE(debug.IsLineEnabled(100)) << "outside every block";

  debug.SetLastResult(false);
  debug.SelectNextTest();  // lines 50 - 99 under test, the passed half is left out
  EXPECT_TRUE(debug.IsLineEnabled(0)) << "line 0 is always enabled";
  EXPECT_FALSE(debug.IsLineEnabled(10));
  EXPECT_TRUE(debug.IsLineEnabled(60));

  debug.SetLastResult(true);
  debug.SelectNextTest();  // lines 50 - 74; the first half passed, so it is optimised again
  EXPECT_EQ(debug.Blocks().back(), (TSpecialDebugBlock{2, 50, 74, true}));
  EXPECT_TRUE(debug.IsLineEnabled(10));
  EXPECT_TRUE(debug.IsLineEnabled(74));
  EXPECT_FALSE(debug.IsLineEnabled(75));

  // Read back in the next run, before the next test is chosen, the latest block decides.
  debug.SaveState();
  TSpecialDebug loaded;
  loaded.SetUp(dir / "");
  EXPECT_TRUE(loaded.IsLineEnabled(10));
  EXPECT_FALSE(loaded.IsLineEnabled(60));
  EXPECT_TRUE(loaded.IsLineEnabled(0));
}

TEST(SpecialDebugTest, AFailedBlockIsSplitOnlyWhileItHasMoreLinesThanTheBlockSize) {
  TTempDirectory dir;
  auto nextAfterFailed = [&dir](std::int32_t lines) {
    TSpecialDebug debug;
    debug.SetUp(dir / "");
    debug.CheckLineCount(1000);
    debug.AddBlock(1, 100, 100 + lines - 1, true);
    int next = debug.SelectNextTest();
    return next < 0 ? std::optional<TSpecialDebugBlock>() : debug.Blocks()[next];
  };
  EXPECT_EQ(nextAfterFailed(20), (TSpecialDebugBlock{2, 100, 109, true}));
  EXPECT_EQ(nextAfterFailed(17), (TSpecialDebugBlock{2, 100, 108, true}));
  EXPECT_FALSE(nextAfterFailed(16)) << "the test is complete";
  EXPECT_FALSE(nextAfterFailed(1));
}

TEST(SpecialDebugTest, BothHalvesPassingEndsTheTestAndOnlyChosenBlockSizesAreTaken) {
  TTempDirectory dir;
  TSpecialDebug debug = SecondHalfUnderTest(dir / "");
  debug.SetLastResult(false);
  EXPECT_EQ(debug.SelectNextTest(), -1);
  EXPECT_EQ(debug.CurrentIndex(), -1);
  EXPECT_EQ(debug.ParentIndex(), -1);

  for (int size : {0, 3, 32, -4}) EXPECT_FALSE(debug.SetBlockSize(size)) << size;
  EXPECT_EQ(debug.BlockSize(), kDefaultBlockSize);
  EXPECT_TRUE(debug.SetBlockSize(1));
}

TEST(SpecialDebugTest, SetUpCreatesTheDebugDirectoryWithItsParents) {
  TTempDirectory dir;
  TSpecialDebug debug;
  EXPECT_FALSE(debug.SetUp(dir / "a/b"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/KORVID_DEBUG"));
  EXPECT_TRUE(debug.NewTest());
  EXPECT_EQ(debug.BaseDir(), dir / "a/b");

  dir.Write("file", "x");
  EXPECT_THROW(debug.SetUp(dir / "file"), std::exception);
}

}  // namespace
}  // namespace korvid
