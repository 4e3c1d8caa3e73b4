// The special debug mode's test as it is kept between runs: the tested
// blocks of lines in the order they were made, in the state file Korvid.dbg.
//   line 1:          0,BlockSize,LineCount,PASS|FAIL   (the whole program)
//   each later line: Level,FirstLine,LastLine,PASS|FAIL
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvid {

struct TSpecialDebugBlock {
  std::int32_t Level = 0;  // bisection depth, 0 for the whole program
  std::int32_t FirstLine = 0;
  std::int32_t LastLine = 0;  // inclusive
  bool Failed = true;         // a block not yet tested is presumed to fail

  std::int64_t Lines() const { return std::int64_t{LastLine} - FirstLine + 1; }
  bool Contains(std::int32_t line) const { return line >= FirstLine && line <= LastLine; }
  bool operator==(const TSpecialDebugBlock&) const = default;
};

// The block of level 0: every line of a program of lineCount lines.
inline TSpecialDebugBlock WholeProgramBlock(std::int32_t lineCount, bool failed) {
  return {0, 0, lineCount - 1, failed};
}

inline constexpr std::int32_t kDefaultBlockSize = 16;
// The sizes the user can choose: 1, 2, 4, 8 or 16 lines.
bool IsValidBlockSize(std::int64_t size);

struct TSpecialDebugState {
  std::int32_t BlockSize = kDefaultBlockSize;
  std::int32_t LineCount = 0;
  std::vector<TSpecialDebugBlock> Blocks;
};

// Why a state file cannot be used, and where.
struct TStateFileProblem {
  std::string FileName;
  int Line = 1;
  std::string Message;
};

// Reads a state file into state, or returns why it does not hold a test this
// program could have made (state is then unchanged): besides the format, every
// block must lie inside the program and inside a block of the level above.
std::optional<TStateFileProblem> ReadStateFile(const std::string& fileName, TSpecialDebugState& state);
// Replaces the file in one step, so a failed write leaves the old state.
void WriteStateFile(const std::string& fileName, const TSpecialDebugState& state);

}  // namespace korvid
