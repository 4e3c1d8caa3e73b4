#include "analysis/InstructionEffects.h"

#include <optional>

#include "analysis/EffectTable.h"
#include "source/Expressions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

// What an operand turned out to be, before its usage is added.
struct TResolvedOperand {
  std::optional<std::int64_t> Value;
  int Register = -1;
  TVar* Var = nullptr;
  bool Unusable = false;
};

TVar* IoVariable(TLineList& lines, std::int64_t address) {
  return lines.Vars.FindOrCreate(std::to_string(address), vk::PData);
}

// The value of an operand naming a variable is its address; otherwise the expression's value.
std::optional<std::int64_t> OperandValue(const std::string& text, TVar* var) {
  if (var != nullptr && var->Address != -1) return var->Address;
  TValue value = Evaluate(text);
  if (value.Known) return value.Value;
  return std::nullopt;
}

TResolvedOperand Resolve(TLineList& lines, TLine& line, const TOperandRole& role, const std::string& text) {
  TResolvedOperand out;
  switch (role.Kind) {
    case OperandKind::None:
      break;
    case OperandKind::Register:
    case OperandKind::RegPair:
      out.Register = RegisterNumber(lines, text);
      out.Unusable = out.Register < 0 || (role.Kind == OperandKind::RegPair && out.Register > 30);
      break;
    case OperandKind::Pointer: {
      TPointerOperand pointer = ResolvePointer(text);
      line.PtrReg = pointer.Register;
      line.PtrMode = static_cast<std::int32_t>(pointer.Mode);
      line.Value = pointer.Displacement.Value;
      line.ValueKnown = pointer.Displacement.Known;
      out.Register = pointer.Register;
      break;
    }
    case OperandKind::Io:
      out.Var = lines.Vars.FindOrCreate(text, vk::PData);
      out.Value = OperandValue(text, out.Var);
      break;
    case OperandKind::Data:
      out.Var = lines.Vars.FindOrCreate(text, vk::Unknown);
      out.Value = OperandValue(text, out.Var);
      CountLabelRef(lines, line, text);
      break;
    case OperandKind::Label:
      CountLabelRef(lines, line, text);
      break;
    case OperandKind::Constant:
    case OperandKind::Bit:
    case OperandKind::StatusBit: {
      TValue value = Evaluate(text);
      line.Value = value.Value;
      line.ValueKnown = value.Known;
      if (value.Known) out.Value = value.Value;
      break;
    }
  }
  return out;
}

void AddOperandUsage(TLineList& lines, TLine& line, const TOperandRole& role, const TResolvedOperand& operand,
                     bool first) {
  TVar* var = nullptr;
  switch (role.Kind) {
    case OperandKind::Register:
      var = lines.RegisterVar[operand.Register];
      AddUsage(line.Usages, var, role.Use);
      break;
    case OperandKind::RegPair:
      var = lines.RegisterVar[operand.Register];
      AddUsage(line.Usages, var, role.Use);
      AddUsage(line.Usages, lines.RegisterVar[operand.Register + 1], role.Use);
      break;
    case OperandKind::Pointer: {
      // Only the post-increment and pre-decrement forms change the pointer.
      TUsageSet use = (role.Use & uModify) && line.PtrMode < 2 ? (uModify | uRead) : uRead;
      AddUsage(line.Usages, lines.RegisterVar[line.PtrReg], use);
      AddUsage(line.Usages, lines.RegisterVar[line.PtrReg + 1], use);
      return;
    }
    case OperandKind::Io:
    case OperandKind::Data:
      var = operand.Var;
      if (role.Use != 0) AddUsage(line.Usages, var, role.Use);
      break;
    default:
      return;
  }
  (first ? line.DestVar : line.SrcVar) = var;
}

void AddImplicitUsages(TLineList& lines, TLine& line, const TInstrEffect& effect) {
  for (int bit = 0; bit < 8; ++bit) {
    TUsageSet use = ((effect.FlagsWritten >> bit) & 1 ? uWrite : 0) | ((effect.FlagsRead >> bit) & 1 ? uRead : 0);
    if (use != 0) AddUsage(line.Usages, lines.FlagVar[bit], use);
  }
  for (int r = 0; r < 32; ++r) {
    bool read = (effect.RegsRead >> r) & 1, written = (effect.RegsWritten >> r) & 1;
    if (read || written)
      AddUsage(line.Usages, lines.RegisterVar[r], read && written ? (uModify | uRead) : read ? uRead : uWrite);
  }
  for (int address = 0; address < 64; ++address) {
    bool read = (effect.IoRead >> address) & 1, written = (effect.IoWritten >> address) & 1;
    if (read || written)
      AddUsage(line.Usages, IoVariable(lines, address),
               read && written ? (uModify | uRead) : read ? uRead : uWrite);
  }
}

const TInstrEffect* EffectOf(const TLine& line) {
  bool hasOperands = !Trim(line.Operands).empty();
  if (line.LineType == lt::Unknown) return FindEffectByMnemonic(line.Mnemonic, hasOperands);
  return FindEffect(line.LineType, hasOperands);
}

}  // namespace

void CountLabelRef(TLineList& lines, TLine& line, const std::string& operand) {
  if (LabelSymbolOf(operand).empty()) return;
  lines.Labels.AddRef(operand);
  line.LabelRefs.push_back(operand);
}

int RegisterNumber(const TLineList& lines, const std::string& operand) {
  const TVar* var = lines.Vars.Find(Trim(operand));
  return var != nullptr && tVarList::IsRegister(*var) ? static_cast<int>(var->Address) : -1;
}

void ApplyUnknownEffect(TLineList& lines, TLine& line) {
  line.UnknownEffect = true;
  line.SymbolName = "Unknown";
  line.Size = 2;
  line.FlowKind = 0;
  line.Memory = mem::All;
  line.SideEffect = true;
  for (TVar* reg : lines.RegisterVar) AddUsage(line.Usages, reg, uModify | uRead);
  for (TVar* flag : lines.FlagVar) AddUsage(line.Usages, flag, uModify | uRead);
  for (const std::string* op : {&line.Op1, &line.Op2})
    if (!op->empty()) CountLabelRef(lines, line, *op);
}

bool ApplyInstructionEffect(TLineList& lines, TLine& line) {
  const TInstrEffect* found = EffectOf(line);
  if (found == nullptr || found->Unknown) return false;
  TResolvedOperand first = Resolve(lines, line, found->Op1, line.Op1);
  TResolvedOperand second = Resolve(lines, line, found->Op2, line.Op2);
  if (first.Unusable || second.Unusable) return false;
  TInstrEffect effect = ResolveOperands(*found, first.Value, second.Value);
  line.Size = effect.Size;
  line.FlowKind = effect.FlowKind;
  line.DefinesDest = effect.DefinesDest;
  line.WordOp = effect.WordOp;
  line.IsStore = effect.IsStore;
  line.Memory = effect.Memory;
  line.SideEffect = effect.SideEffect;
  AddOperandUsage(lines, line, effect.Op1, first, true);
  AddOperandUsage(lines, line, effect.Op2, second, false);
  AddImplicitUsages(lines, line, effect);
  return true;
}

}  // namespace korvid
