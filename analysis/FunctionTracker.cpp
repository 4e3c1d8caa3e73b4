#include "analysis/FunctionTracker.h"

#include "source/Functions.h"
#include "source/UsageSets.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr int kFramePointer = 28;

int SourceLineOf(const TLine& line, int index) { return DecimalOr(line.SrcLineNo, index + 1); }

}  // namespace

void TFunctionTracker::AfterLine(int index) {
  TLine& line = *Lines.Line(index);
  // A nested header starts a routine of its own; it is not a line of the open one.
  if (CurrentFunc != nullptr && line.LineType != lt::FUNC) CurrentFunc->AddLine(line, index);
  switch (line.LineType) {
    case lt::FILE:
      SourceFile = std::string(Trim(line.Operands));
      break;
    case lt::FUNC:
      StartFunction(line, index);
      break;
    case lt::ENDFUNC:
      if (CurrentFunc != nullptr) CurrentFunc->EndLine = index;
      CurrentFunc = nullptr;
      FrameWatch = false;
      break;
    case lt::ENDCODE:
      CurrentFunc = nullptr;
      FrameWatch = false;
      break;
    case lt::ICALL:
    case lt::EICALL:
      if (CurrentFunc != nullptr) {
        CurrentFunc->CallsIndirect = true;
        Lines.Functions.AnyIndirectCall = true;
      }
      break;
    case lt::RET:
      break;
    default:
      if (FrameWatch && CurrentFunc != nullptr && TouchesRegister(line, kFramePointer)) {
        FrameWatch = false;
        CurrentFunc->SetLocalBytes(0);
      }
      break;
  }
}

void TFunctionTracker::StartFunction(TLine& line, int index) {
  if (CurrentFunc != nullptr) {
    Warn("Routine " + CurrentFunc->Name + " has no .ENDFUNC before the next .FUNC", *Lines.Line(CurrentHeader),
         CurrentHeader);
  }
  std::string name = FunctionHeaderName(line.Operands);
  std::size_t comma = line.Operands.find(',');
  line.Op1 = name;
  line.Op2 = comma == std::string::npos ? "" : std::string(Trim(std::string_view(line.Operands).substr(comma + 1)));
  bool duplicate = !name.empty() && Lines.Functions.FindByName(name) != nullptr;
  CurrentFunc = &Lines.Functions.AddFunction(name, SourceFile, index);
  CurrentHeader = index;
  FrameWatch = true;
  if (name.empty()) Warn(".FUNC without a routine name", line, index);
  if (duplicate) Warn("Routine " + name + " is defined more than once", line, index);
}

void TFunctionTracker::Finish() {
  if (CurrentFunc == nullptr) return;
  Warn("Routine " + CurrentFunc->Name + " has no .ENDFUNC", *Lines.Line(CurrentHeader), CurrentHeader);
  CurrentFunc = nullptr;
  FrameWatch = false;
}

void TFunctionTracker::SetReturns(const TLine& line) {
  if (CurrentFunc != nullptr) CurrentFunc->SetReturns(line.Op1, line.Value, line.ValueKnown);
}

void TFunctionTracker::Warn(const std::string& message, const TLine& line, int index) {
  std::string file = line.SrcFile.empty() ? SourceFile : line.SrcFile;
  Lines.Errors.WriteWarning(message, file, SourceLineOf(line, index), 1);
}

}  // namespace korvid
