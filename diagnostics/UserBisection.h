// The special debug mode: across compile-and-test runs it bisects the
// program's lines to find the block whose optimisation breaks the user's
// program. Each run optimises only the lines of the block under test, and
// the user reports in the next run whether that build passed their test.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/UserBisectionState.h"

namespace korvid {

// What one special debug step tells the driver.
enum class TSpecialDebugResult { NewTest = 0, LastFailed = 1, LastPassed = 2, TestComplete = 3 };

// What the optimisation driver and the passes ask of the special debug mode.
class TSpecialDebugHook {
 public:
  virtual ~TSpecialDebugHook() = default;
  // Learns how the last test went and picks the lines of the next one.
  virtual TSpecialDebugResult RunSpecialDebug(const std::string& directory, std::int32_t lineCount) = 0;
  // By the line's analysis-time index.
  virtual bool IsLineEnabled(std::int32_t lineIndex) const = 0;
};

inline constexpr std::string_view kSpecialDebugDirName = "KORVID_DEBUG";
inline constexpr std::string_view kSpecialDebugStateName = "Korvid.dbg";

class TSpecialDebug {
 public:
  // Creates the debug directory inside directory (empty: the current one)
  // and loads the state. Without a usable state file a new test starts; when
  // the file was there but damaged, the reason is returned.
  std::optional<TStateFileProblem> SetUp(const std::string& directory);
  // On a damaged file nothing changes and the problem is returned.
  std::optional<TStateFileProblem> LoadState();
  void Reset();
  // True when the test belongs to a program of n lines; otherwise resets for n lines.
  bool CheckLineCount(std::int32_t n);
  // Adds the next block to test and returns its index; -1 when the test is complete.
  int SelectNextTest();
  // The most test runs still to come once the user has answered about the
  // block under test, wherever in it the faulty line is.
  int TestsRemaining(std::int32_t blockSize) const;
  void SetLastResult(bool failed);
  // The new block becomes the one under test.
  int AddBlock(std::int32_t level, std::int32_t firstLine, std::int32_t lastLine, bool failed);
  // Replaces the state file; nothing is written while there are no blocks.
  void SaveState() const;
  bool IsLineEnabled(std::int32_t line) const;

  // False, keeping the size, for a size the user cannot choose.
  bool SetBlockSize(std::int32_t size);
  std::int32_t BlockSize() const { return State.BlockSize; }
  std::int32_t LineCount() const { return State.LineCount; }
  const std::vector<TSpecialDebugBlock>& Blocks() const { return State.Blocks; }
  int CurrentIndex() const { return Current; }
  int ParentIndex() const { return Parent; }
  const std::string& BaseDir() const { return Base; }
  const std::string& DebugDir() const { return Debug; }
  std::string StateFileName() const;
  // Set by a reset: this run starts the test.
  bool NewTest() const { return Fresh; }
  // Names the block the user is asked about.
  const std::string& ResultText() const { return Result; }

 private:
  // The block of the level above that the block at index was bisected from; -1 for none.
  int SplitParent(int index) const;
  int NoNextTest();

  TSpecialDebugState State;
  std::string Base;
  std::string Debug;
  // Indices rather than references, which would not survive the list growing.
  int Current = -1;
  int Parent = -1;
  bool Fresh = false;
  std::string Result;
};

}  // namespace korvid
