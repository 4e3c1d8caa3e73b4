#include "verify/Instructions.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <vector>

#include "verify/Text.h"

namespace korvid::verify {
namespace {

using F = OperandForm;

const std::map<std::string, InstructionInfo>& Table() {
  static const std::map<std::string, InstructionInfo> table = [] {
    std::map<std::string, InstructionInfo> t;
    auto add = [&t](F form, int size, std::initializer_list<const char*> names) {
      for (const char* n : names) t[n] = InstructionInfo{n, form, size};
    };
    add(F::RegReg, 2, {"ADD", "ADC", "SUB", "SBC", "AND", "OR", "EOR", "CP", "CPC", "CPSE", "MOV", "MUL", "MULS",
                       "MULSU", "FMUL", "FMULS", "FMULSU"});
    add(F::PairPair, 2, {"MOVW"});
    add(F::RegImm, 2, {"SUBI", "SBCI", "ANDI", "ORI", "SBR", "CBR", "CPI", "LDI"});
    add(F::PairImm, 2, {"ADIW", "SBIW"});
    add(F::Reg, 2, {"COM", "NEG", "INC", "DEC", "LSR", "LSL", "ROR", "ROL", "ASR", "CLR", "SER", "TST", "SWAP",
                    "PUSH", "POP"});
    add(F::RegBit, 2, {"SBRC", "SBRS", "BST", "BLD"});
    add(F::IoBit, 2, {"SBIC", "SBIS", "SBI", "CBI"});
    add(F::RegIo, 2, {"IN"});
    add(F::IoReg, 2, {"OUT"});
    add(F::RegData, 4, {"LDS"});
    add(F::DataReg, 4, {"STS"});
    add(F::RegPtr, 2, {"LD", "LDD"});
    add(F::PtrReg, 2, {"ST", "STD"});
    add(F::ProgMem, 2, {"LPM", "ELPM"});
    add(F::Target, 2, {"RJMP", "RCALL", "BREQ", "BRNE", "BRCS", "BRCC", "BRSH", "BRLO", "BRMI", "BRPL", "BRGE",
                       "BRLT", "BRHS", "BRHC", "BRTS", "BRTC", "BRVS", "BRVC", "BRIE", "BRID"});
    add(F::Target, 4, {"JMP", "CALL"});
    add(F::BitTarget, 2, {"BRBS", "BRBC"});
    add(F::Bit, 2, {"BSET", "BCLR"});
    add(F::None, 2, {"RET", "RETI", "IJMP", "EIJMP", "ICALL", "EICALL", "NOP", "SLEEP", "WDR", "BREAK", "SEC",
                     "CLC", "SEN", "CLN", "SEZ", "CLZ", "SEI", "CLI", "SES", "CLS", "SEV", "CLV", "SET", "CLT",
                     "SEH", "CLH", "SPM"});
    add(F::PtrOnlyReg, 2, {"XCH", "LAC", "LAS", "LAT"});
    add(F::Imm, 2, {"DES"});
    return t;
  }();
  return table;
}

std::vector<std::string> Operands(const std::string& text, size_t count, const std::string& mnemonic) {
  std::vector<std::string> ops = SplitCommas(text);
  if (ops.size() != count)
    throw LoweringError(mnemonic + " needs " + std::to_string(count) + " operand" + (count == 1 ? "" : "s"));
  for (const std::string& op : ops)
    if (op.empty()) throw LoweringError(mnemonic + " has an empty operand");
  return ops;
}

int RegisterNumber(const std::string& op, const SymbolResolver& resolve) {
  std::string u = Upper(Trim(op));
  if (u.size() >= 2 && u[0] == 'R' && u.find_first_not_of("0123456789", 1) == std::string::npos) {
    int n = std::stoi(u.substr(1));
    if (n <= 31) return n;
  }
  static const std::map<std::string, int> named = {{"XL", 26}, {"XH", 27}, {"YL", 28}, {"YH", 29},
                                                   {"ZL", 30}, {"ZH", 31}, {"_ACCA", 17}};
  if (auto it = named.find(u); it != named.end()) return it->second;
  // A register declared by name in the program's header (an ".EQU" of 0 to 31).
  std::optional<SymValue> v;
  try {
    v = EvaluateExpression(op, resolve);
  } catch (const LoweringError&) {
  }
  if (v && v->IsConstant() && v->constant >= 0 && v->constant <= 31) return static_cast<int>(v->constant);
  throw LoweringError("\"" + op + "\" is not a register");
}

int PairNumber(const std::string& op, const SymbolResolver& resolve) {
  std::string u = Upper(Trim(op));
  if (u == "X") return 26;
  if (u == "Y") return 28;
  if (u == "Z") return 30;
  return RegisterNumber(op, resolve);
}

std::string Reg(const std::string& op, const SymbolResolver& resolve) {
  return "r" + std::to_string(RegisterNumber(op, resolve));
}

std::string Pair(const std::string& op, const SymbolResolver& resolve) {
  return "r" + std::to_string(PairNumber(op, resolve));
}

std::string LabelText(const SymValue& v) {
  std::string s = MangleLabel(v.label);
  // Code offsets in the dialect count words; avr-as counts bytes.
  if (v.constant != 0) s += (v.constant > 0 ? "+" : "-") + std::to_string(2 * std::llabs(v.constant));
  return s;
}

std::string Immediate(const std::string& op, const SymbolResolver& resolve) {
  SymValue v = EvaluateExpression(op, resolve);
  if (v.IsConstant()) {
    long long c = v.constant;
    if (c < 0 && c >= -256) c &= 0xFF;
    return std::to_string(c);
  }
  switch (v.part) {
    case SymValue::Part::Low: return "pm_lo8(" + LabelText(v) + ")";
    case SymValue::Part::High: return "pm_hi8(" + LabelText(v) + ")";
    case SymValue::Part::Highest: return "pm_hh8(" + LabelText(v) + ")";
    case SymValue::Part::Whole: break;
  }
  throw LoweringError("a code label does not fit in one byte: \"" + op + "\"");
}

std::string Number(const std::string& op, const SymbolResolver& resolve) {
  return std::to_string(EvaluateConstant(op, resolve));
}

std::string TargetText(const std::string& op, const SymbolResolver& resolve) {
  SymValue v = EvaluateExpression(op, resolve);
  if (v.IsConstant()) return std::to_string(2 * v.constant);
  if (v.part != SymValue::Part::Whole) throw LoweringError("jump to a byte of a label: \"" + op + "\"");
  return LabelText(v);
}

std::string Pointer(const std::string& op, const SymbolResolver& resolve) {
  std::string u;
  for (char c : op)
    if (!std::isspace(static_cast<unsigned char>(c))) u += c;
  std::string up = Upper(u);
  if (up == "X" || up == "Y" || up == "Z" || up == "X+" || up == "Y+" || up == "Z+" || up == "-X" || up == "-Y" ||
      up == "-Z")
    return up;
  if (up.size() > 2 && (up[0] == 'Y' || up[0] == 'Z') && up[1] == '+')
    return std::string(1, up[0]) + "+" + std::to_string(EvaluateConstant(u.substr(2), resolve));
  throw LoweringError("\"" + op + "\" is not a pointer operand");
}

}  // namespace

const InstructionInfo* FindInstruction(const std::string& mnemonic) {
  auto it = Table().find(Upper(mnemonic));
  return it == Table().end() ? nullptr : &it->second;
}

std::string MangleLabel(const std::string& name) {
  // Labels compare without regard to case; every other character is escaped so that
  // dotted runtime names and names like "X" cannot clash with avr-as words.
  std::string out = "k_";
  for (unsigned char c : Lower(name)) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "_%02x", c);
      out += buf;
    }
  }
  return out;
}

