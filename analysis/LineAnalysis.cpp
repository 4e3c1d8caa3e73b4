#include "source/LineFacts.h"

#include <thread>

#include "analysis/FunctionTracker.h"
#include "source/Functions.h"
#include "analysis/InstructionEffects.h"
#include "analysis/MemoryModel.h"
#include "analysis/RoutineSummary.h"
#include "source/Directives.h"
#include "app/About.h"
#include "source/Classifier.h"
#include "source/Expressions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr int kProgressStride = 1024;
constexpr std::int64_t kFirstSupportedCompiler = 0x190;

// U+00BF in the compiler's code page, and in UTF-8: marks an immediate that must stay as written.
constexpr std::string_view kKeepImmediate1252 = "\xBF";
constexpr std::string_view kKeepImmediateUtf8 = "\xC2\xBF";

void CreateRegisterVariables(TLineList& lines) {
  if (lines.RegisterVar[0] != nullptr) return;
  tVarList& vars = lines.Vars;
  for (int r = 0; r < 32; ++r)
    lines.RegisterVar[r] = vars.AddVar("R" + std::to_string(r), true, 1, vk::Data, volatility::Default, r, r);
  static const std::pair<const char*, int> kPairs[] = {{"X", 26}, {"Y", 28}, {"Z", 30}};
  for (const auto& [name, number] : kPairs) {
    vars.AddVar(name, true, 2, vk::Data, volatility::Default, number, number);
    vars.AddVar(std::string(name) + "L", false, 1, vk::Data, volatility::Default, number, number);
    vars.AddVar(std::string(name) + "H", false, 1, vk::Data, volatility::Default, number + 1, number + 1);
  }
  vars.AddVar("_ACCA", false, 1, vk::Data, volatility::Default, 17, 17);
  static const char* kFlags[] = {"Flag C", "Flag Z", "Flag N", "Flag V", "Flag S", "Flag H", "Flag T", "Flag I"};
  for (int bit = 0; bit < 8; ++bit)
    lines.FlagVar[bit] = vars.AddVar(kFlags[bit], true, 1, vk::Flag, volatility::Default, bit, bit);
  // I/O locations that instructions use without naming them.
  static const std::pair<const char*, int> kIo[] = {{"SPL", 0x3D}, {"SPH", 0x3E}, {"SREG", 0x3F}};
  for (const auto& [name, address] : kIo) vars.AddVar(name, true, 1, vk::PData, volatility::Volatile, address, address);
}

// The line's own label and its split operands.
void SplitLineOperands(TLine& line) {
  std::string first, second;
  SplitOperands(line.Operands, first, second);
  line.Op1 = std::move(first);
  line.Op2 = std::move(second);
}

// The next line with code, among lines already analysed.
int NextSizedLine(const TLineList& lines, int index) {
  for (int i = index + 1; i < lines.AnalysedCount && i < lines.Count(); ++i) {
    const TLine* line = lines.Line(i);
    if (line == nullptr) return -1;
    if (line->Size > 0) return i;
  }
  return -1;
}

void AnalyseLdi(TLineList& lines, TLine& line) {
  std::string_view immediate = line.Op2;
  for (std::string_view mark : {kKeepImmediateUtf8, kKeepImmediate1252}) {
    if (immediate.starts_with(mark)) {
      line.Op2 = std::string(immediate.substr(mark.size()));
      TValue value = Evaluate(line.Op2);
      line.Value = value.Value;
      line.ValueKnown = value.Known;
      return;
    }
  }
  std::size_t end = line.Op2.find_first_of(" +-", 1);
  line.SymbolName = line.Op2.substr(0, end);
  line.SrcVar = lines.Vars.FindOrCreate(line.Op2, vk::Unknown);
  // A register's address loaded into any register may end in a pointer: through a
  // MOV, a parameter on the Y stack or the hardware stack.
  if (RegisterNumber(lines, line.Op1) >= 0) {
    TVar* named = lines.Vars.Find(line.SymbolName);
    if (named != nullptr && tVarList::IsRegister(*named)) {
      // The address of a register is taken: it may be reached through a pointer.
      AddUsage(line.Usages, named, uRead);
      int number = static_cast<int>(named->Address);
      for (TVar* reg : {named, lines.RegisterVar[number], lines.RegisterVar[number ^ 1]}) reg->AddressTaken = true;
    }
  }
  CountLabelRef(lines, line, line.Op2);
  TValue value = Evaluate(line.Op2);
  line.Value = value.Value;
  line.ValueKnown = value.Known;
}

