// Every rule of every pass, for the statistics, --only and the reports.
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "passes/Rule.h"

namespace korvid {

struct TPassContext;

// In pass order, each pass's rules in the order they are tried.
std::span<const TRule* const> AllRules();
const TRule* FindRule(std::string_view name);

// One line per rule, "name  pass  fired  bytes", the rules that saved most
// first; rules that never fired are listed with 0.
std::vector<std::string> RuleStatistics(const TPassContext& context);

}  // namespace korvid
