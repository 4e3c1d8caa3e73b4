// Automatic bisection: finds the rewrites that break a program by optimising
// it with only some of its lines enabled and checking each build by
// simulation against the unoptimised program.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diagnostics/LineSearch.h"
#include "passes/Driver.h"
#include "source/LineList.h"
#include "verify/Verify.h"

namespace korvid::verify {

struct TBisectOptions {
  VerifyOptions verify;
  int maxLines = kMaxFaultLines;
  // Told the most rounds to come before the first and after each, and how each round went.
  std::function<void(const std::string& text)> progress;
};

struct TBuild {
  std::string Text;
  std::vector<TLineChange> Changes;
};

struct TBisectReport {
  enum class Outcome { Correct, Fault, CouldNotCheck };
  Outcome outcome = Outcome::CouldNotCheck;
  // The failing lines by analysis-time index, and what the passes did to them in the failing build.
  std::vector<std::int32_t> lines;
  std::vector<TLineChange> changes;
  bool minimal = true;
  // The verifier's first difference of the failing build, or why nothing could be checked.
  std::string message;
  int rounds = 0;
  // The most rounds the bisection could need: the full build plus the search
  // over the changed lines (before the first round, over all loaded lines).
  int bound = 1;
  std::int32_t lineCount = 0;
  std::string original;
  TBuild failing;
  // A build seen to behave, when the search made one.
  std::string passing;
};

// Loads the program into a fresh line list; throws KorvidError when it cannot.
using TProgramLoader = std::function<void(TLineList& lines)>;

TBisectReport Bisect(const TProgramLoader& load, const TPassTable& passes, const TBisectOptions& options);

// The special debug folder beside programName, as the manual mode leaves a
// completed test whose failing blocks are the lines found, with its program copies.
void KeepDebugFolder(const TBisectReport& report, const std::string& programName);

// `korvid bisect FILE [--mcu NAME] [--budget CYCLES]`; argv[0] is "bisect".
int RunBisectCommand(int argc, char** argv);

}  // namespace korvid::verify
