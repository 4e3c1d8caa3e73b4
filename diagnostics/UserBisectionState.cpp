#include "diagnostics/UserBisectionState.h"

#include <array>
#include <string_view>

#include "source/Text.h"
#include "source/TextFile.h"

namespace korvid {

namespace {

// Far more than a bisection makes; it bounds the work a hand-made file can cause.
constexpr std::size_t kMaxBlocks = 4096;

struct TStateLine {
  std::array<std::int32_t, 3> Numbers{};
  bool Failed = false;
};

// Empty when the text is three decimal numbers and PASS or FAIL; the reason otherwise.
std::string ParseLine(std::string_view text, TStateLine& line) {
  std::vector<std::string_view> fields;
  for (std::size_t comma = 0; comma != std::string_view::npos;) {
    comma = text.find(',');
    fields.push_back(Trim(text.substr(0, comma)));
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  if (fields.size() != 4) return "expected 4 fields separated by commas, found " + std::to_string(fields.size());
  for (std::size_t i = 0; i < line.Numbers.size(); ++i) {
    std::optional<std::int32_t> number = ReadDecimal(fields[i]);
    if (!number) return "\"" + std::string(fields[i]) + "\" is not a number";
    line.Numbers[i] = *number;
  }
  // A mistyped result read as either answer would steer the bisection wrongly.
  if (!EqualsNoCase(fields[3], "PASS") && !EqualsNoCase(fields[3], "FAIL"))
    return "\"" + std::string(fields[3]) + "\" is neither PASS nor FAIL";
  line.Failed = EqualsNoCase(fields[3], "FAIL");
  return "";
}

std::string Range(const TSpecialDebugBlock& block) {
  return std::to_string(block.FirstLine) + " - " + std::to_string(block.LastLine);
}

// Empty when the block can belong to the test so far; the reason otherwise.
std::string CheckBlock(const TSpecialDebugState& state, const TSpecialDebugBlock& block) {
  if (state.Blocks.size() >= kMaxBlocks) return "more than " + std::to_string(kMaxBlocks) + " blocks";
  if (block.Level < 1) return "level " + std::to_string(block.Level) + " is below 1";
  const TSpecialDebugBlock& program = state.Blocks.front();
  if (block.FirstLine > block.LastLine || block.FirstLine < program.FirstLine || block.LastLine > program.LastLine)
    return "lines " + Range(block) + " are not a range within the program's lines " + Range(program);
  for (const TSpecialDebugBlock& earlier : state.Blocks)
    if (earlier.Level == block.Level - 1 && earlier.FirstLine <= block.FirstLine && block.LastLine <= earlier.LastLine)
      return "";
  return "lines " + Range(block) + " lie in no earlier block of level " + std::to_string(block.Level - 1);
}

// Empty when the first line describes a test; the reason otherwise.
std::string CheckFirstLine(const TStateLine& line) {
  if (!IsValidBlockSize(line.Numbers[1]))
    return "the block size " + std::to_string(line.Numbers[1]) + " is not 1, 2, 4, 8 or 16";
  if (line.Numbers[2] < 1) return "the line count " + std::to_string(line.Numbers[2]) + " is below 1";
  return "";
}

std::string Result(bool failed) { return failed ? "FAIL" : "PASS"; }

}  // namespace

bool IsValidBlockSize(std::int64_t size) { return size >= 1 && size <= 16 && (size & (size - 1)) == 0; }

std::optional<TStateFileProblem> ReadStateFile(const std::string& fileName, TSpecialDebugState& state) {
  TTextFile file;
  try {
    file = ReadTextFile(fileName);
  } catch (const std::exception& error) {
    return TStateFileProblem{fileName, 1, error.what()};
  }
  TSpecialDebugState read;
  for (std::size_t i = 0; i < file.Lines.size(); ++i) {
    if (Trim(file.Lines[i].Text).empty()) continue;
    TStateLine line;
    std::string problem = ParseLine(file.Lines[i].Text, line);
    if (problem.empty() && read.Blocks.empty()) {
      problem = CheckFirstLine(line);
      read.BlockSize = line.Numbers[1];
      read.LineCount = line.Numbers[2];
      if (problem.empty()) read.Blocks.push_back(WholeProgramBlock(read.LineCount, line.Failed));
    } else if (problem.empty()) {
      TSpecialDebugBlock block{line.Numbers[0], line.Numbers[1], line.Numbers[2], line.Failed};
      problem = CheckBlock(read, block);
      read.Blocks.push_back(block);
    }
    if (!problem.empty()) return TStateFileProblem{fileName, static_cast<int>(i + 1), problem};
  }
  if (read.Blocks.empty()) return TStateFileProblem{fileName, 1, "the file holds no test"};
  state = std::move(read);
  return std::nullopt;
}

void WriteStateFile(const std::string& fileName, const TSpecialDebugState& state) {
  if (state.Blocks.empty()) return;
  std::string text = "0," + std::to_string(state.BlockSize) + "," + std::to_string(state.LineCount) + "," +
                     Result(state.Blocks.front().Failed) + "\n";
  for (std::size_t i = 1; i < state.Blocks.size(); ++i) {
    const TSpecialDebugBlock& block = state.Blocks[i];
    text += std::to_string(block.Level) + "," + std::to_string(block.FirstLine) + "," +
            std::to_string(block.LastLine) + "," + Result(block.Failed) + "\n";
  }
  WriteFileAtomically(fileName, text);
}

}  // namespace korvid
