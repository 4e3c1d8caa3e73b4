// The search against faults made of known lines: every placement of one, two
// and three needed lines among the candidates must be found exactly, and
// within the bound the search promises.
#include "diagnostics/LineSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>

namespace korvid {
namespace {

using TSet = std::vector<std::int32_t>;

// A fault that shows when every line of `needed` is enabled; counts the tests.
struct TFault {
  std::set<std::int32_t> Needed;
  int Tests = 0;

  TFailsTest Test() {
    return [this](const TSet& lines) {
      ++Tests;
      return std::all_of(Needed.begin(), Needed.end(),
                         [&lines](std::int32_t n) { return std::find(lines.begin(), lines.end(), n) != lines.end(); });
    };
  }
};

// Candidates 10, 20, ... so that positions and line numbers differ.
TSet Candidates(int n) {
  TSet lines(n);
  for (int i = 0; i < n; ++i) lines[i] = 10 * (n - i);  // given in descending order on purpose
  return lines;
}

void ExpectFound(int n, const TSet& needed) {
  TFault fault{{needed.begin(), needed.end()}};
  TLineSearchResult result = FindFailingLines(Candidates(n), fault.Test());
  TSet sorted(needed);
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(result.Lines, sorted) << "of " << n;
  EXPECT_TRUE(result.Minimal);
  EXPECT_LE(fault.Tests, LineSearchBound(n)) << "of " << n;
}

TEST(LineSearch, FindsEverySingleLineWithinTheBound) {
  for (int n : {1, 2, 3, 7, 16, 33})
    for (int i = 1; i <= n; ++i) ExpectFound(n, {10 * i});
}

TEST(LineSearch, FindsEveryPairThatOnlyFailsTogether) {
  for (int n : {2, 5, 12})
    for (int a = 1; a <= n; ++a)
      for (int b = a + 1; b <= n; ++b) ExpectFound(n, {10 * a, 10 * b});
}

TEST(LineSearch, FindsThreeLinesSpreadOverTheProgram) {
  ExpectFound(40, {30, 200, 390});
  ExpectFound(3, {10, 20, 30});
}

TEST(LineSearch, OfTwoIndependentFaultsNamesOneLine) {
  int tests = 0;
  auto eitherFault = [&tests](const TSet& lines) {
    ++tests;
    return std::find(lines.begin(), lines.end(), 40) != lines.end() ||
           std::find(lines.begin(), lines.end(), 90) != lines.end();
  };
  TLineSearchResult result = FindFailingLines(Candidates(10), eitherFault);
  ASSERT_EQ(result.Lines.size(), 1u);
  EXPECT_TRUE(result.Lines[0] == 40 || result.Lines[0] == 90);
  EXPECT_LE(tests, LineSearchBound(10));
}

TEST(LineSearch, StopsAtTheLimitWithAFailingSetThatHoldsTheFault) {
  TFault fault{{10, 30, 50, 70, 90}};
  TLineSearchResult result = FindFailingLines(Candidates(10), fault.Test(), 2);
  EXPECT_FALSE(result.Minimal);
  EXPECT_TRUE(std::includes(result.Lines.begin(), result.Lines.end(), fault.Needed.begin(), fault.Needed.end()));
  EXPECT_LT(result.Lines.size(), 10u);
  EXPECT_LE(fault.Tests, LineSearchBound(10, 2));
}

}  // namespace
}  // namespace korvid
