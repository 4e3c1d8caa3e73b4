// Runs the passes over the loaded program in their order, iterating the four
// phases until nothing changes, tidies the lines and appends the summary.
#pragma once
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "source/LineTypes.h"

namespace korvid {

class TAnalysis;
class TLineList;

// Every pass the driver knows, in the order of the table below.
enum class TPassStep {
  BitTest8, InterruptRegs, Loop, CallFrame, Branch, Phase1, Phase2, Phase3, Phase4, CommonExit, Finalise,
  Pointer, Count
};

// A pass returns whether it changed the program (only the phases' answers are
// used). It asks the one analysis the driver hands every pass, and edits
// through batches of that analysis.
using TPass = std::function<bool(TLineList&, const TAnalysis&)>;
using TPassTable = std::array<TPass, static_cast<std::size_t>(TPassStep::Count)>;

// The step's name, as the change log records the pass that made an edit.
std::string_view PassName(TPassStep step);

// The passes of the optimiser; a step without a pass yet is empty and skipped.
const TPassTable& DefaultPasses();

// Directory is the directory part of the program's file name; the special
// debug mode (lines.Run.SpecialDebug) keeps its files there.
void Optimise(TLineList& lines, const std::string& directory, const TPassTable& passes = DefaultPasses());

// Deletes removed lines, shrinks runs of blank lines and notes changed branches.
void TidyLines(TLineList& lines);
// The number a ".BRANCH" note carries for a changed branch; 0 for no note.
int BranchKind(TLineType type);

// The comment lines that end every optimised file.
std::vector<std::string> SummaryLines(const std::string& version, std::int32_t codeSize, std::int32_t saved,
                                      std::chrono::seconds analysis, std::chrono::seconds optimisation,
                                      std::chrono::seconds total);
// A duration as hh:mm:ss; hours go past 24 rather than wrapping.
std::string FormatDuration(std::chrono::seconds duration);

}  // namespace korvid
