#include "analysis/BranchReach.h"

#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr int kShortLimit = 126;
constexpr int kLongLimit = 4080;

bool StandsAt(const TLine& line, std::string_view label) {
  return line.LineType != lt::Comment && EqualsNoCase(line.LabelName, label);
}

// Address breaks make the distance unknowable: such a path never counts as in reach.
bool BreaksAddresses(const TLine& line) { return line.LineType == lt::ORG || line.LineType == lt::ENDCODE; }

// Walks from `from` towards `to` (inclusive) adding sizes outside phased blocks.
// Returns the byte sum, or -1 when the limit is reached or the walk is broken.
int SumSizes(const TLineList& lines, int from, int to, int start, int limit) {
  int step = from <= to ? 1 : -1;
  int opens = step > 0 ? lt::PHASE : lt::DEPHASE, closes = step > 0 ? lt::DEPHASE : lt::PHASE;
  int sum = start, depth = 0;
  for (int i = from;; i += step) {
    const TLine* line = lines.Line(i);
    if (line == nullptr || BreaksAddresses(*line)) return -1;
    if (line->LineType == opens) ++depth;
    if (line->LineType == closes && --depth < 0) return -1;
    if (depth == 0) sum += line->Size;
    if (sum >= limit) return -1;
    if (i == to) return depth == 0 ? sum : -1;
  }
}

}  // namespace

bool ShortBranchReach(const TLineList& lines, int index, std::string_view label, int& distance) {
  int target = FindLabelLine(lines, label);
  distance = 0;
  if (target < 0) return false;
  int sum = SumSizes(lines, index, target, 0, kShortLimit);
  if (sum < 0) return false;
  distance = target <= index ? -sum : sum;
  return true;
}

bool LongBranchReach(const TLineList& lines, int index, std::string_view label, int& distance) {
  int target = FindLabelLine(lines, label);
  distance = 0;
  if (target < 0 || target == index || !StandsAt(*lines.Line(target), label)) return false;
  int from = target > index ? index + 1 : index - 1;
  if (from < 0 || from >= lines.Count()) return false;
  int sum = SumSizes(lines, from, target, 2, kLongLimit);
  if (sum < 0 && lines.Run.InjectedFaults.LongBranchesAlwaysReach) sum = 2;
  if (sum < 0) return false;
  distance = target < index ? -sum : sum;
  return true;
}

}  // namespace korvid
