#include "analysis/StackDepth.h"

#include <array>
#include <limits>

#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/PositionDependentCode.h"
#include "analysis/RoutineSummary.h"
#include "analysis/SearchCache.h"
#include "source/Variables.h"
#include "analysis/AnalysisCaches.h"
#include "source/LineList.h"

namespace korvid {

namespace {

constexpr std::int32_t kUnreached = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kUnknown = std::numeric_limits<std::int32_t>::max();

bool IsInstruction(const TLine& line) {
  return line.Size > 0 && (IsInstructionType(line.LineType) || line.LineType == lt::Unknown);
}

class TDepthSolver {
 public:
  TDepthSolver(TLineList& lines, std::vector<std::int32_t>& depths)
      : Lines(lines),
        Graph(CurrentSearchCache(lines).Graph),
        Summaries(CurrentRoutineSummaries(lines)),
        Count(lines.Count()),
        Depths(depths) {}

  void Solve() {
    // Transfers by offset may land on any line, where no label marks a join.
    Depths.assign(static_cast<std::size_t>(Count), HasPositionDependentCode(Lines) ? kUnknown : kUnreached);
    if (Depths.empty() || Depths.front() == kUnknown) return;
    const int routines = Summaries.RoutineCount();
    Unbalanced.assign(static_cast<std::size_t>(routines), false);
    Opaque.assign(static_cast<std::size_t>(routines), false);
    CallSites.assign(static_cast<std::size_t>(routines), {});
    Routine.resize(static_cast<std::size_t>(Count));
    for (int k = 0; k < Count; ++k) Routine[k] = Summaries.RoutineOfLine(k);
    FindOpaqueRoutines();
    Seed();
    Propagate();
    for (int k = 0; k < Count; ++k)
      if (Routine[k] < 0 || Opaque[Routine[k]]) Depths[k] = kUnknown;
  }

 private:
  // Routines with indirect jumps, jumps that cannot be followed or unknown
  // code: control may land on any of their lines.
  void FindOpaqueRoutines() {
    for (int k = 0; k < Count; ++k) {
      const TLine* line = Lines.Line(k);
      if (Routine[k] < 0 || line == nullptr || Graph.Nodes[k].Kind != TNodeKind::Unknown) continue;
      if (line->UnknownEffect || (IsInstruction(*line) && (line->FlowKind & (fkConditional | fkUnconditional)))) {
        Opaque[Routine[k]] = true;
        Unbalanced[Routine[k]] = true;
      }
    }
  }

  void Seed() {
    // The start of a routine, up to its first instruction, is where callers enter.
    std::vector<bool> atEntry(static_cast<std::size_t>(Count), false);
    bool entryOpen = false;
    for (int k = 0; k < Count; ++k) {
      const int r = Routine[k];
      if (r < 0) continue;
      const TLine& line = *Lines.Line(k);
      if (k == 0 || Routine[k - 1] != r) {
        entryOpen = true;
        Join(k, Opaque[r] ? kUnknown : 0);
      }
      atEntry[k] = entryOpen;
      if (line.Size > 0) entryOpen = false;
      if (Opaque[r]) {
        if (line.IsJoin() || IsInstruction(line)) Join(k, kUnknown);
      } else if (line.IsJoin() && !atEntry[k] && Summaries.IsAddressTaken(line.LabelName)) {
        Join(k, kUnknown);  // an indirect jump may arrive with any depth
      }
    }
    for (int k = 0; k < Count; ++k) {
      const TLine& line = *Lines.Line(k);
      if (IsDirectCallType(line.LineType)) {
        int target = Summaries.CallTargetLine(k);
        if (target >= 0 && Routine[target] >= 0) Join(target, 0);
      }
      const TLineNode& node = Graph.Nodes[k];
      if (node.IsCall && node.CallEntry >= 0 && Routine[node.CallEntry] >= 0)
        CallSites[Routine[node.CallEntry]].push_back(k);
      // Code outside every routine is entered in ways no line shows; where it
      // goes into a routine other than at its entry, the depth is not known.
      if (Routine[k] >= 0) continue;
      for (int s : Successors(k))
        if (s >= 0 && s < Count && Routine[s] >= 0 && !atEntry[s]) Join(s, kUnknown);
    }
  }

  std::array<int, 2> Successors(int k) const {
    const TLineNode& node = Graph.Nodes[k];
    if (node.Kind != TNodeKind::Unknown) return {node.Succ[0], node.Succ[1]};
    // Data or unknown code runs on into the next line, with anything done to SP.
    const TLine* line = Lines.Line(k);
    bool fallsThrough = line != nullptr && !(line->FlowKind & fkUnconditional);
    return {fallsThrough ? k + 1 : -1, -1};
  }

  void Join(int k, std::int32_t depth) {
    if (k < 0 || k >= Count) return;
    std::int32_t& at = Depths[k];
    std::int32_t merged = at == kUnreached || at == depth ? depth : kUnknown;
    if (merged == at) return;
    at = merged;
    Work.push_back(k);
  }

