// A program loaded from text whose lines get the facts the line analysis will
// set, written as a comment on each line: "w:R16 r:R17 m:R28 p:R16 o:R16"
// (write, read, modify, push, pop), flags by letter ("w:Z"), memory by "@name".
// Sizes, operands, pointer fields and values follow from the instruction.
#pragma once
#include <sstream>
#include <string>

#include "analysis/FunctionTracker.h"
#include "source/Functions.h"
#include "source/Variables.h"
#include "source/Classifier.h"
#include "source/Expressions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid::testing {

class TRoutineProgram {
 public:
  explicit TRoutineProgram(const std::string& text) {
    for (int r = 0; r < 32; ++r)
      Reg[r] = Vars.AddVar("R" + std::to_string(r), true, 1, vk::Data, volatility::Default, r, r);
    const char* flags = "CZNVSHTI";
    for (int f = 0; f < 8; ++f)
      Flag[f] = Vars.AddVar(std::string("Flag ") + flags[f], true, 1, vk::Flag, volatility::Default, f, f);
    Lines.LoadFromText(text);
    for (int i = 0; i < Lines.Count(); ++i) Describe(*Lines.Line(i));
  }

  // The routine table as the analysis builds it from the described lines.
  void Track() {
    Lines.Functions.Clear();
    TFunctionTracker tracker(Lines);
    for (int i = 0; i < Lines.Count(); ++i) {
      tracker.AfterLine(i);
      if (Lines.Line(i)->LineType == lt::RETURNS) tracker.SetReturns(*Lines.Line(i));
    }
    tracker.Finish();
  }

  TFunction& Func(const std::string& name) { return *Lines.Functions.FindByName(name); }

  TLineList Lines;
  tVarList Vars;
  TVar* Reg[32] = {};
  TVar* Flag[8] = {};

 private:
  TVar* Named(std::string_view name) {
    static constexpr std::string_view kFlags = "CZNVSHTI";
    if (name.size() == 1 && kFlags.find(name[0]) != std::string_view::npos) return Flag[kFlags.find(name[0])];
    if (name.front() == '@') {
      std::string memory(name.substr(1));
      if (TVar* var = Vars.Find(memory)) return var;
      return Vars.AddVar(memory, true, 1, vk::Data, volatility::Default, -1, -1);
    }
    return Reg[std::stoi(std::string(name.substr(1)))];
  }

  void Describe(TLine& line) {
    std::size_t comma = line.Operands.find(',');
    line.Op1 = std::string(Trim(std::string_view(line.Operands).substr(0, comma)));
    line.Op2 = comma == std::string::npos ? "" : std::string(Trim(std::string_view(line.Operands).substr(comma + 1)));
    const TLineType type = line.LineType;
    if (IsInstructionType(type)) line.Size = type == lt::CALL || type == lt::JMP || type == lt::STS || type == lt::LDS ? 4 : 2;
    if (type == lt::SBIW || type == lt::FRAME || type == lt::RETURNS) {
      TValue value = Evaluate(type == lt::SBIW ? line.Op2 : line.Op1);
      line.Value = value.Value;
      line.ValueKnown = value.Known;
    }
    if (type == lt::STS) line.DestVar = Named("@" + line.Op1);
    if (type == lt::LD || type == lt::LDD || type == lt::ST || type == lt::STD) DescribePointer(line);
    std::istringstream words(line.Comment);
    for (std::string word; words >> word;) {
      std::size_t colon = word.find(':');
      if (colon == std::string::npos) continue;
      TUsageSet bits = 0;
      for (char kind : word.substr(0, colon))
        bits |= kind == 'w' ? uWrite : kind == 'm' ? uModify : kind == 'r' ? uRead : kind == 'p' ? uPush : uPop;
      line.Usages.Add(Named(word.substr(colon + 1)), bits);
    }
  }

  void DescribePointer(TLine& line) {
    bool store = line.LineType == lt::ST || line.LineType == lt::STD;
    std::string pointer = UpperCase(store ? line.Op1 : line.Op2);
    std::string reg = store ? line.Op2 : line.Op1;
    (store ? line.SrcVar : line.DestVar) = Reg[std::stoi(reg.substr(1))];
    std::size_t at = pointer.find_first_of("XYZ");
    line.PtrReg = pointer[at] == 'X' ? 26 : pointer[at] == 'Y' ? 28 : 30;
    line.PtrMode = pointer.front() == '-' ? 0 : pointer == std::string(1, pointer[at]) + "+" ? 1 : 2;
    line.Value = line.PtrMode == 2 && pointer.size() > at + 2 ? std::stoi(pointer.substr(at + 2)) : 0;
    line.Usages.Add(Reg[line.PtrReg], line.PtrMode == 2 ? uRead : uModify | uRead);
    line.Usages.Add(Reg[line.PtrReg + 1], line.PtrMode == 2 ? uRead : uModify | uRead);
  }
};

}  // namespace korvid::testing
