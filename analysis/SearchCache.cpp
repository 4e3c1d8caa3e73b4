#include "analysis/SearchCache.h"

#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"

namespace korvid {

namespace {

struct TPredecessors {
  std::vector<std::int32_t> Start;  // node k's predecessors are List[Start[k] .. Start[k+1])
  std::vector<std::int32_t> List;
};

// Nodes 0 .. lines are the graph's; after them one node per routine, standing
// for everything its RETs go back to. A RET depends on its routine's node,
// which depends on the lines after the calls and on the routines jumping in.
template <typename EachDependency>
TPredecessors PredecessorsOf(const TLineGraph& graph, EachDependency&& eachDependency) {
  std::size_t n = graph.Nodes.size() + graph.Returns.size();
  TPredecessors preds;
  preds.Start.assign(n + 1, 0);
  eachDependency([&](std::int32_t, std::int32_t on) { ++preds.Start[on + 1]; });
  for (std::size_t k = 0; k < n; ++k) preds.Start[k + 1] += preds.Start[k];
  preds.List.resize(preds.Start[n]);
  std::vector<std::int32_t> fill(preds.Start.begin(), preds.Start.end() - 1);
  eachDependency([&](std::int32_t node, std::int32_t on) { preds.List[fill[on]++] = node; });
  return preds;
}

TPredecessors PredecessorsOf(const TLineGraph& graph) {
  const auto lines = static_cast<std::int32_t>(graph.Nodes.size());
  return PredecessorsOf(graph, [&](auto&& depends) {
    for (std::int32_t k = 0; k < lines; ++k) {
      const TLineNode& node = graph.Nodes[k];
      for (std::int32_t s : node.Succ)
        if (s >= 0) depends(k, s);
      if (node.Kind == TNodeKind::Return && node.Routine >= 0) depends(k, lines + node.Routine);
      if (node.CallEntry >= 0) depends(k, node.CallEntry);
    }
    for (std::size_t r = 0; r < graph.Returns.size(); ++r) {
      const std::int32_t exit = lines + static_cast<std::int32_t>(r);
      for (int site : graph.Returns[r].Lines) depends(exit, site);
      for (int via : graph.Returns[r].Via) depends(exit, lines + via);
    }
  });
}

// What a node is live for, reaches a return with and may write, from what it depends on.
struct TNodeSets {
  TRegFlagSet Live = 0, Reaches = 0, Modified = 0;
};

// The two rounds of the analysis: first what each routine reads of its
// callers' values (its RETs reading only what they return), then everything,
// with those reads fixed at the calls and the return sites read at the RETs.
enum class TRound { CalleeReads, Full };

TNodeSets LineSets(const TSearchCache& cache, std::int32_t k, TRound round) {
  const TLineNode& node = cache.Graph.Nodes[k];
  TNodeSets sets;
  switch (node.Kind) {
    case TNodeKind::Unknown:
      sets.Live = kAllRegsAndFlags;
      sets.Modified = kAllRegsAndFlags | kCallBit;
      break;
    case TNodeKind::Return:
      sets.Live = round == TRound::Full || node.Routine < 0 ? cache.ReturnUse(k) : node.Bits.Use;
      // Kept independent of the return sites, so every set only grows.
      sets.Reaches = kAllRegsAndFlags & ~node.Bits.Use;
      sets.Modified = node.Bits.Def;
      break;
    case TNodeKind::ReturnI:
      sets.Live = kAllRegsAndFlags;
      sets.Modified = node.Bits.Def;
      break;
    case TNodeKind::Step: {
      TRegFlagSet liveOut = 0, reachesOut = 0, modifiedOut = 0;
      for (std::int32_t s : node.Succ) {
        if (s < 0) continue;
        liveOut |= cache.LiveIn[s];
        reachesOut |= cache.ReachesReturn[s];
        modifiedOut |= cache.ModifiedIn[s];
      }
      TRegFlagSet use = node.Bits.Use;
      if (node.CallEntry >= 0) use |= round == TRound::Full ? cache.CallReads[k] : cache.LiveIn[node.CallEntry];
      sets.Live = use | (liveOut & ~node.Bits.Kill);
      sets.Reaches = reachesOut & ~(use | node.Bits.Kill);
      sets.Modified = node.Bits.Def | modifiedOut;
      break;
    }
  }
  return sets;
}

TRegFlagSet ReturnSitesLive(const TSearchCache& cache, const TReturnSites& sites) {
  if (sites.Everything) return kAllRegsAndFlags;
  TRegFlagSet live = 0;
  for (int site : sites.Lines) live |= cache.LiveIn[site];
  for (int via : sites.Via) live |= cache.ReturnLive[via];
  return live;
}

// Backward may-analysis to a fixed point with an explicit work list. Every set
// only grows, so each node is taken again at most once per bit: near-linear.
void SolveRound(TSearchCache& cache, const TPredecessors& preds, TRound round) {
  const TLineGraph& graph = cache.Graph;
  const auto lines = static_cast<std::int32_t>(graph.Nodes.size());
  std::size_t n = graph.Nodes.size() + graph.Returns.size();
  cache.LiveIn.assign(graph.Nodes.size(), 0);
  cache.ReachesReturn.assign(graph.Nodes.size(), 0);
  cache.ModifiedIn.assign(graph.Nodes.size(), 0);
  cache.ReturnLive.assign(graph.Returns.size(), 0);
  std::vector<std::int32_t> work;
  work.reserve(n);
  std::vector<char> queued(n, 1);
  // Taken from the back first, so forward code is settled in one sweep.
  for (std::size_t k = 0; k < n; ++k) work.push_back(static_cast<std::int32_t>(k));
  while (!work.empty()) {
    std::int32_t k = work.back();
    work.pop_back();
    queued[k] = 0;
    if (k >= lines) {
      if (round != TRound::Full) continue;
      TRegFlagSet live = ReturnSitesLive(cache, graph.Returns[k - lines]);
      if (live == cache.ReturnLive[k - lines]) continue;
      cache.ReturnLive[k - lines] = live;
    } else {
      TNodeSets sets = LineSets(cache, k, round);
      if (sets.Live == cache.LiveIn[k] && sets.Reaches == cache.ReachesReturn[k] &&
          sets.Modified == cache.ModifiedIn[k])
        continue;
      cache.LiveIn[k] = sets.Live;
      cache.ReachesReturn[k] = sets.Reaches;
      cache.ModifiedIn[k] = sets.Modified;
    }
    for (std::int32_t i = preds.Start[k]; i < preds.Start[k + 1]; ++i) {
      std::int32_t p = preds.List[i];
      if (!queued[p]) {
        queued[p] = 1;
        work.push_back(p);
      }
    }
  }
}

void Solve(TSearchCache& cache) {
  const TLineGraph& graph = cache.Graph;
  TPredecessors preds = PredecessorsOf(graph);
  SolveRound(cache, preds, TRound::CalleeReads);
  cache.CallReads.assign(graph.Nodes.size(), 0);
  for (std::size_t k = 0; k < graph.Nodes.size(); ++k)
    if (graph.Nodes[k].CallEntry >= 0) cache.CallReads[k] = cache.LiveIn[graph.Nodes[k].CallEntry];
  SolveRound(cache, preds, TRound::Full);
}

}  // namespace

TRegFlagSet TSearchCache::ReturnUse(int k) const {
  const TLineNode& node = Graph.Nodes[k];
  return node.Bits.Use | (node.Routine >= 0 ? ReturnLive[node.Routine] : kAllRegsAndFlags);
}

TLineBits TSearchCache::NodeBits(int k) const {
  TLineBits bits = Graph.Nodes[k].Bits;
  if (Graph.Nodes[k].CallEntry >= 0) bits.Use |= CallReads[k];
  return bits;
}

int TSearchCache::ForgetDeadLine(int k, int floor, const TLineList& lines) {
  Graph.Nodes[k].Bits = {};
  int first = k + 1;
  for (int at = k;; --at) {
    const TRegFlagSet live = LineSets(*this, at, TRound::Full).Live;
    if (live == LiveIn[at]) break;
    LiveIn[at] = live;
    first = at;
    // Another path may enter a join, so the code before it keeps its answers.
    const TLine* line = lines.Line(at);
    if (at - 1 <= floor || line == nullptr || line->IsJoin()) break;
    const TLineNode& before = Graph.Nodes[at - 1];
    if (before.Kind != TNodeKind::Step || (before.Succ[0] != at && before.Succ[1] != at)) break;
  }
  return first;
}

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
  if (!CachesOf(lines).SearchCache) CachesOf(lines).SearchCache = std::make_shared<TSearchCache>();
  TSearchCache& cache = *CachesOf(lines).SearchCache;
  if (cache.Count == lines.Count() && cache.Generation == AnalysisGeneration(lines)) return cache;
  cache.Graph = BuildLineGraph(lines, std::move(cache.Graph));
  Solve(cache);
  cache.Count = lines.Count();
  cache.Generation = AnalysisGeneration(lines);
  cache.MemoryUses.clear();
  cache.MemoryWrites.clear();
  std::size_t n = cache.Graph.Nodes.size();
  cache.SeenStamp.assign(n, 0);
  cache.SeenBits.assign(n, 0);
  cache.Stamp = 0;
  return cache;
}

}  // namespace korvid