std::string LowerInstruction(const InstructionInfo& info, const std::string& text, const SymbolResolver& resolve) {
  const std::string m = info.mnemonic;
  std::string out = Lower(m);
  auto ops = [&](size_t n) { return Operands(text, n, m); };
  switch (info.form) {
    case F::None:
      if (!Trim(text).empty()) throw LoweringError(m + " takes no operands");
      return out;
    case F::Reg: return out + " " + Reg(ops(1)[0], resolve);
    case F::RegReg: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Reg(o[1], resolve); }
    case F::PairPair: { auto o = ops(2); return out + " " + Pair(o[0], resolve) + ", " + Pair(o[1], resolve); }
    case F::RegImm: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Immediate(o[1], resolve); }
    case F::PairImm: { auto o = ops(2); return out + " " + Pair(o[0], resolve) + ", " + Number(o[1], resolve); }
    case F::RegBit: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Number(o[1], resolve); }
    case F::IoBit: { auto o = ops(2); return out + " " + Number(o[0], resolve) + ", " + Number(o[1], resolve); }
    case F::RegIo: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Number(o[1], resolve); }
    case F::IoReg: { auto o = ops(2); return out + " " + Number(o[0], resolve) + ", " + Reg(o[1], resolve); }
    case F::RegData: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Number(o[1], resolve); }
    case F::DataReg: { auto o = ops(2); return out + " " + Number(o[0], resolve) + ", " + Reg(o[1], resolve); }
    case F::RegPtr: { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Pointer(o[1], resolve); }
    case F::PtrReg: { auto o = ops(2); return out + " " + Pointer(o[0], resolve) + ", " + Reg(o[1], resolve); }
    case F::ProgMem:
      if (Trim(text).empty()) return out;
      { auto o = ops(2); return out + " " + Reg(o[0], resolve) + ", " + Pointer(o[1], resolve); }
    case F::Target: return out + " " + TargetText(ops(1)[0], resolve);
    case F::BitTarget: { auto o = ops(2); return out + " " + Number(o[0], resolve) + ", " + TargetText(o[1], resolve); }
    case F::Bit: return out + " " + Number(ops(1)[0], resolve);
    case F::PtrOnlyReg: { auto o = ops(2); return out + " " + Pointer(o[0], resolve) + ", " + Reg(o[1], resolve); }
    case F::Imm: return out + " " + Number(ops(1)[0], resolve);
  }
  throw LoweringError("unhandled instruction " + m);
}

}  // namespace korvid::verify