void AnalyseDataDirective(TLineList& lines, TLine& line, std::int32_t size, bool labelOnlyWhenUnknown) {
  TValue value = Evaluate(line.Operands);
  line.Value = value.Value;
  line.ValueKnown = value.Known;
  line.Size = line.DataSize = size;
  if (!labelOnlyWhenUnknown || !value.Known) CountLabelRef(lines, line, line.Operands);
}

void AnalyseNonInstruction(TLineList& lines, int index, TLine& line) {
  switch (line.LineType) {
    case lt::ENTRY:
      if (lines.EntryLineIndex == 0) lines.EntryLineIndex = line.LineIndex != 0 ? line.LineIndex : index;
      break;
    case lt::ENTRYMAIN:
    case lt::ENTRYBOOT:
    case lt::ENTRYUNIT:
      if (line.Op1 != "$") {
        CountLabelRef(lines, line, line.Op1);
        lines.DataLabels.FindOrAdd(line.Op1);
      }
      break;
    case lt::RETURNS:
    case lt::FRAME: {
      TValue value = Evaluate(line.Op1);
      line.Value = value.Value;
      line.ValueKnown = value.Known;
      line.DestVar = lines.Vars.AddVar(line.Op1, false, 0, vk::AsmConstant, volatility::Default, value.Value,
                                       value.Value);
      break;
    }
    case lt::BRANCH: {
      TValue value = Evaluate(line.Op1);
      line.Value = value.Value;
      line.ValueKnown = value.Known;
      break;
    }
    case lt::ORG:
    case lt::PHASE:
    case lt::DEPHASE:
      line.FlowKind = fkBlockMarker;
      break;
    case lt::BYTE:
      AnalyseDataDirective(lines, line, 1, true);
      break;
    case lt::WORD:
      AnalyseDataDirective(lines, line, 2, true);
      break;
    case lt::WORDD:
      AnalyseDataDirective(lines, line, 4, true);
      break;
    case lt::ADDR:
      AnalyseDataDirective(lines, line, lines.PcMode == 2 ? 3 : 2, false);
      break;
    case lt::ADDR32:
      AnalyseDataDirective(lines, line, 4, false);
      break;
    case lt::ASCII:
      line.Size = line.DataSize = std::max<std::int32_t>(0, static_cast<std::int32_t>(line.Operands.size()) - 2);
      break;
    default:
      break;
  }
}

// A RET reads what its routine hands back; one outside any routine, or of a
// routine whose return size is unknown, may hand back any register.
void AddReturnUsages(TLineList& lines, TLine& line, const TFunction* routine) {
  TRegisterSet returned;
  if (routine == nullptr) {
    returned.set();
  } else {
    returned = ReturnRegisters(*routine);
  }
  for (int r = 0; r < 32; ++r)
    if (returned[r]) AddUsage(line.Usages, lines.RegisterVar[r], uRead);
  line.RetHasValue = returned.any();
}

// Where the walk stands towards the vector rows at the program's first address.
enum class TVectorRows { BeforeFirstCode, InRows, Over };

// What the walk over all lines remembers between lines.
struct TWalkState {
  int PendingDollar = -1;
  bool InVectorTable = false;
  TVectorRows VectorRows = TVectorRows::BeforeFirstCode;
  int MarkerIndex = 0;
  std::string SourceFile;
  std::string SourceLine;
  bool XLine = false;
  // Inside ".ASM" code the routine's return registers are not checked.
  bool NoReturnCheck = false;
};

