#include "analysis/ForwardSearch.h"

#include "analysis/ByteRanges.h"
#include "analysis/EffectTable.h"
#include "analysis/MemoryModel.h"
#include "analysis/SearchCache.h"
#include "source/LineList.h"

namespace korvid {

TRegisterEffects::TRegisterEffects(const TLineList& lines, const TSearchCache& cache, std::uint32_t exemptPointers)
    : Lines(lines), Cache(cache), Exempt(exemptPointers) {}

TRegFlagSet TRegisterEffects::ReturnUse(int k) const { return Cache.ReturnUse(k); }

TLineBits TRegisterEffects::Bits(int k) const {
  const TLineNode& node = Cache.Graph.Nodes[k];
  TLineBits bits = Cache.NodeBits(k);
  const TLine* line = Lines.Line(k);
  if (Exempt != 0 && !node.IsCall && line != nullptr) bits.Use = LineRegisterBits(*line, Cache.Graph.AddressTaken, Exempt).Use;
  return bits;
}

TLineBits TMemoryEffects::Bits(int k) const {
  const TLineNode& node = Graph.Nodes[k];
  TLineBits bits;
  if (node.IsCall) {
    TCallEffect call = CallEffectOf(Lines, k);
    bits.Use = call.MayLoad ? 1 : 0;
    bits.Def = call.MayStore ? 1 : 0;
  }
  const TLine* line = Lines.Line(k);
  if (line == nullptr || line->UnknownEffect) {
    bits.Use = bits.Def = 1;
    return bits;
  }
  if ((line->Memory & (mem::PointerRead | mem::PointerWrite)) && PointerAccessMayTouch(Lines, k, Var)) {
    if (line->Memory & mem::PointerRead) bits.Use = 1;
    if (line->Memory & mem::PointerWrite) bits.Def = 1;
  }
  for (const TVarUsage& usage : line->Usages.Items()) {
    if (!MayOverlap(Var, *usage.Var)) continue;
    TUsageSet use = usage.Usage & ~uMarkMask;
    if (use & (uRead | uModify)) bits.Use = 1;
    if (use & (uWrite | uModify)) bits.Def = 1;
    // A byte store of the variable itself gives it a new value; a word keeps its other byte.
    bool wholeStore = usage.Var == &Var && DataRangeOf(Var).Known && DataRangeOf(Var).Size == 1;
    if (wholeStore && (use & uWrite) && !(use & (uRead | uModify))) bits.Kill = 1;
  }
  if (bits.Use) bits.Kill = 0;
  return bits;
}

TUseAnswer SearchUses(TSearchCache& cache, const TQueryEffects& effects, int from, int to, TRegFlagSet bits,
                      bool retResult) {
  const TLineGraph& graph = cache.Graph;
  TUseAnswer answer;
  cache.NewSearch();
  cache.Work.push_back({from, bits});
  while (!cache.Work.empty()) {
    auto [k, alive] = cache.Work.back();
    cache.Work.pop_back();
    if (k == to) continue;
    TRegFlagSet fresh = cache.See(k, alive);
    if (fresh == 0) continue;
    const TLineNode& node = graph.Nodes[k];
    TRegFlagSet used = 0;
    switch (node.Kind) {
      case TNodeKind::Unknown:
      case TNodeKind::ReturnI:
        used = fresh;
        break;
      case TNodeKind::Return: {
        used = fresh & effects.ReturnUse(k);
        TRegFlagSet unread = fresh & ~used;
        if (unread != 0) answer.ReachedReturn = true;
        if (retResult) used |= unread;
        break;
      }
      case TNodeKind::Step: {
        TLineBits line = effects.Bits(k);
        used = fresh & line.Use;
        TRegFlagSet onward = fresh & ~(line.Use | line.Kill);
        if (onward != 0)
          for (std::int32_t s : node.Succ)
            if (s >= 0) cache.Work.push_back({s, onward});
        break;
      }
    }
    if (used != 0) return {true, true};
  }
  return answer;
}

TWriteAnswer SearchWrites(TSearchCache& cache, const TQueryEffects& effects, int from, int to, TRegFlagSet bits) {
  const TLineGraph& graph = cache.Graph;
  TWriteAnswer answer;
  cache.NewSearch();
  cache.Work.push_back({from, bits});
  while (!cache.Work.empty()) {
    int k = cache.Work.back().first;
    cache.Work.pop_back();
    if (k == to || cache.See(k, bits) == 0) continue;
    const TLineNode& node = graph.Nodes[k];
    if (node.Kind == TNodeKind::Unknown) return {true, true};
    if (node.IsCall) answer.ViaCall = true;
    TLineBits line = effects.Bits(k);
    if (line.Def & bits) {
      answer.Modified = true;
      return answer;
    }
    if (node.Kind != TNodeKind::Step) continue;  // the path returns
    for (std::int32_t s : node.Succ)
      if (s >= 0) cache.Work.push_back({s, bits});
  }
  return answer;
}

}  // namespace korvid
