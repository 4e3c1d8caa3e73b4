// Runs one pass, or some of its rules, on a program text: a pass's tests then
// see only what that pass does, whatever other passes the driver runs.
#pragma once
#include <set>
#include <string>

#include "analysis/Analysis.h"
#include "passes/Driver.h"
#include "passes/Rules.h"
#include "source/LineList.h"

namespace korvid::testing {

// Repeats the pass until it changes nothing, as the driver does, and tidies the lines.
// `enabled`: rules run although a directive in force from the start switches them off.
inline std::string RunPass(const std::string& program, const TPass& pass, std::set<std::string, std::less<>> rules = {},
                           const std::set<std::string, std::less<>>& enabled = {}) {
  TLineList lines;
  EnableRules(lines, enabled);
  lines.LoadFromText(program);
  lines.Pass.OnlyRules = std::move(rules);
  lines.Pass.Name = "test";
  const TAnalysis facts(lines);
  for (int round = 0; round < 10 && pass(lines, facts); ++round) {
  }
  lines.Pass.Name = {};
  TidyLines(lines);
  return lines.SaveToText();
}

}  // namespace korvid::testing
