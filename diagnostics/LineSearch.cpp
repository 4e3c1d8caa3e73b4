#include "diagnostics/LineSearch.h"

#include <algorithm>
#include <bit>

namespace korvid {

namespace {

int CeilLog2(std::size_t n) { return n <= 1 ? 0 : std::bit_width(n - 1); }

std::vector<std::int32_t> Join(const std::vector<std::int32_t>& found, const std::vector<std::int32_t>& remaining,
                               std::size_t prefix) {
  std::vector<std::int32_t> lines(found);
  lines.insert(lines.end(), remaining.begin(), remaining.begin() + static_cast<std::ptrdiff_t>(prefix));
  return lines;
}

// The shortest prefix of remaining that fails together with found, knowing
// that found alone passes and found with all of remaining fails.
std::size_t ShortestFailingPrefix(const std::vector<std::int32_t>& found, const std::vector<std::int32_t>& remaining,
                                  const TFailsTest& fails) {
  std::size_t passes = 0;
  std::size_t failing = remaining.size();
  while (failing - passes > 1) {
    std::size_t middle = passes + (failing - passes) / 2;
    (fails(Join(found, remaining, middle)) ? failing : passes) = middle;
  }
  return failing;
}

TLineSearchResult Sorted(std::vector<std::int32_t> lines, bool minimal) {
  std::sort(lines.begin(), lines.end());
  return {std::move(lines), minimal};
}

}  // namespace

int LineSearchBound(std::size_t candidates, int maxLines) {
  // Each line found costs one binary search and one test of the lines found so far.
  std::size_t lines = std::min(candidates, static_cast<std::size_t>(std::max(maxLines, 1)));
  return static_cast<int>(lines) * (CeilLog2(candidates) + 1);
}

TLineSearchResult FindFailingLines(std::vector<std::int32_t> candidates, const TFailsTest& fails, int maxLines) {
  std::sort(candidates.begin(), candidates.end());
  std::vector<std::int32_t> found;
  std::vector<std::int32_t> remaining = std::move(candidates);
  // Invariant: found passes alone and fails with all of remaining.
  while (!remaining.empty()) {
    std::size_t prefix = ShortestFailingPrefix(found, remaining, fails);
    found.push_back(remaining[prefix - 1]);
    // Lines after the one found are not needed: the prefix up to it already fails.
    remaining.resize(prefix - 1);
    if (remaining.empty() || fails(found)) break;
    if (static_cast<int>(found.size()) >= maxLines) return Sorted(Join(found, remaining, remaining.size()), false);
  }
  return Sorted(std::move(found), true);
}

}  // namespace korvid