// Replaces "%." by the scope prefix set by the last ".UNIT" line.
// Returns true when the line was rewritten (and so analysed).
bool ApplyScopePrefix(TLineList& lines, int index) {
  if (lines.ScopePrefix == "%") return false;
  TLine& line = *lines.Line(index);
  std::string operands = line.Operands;
  for (std::size_t at = operands.find("%."); at != std::string::npos; at = operands.find("%.", at))
    operands.replace(at, 1, lines.ScopePrefix), at += lines.ScopePrefix.size() + 1;
  if (operands == line.Operands) return false;
  lines.SetLine(index, line.LineType, line.LabelName, line.Mnemonic, operands, line.Func);
  return true;
}

int SourceLineNumber(const TWalkState& state, int index) { return DecimalOr(state.SourceLine, index + 1); }

std::string_view WithoutLastChar(std::string_view text) {
  return text.empty() ? text : text.substr(0, text.size() - 1);
}

void AnalyseHeaderValue(TLineList& lines, int index, TWalkState& state) {
  TLine& line = *lines.Line(index);
  lines.Vars.Declare(line.LabelName, true, line.Comment, line.Op1);
  if (EqualsNoCase(line.LabelName, "_iDataStart")) {
    lines.Vars.IDataStart = HexToInt64(WithoutLastChar(line.Op1)).value_or(0);
  } else if (EqualsNoCase(line.LabelName, "OPTIMISERREV") || EqualsNoCase(line.LabelName, "OPTIMISERBUILD")) {
    const TVersionInfo& version = ProgramVersion();
    const std::string& stamp = EqualsNoCase(line.LabelName, "OPTIMISERREV") ? version.RevisionText : version.BuildText;
    std::string operands = stamp + "         ; " + line.Comment;
    lines.SetLine(index, line.LineType, line.LabelName, line.Mnemonic, operands, line.Func);
  } else if (EqualsNoCase(line.LabelName, "COMPILERREV")) {
    if (HexToInt64(WithoutLastChar(line.Op1)).value_or(kFirstSupportedCompiler) < kFirstSupportedCompiler) {
      lines.Errors.WriteError("Compiler not supported for this version of Korvid Optimiser", state.SourceFile,
                              SourceLineNumber(state, index), 1);
      lines.CompilerUnsupported = true;
    }
  }
}

void ActOnReturn(TLineList& lines, TLine& line, TWalkState& state, TFunctionTracker& routines) {
  AddReturnUsages(lines, line, routines.Current());
  if (routines.Current() == nullptr || state.NoReturnCheck || lines.Run.Directives[TDirective::NO_CHECK_RETURN_REGS])
    routines.StopFrameWatch();
  line.Value = routines.FrameWatchOn() ? -1 : 0;
  lines.Run.Directives.Set(TDirective::NO_CHECK_RETURN_REGS, false);
}

