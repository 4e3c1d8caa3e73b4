// One run from input to output files: resolve the input, load and analyse it,
// keep the input as .DSM, optimise, write the program back and the reports.
#pragma once
#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <string_view>

#include "app/UserBisectionSession.h"

namespace korvid {

// What the mode switch selects.
struct TRunMode {
  bool QuickOpt = false;
  bool SmartlinkOnly = false;
  bool WindowVisible = true;
};

TRunMode ModeFromSwitch(std::string_view modeSwitch);

// Exit statuses of a run.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitAborted = 1;
inline constexpr int kExitFailed = 2;

// Checks that the optimised program text behaves like the original; false with
// a message when it does not (or cannot be checked), so nothing is replaced.
using TBehaviourCheck =
    std::function<bool(const std::string& original, const std::string& optimised, std::string& message)>;

struct TRunOptions {
  TBehaviourCheck Check;
  TSpecialDebugInput Debug;
  // Prints the rule statistics on standard output after the run.
  bool Stats = false;
  // Only these rules run; empty: every rule.
  std::set<std::string, std::less<>> OnlyRules;
  // These rules run although a directive in force from the start switches them off.
  std::set<std::string, std::less<>> EnabledRules;
};

int RunCommandLine(const std::string& input, const std::string& modeSwitch, const TRunOptions& options = {});
// Asks for the input and output files on `in`, prompting on `prompts`; the
// special debug mode asks there too unless debug gives the answer.
int RunInteractive(std::istream& in, std::ostream& prompts, TSpecialDebugInput debug = {});

}  // namespace korvid
