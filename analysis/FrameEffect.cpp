#include "analysis/FrameEffect.h"

#include <limits>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/LineGraph.h"
#include "analysis/SearchCache.h"
#include "analysis/StackDepth.h"
#include "source/Expressions.h"
#include "source/LineList.h"

namespace korvid {

namespace {

constexpr int kY = 28;
constexpr TRegFlagSet kYBits = RegisterBit(kY) | RegisterBit(kY + 1);
constexpr int kUnknown = std::numeric_limits<int>::max();

// Y pushed and the hardware stack depth before a line, each kUnknown once
// two paths disagree or a line moves it by an amount not known.
struct TState {
  int Net = 0;
  int Depth = 0;
};

int Signed16(std::int64_t high, std::int64_t low) {
  const int value = static_cast<int>(((high & 0xFF) << 8) | (low & 0xFF));
  return value >= 0x8000 ? value - 0x10000 : value;
}

}  // namespace

TFrameEffects::TFrameEffects(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {}

std::optional<int> TFrameEffects::Step(int k) {
  const TLine& line = *Lines.Line(k);
  if (line.LineType == lt::ICALL || line.LineType == lt::EICALL) return std::nullopt;
  if (IsDirectCallType(line.LineType)) return OfCall(k);
  return OwnStep(k);
}

std::optional<int> TFrameEffects::OfCall(int k) {
  const TLineNode& node = CurrentSearchCache(Lines).Graph.Nodes[static_cast<std::size_t>(k)];
  if (!node.IsCall || node.CallEntry < 0 || !IsDirectCallType(Lines.Line(k)->LineType)) return std::nullopt;
  return Evaluate(node.CallEntry).Net;
}

bool TFrameEffects::PopsCallersBytes(int k) {
  const TLineNode& node = CurrentSearchCache(Lines).Graph.Nodes[static_cast<std::size_t>(k)];
  if (!node.IsCall || node.CallEntry < 0) return true;
  return !Evaluate(node.CallEntry).Balanced;
}

const TFrameEffects::TRoutineFrame& TFrameEffects::Evaluate(int entry) {
  static const TRoutineFrame kNotKnown;
  if (auto found = Routines.find(entry); found != Routines.end()) return found->second;
  // A routine that comes back to itself through its calls is not followed.
  if (InProgress[entry]) return kNotKnown;
  InProgress[entry] = true;
  TRoutineFrame frame = Walk(entry);
  InProgress[entry] = false;
  return Routines[entry] = frame;
}

TFrameEffects::TRoutineFrame TFrameEffects::Walk(int entry) {
  std::unordered_map<int, TState> at;
  std::vector<int> work;
  auto join = [&](int k, TState s) {
    auto [it, fresh] = at.try_emplace(k, s);
    if (fresh) {
      work.push_back(k);
      return;
    }
    TState merged{it->second.Net == s.Net ? s.Net : kUnknown, it->second.Depth == s.Depth ? s.Depth : kUnknown};
    if (merged.Net == it->second.Net && merged.Depth == it->second.Depth) return;
    it->second = merged;
    work.push_back(k);
  };
  std::optional<int> returned;
  bool netKnown = true, balanced = true;
  join(entry, {});
  while (!work.empty()) {
    const int k = work.back();
    work.pop_back();
    const TState s = at[k];
    const TLineGraph& graph = CurrentSearchCache(Lines).Graph;
    const TLineNode& node = graph.Nodes[static_cast<std::size_t>(k)];
    if (k >= graph.EndNode() || node.Kind == TNodeKind::Unknown) {
      netKnown = balanced = false;
      break;
    }
    if (node.Kind != TNodeKind::Step) {
      balanced = balanced && s.Depth == 0;
      if (s.Net == kUnknown || (returned && *returned != s.Net)) netKnown = false;
      returned = s.Net;
      continue;
    }
    TState out = s;
    const TLine& line = *Lines.Line(k);
    if (node.IsCall) {
      const bool direct = IsDirectCallType(line.LineType) && node.CallEntry >= 0;
      const TRoutineFrame callee = direct ? Evaluate(node.CallEntry) : TRoutineFrame{};
      out.Net = out.Net != kUnknown && callee.Net ? out.Net + *callee.Net : kUnknown;
      if (!callee.Balanced) out.Depth = kUnknown;
    } else {
      const std::optional<int> step = OwnStep(k);
      out.Net = out.Net != kUnknown && step ? out.Net + *step : kUnknown;
      if (StackPointerUse(line) & (uWrite | uModify)) out.Depth = kUnknown;
      else if (out.Depth != kUnknown && line.LineType == lt::PUSH) ++out.Depth;
      else if (out.Depth != kUnknown && line.LineType == lt::POP) --out.Depth;
    }
    if (out.Depth != kUnknown && out.Depth < 0) balanced = false;
    for (int next : node.Succ)
      if (next >= 0) join(next, out);
  }
  TRoutineFrame frame;
  frame.Balanced = balanced && returned.has_value();
  if (netKnown && returned) frame.Net = returned;
  return frame;
}

std::optional<int> TFrameEffects::OwnStep(int k) const {
  const TLine& line = *Lines.Line(k);
  if (line.Size == 0) return 0;
  if (line.UnknownEffect) return std::nullopt;
  const int dest = tVarList::RegisterNumber(line.DestVar);
  switch (line.LineType) {
    case lt::ADIW:
    case lt::SBIW:
      if (dest != kY) break;
      if (!line.ValueKnown) return std::nullopt;
      return static_cast<int>(line.LineType == lt::SBIW ? line.Value : -line.Value);
    case lt::ST:
    case lt::LD: {
      if (line.PtrReg != kY || line.PtrMode == static_cast<int>(TPointerMode::Plain)) break;
      const int data = Facts.NamedRegister(k, line.LineType == lt::ST ? 2 : 1);
      if (data < 0 || (RegisterBit(data) & kYBits)) return std::nullopt;
      return line.PtrMode == static_cast<int>(TPointerMode::PreDecrement) ? 1 : -1;
    }
    case lt::SUBI:
    case lt::SUB:
    case lt::ADD:
      if (dest == kY) return PairedStep(k);
      break;
    case lt::SBCI:
    case lt::SBC:
    case lt::ADC:
      if (dest == kY + 1 && SecondOfPair(k)) return 0;
      break;
    default:
      break;
  }
  if (Facts.Writes(k) & kYBits) return std::nullopt;
  return 0;
}

// SUBI R28,lo / SBCI R29,hi, or LDI Ra,lo / LDI Rb,hi / SUB R28,Ra / SBC R29,Rb
// (CLR for a zero byte; ADD and ADC release), with nothing joining or skipping
// into the lines.
std::optional<int> TFrameEffects::PairedStep(int k) const {
  const TLine& first = *Lines.Line(k);
  const int next = Facts.AdjacentInstruction(k, 1);
  if (next < 0 || Facts.MayBeSkipped(k)) return std::nullopt;
  const TLine& second = *Lines.Line(next);
  if (second.IsJoin() || tVarList::RegisterNumber(second.DestVar) != kY + 1) return std::nullopt;
  if (first.LineType == lt::SUBI) {
    if (second.LineType != lt::SBCI || !first.ValueKnown || !second.ValueKnown) return std::nullopt;
    return Signed16(second.Value, first.Value);
  }
  const bool adds = first.LineType == lt::ADD;
  if (second.LineType != (adds ? lt::ADC : lt::SBC) || (!adds && first.LineType != lt::SUB) || first.IsJoin())
    return std::nullopt;
  const int low = tVarList::RegisterNumber(first.SrcVar), high = tVarList::RegisterNumber(second.SrcVar);
  if (low < 0 || high < 0 || low == high || ((RegisterBit(low) | RegisterBit(high)) & kYBits)) return std::nullopt;
  std::optional<std::int64_t> lowValue, highValue;
  for (int p = Facts.AdjacentInstruction(k, -1), n = 0; p >= 0 && n < 2; p = Facts.AdjacentInstruction(p, -1), ++n) {
    const TLine& set = *Lines.Line(p);
    if (Facts.MayBeSkipped(p)) return std::nullopt;
    const int r = tVarList::RegisterNumber(set.DestVar);
    std::optional<std::int64_t> value;
    if (set.LineType == lt::CLR) value = 0;
    if (set.LineType == lt::LDI && set.ValueKnown) value = set.Value;
    if (!value) return std::nullopt;
    (r == low ? lowValue : r == high ? highValue : value) = value;
    if (n == 0 && set.IsJoin()) break;
  }
  if (!lowValue || !highValue) return std::nullopt;
  return adds ? -Signed16(*highValue, *lowValue) : Signed16(*highValue, *lowValue);
}

bool TFrameEffects::SecondOfPair(int k) const {
  const int previous = Facts.AdjacentInstruction(k, -1);
  if (previous < 0 || Lines.Line(k)->IsJoin()) return false;
  const TLine& first = *Lines.Line(previous);
  return (first.LineType == lt::SUBI || first.LineType == lt::SUB || first.LineType == lt::ADD) &&
         tVarList::RegisterNumber(first.DestVar) == kY && PairedStep(previous).has_value();
}

}  // namespace korvid
