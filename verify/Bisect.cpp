#include "verify/Bisect.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace korvid::verify {

namespace {

using Verdict = VerifyResult::Verdict;
using TLineSet = std::vector<std::int32_t>;

// Ends the search: a build could not be checked.
struct TCouldNotCheck {
  std::string message;
};

class TBisection {
 public:
  TBisection(const TProgramLoader& load, const TPassTable& passes, const TBisectOptions& options)
      : Load(load), Passes(passes), Options(options) {}

  TBisectReport Run() {
    TLineList lines;
    Load(lines);
    Report.original = lines.SaveToText();
    Report.lineCount = lines.Count();
    // Every changed line is one of the loaded ones, so this holds before the first round.
    Report.bound = 1 + LineSearchBound(static_cast<std::size_t>(Report.lineCount), Options.maxLines);
    TellRemaining();
    try {
      TBuild full = Build(std::nullopt);
      VerifyResult result = Check(full.Text);
      Tell(std::string("round 1: every line enabled, ") + (result.verdict == Verdict::Same ? "same" : "different"));
      if (result.verdict == Verdict::Same) return Finish(TBisectReport::Outcome::Correct, result.message);
      TLineSet candidates = ChangedLines(full.Changes);
      if (candidates.empty()) throw TCouldNotCheck{"the build differs, but no pass changed a line: " + result.message};
      Failures[candidates] = {std::move(full), result.message};
      Search(candidates);
    } catch (const TCouldNotCheck& problem) {
      return Finish(TBisectReport::Outcome::CouldNotCheck, problem.message);
    }
    return Report;
  }

 private:
  struct TFailure {
    TBuild Build;
    std::string Message;
  };

  void Search(const TLineSet& candidates) {
    Report.bound = 1 + LineSearchBound(candidates.size(), Options.maxLines);
    TellRemaining();
    TLineSearchResult found =
        FindFailingLines(candidates, [this](const TLineSet& set) { return Fails(set); }, Options.maxLines);
    // Every set the search answers was seen failing; all changed lines, in the full build.
    TFailure& failure = Failures.at(found.Lines);
    Report.lines = found.Lines;
    Report.minimal = found.Minimal;
    std::set<std::int32_t> wanted(found.Lines.begin(), found.Lines.end());
    for (const TLineChange& change : failure.Build.Changes)
      if (wanted.contains(change.LineIndex)) Report.changes.push_back(change);
    Report.failing = std::move(failure.Build);
    Finish(TBisectReport::Outcome::Fault, failure.Message);
  }

  bool Fails(const TLineSet& set) {
    TBuild build = Build(set);
    VerifyResult result = Check(build.Text);
    bool failed = result.verdict == Verdict::Different;
    Tell("round " + std::to_string(Report.rounds) + ": " + std::to_string(set.size()) + " lines enabled, " +
         (failed ? "different" : "same"));
    TellRemaining();
    if (failed) {
      TLineSet key(set);
      std::sort(key.begin(), key.end());
      Failures[std::move(key)] = {std::move(build), result.message};
    } else {
      Report.passing = std::move(build.Text);
    }
    return failed;
  }

  // Without a set every line may change.
  TBuild Build(const std::optional<TLineSet>& enabled) {
    TLineList lines;
    Load(lines);
    TBuild build;
    lines.Pass.ChangeLog = &build.Changes;
    if (enabled) {
      std::set<std::int32_t> allowed(enabled->begin(), enabled->end());
      lines.Pass.LineFilter = [allowed = std::move(allowed)](std::int32_t lineIndex) { return allowed.contains(lineIndex); };
    }
    Optimise(lines, "", Passes);
    if (lines.Run.Aborted) throw TCouldNotCheck{"the optimisation aborted (see the error file)"};
    build.Text = lines.SaveToText();
    return build;
  }

  VerifyResult Check(const std::string& optimised) {
    ++Report.rounds;
    VerifyResult result = VerifyPrograms(Report.original, optimised, Options.verify);
    if (result.verdict == Verdict::CouldNotCheck) throw TCouldNotCheck{result.message};
    return result;
  }

  static TLineSet ChangedLines(const std::vector<TLineChange>& changes) {
    std::set<std::int32_t> lines;
    for (const TLineChange& change : changes) lines.insert(change.LineIndex);
    return {lines.begin(), lines.end()};
  }

  void TellRemaining() const {
    Tell("Estimated Tests Remaining : " + std::to_string(std::max(0, Report.bound - Report.rounds)));
  }

  void Tell(const std::string& text) const {
    if (Options.progress) Options.progress(text);
  }

  TBisectReport Finish(TBisectReport::Outcome outcome, const std::string& message) {
    Report.outcome = outcome;
    Report.message = message;
    return Report;
  }

  const TProgramLoader& Load;
  const TPassTable& Passes;
  const TBisectOptions& Options;
  TBisectReport Report;
  std::map<TLineSet, TFailure> Failures;
};

}  // namespace

TBisectReport Bisect(const TProgramLoader& load, const TPassTable& passes, const TBisectOptions& options) {
  return TBisection(load, passes, options).Run();
}

}  // namespace korvid::verify