void ActOnLineType(TLineList& lines, int index, TWalkState& state, TFunctionTracker& routines) {
  TLine& line = *lines.Line(index);
  // "$" names the next label, whether on a line of its own or before an instruction.
  if (line.IsJoin() && state.PendingDollar >= 0) {
    TLine& pending = *lines.Line(state.PendingDollar);
    pending.Op1 = line.LabelName;
    CountLabelRef(lines, pending, line.LabelName);
    state.PendingDollar = -1;
  }
  switch (line.LineType) {
    case lt::RET:
      ActOnReturn(lines, line, state, routines);
      break;
    case lt::RETURNS:
      if (!lines.Run.Directives[TDirective::NO_CHECK_RETURN_REGS]) routines.SetReturns(line);
      break;
    case lt::FUNC:
      state.NoReturnCheck = false;
      break;
    case lt::ASM:
      state.NoReturnCheck = true;
      break;
    case lt::OPTI:
      ApplyDirective(lines, state.SourceFile, SourceLineNumber(state, index), line, routines.Current(), line.Operands);
      break;
    case lt::IJMP:
    case lt::EIJMP:
      lines.IndirectFlags |= lines.EntryLineIndex != 0 ? 8 : 2;
      break;
    case lt::ICALL:
    case lt::EICALL:
      lines.IndirectFlags |= lines.EntryLineIndex != 0 ? 4 : 1;
      break;
    case lt::ENTRYMAIN:
    case lt::ENTRYBOOT:
    case lt::ENTRYUNIT:
      if (line.Op1 == "$") state.PendingDollar = index;
      break;
    case lt::VECTTAB:
    case lt::VECTTAB_B:
      state.InVectorTable = true;
      break;
    case lt::VECTTABE:
    case lt::VECTTABE_B:
      state.InVectorTable = false;
      break;
    case lt::XDATASTART:
      lines.Vars.IDataStart = Evaluate(line.Operands).Value;
      break;
    case lt::UNIT:
      lines.ScopePrefix = line.Operands;
      break;
    case lt::OPTI_QUICK:
      lines.Run.QuickOpt = true;
      break;
    case lt::STARTCODE:
      lines.Vars.StartCodeSeen = true;
      break;
    case lt::LINE:
    case lt::XLINE:
      state.SourceLine = line.Operands;
      state.XLine = line.LineType == lt::XLINE;
      break;
    case lt::FILE:
      if (lines.Vars.VolatileDefault != volatility::Default) {
        lines.Errors.WriteWarning("Volatile block not terminated with VOLATILE_DFT", state.SourceFile, index + 1, 1);
        lines.Vars.VolatileDefault = volatility::Default;
      }
      state.SourceFile = line.Operands;
      state.SourceLine = "1";
      break;
    case lt::DEB:
      state.MarkerIndex = index;
      break;
    case lt::EQU:
      AnalyseHeaderValue(lines, index, state);
      break;
    case lt::LARGE:
      lines.PcMode = 2;
      break;
    case lt::MEDIUM:
      lines.PcMode = 1;
      break;
    case lt::SMALL:
      lines.PcMode = 0;
      break;
    default:
      break;
  }
}

bool IsVectorRowType(TLineType t) { return t == lt::JMP || t == lt::RJMP || t == lt::RETI || t == lt::NOP; }

// A program whose first instruction stands outside every routine begins with
// its vector table, marked or not: the jumps from there up to the next label
// or other line of code are rows of a fixed size that interrupts land on.
bool IsUnmarkedVectorRow(const TLine& line, TWalkState& state) {
  if (state.VectorRows == TVectorRows::Over) return false;
  const bool rowsStarted = state.VectorRows == TVectorRows::InRows;
  if (rowsStarted && (line.IsJoin() || line.LineType == lt::FUNC || line.Func != nullptr)) {
    state.VectorRows = TVectorRows::Over;
    return false;
  }
  if (line.Size == 0) return false;
  if (!IsVectorRowType(line.LineType) || line.Func != nullptr || line.InMarkedRegion) {
    state.VectorRows = TVectorRows::Over;
    return false;
  }
  state.VectorRows = TVectorRows::InRows;
  return true;
}

}  // namespace

void AnalyseAll(TLineList& lines) {
  lines.Run.StatusText = "Analysing...";
  lines.Run.DisplayChanged = true;
  lines.ScopePrefix = "%";
  lines.Run.ProcessMessages();
  CreateRegisterVariables(lines);
  lines.AnalysedCount = 0;
  lines.LoadedTypes.reset();
  TWalkState state;
  lines.StartParse();
  TFunctionTracker routines(lines);
  for (int i = 0; i < lines.Count(); ++i) {
    while (!lines.IsParsed(i)) {
      if (lines.Run.Aborted) {
        lines.FinishParse();
        return;
      }
      std::this_thread::yield();
    }
    if (!ApplyScopePrefix(lines, i)) AnalyseLine(lines, i);
    lines.AnalysedCount = i + 1;
    TLine& line = *lines.Line(i);
    lines.LoadedTypes.set(line.LineType);
    lines.Run.ProgressIndex = i;
    line.LineIndex = i;
    if (!line.LabelName.empty()) lines.Labels.Define(line.LabelName).LineIndex = i;
    line.SrcLineNo = state.SourceLine;
    line.SrcFile = state.SourceFile;
    line.XLine = state.XLine;
    if (line.Size > 0) {
      line.PrecedingMarker = state.MarkerIndex;
      state.MarkerIndex = 0;
    }
    routines.AfterLine(i);
    ActOnLineType(lines, i, state, routines);
    // After the line's own effect: ".VECTTAB" stands inside its region, ".VECTTABE" after it.
    line.InMarkedRegion = state.InVectorTable;
    if (IsUnmarkedVectorRow(line, state)) line.InMarkedRegion = true;
    if (i % kProgressStride == 0) {
      lines.Run.DisplayChanged = true;
      lines.Run.ProcessMessages();
    }
  }
  routines.Finish();
  lines.FinishParse();
  MarkAddressesTaken(lines);
  for (int r = 0; r < 32; ++r) lines.RegisterUnreferenced[r] = tVarList::IsUnreferenced(*lines.RegisterVar[r]);
  lines.ScopePrefix = "%";
}

