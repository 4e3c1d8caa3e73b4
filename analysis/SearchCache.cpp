#include "analysis/SearchCache.h"

#include "source/LineList.h"

namespace korvid {

namespace {

struct TPredecessors {
  std::vector<std::int32_t> Start;  // node k's predecessors are List[Start[k] .. Start[k+1])
  std::vector<std::int32_t> List;
};

TPredecessors PredecessorsOf(const TLineGraph& graph) {
  std::size_t n = graph.Nodes.size();
  TPredecessors preds;
  preds.Start.assign(n + 1, 0);
  for (const TLineNode& node : graph.Nodes)
    for (std::int32_t s : node.Succ)
      if (s >= 0) ++preds.Start[s + 1];
  for (std::size_t k = 0; k < n; ++k) preds.Start[k + 1] += preds.Start[k];
  preds.List.resize(preds.Start[n]);
  std::vector<std::int32_t> fill(preds.Start.begin(), preds.Start.end() - 1);
  for (std::size_t k = 0; k < n; ++k)
    for (std::int32_t s : graph.Nodes[k].Succ)
      if (s >= 0) preds.List[fill[s]++] = static_cast<std::int32_t>(k);
  return preds;
}

// Backward may-analysis to a fixed point with an explicit work list. Every set
// only grows, so each node is taken again at most once per bit: near-linear.
void Solve(TSearchCache& cache) {
  const TLineGraph& graph = cache.Graph;
  std::size_t n = graph.Nodes.size();
  cache.LiveIn.assign(n, 0);
  cache.ReachesReturn.assign(n, 0);
  cache.ModifiedIn.assign(n, 0);
  TPredecessors preds = PredecessorsOf(graph);
  std::vector<std::int32_t> work;
  work.reserve(n);
  std::vector<char> queued(n, 1);
  // Taken from the back first, so forward code is settled in one sweep.
  for (std::size_t k = 0; k < n; ++k) work.push_back(static_cast<std::int32_t>(k));
  while (!work.empty()) {
    std::int32_t k = work.back();
    work.pop_back();
    queued[k] = 0;
    const TLineNode& node = graph.Nodes[k];
    TRegFlagSet live = 0, reaches = 0, modified = 0;
    switch (node.Kind) {
      case TNodeKind::Unknown:
        live = kAllRegsAndFlags;
        modified = kAllRegsAndFlags | kCallBit;
        break;
      case TNodeKind::Return:
        live = node.Bits.Use;
        reaches = kAllRegsAndFlags & ~node.Bits.Use;
        modified = node.Bits.Def;
        break;
      case TNodeKind::ReturnI:
        live = kAllRegsAndFlags;
        modified = node.Bits.Def;
        break;
      case TNodeKind::Step: {
        TRegFlagSet liveOut = 0, reachesOut = 0, modifiedOut = 0;
        for (std::int32_t s : node.Succ) {
          if (s < 0) continue;
          liveOut |= cache.LiveIn[s];
          reachesOut |= cache.ReachesReturn[s];
          modifiedOut |= cache.ModifiedIn[s];
        }
        live = node.Bits.Use | (liveOut & ~node.Bits.Kill);
        reaches = reachesOut & ~(node.Bits.Use | node.Bits.Kill);
        modified = node.Bits.Def | modifiedOut;
        break;
      }
    }
    if (live == cache.LiveIn[k] && reaches == cache.ReachesReturn[k] && modified == cache.ModifiedIn[k]) continue;
    cache.LiveIn[k] = live;
    cache.ReachesReturn[k] = reaches;
    cache.ModifiedIn[k] = modified;
    for (std::int32_t i = preds.Start[k]; i < preds.Start[k + 1]; ++i) {
      std::int32_t p = preds.List[i];
      if (!queued[p]) {
        queued[p] = 1;
        work.push_back(p);
      }
    }
  }
}

}  // namespace

void TSearchCache::NewSearch() {
  if (++Stamp == 0) {
    std::fill(SeenStamp.begin(), SeenStamp.end(), 0);
    Stamp = 1;
  }
  Work.clear();
}

TRegFlagSet TSearchCache::See(int k, TRegFlagSet bits) {
  if (SeenStamp[k] != Stamp) {
    SeenStamp[k] = Stamp;
    SeenBits[k] = 0;
  }
  TRegFlagSet fresh = bits & ~SeenBits[k];
  SeenBits[k] |= fresh;
  return fresh;
}

TSearchCache& CurrentSearchCache(TLineList& lines) {
  if (!lines.SearchCache) lines.SearchCache = std::make_shared<TSearchCache>();
  TSearchCache& cache = *lines.SearchCache;
  if (cache.Count == lines.Count() && cache.Generation == lines.Generation) return cache;
  cache.Graph = BuildLineGraph(lines);
  Solve(cache);
  cache.Count = lines.Count();
  cache.Generation = lines.Generation;
  cache.MemoryUses.clear();
  cache.MemoryWrites.clear();
  std::size_t n = cache.Graph.Nodes.size();
  cache.SeenStamp.assign(n, 0);
  cache.SeenBits.assign(n, 0);
  cache.Stamp = 0;
  return cache;
}

}  // namespace korvid
