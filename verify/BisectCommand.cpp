// `korvid bisect FILE`: the report on stdout, progress on stderr, and the
// special debug mode's folder beside FILE, left as a completed manual test.
#include <filesystem>
#include <iostream>
#include <optional>

#include "app/Arguments.h"
#include "source/FileNames.h"
#include "diagnostics/UserBisection.h"
#include "source/TextFile.h"
#include "verify/Bisect.h"

namespace korvid::verify {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: korvid bisect FILE [--mcu NAME] [--budget CYCLES]\n"
    "Finds by simulation the fewest lines whose optimisation changes what FILE does, and\n"
    "leaves KORVID_DEBUG/ beside FILE as a completed special debug test.\n"
    "  --mcu NAME        the device simulated (default atmega2560)\n"
    "  --budget CYCLES   the cycles each build may run (default 20000000)\n"
    "Exit status: 0 correct, 1 fault found, 2 could not check or a command line not understood.\n";

void PrintFault(const TBisectReport& report) {
  std::cout << "The optimisation changes the program's behaviour in " << report.rounds << " rounds.\n"
            << (report.minimal ? "Lines" : "Lines (the search stopped before it could reduce them further)")
            << " whose optimisation breaks it:\n";
  for (const TLineChange& change : report.changes)
    std::cout << "  line " << change.LineIndex << " (" << change.Pass
              << (change.Rule.empty() ? "" : ", rule " + change.Rule) << "): \"" << change.Before << "\" -> \""
              << change.After << "\"\n";
  std::cout << "First difference: " << report.message << '\n';
}

}  // namespace

// The programs the manual mode keeps: as loaded (P), the last test build
// (P1), and the builds that failed (PF) and passed (PP).
void KeepDebugFolder(const TBisectReport& report, const std::string& programName) {
  TSpecialDebug debug;
  debug.SetUp(ExtractFilePath(programName));
  debug.CheckLineCount(report.lineCount);
  debug.Reset();
  debug.SetBlockSize(1);
  for (std::int32_t line : report.lines) debug.AddBlock(1, line, line, true);
  debug.SaveState();
  const std::string kept = (fs::path(debug.DebugDir()) / fs::path(LocalFileName(programName)).filename()).string();
  WriteFileAtomically(kept, report.original);
  WriteFileAtomically(kept + "1", report.failing.Text);
  WriteFileAtomically(kept + "F", report.failing.Text);
  if (!report.passing.empty()) WriteFileAtomically(kept + "P", report.passing);
}

int RunBisectCommand(int argc, char** argv) {
  auto refuse = [](const std::string& problem) {
    std::cerr << "korvid bisect: " << problem << " (try korvid bisect --help)\n";
    return 2;
  };
  TBisectOptions options;
  std::string file;
  TArgumentReader words(argc, argv);
  while (words.Next()) {
    const std::string& word = words.Word();
    if (!words.IsOption()) {
      if (!file.empty()) return refuse("one FILE at a time: \"" + file + "\" and \"" + word + "\"");
      file = word;
    } else if (std::string problem; ReadSimulationOption(words, options.verify, problem)) {
      if (!problem.empty()) return refuse(problem);
    } else if (word == "-h" || word == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      return refuse("unknown option \"" + word + "\"");
    }
  }
  if (file.empty()) return refuse("FILE is missing");
  options.progress = [](const std::string& text) { std::cerr << text << '\n'; };
  try {
    TBisectReport report = Bisect([&file](TLineList& lines) { lines.LoadFromFile(file); }, DefaultPasses(), options);
    switch (report.outcome) {
      case TBisectReport::Outcome::Correct:
        std::cout << "The optimised program behaves like the original (checked in " << report.rounds << " round).\n";
        return 0;
      case TBisectReport::Outcome::CouldNotCheck:
        std::cerr << "korvid bisect: could not check: " << report.message << '\n';
        return 2;
      case TBisectReport::Outcome::Fault:
        KeepDebugFolder(report, file);
        PrintFault(report);
        return 1;
    }
  } catch (const std::exception& error) {
    std::cerr << "korvid bisect: " << error.what() << '\n';
  }
  return 2;
}

}  // namespace korvid::verify
