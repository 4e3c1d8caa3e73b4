#include "diagnostics/UserBisection.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "source/Errors.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

std::int32_t Middle(const TSpecialDebugBlock& block) {
  return static_cast<std::int32_t>((std::int64_t{block.FirstLine} + block.LastLine) / 2);
}

// Runs still to come after the run in which a block of `lines` lines was
// reported failed: its first half is tested next, and when that passes its
// second half too, so a level costs one or two runs.
int RunsAfterFailure(std::int64_t lines, std::int32_t blockSize, std::map<std::int64_t, int>& known) {
  if (lines <= blockSize) return 0;
  if (auto found = known.find(lines); found != known.end()) return found->second;
  int runs = std::max(1 + RunsAfterFailure((lines + 1) / 2, blockSize, known),
                      2 + RunsAfterFailure(lines / 2, blockSize, known));
  known[lines] = runs;
  return runs;
}

}  // namespace

std::optional<TStateFileProblem> TSpecialDebug::SetUp(const std::string& directory) {
  Base = directory;
  Debug = (directory.empty() ? fs::path(kSpecialDebugDirName) : fs::path(directory) / kSpecialDebugDirName).string();
  std::error_code error;
  fs::create_directories(Debug, error);
  if (error) throw KorvidError("cannot create the special debug directory \"" + Debug + "\": " + error.message());
  if (!fs::exists(StateFileName(), error)) {
    Reset();
    return std::nullopt;
  }
  std::optional<TStateFileProblem> problem = LoadState();
  if (problem) Reset();
  return problem;
}

std::optional<TStateFileProblem> TSpecialDebug::LoadState() {
  TSpecialDebugState loaded;
  if (auto problem = ReadStateFile(StateFileName(), loaded)) return problem;
  State = std::move(loaded);
  Current = Parent = -1;
  Fresh = false;
  const TSpecialDebugBlock& last = State.Blocks.back();
  Result = "Result For test of lines " + std::to_string(last.FirstLine) + " - " + std::to_string(last.LastLine);
  return std::nullopt;
}

void TSpecialDebug::Reset() {
  State.Blocks = {WholeProgramBlock(State.LineCount, true)};
  Current = Parent = -1;
  Fresh = true;
  Result.clear();
}

bool TSpecialDebug::CheckLineCount(std::int32_t n) {
  if (n == State.LineCount) return true;
  State.LineCount = n;
  Reset();
  return false;
}

int TSpecialDebug::SelectNextTest() {
  if (State.Blocks.empty()) return NoNextTest();
  const int lastIndex = static_cast<int>(State.Blocks.size()) - 1;
  const TSpecialDebugBlock last = State.Blocks.back();
  if (last.Failed) {
    if (last.Lines() <= State.BlockSize) return NoNextTest();
    Parent = lastIndex;
    return AddBlock(last.Level + 1, last.FirstLine, Middle(last), true);
  }
  // A first half passed: its other half is next.
  int parent = SplitParent(lastIndex);
  if (parent >= 0 && State.Blocks[parent].LastLine > last.LastLine) {
    Parent = parent;
    return AddBlock(last.Level, last.LastLine + 1, State.Blocks[parent].LastLine, true);
  }
  // Both halves passed: go on with a failed block the bisection has not settled.
  auto unsettled = std::find_if(State.Blocks.begin(), State.Blocks.end(), [&last](const TSpecialDebugBlock& block) {
    return block.Failed && ((block.Level == last.Level - 1 && block.FirstLine > last.LastLine) ||
                            block.Level == last.Level);
  });
  if (unsettled == State.Blocks.end()) return NoNextTest();
  const TSpecialDebugBlock split = *unsettled;
  Parent = static_cast<int>(unsettled - State.Blocks.begin());
  return AddBlock(split.Level + 1, split.FirstLine, Middle(split), true);
}

int TSpecialDebug::NoNextTest() {
  Current = Parent = -1;
  return -1;
}

int TSpecialDebug::SplitParent(int index) const {
  const TSpecialDebugBlock& block = State.Blocks[index];
  for (int i = index - 1; i >= 0; --i) {
    const TSpecialDebugBlock& earlier = State.Blocks[i];
    if (earlier.Level == block.Level - 1 && block.FirstLine >= earlier.FirstLine) return i;
  }
  return -1;
}

int TSpecialDebug::TestsRemaining(std::int32_t blockSize) const {
  if (State.Blocks.empty()) return 0;
  blockSize = std::max(blockSize, 1);
  std::map<std::int64_t, int> known;
  const int lastIndex = static_cast<int>(State.Blocks.size()) - 1;
  const TSpecialDebugBlock& tested = State.Blocks[lastIndex];
  int runs = RunsAfterFailure(tested.Lines(), blockSize, known);
  // Should it pass, its other half is built and reported on first.
  int parent = SplitParent(lastIndex);
  if (parent >= 0 && State.Blocks[parent].LastLine > tested.LastLine)
    runs = std::max(runs, 1 + RunsAfterFailure(State.Blocks[parent].LastLine - tested.LastLine, blockSize, known));
  return runs;
}

void TSpecialDebug::SetLastResult(bool failed) {
  if (!State.Blocks.empty()) State.Blocks.back().Failed = failed;
}

int TSpecialDebug::AddBlock(std::int32_t level, std::int32_t firstLine, std::int32_t lastLine, bool failed) {
  State.Blocks.push_back({level, firstLine, lastLine, failed});
  Current = static_cast<int>(State.Blocks.size()) - 1;
  return Current;
}

void TSpecialDebug::SaveState() const { WriteStateFile(StateFileName(), State); }

bool TSpecialDebug::IsLineEnabled(std::int32_t line) const {
  if (line == 0) return true;
  if (Current >= 0 && State.Blocks[Current].Contains(line)) return true;
  if (Parent >= 0 && State.Blocks[Parent].Contains(line)) return false;
  auto latest = std::find_if(State.Blocks.rbegin(), State.Blocks.rend(),
                             [line](const TSpecialDebugBlock& block) { return block.Contains(line); });
  return latest == State.Blocks.rend() || !latest->Failed;
}

bool TSpecialDebug::SetBlockSize(std::int32_t size) {
  if (!IsValidBlockSize(size)) return false;
  State.BlockSize = size;
  return true;
}

std::string TSpecialDebug::StateFileName() const { return (fs::path(Debug) / kSpecialDebugStateName).string(); }

}  // namespace korvid