  void Propagate() {
    while (!Work.empty()) {
      int k = Work.back();
      Work.pop_back();
      const std::int32_t depth = Depths[k];
      const TLineNode& node = Graph.Nodes[k];
      if (node.Kind == TNodeKind::Return || node.Kind == TNodeKind::ReturnI) {
        if (depth != 0 && Routine[k] >= 0) MarkUnbalanced(Routine[k]);
        continue;
      }
      std::int32_t out = node.Kind == TNodeKind::Unknown ? kUnknown : depth;
      if (out != kUnknown) out = After(k, out);
      for (int s : Successors(k)) Join(s, out);
    }
  }

  std::int32_t After(int k, std::int32_t depth) const {
    const TLine& line = *Lines.Line(k);
    if (StackPointerUse(line) & (uWrite | uModify)) return kUnknown;
    if (line.LineType == lt::PUSH) return depth + 1;
    if (line.LineType == lt::POP) return depth - 1;
    const TLineNode& node = Graph.Nodes[k];
    if (node.IsCall) {
      // Only a routine the summaries follow, and whose returns are all
      // balanced, hands control back with the caller's depth.
      int callee = node.CallEntry >= 0 ? Routine[node.CallEntry] : -1;
      if (callee < 0 || Unbalanced[callee]) return kUnknown;
    }
    return depth;
  }

  // A routine returns with bytes left or taken: so do the routines that jump
  // into it, and their calls need another look.
  void MarkUnbalanced(int routine) {
    std::vector<int> pending{routine};
    while (!pending.empty()) {
      int r = pending.back();
      pending.pop_back();
      if (Unbalanced[r]) continue;
      Unbalanced[r] = true;
      for (int call : CallSites[r])
        if (Depths[call] != kUnreached && Depths[call] != kUnknown) Work.push_back(call);
      for (int via : Graph.Returns[static_cast<std::size_t>(r)].Via) pending.push_back(via);
    }
  }

  TLineList& Lines;
  const TLineGraph& Graph;
  const TRoutineSummaries& Summaries;
  const int Count;
  std::vector<std::int32_t>& Depths;
  std::vector<int> Routine;
  std::vector<bool> Unbalanced;
  std::vector<bool> Opaque;
  std::vector<std::vector<int>> CallSites;
  std::vector<int> Work;
};

}  // namespace

TUsageSet StackPointerUse(const TLine& line) {
  if (line.Memory & (mem::StackRead | mem::StackWrite)) return 0;
  TUsageSet use = 0;
  for (const TVarUsage& usage : line.Usages.Items())
    if (usage.Var != nullptr && usage.Var->Kind == vk::PData &&
        (usage.Var->Address == io::SPL || usage.Var->Address == io::SPH))
      use |= usage.Usage & ~uMarkMask;
  return use;
}

TStackDepths::TStackDepths(TLineList& lines) : Generation(AnalysisGeneration(lines)), LineCount(lines.Count()) {
  TDepthSolver(lines, Depths).Solve();
}

std::optional<int> TStackDepths::Before(int index) const {
  if (index < 0 || index >= static_cast<int>(Depths.size())) return std::nullopt;
  std::int32_t depth = Depths[static_cast<std::size_t>(index)];
  if (depth == kUnreached || depth == kUnknown) return std::nullopt;
  return depth;
}

bool ReadsStackPointerBetween(TLineList& lines, int from, int to) {
  if (from < 0 || from == to) return false;
  if (from >= lines.Count()) return true;
  TSearchCache& cache = CurrentSearchCache(lines);
  // Bit 0: on the stretch itself; bit 1: inside a routine called from it, where `to` ends nothing.
  constexpr TRegFlagSet kStretch = 1, kCalled = 2;
  cache.NewSearch();
  cache.Work.push_back({from, kStretch});
  while (!cache.Work.empty()) {
    auto [k, where] = cache.Work.back();
    cache.Work.pop_back();
    if ((where == kStretch && k == to) || cache.See(k, where) == 0) continue;
    const TLineNode& node = cache.Graph.Nodes[k];
    if (node.Kind == TNodeKind::Unknown) return true;
    if (StackPointerUse(*lines.Line(k)) & (uRead | uModify)) return true;
    if (node.Kind != TNodeKind::Step) continue;  // the path returns
    if (node.IsCall) {
      if (node.CallEntry < 0) return true;
      cache.Work.push_back({node.CallEntry, kCalled});
    }
    for (std::int32_t s : node.Succ)
      if (s >= 0) cache.Work.push_back({s, where});
  }
  return false;
}

bool TouchesStack(const TLine& line) {
  return (line.Memory & (mem::StackRead | mem::StackWrite)) != 0 || StackPointerUse(line) != 0;
}

}  // namespace korvid
