#include "passes/Rules.h"

#include <algorithm>
#include <cstdio>

#include "passes/AddressConstantFolding.h"
#include "passes/BitTest.h"
#include "passes/BranchOptimisation.h"
#include "passes/CallFrame.h"
#include "passes/CommonExit.h"
#include "passes/Finalise.h"
#include "passes/FrameLoads.h"
#include "passes/InterruptRegs.h"
#include "passes/LoopOptimisation.h"
#include "passes/Peephole.h"
#include "passes/PointerOptimisation.h"
#include "passes/PointerToDirect.h"
#include "passes/RegisterMoveElimination.h"
#include "passes/RemoveRedundant.h"
#include "passes/RemoveUnreferenced.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

bool RuleEnabled(const TLineList& lines, const TRule& rule) {
  if (rule.Off && lines.Run.Directives[*rule.Off]) return false;
  if (rule.OnlyWith && !lines.Run.Directives[*rule.OnlyWith]) return false;
  return lines.Pass.RuleEnabled(rule.Name);
}

std::span<const TRule* const> AllRules() {
  static const std::vector<const TRule*> rules = [] {
    std::vector<const TRule*> all;
    for (const TRule& rule : TestBit8Rules()) all.push_back(&rule);
    for (const TRule& rule : LoopOptimisationRules()) all.push_back(&rule);
    for (const TRule& rule : CallFrameRules()) all.push_back(&rule);
    for (const TRule& rule : InterruptRegsRules()) all.push_back(&rule);
    for (const TRule& rule : BranchOptimisationRules()) all.push_back(&rule);
    for (const TRule& rule : RemoveRedundantRules()) all.push_back(&rule);
    for (const TRule& rule : PeepholeRules()) all.push_back(&rule);
    for (const TRule& rule : InliningRules()) all.push_back(&rule);
    for (const TRule& rule : AndiBitTestRules()) all.push_back(&rule);
    for (const TRule& rule : AddressConstantFoldingRules()) all.push_back(&rule);
    for (const TRule& rule : PointerToDirectRules()) all.push_back(&rule);
    for (const TRule& rule : RegisterMoveEliminationRules()) all.push_back(&rule);
    for (const TRule& rule : RemoveUnreferencedRules()) all.push_back(&rule);
    for (const TRule& rule : FrameLoadRules()) all.push_back(&rule);
    for (const TRule& rule : CommonExitRules()) all.push_back(&rule);
    for (const TRule& rule : FinaliseRules()) all.push_back(&rule);
    for (const TRule& rule : PointerOptimisationRules()) all.push_back(&rule);
    return all;
  }();
  return rules;
}

void EnableRules(TLineList& lines, const std::set<std::string, std::less<>>& names) {
  for (const std::string& name : names) {
    const TRule* rule = FindRule(name);
    if (rule == nullptr) continue;
    if (rule->Off) lines.Run.Directives.Set(*rule->Off, false);
    if (rule->OnlyWith) lines.Run.Directives.Set(*rule->OnlyWith, true);
  }
}

const TRule* FindRule(std::string_view name) {
  for (const TRule* rule : AllRules())
    if (EqualsNoCase(rule->Name, name)) return rule;
  return nullptr;
}

std::vector<std::string> RuleStatistics(const TPassContext& context) {
  struct TRow {
    const TRule* Rule;
    TRuleCount Count;
  };
  std::vector<TRow> rows;
  for (const TRule* rule : AllRules()) {
    auto found = context.RuleCounts.find(rule->Name);
    rows.push_back({rule, found == context.RuleCounts.end() ? TRuleCount{} : found->second});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) {
    return a.Count.BytesSaved != b.Count.BytesSaved ? a.Count.BytesSaved > b.Count.BytesSaved
                                                    : a.Count.Fired > b.Count.Fired;
  });
  std::vector<std::string> lines;
  for (const TRow& row : rows) {
    char text[160];
    std::snprintf(text, sizeof text, "%-24.*s %-10.*s %8d fired %8d bytes", static_cast<int>(row.Rule->Name.size()),
                  row.Rule->Name.data(), static_cast<int>(row.Rule->Pass.size()), row.Rule->Pass.data(),
                  row.Count.Fired, row.Count.BytesSaved);
    lines.emplace_back(text);
  }
  return lines;
}

}  // namespace korvid
