#include "diagnostics/Reports.h"

#include <algorithm>

#include "source/Functions.h"
#include "source/TextFile.h"

namespace korvid {

namespace {

constexpr int kNameColumn = 37;
constexpr int kNumberColumn = 8;

std::string Pad(int n) { return std::string(static_cast<std::size_t>(std::max(n, 0)), ' '); }
std::string Dashes(int n) { return std::string(static_cast<std::size_t>(std::max(n, 0)), '-'); }
int Length(const std::string& text) { return static_cast<int>(text.size()); }

std::string SizeAfterText(const TFunction& function) {
  return function.Removed ? "Removed" : std::to_string(function.SizeAfter);
}

void WriteTypeAndReturns(const TFunction& function, TReportLines& lines) {
  std::string type = "Function Type : Function";
  std::string returns;
  if (function.ReturnSize == kReturnInterrupt) {
    type = "Function Type : Interrupt";
    returns = "No Return registers";
  } else if (!function.ReturnKnown) {
    type = "Function Type : Not known";
    returns = "Return registers not known";
  } else if (function.ReturnSize == kReturnPointer) {
    returns = "Return registers : R22, R27, R30-31";
  } else if (function.ReturnSize == kReturnProcedure) {
    type = "Function Type : Procedure";
    returns = "No Return registers";
  } else if (function.ReturnSize == 1) {
    returns = "Return register : R17";
  } else {
    returns = "Return registers : R16-" + std::to_string(function.ReturnSize + 15);
  }
  lines.push_back(type);
  lines.push_back(returns);
}

std::string OptText(const TFuncOpt& opt) {
  std::string location = std::to_string(opt.Location);
  switch (opt.Kind) {
    case okUseRegister:
      return "  ++Use register R" + std::to_string(opt.Reg) + " instead of Parameter at location " + location;
    case okRemoveParameter:
      return "  ++Remove Parameter at location " + location;
    default:
      return "  ++Use unused register instead of Parameter at location " + location;
  }
}

// Depth-first over the callee lists with an explicit stack, so deep or cyclic
// call graphs cannot exhaust the program's own stack.
void WriteCallTree(const TFunctionList& functions, TFunction& root, TReportLines& lines) {
  struct TFrame {
    TFunction* Function;
    int Depth;
    std::vector<TFunction*> Callees;
    std::size_t Next = 0;
  };
  std::vector<TFrame> stack;
  auto enter = [&](TFunction& function, int depth) {
    std::string line = depth == 0 ? "" : Dashes(depth - 1) + ">";
    line += function.Name;
    if (function.Removed) line += " (*** Removed by Optimiser ***)";
    if (function.OnPath) {
      lines.push_back(line + " (Recursive call)");
      return;
    }
    lines.push_back(line);
    if (function.CallsIndirect) lines.push_back(Pad(depth) + "** Analysis incomplete due to use of indirect calls **");
    function.OnPath = true;
    TFrame frame{&function, depth, {}};
    for (const auto& [name, resolved] : function.Callees())
      if (TFunction* callee = functions.FindByName(name)) frame.Callees.push_back(callee);
    stack.push_back(std::move(frame));
  };
  enter(root, 0);
  while (!stack.empty()) {
    TFrame& top = stack.back();
    if (top.Next < top.Callees.size()) {
      TFunction& callee = *top.Callees[top.Next++];
      enter(callee, top.Depth + 2);
    } else {
      top.Function->OnPath = false;
      stack.pop_back();
    }
  }
}

}  // namespace

void WriteOptReport(const TFunctionList& functions, TReportLines& lines) {
  for (const TFunction* function : functions.All())
    lines.push_back(function->Name + ", " + std::to_string(function->SizeBefore) + ", " + SizeAfterText(*function));
}

void WriteCallAnalysis(TFunctionList& functions, TReportLines& lines) {
  functions.ResolveCalls();
  const std::vector<TFunction*> all = functions.All();
  lines.insert(lines.end(), {"Functions (alphabetic listing)", std::string(30, '='), "",
                             "Name" + Pad(35) + "Defined in File", Dashes(kNameColumn) + "  " + Dashes(15)});
  for (const TFunction* function : all)
    lines.push_back(function->Name + Pad(kNameColumn - Length(function->Name)) + "  " + function->SourceFile);
  lines.insert(lines.end(), {"", "Function Call Analysis", std::string(22, '=')});
  for (TFunction* function : all) {
    if (function->IsCalled) continue;
    lines.push_back("");
    WriteCallTree(functions, *function, lines);
  }
  lines.insert(lines.end(), {"", "Detailed Analysis", std::string(17, '='), ""});
  for (TFunction* function : all) {
    if (function->Removed) continue;
    WriteFunctionBlock(*function, lines);
    lines.push_back("");
  }
}

void WriteFunctionBlock(TFunction& function, TReportLines& lines) {
  lines.push_back("Name : " + function.Name);
  WriteTypeAndReturns(function, lines);
  int localBytes = function.LocalBytes == -1 ? 0 : function.LocalBytes;
  lines.push_back("Local Vars use " + std::to_string(localBytes) + " bytes");
  if (function.Incomplete) {
    lines.push_back("Full analysis not possible");
    return;
  }
  if (function.Parms) {
    WriteParameterUsage(*function.Parms, lines);
  } else {
    lines.push_back("No parameters detected");
  }
  function.BuildFuncOpts();
  if (function.Opts.empty()) return;
  lines.push_back("  Potential Future Optimisations");
  for (const TFuncOpt& opt : function.Opts) lines.push_back(OptText(opt));
}

void WriteParameterUsage(const TParmAndLocalVarList& parms, TReportLines& lines) {
  const std::int32_t first = parms.MinLocation;
  if (first == 1) {
    lines.push_back("No parameter usage detected");
    return;
  }
  lines.push_back(std::to_string(1 - first) + " parameter bytes detected");
  for (std::int32_t location = first; location <= 0; ++location) {
    std::string position = "Parameter at position " + std::to_string(location - first);
    const TParmOrLocalVar* entry = parms.Find(location);
    if (entry == nullptr) {
      lines.push_back(position + " not used");
      continue;
    }
    lines.push_back(position + ":");
    for (const TParmAssignment& assignment : entry->Assignments) {
      lines.push_back("  R" + std::to_string(assignment.Reg) + (assignment.Kind == pkStored ? " stored " : " loaded ") +
                      std::to_string(assignment.Count) + " time(s).");
    }
  }
}

void WriteSizeTable(const TFunctionList& functions, TReportLines& lines) {
  const int width = std::max(8, functions.MaxNameLen);
  const std::string rule = ";+" + Dashes(width + 2) + "+----------+----------+";
  lines.insert(lines.end(), {"", rule, ";| Function" + Pad(width - 7) + "| Before   | After    |", rule});
  for (const TFunction* function : functions.All()) {
    std::string before = std::to_string(function->SizeBefore);
    std::string after = SizeAfterText(*function);
    lines.push_back(";| " + function->Name + Pad(width - Length(function->Name)) + " | " + before +
                    Pad(kNumberColumn - Length(before)) + " | " + after + Pad(kNumberColumn - Length(after)) + " |");
  }
  lines.push_back(rule);
}

void SaveReport(const std::string& fileName, const TReportLines& lines) {
  std::string content;
  for (const std::string& line : lines) content += line + "\r\n";
  WriteFileAtomically(fileName, content);
}

}  // namespace korvid
