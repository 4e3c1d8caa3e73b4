#include "passes/Driver.h"

#include <cstdio>

#include "analysis/Analysis.h"
#include "source/Functions.h"
#include "app/About.h"
#include "diagnostics/Reports.h"
#include "diagnostics/UserBisection.h"
#include "passes/BitTest.h"
#include "passes/BranchOptimisation.h"
#include "passes/CallFrame.h"
#include "passes/CommonExit.h"
#include "passes/Finalise.h"
#include "passes/FrameLoads.h"
#include "passes/InterruptRegs.h"
#include "passes/LoopOptimisation.h"
#include "passes/Peephole.h"
#include "passes/PointerOptimisation.h"
#include "passes/RemoveRedundant.h"
#include "passes/RemoveUnreferenced.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// Two rewrites that undo each other must not keep a run going for ever.
constexpr int kMaxIterations = 50;

using D = TDirective;
using Clock = std::chrono::system_clock;

class TDriver {
 public:
  TDriver(TLineList& lines, const TPassTable& passes)
      : Lines(lines), Facts(lines), Passes(passes), Flags(lines.Run.Directives) {}

  void Run(const std::string& directory) {
    auto start = Clock::now();
    Lines.Run.Iteration = 1;
    bool optimising = !Lines.CompilerUnsupported;
    // A program left unoptimised is no test, so the user is not asked then.
    if (optimising) SpecialDebugStep(directory);
    if (optimising && Lines.Run.OptimiseEnabled && !OneTimePasses()) return;
    if (optimising) IterateAndClose();
    TidyLines(Lines);
    Status("Done!");
    AppendSummary(start);
    if (Flags[D::LIST_USER_FUNCTIONS]) AppendSizeTable();
  }

 private:
  bool RunPass(TPassStep step) {
    const TPass& pass = Passes[static_cast<std::size_t>(step)];
    if (!pass) return false;
    Lines.Pass.Name = PassName(step);
    bool changed = pass(Lines, Facts);
    Lines.Pass.Name = {};
    ChangedSinceSettled = ChangedSinceSettled || changed;
    return changed;
  }

  void Status(const std::string& text) {
    Lines.Run.StatusText = text;
    Lines.Run.DisplayChanged = true;
    Lines.Run.ProcessMessages();
  }

  // Under SPECIAL_DEBUG only the lines of the block under test may change,
  // until the test is complete and the whole program is optimised again.
  void SpecialDebugStep(const std::string& directory) {
    if (!Flags[D::SPECIAL_DEBUG]) return;
    TSpecialDebugHook* mode = Lines.Run.SpecialDebug;
    if (mode == nullptr || mode->RunSpecialDebug(directory, Lines.Count()) == TSpecialDebugResult::TestComplete) {
      Flags.Set(D::SPECIAL_DEBUG, false);
      return;
    }
    Lines.Pass.LineFilter = [mode](std::int32_t lineIndex) { return mode->IsLineEnabled(lineIndex); };
  }

  // False when a pass aborted the run: nothing more is done, not even the summary.
  bool OneTimePasses() {
    Lines.Run.ProcessMessages();
    if (Flags[D::SMARTLINK_ONLY]) return true;
    if (!Flags[D::NO_BITTEST8]) RunPass(TPassStep::BitTest8);
    RunPass(TPassStep::InterruptRegs);
    if (!Flags[D::NO_LOOP_OPT]) {
      Status("Loop Optimisation...");
      RunPass(TPassStep::Loop);
      if (Lines.Run.Aborted) return false;
    }
    if (!Flags[D::NO_CALL_FRAME_OPT]) {
      Status("Call Optimisation...");
      RunPass(TPassStep::CallFrame);
      Lines.ResetAllMarks();
    }
    if (!Flags[D::NO_BRANCH_OPT]) {
      Status("Branch Optimisation...");
      RunPass(TPassStep::Branch);
      if (Lines.Run.Aborted) return false;
    }
    Status(Lines.Run.QuickOpt ? "Quick Optimisation" : "Full Optimisation");
    return true;
  }

  // One iteration of the four phases; true when none of them changed anything.
  // In quick mode phases 1 and 2 run once more after the tidy step, and what
  // they change counts too.
  bool Iterate() {
    Lines.ResetAllMarks();
    bool quiet = true;
    bool smartlink = Flags[D::SMARTLINK_ONLY];
    if (!smartlink) {
      if (!Flags.Phase1Off() && RunPass(TPassStep::Phase1)) quiet = false;
      if (!Flags.Phase2Off() && RunPass(TPassStep::Phase2)) quiet = false;
    }
    if (!Flags.Phase3Off() && RunPass(TPassStep::Phase3)) quiet = false;
    if (!smartlink && !Flags[D::No_Phase_4] && RunPass(TPassStep::Phase4)) quiet = false;
    TidyLines(Lines);
    if (Lines.Run.QuickOpt && !smartlink) {
      Lines.ResetAllMarks();
      if (RunPass(TPassStep::Phase1)) quiet = false;
      if (RunPass(TPassStep::Phase2)) quiet = false;
    }
    return quiet;
  }

