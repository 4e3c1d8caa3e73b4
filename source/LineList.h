// The program as an ordered list of text lines, each with its TLine. The line
// list owns all state of a run, and its edit operations are the only way the
// passes change the program: they keep text, line facts and size totals in step.
#pragma once
#include <array>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Functions.h"
#include "analysis/Variables.h"
#include "app/ProjectFile.h"
#include "diagnostics/WorkerPool.h"
#include "source/Directives.h"
#include "source/Labels.h"
#include "source/Line.h"
#include "source/TextFile.h"

namespace korvid {

class TSearchCache;
class TRoutineSummaries;
class TPointerTargets;
class TSpecialDebugHook;

// One edit a pass made, by the line's analysis-time index.
struct TLineChange {
  std::int32_t LineIndex = 0;
  std::string Pass;
  std::string Before;
  std::string After;
};

class TLineList {
 public:
  // The parse worker count is a parameter only so it can be measured.
  explicit TLineList(int parseThreads = TParallel::DefaultThreadCount());
  ~TLineList();
  TLineList(const TLineList&) = delete;
  TLineList& operator=(const TLineList&) = delete;

  int Count() const { return static_cast<int>(Entries.size()); }
  const std::string& Text(int index) const { return Entries[index].Text; }
  // The line's object, or none while it has not been created yet.
  TLine* Line(int index) const { return Entries[index].Object.get(); }
  bool IsParsed(int index) const;

  // Throws KorvidError when the file cannot be used as a program.
  void LoadFromFile(const std::string& fileName);
  // Loads program text as if read from fileName (which need not exist).
  void LoadFromText(const std::string& text, const std::string& fileName = "");
  void SaveToFile(const std::string& fileName) const;
  std::string SaveToText() const;

  bool SetLine(int index, TLineType type, std::string_view labelName, std::string_view mnemonic,
               std::string_view operands, TFunction* func);
  bool SetLineOps(int index, TLineType type, std::string_view labelName, std::string_view mnemonic,
                  std::string_view op1, std::string_view op2, TFunction* func);
  void SetLabelLine(int index, std::string_view labelName);
  bool RemoveLine(int index);
  // An empty line without object at index; the caller then sets it.
  void InsertLine(int index);
  // Deletes every removed line at once (the driver's tidy step).
  void DeleteRemovedLines();

  void ReportAbort(int index, const std::string& message);
  std::int32_t BytesSaved() const { return OriginalSize - CodeSize; }

  int NextCodeLine(int index, bool passLabels, bool stopAtFrame, bool stopAtLoop, bool stopAtBlock) const;
  int PrevCodeLine(int index, bool passLineMarks, bool passLabels) const;
  bool SameInstruction(int i, int j) const;
  // Whether a pass may change line index: the line filter (set by the special
  // debug mode or the bisection) decides by the line's analysis-time index.
  bool MayChange(int index) const;
  void ResetAllMarks();
  void ClearCallMarks();

  // Starts the parallel parse of every line; the analysis consumes the lines in order.
  void StartParse();
  void FinishParse() { Parallel.Wait(); }
  // Lets the shell refresh progress and notice the halt request.
  void ProcessMessages() {
    if (OnProcessMessages) OnProcessMessages();
  }

