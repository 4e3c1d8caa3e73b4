// The automatic bisection's search: given lines whose optimisation together
// breaks a program, finds a smallest set of them that still breaks it. One
// binary search over the remaining lines finds a line the fault needs; the
// next searches run with the lines found so far enabled, so a fault that only
// shows when two separate rewrites meet is found as well.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace korvid {

// True when the program built with only these lines optimised misbehaves; one test.
using TFailsTest = std::function<bool(const std::vector<std::int32_t>& lines)>;

struct TLineSearchResult {
  // Ascending analysis-time indices; a tested failing set.
  std::vector<std::int32_t> Lines;
  // False when the search stopped at its limit of lines and Lines still holds more than the fault needs.
  bool Minimal = true;
};

// Faults needing more separate rewrites than this are reported unreduced.
inline constexpr int kMaxFaultLines = 4;

// The most tests the search makes over `candidates` lines.
int LineSearchBound(std::size_t candidates, int maxLines = kMaxFaultLines);

// Candidates must fail together and pass when none is enabled. The search
// asks `fails` at most LineSearchBound(candidates.size(), maxLines) times.
TLineSearchResult FindFailingLines(std::vector<std::int32_t> candidates, const TFailsTest& fails,
                                   int maxLines = kMaxFaultLines);

}  // namespace korvid