  void IterateAndClose() {
    int iterations = 0;
    for (;;) {
      bool done = false;
      while (Lines.Run.OptimiseEnabled && !done) {
        // A quick run stops after one iteration, settled or not.
        const bool quiet = Iterate();
        if (quiet) {
          SettledGeneration = Lines.Generation;
          ChangedSinceSettled = false;
        }
        done = quiet || Lines.Run.QuickOpt;
        if (!done) {
          ++Lines.Run.Iteration;
          Lines.Run.DisplayChanged = true;
        }
        if (!done && ++iterations >= kMaxIterations) {
          Lines.Errors.WriteWarning("Optimisation stopped after " + std::to_string(kMaxIterations) +
                                        " iterations that kept changing the program",
                                    Lines.FileName, 1, 1);
          done = true;
        }
      }
      if (Flags[D::SMARTLINK_ONLY]) return;
      if (Flags[D::SPEED] || Flags[D::SPEED_ALL] || Flags[D::NO_CSE_OPT]) break;
      Status("Common Exit Point Optimisation...");
      RunPass(TPassStep::CommonExit);
      ++Lines.Run.Iteration;
      Lines.Run.DisplayChanged = true;
      Flags.Set(D::NO_CSE_OPT);
      // On a program no pass changed since the iterations settled, another
      // iteration would change nothing either.
      if (Lines.Run.QuickOpt || Unchanged()) break;
    }
    ClosingPasses();
  }

  bool Unchanged() const {
    return SettledGeneration != 0 && Lines.Generation == SettledGeneration && !ChangedSinceSettled;
  }

  void ClosingPasses() {
    if (!Unchanged()) {
      if (!Flags.Phase1Off()) RunPass(TPassStep::Phase1);
      if (!Flags.Phase2Off()) RunPass(TPassStep::Phase2);
      if (!Flags.Phase3Off()) RunPass(TPassStep::Phase3);
    }
    if (!Flags[D::NO_CALL_FRAME_OPT]) {
      Status("Call Optimisation...");
      Lines.ClearCallMarks();
      RunPass(TPassStep::CallFrame);
    }
    Status("Finalising...");
    RunPass(TPassStep::Finalise);
    if (!Flags[D::NO_OPTI_PTR]) RunPass(TPassStep::Pointer);
  }

  void AppendLine(TLineType type, const std::string& text) {
    Lines.InsertLine(Lines.Count());
    Lines.SetLine(Lines.Count() - 1, type, "", text, "", nullptr);
  }

  void AppendComments(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) AppendLine(text.empty() ? lt::Blank : lt::Comment, text);
  }

  void AppendSummary(Clock::time_point start) {
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    auto now = Clock::now();
    AppendComments(SummaryLines(ProgramVersion().Label, Lines.OriginalSize - Lines.DataBytes, Lines.BytesSaved(),
                                duration_cast<seconds>(start - Lines.Run.LoadTime), duration_cast<seconds>(now - start),
                                duration_cast<seconds>(now - Lines.Run.LoadTime)));
  }

  void AppendSizeTable() {
    std::vector<std::string> table;
    WriteSizeTable(Lines.Functions, table);
    AppendComments(table);
  }

  TLineList& Lines;
  const TAnalysis Facts;
  // The program's generation when an iteration last changed nothing (0: none
  // yet), and whether a pass said it changed something since.
  std::uint64_t SettledGeneration = 0;
  bool ChangedSinceSettled = false;
  const TPassTable& Passes;
  TDirectiveFlags& Flags;
};

}  // namespace

std::string_view PassName(TPassStep step) {
  static constexpr std::array<std::string_view, static_cast<std::size_t>(TPassStep::Count)> kNames = {
      "BitTest8", "InterruptRegs", "Loop",   "CallFrame", "Branch",   "Phase1",
      "Phase2",   "Phase3",        "Phase4", "CommonExit", "Finalise", "Pointer"};
  return kNames[static_cast<std::size_t>(step)];
}

const TPassTable& DefaultPasses() {
  static const TPassTable passes = [] {
    TPassTable table{};
    table[static_cast<std::size_t>(TPassStep::BitTest8)] = InlineTestBit8;
    table[static_cast<std::size_t>(TPassStep::InterruptRegs)] = InterruptRegisterSaving;
    table[static_cast<std::size_t>(TPassStep::Loop)] = LoopOptimisation;
    table[static_cast<std::size_t>(TPassStep::CallFrame)] = CallFrame;
    table[static_cast<std::size_t>(TPassStep::Branch)] = BranchOptimisation;
    table[static_cast<std::size_t>(TPassStep::Phase1)] = RemoveRedundant;
    table[static_cast<std::size_t>(TPassStep::Phase2)] = PeepholePass;
    table[static_cast<std::size_t>(TPassStep::Phase3)] = RemoveUnreferenced;
    table[static_cast<std::size_t>(TPassStep::Phase4)] = FrameLoads;
    table[static_cast<std::size_t>(TPassStep::CommonExit)] = CommonExit;
    table[static_cast<std::size_t>(TPassStep::Finalise)] = Finalise;
    table[static_cast<std::size_t>(TPassStep::Pointer)] = PointerOptimisation;
    return table;
  }();
  return passes;
}

