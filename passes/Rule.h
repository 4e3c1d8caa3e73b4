// A rewrite rule as every pass declares it: a stable name that the change log,
// the statistics, the bisection and --only use, the pass it belongs to, the
// directive that switches it off (or, for a rule the program must ask for, the
// one that switches it on), and why the rewrite is sound.
#pragma once
#include <optional>
#include <string_view>

#include "source/Directives.h"

namespace korvid {

class TLineList;

struct TRule {
  std::string_view Name;
  std::string_view Pass;
  // None: no directive switches the rule off.
  std::optional<TDirective> Off;
  std::string_view Reason;
  // Set: the rule runs only while this directive is in force (an opt-in rule).
  std::optional<TDirective> OnlyWith = std::nullopt;
};

// Neither switched off by its directive (nor waiting for the one that switches
// it on) nor left out by --only.
bool RuleEnabled(const TLineList& lines, const TRule& rule);

}  // namespace korvid
