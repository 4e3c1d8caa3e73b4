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
#include <utility>
#include <vector>

#include "source/Functions.h"
#include "source/Variables.h"
#include "source/ErrorFile.h"
#include "source/Labels.h"
#include "source/Line.h"
#include "source/PassContext.h"
#include "source/Run.h"
#include "source/TextFile.h"

namespace korvid {

struct TAnalysisCaches;
class TParallel;

class TLineList {
 public:
  // The parse worker count is a parameter only so it can be measured; -1: the default.
  explicit TLineList(int parseThreads = -1);
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
  // False for the lines RemoveLine refuses: the system labels.
  bool CanRemove(int index) const;
  // The labels the compiler's system code needs whatever refers to them.
  static bool IsSystemLabel(std::string_view name);
  // An empty line without object at index; the caller then sets it. The line
  // counts as the line of analysis index `analysisIndex` for the line filter
  // and the change log: the line it was put in for.
  void InsertLine(int index, std::int32_t analysisIndex = 0);
  // InsertLine for many lines in one pass over the list: `at` holds, in
  // ascending order, the index each empty line goes before (in the list as it
  // is now) and its analysis index. Lines that go before the same line stand
  // in the order given.
  void InsertLines(const std::vector<std::pair<int, std::int32_t>>& at);
  // Deletes every removed line at once (the driver's tidy step).
  void DeleteRemovedLines();

  void ReportAbort(int index, const std::string& message);
  std::int32_t BytesSaved() const { return OriginalSize - CodeSize; }

  int NextCodeLine(int index, bool passLabels, bool stopAtFrame, bool stopAtLoop, bool stopAtBlock) const;
  int PrevCodeLine(int index, bool passLineMarks, bool passLabels) const;
  // The nearest line before index that occupies memory; -1 when none.
  int PreviousSizedLine(int index) const;
  // The same instruction as written: type, mnemonic and operands.
  bool SameInstruction(int i, int j) const;
  // Whether a pass may change line index: the line filter (set by the special
  // debug mode or the bisection) decides by the line's analysis-time index.
  bool MayChange(int index) const;
  void ResetAllMarks();
  void ClearCallMarks();

  // Starts the parallel parse of every line; the analysis consumes the lines in order.
  void StartParse();
  void FinishParse();

  TASMLabelList Labels;
  // Labels named by the entry directives, used as data.
  TASMLabelList DataLabels;
  tVarList Vars;
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
  TFunctionList Functions;
  std::int32_t DataBytes = 0;
  std::uint8_t PcMode = 2;
  // The line types of the program as loaded: what the compiler wrote shows
  // what the device offers (analysis/Encoding.h), whatever passes change later.
  std::bitset<lt::Count> LoadedTypes;
  std::string ScopePrefix = "%";
  // Numbers the labels the passes make ("_CSE0000", ...); shared by the passes that make them.
  std::int32_t CSECounter = 0;
  // The compiler's error file, where warnings and the first abort message go.
  TErrorFile Errors;
  std::string FileName;
  // Bumped by every edit, so search marks made before an edit can be told apart.
  std::uint64_t Generation = 0;
  // What the analysis keeps between questions (see analysis/AnalysisCaches.h).
  mutable std::shared_ptr<TAnalysisCaches> AnalysisCaches;
  // What the run was asked to do and how far it has got.
  TRun Run;
  // Who is changing the program, and what each rule has done.
  TPassContext Pass;

 private:
  struct TEntry {
    std::string Text;
    std::unique_ptr<TLine> Object;
    bool CrLf = false;
    std::int32_t InsertedFor = 0;
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
  std::unique_ptr<TParallel> Parallel;
  bool FinalBreak = true;
  bool CrLfDominant = false;
};

// The layout of a generated line: label in 24 columns, mnemonic in 10, operands.
std::string FormatLine(std::string_view labelName, std::string_view mnemonic, std::string_view operands);

}  // namespace korvid