void Optimise(TLineList& lines, const std::string& directory, const TPassTable& passes) {
  TDriver(lines, passes).Run(directory);
}

std::string FormatDuration(std::chrono::seconds duration) {
  long long total = std::max<long long>(0, duration.count());
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::vector<std::string> SummaryLines(const std::string& version, std::int32_t codeSize, std::int32_t saved,
                                      std::chrono::seconds analysis, std::chrono::seconds optimisation,
                                      std::chrono::seconds total) {
  std::vector<std::string> lines{""};
  if (codeSize == 0) {
    lines.push_back("; Korvid Optimiser " + version + " did not find any code to optimise.");
  } else {
    // The nearest whole percentage, halves going up (7 of 200 bytes is 4%).
    long long twice = 2LL * codeSize;
    long long numerator = 200LL * saved + codeSize;
    long long percent = numerator / twice - ((numerator % twice != 0) && ((numerator < 0) != (twice < 0)));
    lines.push_back("; Korvid Optimiser " + version + " saved " + std::to_string(saved) + " bytes.");
    lines.push_back("; Original size was " + std::to_string(codeSize) + " so % saved = " + std::to_string(percent) +
                    "%");
  }
  lines.push_back("; Analysis Time (hh:mm:ss) : " + FormatDuration(analysis));
  lines.push_back("; Optimisation Time (hh:mm:ss) : " + FormatDuration(optimisation));
  lines.push_back("; Total Time (hh:mm:ss) : " + FormatDuration(total));
  return lines;
}

int BranchKind(TLineType type) {
  switch (type) {
    case lt::RJMP: case lt::JMP: return 20;
    case lt::RCALL: case lt::ICALL: case lt::CALL: return 18;
    case lt::EICALL: return 21;
    case lt::RET: case lt::RETI: return 19;
    case lt::BRCS: case lt::BRLO: return 1;
    case lt::BRCC: case lt::BRSH: return 2;
    case lt::BREQ: return 3;
    case lt::BRNE: return 4;
    case lt::BRMI: return 5;
    case lt::BRPL: return 6;
    case lt::BRVS: return 7;
    case lt::BRVC: return 8;
    case lt::BRLT: return 9;
    case lt::BRGE: return 10;
    case lt::BRHS: return 11;
    case lt::BRHC: return 12;
    case lt::BRTS: return 13;
    case lt::BRTC: return 14;
    case lt::BRIE: return 15;
    case lt::BRID: return 16;
    default: return 0;
  }
}

void TidyLines(TLineList& lines) {
  lines.Run.ProcessMessages();
  // First mark what goes, then delete it in one sweep, so tidying stays linear.
  TFunction* routine = nullptr;
  bool previousBlank = false;
  for (int i = 0; i < lines.Count(); ++i) {
    TLine& line = *lines.Line(i);
    switch (line.LineType) {
      case lt::FUNC:
        routine = lines.Functions.FindByName(FunctionHeaderName(line.Operands));
        previousBlank = false;
        break;
      case lt::ENDFUNC:
        if (routine == nullptr) lines.RemoveLine(i);
        routine = nullptr;
        previousBlank = false;
        break;
      case lt::Blank:
        if (previousBlank) lines.RemoveLine(i);
        previousBlank = true;
        break;
      default:
        // A removed line disappears below: the blank lines around it meet.
        if (!line.Removed) previousBlank = false;
    }
  }
  lines.DeleteRemovedLines();
  // The notes go in with one pass over the list, however many there are.
  struct TNote {
    std::string Operands;
    TFunction* Routine;
  };
  std::vector<std::pair<int, std::int32_t>> at;
  std::vector<TNote> notes;
  routine = nullptr;
  for (int i = 0; i < lines.Count(); ++i) {
    TLine& line = *lines.Line(i);
    if (line.LineType == lt::FUNC) routine = lines.Functions.FindByName(FunctionHeaderName(line.Operands));
    if (line.LineType == lt::ENDFUNC) routine = nullptr;
    if (!line.BranchMark) continue;
    line.BranchMark = false;
    if (int kind = BranchKind(line.LineType); kind != 0) {
      at.emplace_back(i, 0);
      notes.push_back({std::to_string(kind) + ", " + line.Op1, routine});
    }
  }
  lines.InsertLines(at);
  for (std::size_t k = 0; k < at.size(); ++k) {
    const int note = at[k].first + static_cast<int>(k);
    lines.SetLine(note, lt::BRANCH, "", ".BRANCH", notes[k].Operands, notes[k].Routine);
  }
  routine = nullptr;
  for (int i = 0; i < lines.Count(); ++i) {
    const TLine& line = *lines.Line(i);
    if (line.LineType == lt::FUNC) {
      routine = lines.Functions.FindByName(FunctionHeaderName(line.Operands));
      if (routine != nullptr) routine->StartLine = i;
    } else if (line.LineType == lt::ENDFUNC) {
      if (routine != nullptr) routine->EndLine = i;
      routine = nullptr;
    }
  }
}

}  // namespace korvid
