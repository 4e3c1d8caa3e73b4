// One line of the program with everything known about it. The textual fields
// come from the classifier; the analysis fields are filled by the line analysis.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "source/VarUsage.h"
#include "source/LineTypes.h"

namespace korvid {

struct TVar;
class TFunction;

// FlowKind bits.
inline constexpr std::uint16_t fkConditional = 1;
inline constexpr std::uint16_t fkUnconditional = 2;
inline constexpr std::uint16_t fkBlockMarker = 4;
inline constexpr std::uint16_t fkCall = 8;
inline constexpr std::uint16_t fkSkip = 16;
inline constexpr std::uint16_t fkSetsFlags = 32;
inline constexpr std::uint16_t fkReadsFlag = 64;

struct TLine {
  std::int32_t Size = 0;
  std::string Comment;
  std::int32_t DataSize = 0;
  bool Removed = false;
  std::int32_t UseCount = 0;
  bool CallMark = false;
  std::string LabelName;
  std::uint16_t FlowKind = 0;
  TLineType LineType = lt::Unknown;
  bool BranchMark = false;
  bool XLine = false;
  std::string Mnemonic;
  std::int32_t LineIndex = 0;
  std::string SrcLineNo;
  std::string Operands;
  std::string Op1, Op2;
  std::string SymbolName;
  std::int64_t Value = -1;
  bool ValueKnown = false;
  TVar* SrcVar = nullptr;
  TVar* DestVar = nullptr;
  TVarUsageList Usages;
  std::int32_t PtrMode = 2;
  std::int32_t PtrReg = -1;
  std::int32_t LinkedLine = 0;
  std::string SrcFile;
  // Set last by the parser; the analysis reads the line only after it.
  std::atomic<bool> Parsed = false;
  bool MaybeSkipped = false;
  bool InMarkedRegion = false;
  bool DefinesDest = false;
  bool WordOp = false;
  bool IsStore = false;
  bool RetHasValue = false;
  std::int32_t PrecedingMarker = 0;
  TFunction* Func = nullptr;
  // Data and program memory the instruction touches besides named variables.
  std::uint8_t Memory = 0;
  // Acts outside registers and memory (sleep, watchdog, flash): never removed.
  bool SideEffect = false;
  // Not an instruction the analysis knows: it reads and writes everything.
  bool UnknownEffect = false;
  // Operands whose label references this line counted, withdrawn when it changes.
  std::vector<std::string> LabelRefs;

  bool IsCode() const { return Size > 0; }
  bool IsLabelLine() const { return LineType == lt::Label; }
  bool IsJump() const { return LineType == lt::RJMP || LineType == lt::JMP; }
  bool InUse() const { return UseCount != 0; }
  bool IsUnconditionalTransfer() const { return FlowKind & fkUnconditional; }
  bool IsSkip() const { return FlowKind & fkSkip; }
  bool IsTransfer() const { return FlowKind & (fkConditional | fkUnconditional | fkBlockMarker | fkCall); }
  bool IsParsed() const { return Parsed.load(std::memory_order_acquire); }
  // An instruction written after its label on the same line; one the analysis
  // does not know (SLEEP, BSET...) is code all the same.
  bool IsLabelledCode() const {
    return !LabelName.empty() && (IsInstructionType(LineType) || LineType == lt::Unknown);
  }
  // A label line or labelled code: other paths join here, before the line's own instruction.
  bool IsJoin() const { return IsLabelLine() || IsLabelledCode(); }
  // The operand naming a transfer's target: BRBS and BRBC give the bit first.
  const std::string& TargetOperand() const { return LineType == lt::BRBS || LineType == lt::BRBC ? Op2 : Op1; }
};

}  // namespace korvid
