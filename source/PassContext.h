// Who is changing the program: the pass the driver runs and the rule whose
// edits are being made, which lines they may touch, and what each rule has
// done so far. The change log and the rule counts are read by the bisection,
// the reports and the statistics.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {

// One edit, by the line's analysis-time index.
struct TLineChange {
  std::int32_t LineIndex = 0;
  std::string Pass;
  std::string Rule;
  std::string Before;
  std::string After;
};

struct TRuleCount {
  std::int32_t Fired = 0;
  std::int32_t BytesSaved = 0;
};

struct TPassContext {
  // Empty outside a pass; edits then are the driver's own (tidying, the summary).
  std::string_view Name;
  std::string_view Rule;
  // When set, every edit made inside a pass is appended; off for normal runs.
  std::vector<TLineChange>* ChangeLog = nullptr;
  // Decides by the line's analysis-time index whether a pass may change it
  // (the special debug mode, the bisection); empty: every line may change.
  std::function<bool(std::int32_t lineIndex)> LineFilter;
  // The rules this run is limited to; empty: every rule.
  std::set<std::string, std::less<>> OnlyRules;
  // By rule name.
  std::map<std::string, TRuleCount, std::less<>> RuleCounts;

  bool RuleEnabled(std::string_view rule) const { return OnlyRules.empty() || OnlyRules.contains(rule); }
};

}  // namespace korvid
