#include "analysis/PathSearch.h"

#include "analysis/ByteRanges.h"
#include "analysis/ForwardSearch.h"
#include "analysis/SearchCache.h"
#include "source/Variables.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// Registers and flags: the shared dataflow answers open-ended questions, and
// bounds any other one, since a path cut at `to` or a pointer known not to
// reach the register reads no more than the open-ended search saw.
TUseAnswer RegisterUses(TSearchCache& cache, TLineList& lines, int from, int to, TRegFlagSet bits,
                        std::uint32_t exemptPointers, bool retResult) {
  bool used = (cache.LiveIn[from] & bits) || (retResult && (cache.ReachesReturn[from] & bits));
  bool reaches = used || (cache.ReachesReturn[from] & bits);
  bool exact = to < 0 && (exemptPointers == 0 || !(bits & cache.Graph.AddressTaken));
  if (exact || !used) return {used, reaches};
  TRegisterEffects effects(lines, cache, exemptPointers);
  return SearchUses(cache, effects, from, to, bits, retResult);
}

TUseAnswer MemoryUses(TSearchCache& cache, TLineList& lines, const TVar& var, int from, int to) {
  TMemoryEffects effects(lines, cache.Graph, var);
  if (to >= 0) return SearchUses(cache, effects, from, to, 1, true);
  auto [at, added] = cache.MemoryUses.try_emplace({&var, from});
  if (added) {
    TUseAnswer answer = SearchUses(cache, effects, from, to, 1, true);
    at->second = {answer.Used, answer.ReachedReturn};
  }
  return {at->second.Answer, at->second.Detail};
}

// Everything a question about `var` asks of the lines from `from`, without the
// shortcuts of the public entry points.
TUseAnswer Uses(TLineList& lines, TVar& var, int from, int to, TRegFlagSet flags, std::uint32_t exemptPointers,
                bool retResult) {
  // Running off the end of the program: anything may follow.
  if (from >= lines.Count()) return {true, true};
  TSearchCache& cache = CurrentSearchCache(lines);
  TRegFlagSet varBits = VarBits(var);
  TUseAnswer answer;
  if (varBits != 0 || flags != 0) answer = RegisterUses(cache, lines, from, to, varBits | flags, exemptPointers, retResult);
  if (!answer.Used && varBits == 0 && IsMemoryVariable(var)) {
    TUseAnswer memory = MemoryUses(cache, lines, var, from, to);
    answer.Used = memory.Used;
    answer.ReachedReturn = answer.ReachedReturn || memory.ReachedReturn;
  }
  return answer;
}

}  // namespace

bool IsUsedLater(TLineList& lines, const TUseQuery& query, bool* reachedReturn) {
  bool reached = false;
  bool used = false;
  if (query.Var != nullptr && query.From >= 0) {
    if (tVarList::IsAlwaysLive(*query.Var)) {
      reached = used = true;
    } else {
      // Changing the flags is safe only when no flag as it was is read again.
      std::uint8_t flags = query.FlagsAtConditional ? 0xFF : query.Flags;
      TUseAnswer answer = Uses(lines, *query.Var, query.From, query.To, FlagBits(flags),
                               static_cast<std::uint32_t>(query.ExemptPointers), query.ReturnsEverything);
      reached = answer.ReachedReturn;
      used = answer.Used;
    }
  }
  if (reachedReturn != nullptr) *reachedReturn = reached;
  return used;
}

bool IsUsedLater(TLineList& lines, TVar* var, int from) { return IsUsedLater(lines, {.Var = var, .From = from}); }

bool FlagsUsedLater(TLineList& lines, int from, std::uint8_t flagMask) {
  if (from < 0 || flagMask == 0) return false;
  if (from >= lines.Count()) return true;
  return RegisterUses(CurrentSearchCache(lines), lines, from, -1, FlagBits(flagMask), 0, false).Used;
}

bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to, bool& viaCall) {
  viaCall = false;
  if (var == nullptr || from < 0 || var->Kind == vk::Constant || var->Kind == vk::AsmConstant) return false;
  if (from == to) return false;
  // Hardware may change a volatile location at any time; past the end anything may happen.
  if (lines.Vars.IsVolatile(*var) || from >= lines.Count()) {
    viaCall = true;
    return true;
  }
  TSearchCache& cache = CurrentSearchCache(lines);
  TRegFlagSet bits = VarBits(*var);
  if (bits != 0) {
    TRegFlagSet ahead = cache.ModifiedIn[from];
    viaCall = (ahead & kCallBit) != 0;
    if (to < 0 || !(ahead & bits)) return (ahead & bits) != 0;
    TRegisterEffects effects(lines, cache, 0);
    TWriteAnswer answer = SearchWrites(cache, effects, from, to, bits);
    viaCall = answer.ViaCall;
    return answer.Modified;
  }
  TMemoryEffects effects(lines, cache.Graph, *var);
  if (to >= 0) {
    TWriteAnswer answer = SearchWrites(cache, effects, from, to, 1);
    viaCall = answer.ViaCall;
    return answer.Modified;
  }
  auto [at, added] = cache.MemoryWrites.try_emplace({var, from});
  if (added) {
    TWriteAnswer answer = SearchWrites(cache, effects, from, to, 1);
    at->second = {answer.Modified, answer.ViaCall};
  }
  viaCall = at->second.Detail;
  return at->second.Answer;
}

bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to) {
  bool viaCall = false;
  return IsModifiedBetween(lines, var, from, to, viaCall);
}

}  // namespace korvid