  TParallel Parallel;
  TASMLabelList Labels;
  // Labels named by the entry directives, used as data.
  TASMLabelList DataLabels;
  tVarList Vars;
  TDirectiveFlags Directives;
  // The canonical variables of the registers and the status flags (SREG bit order).
  std::array<TVar*, 32> RegisterVar{};
  std::array<TVar*, 8> FlagVar{};
  std::array<bool, 32> RegisterUnreferenced{};
  // 1 ICALL before ".ENTRY", 2 IJMP before it, 4 ICALL after it, 8 IJMP after it.
  std::int32_t IndirectFlags = 0;
  std::int32_t EntryLineIndex = 0;
  // Lines analysed so far in load order; the rest have no facts yet.
  std::int32_t AnalysedCount = 0;
  // The header names a compiler this optimiser does not support: nothing is optimised.
  bool CompilerUnsupported = false;
  std::int32_t CodeSize = 0;
  std::int32_t OriginalSize = 0;
  bool OptimiseEnabled = true;
  bool DisplayChanged = false;
  std::int32_t ProgressIndex = 0;
  bool QuickOpt = false;
  TFunctionList Functions;
  std::int32_t Iteration = 0;
  std::string StatusText;
  std::int32_t CSECounter = 0;
  std::int32_t DataBytes = 0;
  bool AllowInline = true;
  std::uint8_t PcMode = 2;
  // The line types of the program as loaded: what the compiler wrote shows
  // what the device offers (analysis/Encoding.h), whatever passes change later.
  std::bitset<lt::Count> LoadedTypes;
  std::chrono::system_clock::time_point LoadTime;
  std::string ScopePrefix = "%";
  // Read by the parse workers, so it is atomic; it only ever goes from false to true.
  std::atomic<bool> Aborted = false;
  // The compiler's error file, where warnings and the first abort message go.
  TErrorFile Errors;
  std::string FileName;
  bool Interactive = false;
  // Bumped by every edit, so search marks made before an edit can be told apart.
  std::uint64_t Generation = 0;
  // The Generation the path searches and routine summaries answer for: the
  // current one, unless a pass has frozen them (see TFrozenAnalysis).
  std::uint64_t AnalysisGeneration() const { return FrozenGeneration != 0 ? FrozenGeneration : Generation; }
  std::uint64_t FrozenGeneration = 0;
  // Liveness and modification answers of the path searches, valid for one Generation.
  std::shared_ptr<TSearchCache> SearchCache;
  // What each routine may do to its callers, valid for one Generation; a cache, so
  // read-only questions may fill it.
  mutable std::shared_ptr<const TRoutineSummaries> RoutineSummaries;
  // Where each pointer access reaches, valid for one Generation; a cache too.
  mutable std::shared_ptr<const TPointerTargets> PointerTargets;
  // Whether code depends on where instructions land, for one Generation; a cache too.
  struct TPositionDependence {
    std::uint64_t Generation = 0;
    int LineCount = -1;
    bool Value = false;
  };
  mutable TPositionDependence PositionDependence;
  std::function<void()> OnProcessMessages;
  // Empty: every line may be changed.
  std::function<bool(std::int32_t lineIndex)> LineFilter;
  // Asked by the driver when the program asks for the special debug mode;
  // none: the mode is not available and the whole program is optimised.
  TSpecialDebugHook* SpecialDebug = nullptr;
  // The pass the driver is running; edits outside a pass have none.
  std::string_view CurrentPass;
  // When set, every edit made inside a pass is appended; off for normal runs.
  std::vector<TLineChange>* ChangeLog = nullptr;
  // Faults the mutation test puts into the analysis on purpose, to show that the random
  // programs and the simulation check catch them; never set in a run.
  struct TInjectedFaults {
    bool CallsKeepFlags = false;             // a call no longer counts the flags its routine writes
    bool CallsKeepAddressTaken = false;      // nor the registers it may write through a pointer
    bool LongBranchesAlwaysReach = false;    // RJMP/RCALL reach is never checked
  } InjectedFaults;

 private:
  struct TEntry {
    std::string Text;
    std::unique_ptr<TLine> Object;
    bool CrLf = false;
  };

  // An empty companionFile loads no companion file.
  void Load(TTextFile file, const std::string& fileName, const std::string& companionFile);
  void ParseOne(int index);
  void AccountRoutineSize(TLine& line, TFunction* func);
  void InitialiseLine(TLine& line, TLineType type, std::string_view labelName, std::string_view mnemonic,
                      std::string_view operands);
  void LogChange(int index, const std::string& after);
  void ReplaceLine(int index, std::string text, TLineType type, std::string_view labelName,
                   std::string_view mnemonic, std::string_view operands, TFunction* func, bool copyFunc);

  std::vector<TEntry> Entries;
  bool FinalBreak = true;
  bool CrLfDominant = false;
};

// The layout of a generated line: label in 24 columns, mnemonic in 10, operands.
std::string FormatLine(std::string_view labelName, std::string_view mnemonic, std::string_view operands);

}  // namespace korvid
