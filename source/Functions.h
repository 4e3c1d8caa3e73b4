// The routine table: one record per routine of the program (".FUNC" to
// ".ENDFUNC") with its sizes, return registers, callees and the frame
// locations it stores and loads. It feeds the passes and the reports.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source/Labels.h"

namespace korvid {

struct TLine;

// ReturnSize codes besides the byte counts.
inline constexpr std::int32_t kReturnInterrupt = -1;
inline constexpr std::int32_t kReturnProcedure = 0;
inline constexpr std::int32_t kReturnPointer = -35;

// TParmAssignment::Kind
inline constexpr std::uint8_t pkStored = 0, pkLoaded = 1;
// TFuncOpt::Kind
inline constexpr std::uint8_t okUseRegister = 0, okRemoveParameter = 1, okUseUnusedRegister = 2;

struct TParmAssignment {
  std::uint8_t Kind = pkStored;
  std::int32_t Reg = 0;
  std::int32_t Count = 1;
  std::int32_t Line = 0;
};

struct TParmOrLocalVar {
  std::int32_t Location = 0;
  std::vector<TParmAssignment> Assignments;
};

// Frame locations in the order they were first touched.
struct TParmAndLocalVarList {
  std::int32_t MinLocation = 1;
  std::vector<TParmOrLocalVar> Items;

  const TParmOrLocalVar* Find(std::int32_t location) const;
  TParmOrLocalVar* Find(std::int32_t location);
  // Position of the location in first-touch order, or -1.
  int IndexOf(std::int32_t location) const;
};

struct TFuncOpt {
  std::uint8_t Kind = okUseRegister;
  std::int32_t Reg = -1;
  std::int32_t Location = 0;
  std::int32_t Line = -1;
};

using TFuncOpts = std::vector<TFuncOpt>;

class TFunction {
 public:
  TFunction(std::string name, std::string sourceFile, std::int32_t startLine);

  void AddLine(TLine& line, int index);
  void AddCallee(std::string_view operandText);
  void SetFrameDepth(std::int64_t n);
  void SetLocalBytes(std::int64_t n);
  void Push(std::int64_t n);
  void Pop(std::int64_t n);
  void ForgetFrame() { FrameKnown = false; }
  void RecordStore(std::int32_t displacement, std::int32_t reg, std::int32_t line);
  void RecordLoad(std::int32_t displacement, std::int32_t reg, std::int32_t line);
  void BuildFuncOpts();
  std::string SystemEntryName() const;
  void SetExitKind(std::uint8_t lineType) { ExitKind = lineType; }
  void AddSizeAfter(std::int32_t n) { SizeAfter += n; }
  void SubSizeAfter(std::int32_t n) { SizeAfter -= n; }
  // The ".RETURNS" directive: its value, or the pointer return for "Z"; an
  // operand that cannot be evaluated leaves the return registers unknown.
  void SetReturns(std::string_view op1, std::int64_t value, bool valueKnown);

  // Callee names, sorted without regard to case; true once resolved.
  const std::map<std::string, bool, TNoCaseLess>& Callees() const { return CalleeList; }
  bool CallsName(std::string_view name) const { return CalleeList.contains(name); }

  std::int32_t ReturnCount = 0;
  std::int32_t ReturnSize = kReturnProcedure;
  bool ReturnKnown = false;
  std::int32_t StartLine = 0;
  std::int32_t InstrCount = 0;
  std::int32_t SizeBefore = 0;
  std::int32_t SizeAfter = 0;
  std::string EntryLabel;
  // -1 while no ".ENDFUNC" closed the routine.
  std::int32_t EndLine = -1;
  bool RegsDirective = false;
  std::int32_t ExitLine = -1;
  std::optional<TParmAndLocalVarList> Parms;
  std::int32_t FrameDepth = 0;
  std::int32_t LocalBytes = -1;
  std::int32_t MaxFrameDepth = 0;
  bool Incomplete = false;
  TFuncOpts Opts;
  std::string Name;
  bool CallsIndirect = false;
  std::string SourceFile;
  bool IsCalled = false;
  bool OnPath = false;
  bool Removed = false;
  bool FrameKnown = true;
  std::uint8_t ExitKind = 0;

 private:
  friend class TFunctionList;
  void Record(std::uint8_t kind, std::int32_t displacement, std::int32_t reg, std::int32_t line);
  void AccountFrameAccess(const TLine& line, int index);
  static constexpr std::int64_t kDataSpaceBytes = 0x10000;
  static bool FitsDataSpace(std::int64_t bytes);
  void MoveFrame(std::int64_t depth);

  std::map<std::string, bool, TNoCaseLess> CalleeList;
};

class TFunctionList {
 public:
  // A name already in the table (or an empty one) gets a record that is not
  // listed: its lines are accounted to it, but no lookup or report finds it.
  TFunction& AddFunction(std::string_view name, std::string_view sourceFile, std::int32_t line);
  TFunction* FindByName(std::string_view name) const;
  TFunction* FindByEntryLabel(std::string_view label) const;
  void ResolveCalls();
  // owner, when known, is the record the removed header started: a second
  // routine of the same name is marked alone, as the name lives on.
  void MarkRemoved(std::string_view name, TFunction* owner = nullptr);
  // A missing or unreadable file leaves the companion lines empty.
  void LoadCompanionFile(const std::string& path);
  // Writes the companion lines back, atomically, when a line was deleted.
  // Call once at the end of a run whose program was written; returns whether
  // a file was written. An empty fileName means CompanionFileName.
  bool SaveCompanionFile(const std::string& fileName = "");
  // True when AddFunction would not list the name.
  bool IsListed(const TFunction& function) const { return FindByName(function.Name) == &function; }

  // The listed routines in table order.
  std::vector<TFunction*> All() const;
  std::size_t Count() const { return Table.size(); }
  void Clear();

  std::int32_t MaxNameLen = 8;
  std::vector<std::string> CompanionLines;
  std::string CompanionFileName;
  bool CompanionModified = false;
  bool AnyIndirectCall = false;

 private:
  std::map<std::string, std::unique_ptr<TFunction>, TNoCaseLess> Table;
  std::vector<std::unique_ptr<TFunction>> Unlisted;
  // Line breaks of the companion file, kept so the rewrite changes nothing else.
  bool CompanionCrLf = false;
  bool CompanionFinalBreak = true;
};

// The routine name of a ".FUNC" operand text: the part before the first comma, trimmed.
std::string FunctionHeaderName(std::string_view operands);

}  // namespace korvid
