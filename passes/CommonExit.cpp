#include "passes/CommonExit.h"

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/LineKinds.h"
#include "passes/EditBatch.h"
#include "passes/Peephole.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr TRule kRules[] = {
    {"common-tail", "CommonExit", std::nullopt,
     "paths that go on at one label after the same instructions may share one copy of them"},
};
const TRule& CommonTailRule = kRules[0];

// Paths to one exit are compared pairwise, at most this many together: a
// label hundreds of paths reach would otherwise cost the square of them.
constexpr std::size_t kMaxCompared = 64;
// Bytes an RJMP is taken to reach; the edit batch checks the exact distance.
constexpr int kRjmpBytes = 4000;

// One path to an exit: its instructions since the last label, jump or return,
// with the source line markers among them, all as line indices when the step
// began (in program order).
struct TPath {
  std::vector<int> Code;
  std::vector<int> Markers;
  int End = -1;  // the jump, or the label line it falls into
  bool Falls = false;
  int Distance = 0;  // bytes from its end to the exit label
  // Other paths jump into its last LabelDepth instructions: it may hand over
  // no longer a tail, or their label would go with it.
  int LabelDepth = INT_MAX;

  int First(int n) const { return Code[Code.size() - static_cast<std::size_t>(n)]; }
};

class TCommonExit {
 public:
  explicit TCommonExit(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

  bool Run() {
    BuildPaths();
    for (auto& [exit, paths] : Exits) {
      if (Stopped) break;
      MergeExit(paths);
    }
    PutLinesIn();
    return Changed;
  }

 private:
  // A source line marker of a copy that went, for the line of the kept tail
  // that matches the instruction it stood before.
  struct TMovedMarker {
    int Line;
    std::string Text;
  };

  void BuildPaths();
  void Add(const std::string& exit, TPath& path, int end, bool falls);
  void MergeExit(std::vector<TPath>& paths);
  void MergeAlike(std::vector<TPath*>& paths);
  int SharedTail(const TPath& g, const TPath& h) const;
  bool Better(const TPath& a, const TPath& b) const;
  bool Merge(TPath& from, TPath& into, int n);
  std::vector<TMovedMarker> Stage(TEditBatch& batch, const TPath& from, const TPath& into, int n, TLineType jump,
                                  const std::string& label, bool fresh) const;
  void PutLinesIn();
  int MarkerBlockStart(int line) const;

  const TAnalysis& Facts;
  TLineList& Lines;
  std::map<std::string, std::vector<TPath>, TNoCaseLess> Exits;
  // The label right before a path's first instruction, named by that instruction's line.
  std::unordered_map<int, std::string> PrecedingLabel;
  std::vector<int> Address;  // bytes before each line when the step began
  std::vector<TMovedMarker> Moved;
  // The labels the merges made, by the instruction that carries them until the end.
  std::map<int, std::string> NewLabels;
  // The merges keep every line where it is; a line put in all the same (a
  // branch repaired for reach) leaves the paths' line numbers wrong.
  bool Stopped = false;
  bool Changed = false;
};

void TCommonExit::BuildPaths() {
  std::map<std::string, int, TNoCaseLess> labelLines;
  Address.assign(static_cast<std::size_t>(Lines.Count()) + 1, 0);
  for (int i = 0; i < Lines.Count(); ++i) {
    const TLine& line = *Lines.Line(i);
    Address[static_cast<std::size_t>(i) + 1] = Address[static_cast<std::size_t>(i)] + line.Size;
    if (line.IsJoin()) labelLines.emplace(line.LabelName, i);
  }
  auto distance = [&](const std::string& exit, int end) {
    auto found = labelLines.find(exit);
    return found == labelLines.end() ? INT_MAX : std::abs(Address[found->second] - Address[end]);
  };
  TPath path;
  std::string label;  // the label before the next instruction
  for (int i = 0; i < Lines.Count(); ++i) {
    const TLine& line = *Lines.Line(i);
    const TLineType type = line.LineType;
    if (type == lt::ENTRY || type == lt::ENDCODE) break;
    if (line.IsJoin()) {
      if (!path.Code.empty()) {
        path.Distance = distance(line.LabelName, i);
        Add(line.LabelName, path, i, true);
      }
      path = {};
      label = line.LabelName;
      if (line.IsLabelLine()) continue;
    }
    if (type == lt::LINE || type == lt::XLINE) {
      path.Markers.push_back(i);
      continue;
    }
    if (line.Size == 0 && !(line.FlowKind & fkBlockMarker)) continue;
    // A jump that a skip may pass over does not always go to its label.
    const std::string target(Trim(line.Op1));
    if (line.IsJump() && !path.Code.empty() && !Facts.MayBeSkipped(i) && IsPlainLabel(target)) {
      path.Distance = distance(target, i);
      Add(target, path, i, false);
    }
    // Data, returns and transfers elsewhere end every path, and so does what the analysis does not know.
    if (!IsInstructionType(type) || line.UnknownEffect || EndsFlow(type) || (line.FlowKind & fkBlockMarker)) {
      path = {};
      label.clear();
      continue;
    }
    if (!label.empty()) PrecedingLabel[i] = std::exchange(label, {});
    path.Code.push_back(i);
  }
}

void TCommonExit::Add(const std::string& exit, TPath& path, int end, bool falls) {
  path.End = end;
  path.Falls = falls;
  Exits[exit].push_back(std::move(path));
  path = {};
}

// Only paths whose last instructions are alike can share a tail: they are
// compared among themselves.
void TCommonExit::MergeExit(std::vector<TPath>& paths) {
  if (paths.size() < 2) return;
  auto key = [&](const TPath& path) {
    const TLine& last = *Lines.Line(path.Code.back());
    return UpperCase(last.Mnemonic + " " + last.Op1 + "," + last.Op2);
  };
  std::map<std::string, std::vector<TPath*>> alike;
  for (TPath& path : paths) alike[key(path)].push_back(&path);
  for (auto& [text, group] : alike) {
    for (std::size_t from = 0; from < group.size() && !Stopped; from += kMaxCompared) {
      std::vector<TPath*> chunk(group.begin() + static_cast<long>(from),
                                group.begin() + static_cast<long>(std::min(group.size(), from + kMaxCompared)));
      MergeAlike(chunk);
    }
  }
}

// Rounds of: the longest tail two paths share; of the paths in such a pair,
// the target keeps its copy (one that falls into the label, else the one
// nearest to it); every other path whose longest shared tail is the one with
// the target jumps to the target's copy. Each round settles at least one path.
void TCommonExit::MergeAlike(std::vector<TPath*>& paths) {
  const std::size_t m = paths.size();
  if (m < 2) return;
  std::vector<std::vector<int>> shared(m, std::vector<int>(m, 0));
  for (std::size_t x = 0; x < m; ++x)
    for (std::size_t y = x + 1; y < m; ++y) shared[x][y] = shared[y][x] = SharedTail(*paths[x], *paths[y]);
  std::vector<bool> alive(m, true);
  auto longest = [&](std::size_t x) {
    int most = 0;
    for (std::size_t y = 0; y < m; ++y)
      if (alive[y] && y != x) most = std::max(most, shared[x][y]);
    return most;
  };
  while (!Stopped) {
    int best = 0;
    for (std::size_t x = 0; x < m; ++x)
      if (alive[x]) best = std::max(best, longest(x));
    if (best == 0) return;
    std::size_t target = m;
    for (std::size_t x = 0; x < m; ++x)
      if (alive[x] && longest(x) == best && (target == m || Better(*paths[x], *paths[target]))) target = x;
    for (std::size_t x = 0; x < m; ++x) {
      const int n = shared[x][target];
      if (!alive[x] || x == target || n == 0 || n < longest(x)) continue;
      if (n <= paths[x]->LabelDepth && Merge(*paths[x], *paths[target], n)) Changed = true;
      alive[x] = false;
    }
  }
}

// The instructions two paths end with alike, as many as may be shared: the
// first of them may not stand in a skip's shadow in either path, where the
// skip would pass over the jump, or over the label, rather than the line.
int TCommonExit::SharedTail(const TPath& g, const TPath& h) const {
  const int most = static_cast<int>(std::min(g.Code.size(), h.Code.size()));
  int n = 0;
  while (n < most && Lines.SameInstruction(g.First(n + 1), h.First(n + 1))) ++n;
  while (n > 0 && (Facts.MayBeSkipped(g.First(n)) || Facts.MayBeSkipped(h.First(n)))) --n;
  return n;
}

bool TCommonExit::Better(const TPath& a, const TPath& b) const {
  if (a.Falls != b.Falls) return a.Falls;
  return a.Distance < b.Distance;
}

// The firing: the first line of `from`'s tail becomes a jump to the first
// line of `into`'s, which gets a label unless one stands before it, and the
// rest of `from`'s copy goes. Where `into`'s tail is the code that comes
// next anyway, the whole copy goes and `from` runs on into it.
bool TCommonExit::Merge(TPath& from, TPath& into, int n) {
  int bytes = from.Falls ? 0 : Lines.Line(from.End)->Size;
  for (int k = n; k >= 1; --k) bytes += Lines.Line(from.First(k))->Size;
  const int a = from.First(n), b = into.First(n);
  const int last = from.Falls ? from.End - 1 : from.End;
  bool runsOn = last < b;
  for (int x = last + 1; x < b && runsOn; ++x) runsOn = Lines.Line(x)->Size == 0;
  auto preceding = PrecedingLabel.find(b);
  const bool fresh = !runsOn && preceding == PrecedingLabel.end();
  const std::string label = fresh ? NewGeneratedLabel(Lines) : runsOn ? "" : preceding->second;
  std::vector<TLineType> jumps;
  if (runsOn) jumps.push_back(lt::Unknown);
  if (!runsOn && std::abs(Address[static_cast<std::size_t>(a)] - Address[static_cast<std::size_t>(b)]) < kRjmpBytes)
    jumps.push_back(lt::RJMP);
  if (!runsOn && Facts.Device().JmpCall) jumps.push_back(lt::JMP);
  for (TLineType jump : jumps) {
    // Nothing to gain where the jump is as long as the copy it replaces.
    if (bytes <= TAnalysis::InstructionSize(jump)) continue;
    const int count = Lines.Count();
    std::vector<TMovedMarker> moved;
    const bool fired = FireRule(Facts, CommonTailRule, [&](TEditBatch& batch) {
      moved = Stage(batch, from, into, n, jump, label, fresh);
      return true;
    });
    if (!fired) continue;
    Stopped = Lines.Count() != count;
    Moved.insert(Moved.end(), moved.begin(), moved.end());
    if (fresh) PrecedingLabel[b] = NewLabels[b] = label;
    into.LabelDepth = std::min(into.LabelDepth, n);
    return true;
  }
  return false;
}

// `jump` is lt::Unknown where `from` runs on into the kept tail.
std::vector<TCommonExit::TMovedMarker> TCommonExit::Stage(TEditBatch& batch, const TPath& from, const TPath& into,
                                                         int n, TLineType jump, const std::string& label,
                                                         bool fresh) const {
  const int a = from.First(n);
  if (jump == lt::Unknown) {
    batch.Remove(a);
  } else {
    batch.Replace(a, jump, jump == lt::RJMP ? "RJMP" : "JMP", label);
    batch.ChangeBranchNote(a, true);
  }
  if (fresh) batch.Relabel(into.First(n), label);
  const int last = from.Falls ? from.End - 1 : from.End;
  for (int x = a + 1; x <= last; ++x)
    if (Lines.Line(x)->Size > 0 || Lines.Line(x)->LineType == lt::BRANCH) batch.Remove(x);
  std::vector<TMovedMarker> moved;
  for (int marker : from.Markers) {
    if (marker < a || marker > last) continue;
    auto next = std::upper_bound(from.Code.begin(), from.Code.end(), marker);
    // One after the copy's last instruction marks nothing that is kept.
    const int line = next == from.Code.end() ? -1 : into.First(static_cast<int>(from.Code.end() - next));
    if (line >= 0 && !Lines.MayChange(MarkerBlockStart(line))) continue;
    batch.Remove(marker);
    if (line >= 0) moved.push_back({line, std::string(Trim(Lines.Line(marker)->Operands))});
  }
  return moved;
}

// The lines the merges left to put in, all in one pass over the list: the
// moved markers before the marker block of their line, each text once, and
// each new label on a line of its own before the instruction that carried it
// while the merges were made. None of them emits anything.
void TCommonExit::PutLinesIn() {
  struct TNew {
    int Before;
    int Order;  // at one line: the markers first, then the label
    TLineType Type;
    std::string Text;
    TFunction* Func;
  };
  std::vector<TNew> lines;
  std::map<int, std::vector<std::string>> present;  // by block start
  for (const TMovedMarker& marker : Moved) {
    const int start = MarkerBlockStart(marker.Line);
    auto [texts, first] = present.try_emplace(start);
    if (first)
      for (int k = start; k < marker.Line; ++k)
        if (const TLine& line = *Lines.Line(k); line.LineType == lt::LINE || line.LineType == lt::XLINE)
          texts->second.emplace_back(Trim(line.Operands));
    std::vector<std::string>& known = texts->second;
    if (std::any_of(known.begin(), known.end(), [&](const std::string& t) { return EqualsNoCase(t, marker.Text); }))
      continue;
    known.push_back(marker.Text);
    const TLine& line = *Lines.Line(marker.Line);
    lines.push_back({start, 0, line.XLine ? lt::XLINE : lt::LINE, marker.Text, line.Func});
  }
  for (const auto& [at, label] : NewLabels) lines.push_back({at, 1, lt::Label, label, nullptr});
  std::stable_sort(lines.begin(), lines.end(), [](const TNew& x, const TNew& y) {
    return x.Before != y.Before ? x.Before < y.Before : x.Order < y.Order;
  });
  Lines.Pass.Rule = CommonTailRule.Name;
  // The label leaves its instruction first, so that the label table finds it on its own line after.
  for (const auto& [at, label] : NewLabels) {
    const TLine& line = *Lines.Line(at);
    const std::string mnemonic = line.Mnemonic, operands = line.Operands;
    Lines.SetLine(at, line.LineType, "", mnemonic, operands, line.Func);
  }
  std::vector<std::pair<int, std::int32_t>> at;
  for (const TNew& line : lines) at.emplace_back(line.Before, Lines.Line(line.Before)->LineIndex);
  Lines.InsertLines(at);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const TNew& line = lines[k];
    const int index = line.Before + static_cast<int>(k);
    if (line.Type == lt::Label)
      Lines.SetLabelLine(index, line.Text);
    else
      Lines.SetLine(index, line.Type, "", line.Type == lt::XLINE ? ".XLINE" : ".LINE", line.Text, line.Func);
  }
  Lines.Pass.Rule = {};
}

int TCommonExit::MarkerBlockStart(int line) const {
  int start = line;
  for (int k = line - 1; k >= 0 && IsPassiveMarker(Lines.Line(k)->LineType); --k) {
    const TLineType type = Lines.Line(k)->LineType;
    if (type == lt::LINE || type == lt::XLINE) start = k;
  }
  return start;
}

}  // namespace

std::span<const TRule> CommonExitRules() { return kRules; }

bool CommonExit(TLineList& /*lines*/, const TAnalysis& facts) {
  bool changed = RemovePushPopPairs(facts);
  // Code that depends on where instructions land may jump into any copy.
  if (facts.HasPositionDependentCode()) return changed;
  return TCommonExit(facts).Run() || changed;
}

}  // namespace korvid
