// Every rule of every pass, for the statistics, --only and the reports.
#pragma once
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "passes/Rule.h"

namespace korvid {

class TLineList;
struct TPassContext;

// In pass order, each pass's rules in the order they are tried.
std::span<const TRule* const> AllRules();
const TRule* FindRule(std::string_view name);

// Clears the directive that switches each named rule off (and with it the
// rules it shares), for a run asked to run them although the directive is in
// force from the start; sets the directive an opt-in rule waits for. Before
// loading: a directive line in the program switches them off again.
void EnableRules(TLineList& lines, const std::set<std::string, std::less<>>& names);

// One line per rule, "name  pass  fired  bytes", the rules that saved most
// first; rules that never fired are listed with 0.
std::vector<std::string> RuleStatistics(const TPassContext& context);

}  // namespace korvid
