// A rewrite rule as every pass declares it: a stable name that the change log,
// the statistics, the bisection and --only use, the pass it belongs to, the
// directive that switches it off, and why the rewrite is sound.
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
};

// Neither switched off by its directive nor left out by --only.
bool RuleEnabled(const TLineList& lines, const TRule& rule);

}  // namespace korvid