void AnalyseLine(TLineList& lines, int index) {
  TLine& line = *lines.Line(index);
  line.PtrMode = 2;
  line.PtrReg = -1;
  line.DefinesDest = false;
  SplitLineOperands(line);
  if (!line.LabelName.empty()) {
    TASMLabel& label = lines.Labels.Define(line.LabelName);
    if (line.LineIndex > 0) label.LineIndex = line.LineIndex;
  }
  int previous = lines.PreviousSizedLine(index);
  line.MaybeSkipped = previous >= 0 && lines.Line(previous)->IsSkip();

  if (IsInstructionType(line.LineType) || line.LineType == lt::Unknown) {
    if (!ApplyInstructionEffect(lines, line)) ApplyUnknownEffect(lines, line);
    if (line.LineType == lt::LDI) AnalyseLdi(lines, line);
  } else {
    AnalyseNonInstruction(lines, index, line);
  }

  // A line analysed again after loading; the first time, the sweep at the end
  // of the analysis notes the addresses, once every name is declared.
  if (index < lines.AnalysedCount) {
    MarkAddressesTaken(lines, line);
    // Its routine decides what a RET hands back.
    if (line.LineType == lt::RET) AddReturnUsages(lines, line, line.Func);
  }
  if (line.IsSkip()) {
    int next = NextSizedLine(lines, index);
    if (next >= 0) lines.Line(next)->MaybeSkipped = true;
  }
  tVarList::AddRef(line.DestVar);
  tVarList::AddRef(line.SrcVar);
  if (line.PtrReg >= 26) {
    tVarList::AddRef(lines.RegisterVar[line.PtrReg]);
    tVarList::AddRef(lines.RegisterVar[line.PtrReg + 1]);
  }
  lines.CodeSize += line.Size;
  lines.DataBytes += line.DataSize;
}

void UnlinkLine(TLineList& lines, int index) {
  TLine& line = *lines.Line(index);
  if (line.Func != nullptr) line.Func->SubSizeAfter(line.Size);
  lines.CodeSize -= line.Size;
  lines.DataBytes -= line.DataSize;
  tVarList::ReleaseRef(line.DestVar);
  tVarList::ReleaseRef(line.SrcVar);
  if (line.PtrReg >= 26) {
    tVarList::ReleaseRef(lines.RegisterVar[line.PtrReg]);
    tVarList::ReleaseRef(lines.RegisterVar[line.PtrReg + 1]);
  }
  for (const std::string& operand : line.LabelRefs) lines.Labels.ReleaseRef(operand);
  line.LabelRefs.clear();
  // The label keeps its references from other lines; it just no longer stands here.
  if (!line.LabelName.empty()) {
    TASMLabel& label = lines.Labels.FindOrAdd(line.LabelName);
    if (label.LineIndex == line.LineIndex) label.LineIndex = -1;
  }
  if (IsEntryDirective(line.LineType) && line.Op1 != "$") lines.DataLabels.Remove(line.Op1);
}

}  // namespace korvid
