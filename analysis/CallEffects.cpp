#include "analysis/CallEffects.h"

#include <memory>

#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/RoutineSummary.h"
#include "source/Variables.h"
#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// The caller's frame pointer survives every call.
constexpr TRegFlagSet kKeptAcrossCalls = RegisterBit(28) | RegisterBit(29);

TRegFlagSet BitsOf(const TRegisterSet& regs, const TFlagSet& flags) {
  return regs.to_ullong() | (TRegFlagSet{flags.to_ullong()} << kFlagBit0);
}

// Registers and flags every path from `entry` writes before reading them: the
// straight run of code at the routine's start, up to the first line that can
// go elsewhere. Anything later may be skipped or branched around.
TRegFlagSet WrittenFirst(const TLineList& lines, int entry, TRegFlagSet addressTaken) {
  TRegFlagSet read = 0, written = 0;
  for (int k = entry; k >= 0 && k < lines.Count(); ++k) {
    const TLine& line = *lines.Line(k);
    if (line.Size == 0) continue;
    if (line.DataSize > 0 || line.UnknownEffect || line.IsTransfer() || line.IsSkip()) break;
    TLineBits bits = LineRegisterBits(line, addressTaken, 0);
    read |= bits.Use & ~written;
    written |= bits.Kill & ~read;
  }
  return written;
}

}  // namespace

const TRoutineSummaries& CurrentRoutineSummaries(const TLineList& lines) {
  const auto& cached = CachesOf(lines).RoutineSummaries;
  if (!cached || cached->Generation != AnalysisGeneration(lines) || cached->LineCount != lines.Count())
    CachesOf(lines).RoutineSummaries = std::make_shared<const TRoutineSummaries>(lines);
  return *CachesOf(lines).RoutineSummaries;
}

TCallEffect CallEffectOf(const TLineList& lines, int callLine) {
  const TRoutineSummaries& summaries = CurrentRoutineSummaries(lines);
  const TRoutineEffects& callee = summaries.AtCall(callLine);
  TCallEffect effect;
  if (callee.Unknown) return effect;
  TRegFlagSet addressTaken = AddressTakenRegisters(lines);
  effect.Entry = summaries.CallTargetLine(callLine);
  effect.MayWrite = BitsOf(callee.RegsWritten, lines.Run.InjectedFaults.CallsKeepFlags ? TFlagSet{} : callee.FlagsWritten);
  // A register whose address is taken may be written through any pointer.
  if (callee.StoresThroughPointer && !lines.Run.InjectedFaults.CallsKeepAddressTaken) effect.MayWrite |= addressTaken;
  effect.MustWrite = WrittenFirst(lines, effect.Entry, addressTaken) & ~addressTaken;
  effect.MayStore = callee.MayStoreAnything();
  return effect;
}

TLineWrites LineMayWrite(const TLineList& lines, int index, TRegFlagSet addressTaken) {
  const TLine& line = *lines.Line(index);
  TLineWrites writes{LineRegisterBits(line, addressTaken, 0).Def,
                     (line.Memory & mem::AnyDataWrite & ~mem::StackWrite) != 0};
  if (line.FlowKind & fkCall) {
    TCallEffect call = CallEffectOf(lines, index);
    writes.Registers |= call.MayWrite | call.MustWrite;
    writes.Memory = writes.Memory || call.MayStore;
  }
  return writes;
}

TReturnEffect ReturnEffectOf(const TLineList& lines, int retLine) {
  const TLine* line = lines.Line(retLine);
  TReturnEffect effect;
  if (line == nullptr) return effect;
  int routine = CurrentRoutineSummaries(lines).RoutineOfLine(retLine);
  if (routine < 0) return effect;
  effect.Routine = routine;
  effect.Returned = kKeptAcrossCalls;
  for (const TVarUsage& usage : line->Usages.Items())
    if (usage.Usage & uRead) effect.Returned |= VarBits(*usage.Var);
  return effect;
}

}  // namespace korvid
