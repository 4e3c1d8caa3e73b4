#include "source/VarUsage.h"

#include <algorithm>

namespace korvid {

void TVarUsageList::Add(TVar* var, TUsageSet usage) {
  for (auto& entry : Entries) {
    if (entry.Var == var) {
      entry.Usage |= usage;
      return;
    }
  }
  Entries.push_back({var, usage});
}

TUsageSet TVarUsageList::UsageOf(const TVar* var) const {
  for (const auto& entry : Entries)
    if (entry.Var == var) return entry.Usage;
  return 0;
}

bool TVarUsageList::UsageIs(const TVar* var, TUsageSet set) const {
  TUsageSet usage = UsageOf(var) & ~uMarkMask;
  if (set == 0) return usage == 0;
  return usage == set || (usage & set) != 0;
}

void TVarUsageList::ResetMarks() {
  for (auto& entry : Entries) entry.Usage &= ~uMarkMask;
}

}  // namespace korvid
