#include "analysis/CallEffects.h"

#include "analysis/Variables.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// The caller's frame pointer survives every call.
constexpr TRegFlagSet kKeptAcrossCalls = RegisterBit(28) | RegisterBit(29);

}  // namespace

TCallEffect CallEffectOf(const TLineList& /*lines*/, int /*callLine*/) { return TCallEffect{}; }

TReturnEffect ReturnEffectOf(const TLineList& lines, int retLine) {
  const TLine* line = lines.Line(retLine);
  TReturnEffect effect;
  if (line == nullptr || !line->RetHasValue) return effect;
  effect.Known = true;
  effect.Returned = kKeptAcrossCalls;
  for (const TVarUsage& usage : line->Usages.Items()) {
    const TVar& var = *usage.Var;
    if (!tVarList::IsRegister(var) || !(usage.Usage & uRead)) continue;
    int size = var.Size > 1 ? var.Size : 1;
    for (int r = static_cast<int>(var.Address); r < var.Address + size && r < 32; ++r) effect.Returned |= RegisterBit(r);
  }
  return effect;
}

}  // namespace korvid
