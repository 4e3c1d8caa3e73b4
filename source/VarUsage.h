// Per line, which variables (registers, flags, I/O locations, memory) it touches
// and how. Every liveness question of the passes is answered from these lists.
#pragma once
#include <cstdint>
#include <vector>

#include "source/UsageBits.h"

namespace korvid {

struct TVar;

// Transient marks of the passes, bits 5 to 21.
inline constexpr TUsageSet uMarkMask = 0x3FFFE0;

struct TVarUsage {
  TVar* Var = nullptr;
  TUsageSet Usage = 0;
};

class TVarUsageList {
 public:
  // Adding a variable already present ORs the bits into its set.
  void Add(TVar* var, TUsageSet usage);
  void Clear() { Entries.clear(); }
  bool Empty() const { return Entries.empty(); }
  const std::vector<TVarUsage>& Items() const { return Entries; }

  TUsageSet UsageOf(const TVar* var) const;
  bool IsWritten(const TVar* var) const { return (UsageOf(var) & (uWrite | uModify)) != 0; }
  bool UsageIs(const TVar* var, TUsageSet set) const;
  bool HasUsage(const TVar* var, int bit) const { return (UsageOf(var) >> bit) & 1u; }
  void ResetMarks();

 private:
  std::vector<TVarUsage> Entries;
};

}  // namespace korvid
