#include "source/UsageSets.h"

#include <algorithm>

#include "source/Variables.h"
#include "source/Line.h"

namespace korvid {

namespace {
constexpr TUsageSet kReadBits = uRead | uModify | uPush;
constexpr TUsageSet kWriteBits = uWrite | uModify | uPop;
constexpr TUsageSet kEffectBits = uWrite | uModify | uRead | uPush | uPop;
}  // namespace

TRegisterSet RegistersOf(const TVar& var) {
  TRegisterSet regs;
  if (var.Kind != vk::Data || var.Address < 0 || var.Address > 31) return regs;
  std::int64_t last = std::min<std::int64_t>(31, var.Address + std::max(var.Size, 1) - 1);
  for (std::int64_t r = var.Address; r <= last; ++r) regs.set(static_cast<std::size_t>(r));
  return regs;
}

TFlagSet FlagsOf(const TVar& var) {
  TFlagSet flags;
  if (tVarList::IsFlag(var)) flags.set(static_cast<std::size_t>(var.Address));
  return flags;
}

TLineEffects EffectsOf(const TLine& line) {
  TLineEffects effects;
  for (const TVarUsage& usage : line.Usages.Items()) {
    if (usage.Var == nullptr) continue;
    TRegisterSet regs = RegistersOf(*usage.Var);
    TFlagSet flags = FlagsOf(*usage.Var);
    if (usage.Usage & kReadBits) {
      effects.RegsRead |= regs;
      effects.FlagsRead |= flags;
    }
    if (usage.Usage & kWriteBits) {
      effects.RegsWritten |= regs;
      effects.FlagsWritten |= flags;
    }
  }
  return effects;
}

bool TouchesRegister(const TLine& line, int reg) {
  for (const TVarUsage& usage : line.Usages.Items())
    if (usage.Var != nullptr && (usage.Usage & kEffectBits) && RegistersOf(*usage.Var).test(reg)) return true;
  return false;
}

}  // namespace korvid
