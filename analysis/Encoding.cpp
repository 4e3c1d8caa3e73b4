#include "analysis/Encoding.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "analysis/EffectTable.h"
#include "analysis/InstructionEffects.h"
#include "source/Variables.h"
#include "source/Expressions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr TLineType kMultiplies[] = {lt::MUL, lt::MULS, lt::MULSU, lt::FMUL, lt::FMULS, lt::FMULSU};
constexpr TLineType kRare[] = {lt::EIJMP, lt::EICALL, lt::ELPM, lt::SPM, lt::ESPM, lt::DES,
                               lt::BREAK, lt::LAS,    lt::LAC,  lt::LAT, lt::XCH};

bool IsOneOf(TLineType type, const auto& types) { return std::ranges::find(types, type) != std::end(types); }

bool IsByteImmediate(TLineType type) {
  static constexpr TLineType kTypes[] = {lt::LDI, lt::CPI, lt::SUBI, lt::SBCI, lt::ANDI,
                                         lt::ORI, lt::SBR, lt::CBR,  lt::ADDI};
  return IsOneOf(type, kTypes);
}

struct TRange {
  std::int64_t Low = 0;
  std::int64_t High = 0;
};

// The registers an operand of this type can name; ADIW and MOVW only the even ones.
struct TRegisters {
  int Low = 0;
  int High = 31;
  bool Even = false;
};

TRegisters RegistersOf(TLineType type) {
  if (type == lt::ADIW || type == lt::SBIW) return {24, 30, true};
  if (type == lt::MOVW) return {0, 30, true};
  if (IsByteImmediate(type) || type == lt::SER || type == lt::MULS) return {16, 31, false};
  if (type == lt::MULSU || type == lt::FMUL || type == lt::FMULS || type == lt::FMULSU) return {16, 23, false};
  return {};
}

TRange ConstantRange(TLineType type) {
  if (type == lt::ADIW || type == lt::SBIW) return {0, 63};
  if (type == lt::DES) return {0, 15};
  // Assembles as SUBI with the negated constant.
  if (type == lt::ADDI) return {-255, 128};
  // Negative bytes as two's complement.
  return {-128, 255};
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }
std::string RegisterName(int r) { return "R" + std::to_string(r); }

std::string OutOfRange(std::string_view what, std::int64_t value, TRange range) {
  if (value >= range.Low && value <= range.High) return {};
  return std::string(what) + " " + std::to_string(value) + " out of " + std::to_string(range.Low) + ".." +
         std::to_string(range.High);
}

// Names the program gives a value: constants, I/O locations, memory variables.
bool HasValue(const TVar& var) { return !tVarList::IsRegister(var) && !tVarList::IsFlag(var); }

std::optional<std::int64_t> ValueOf(const TLineList& lines, std::string_view text) {
  if (TValue number = Evaluate(text); number.Known) return number.Value;
  return ExpressionValue(lines.Vars, text, HasValue);
}

// "lab AND 0FFh", "lab SHRB 8": one byte of an address, which is all the
// assembler keeps of it, whatever the address.
bool IsAddressByte(std::string_view text) {
  if (std::size_t at = text.rfind(" AND "); at != std::string_view::npos) {
    TValue mask = Evaluate(text.substr(at + 5));
    return mask.Known && mask.Value >= 0 && mask.Value <= 0xFF;
  }
  if (std::size_t at = text.rfind(" SHRB "); at != std::string_view::npos) {
    TValue shift = Evaluate(text.substr(at + 6));
    return shift.Known && shift.Value >= 8;
  }
  return false;
}

// A value that must lie in `range`, as written in `text`.
std::string ValueFault(const TLineList& lines, std::string_view what, std::string_view text, TRange range) {
  std::optional<std::int64_t> value = ValueOf(lines, text);
  if (!value) return "value of " + Quoted(text) + " not known";
  return OutOfRange(what, *value, range);
}

struct TPointerText {
  int Register = -1;  // low register of the pair
  TPointerMode Mode = TPointerMode::Plain;
  std::string_view Displacement;  // the text after "Y+", empty without
};

// "X", "Y+", "-Z", "Y+q"; none for anything else ("XL", "Y-1").
std::optional<TPointerText> ParsePointer(std::string_view text) {
  TPointerText out;
  if (text.starts_with('-')) {
    out.Mode = TPointerMode::PreDecrement;
    text = Trim(text.substr(1));
    if (text.size() != 1) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  switch (UpperAscii(text.front())) {
    case 'X': out.Register = 26; break;
    case 'Y': out.Register = 28; break;
    case 'Z': out.Register = 30; break;
    default: return std::nullopt;
  }
  std::string_view tail = Trim(text.substr(1));
  if (tail.empty()) return out;
  if (tail.front() != '+') return std::nullopt;
  out.Displacement = Trim(tail.substr(1));
  if (out.Displacement.empty()) out.Mode = TPointerMode::PostIncrement;
  return out;
}

// `reg` is the register the instruction loads or stores, -1 for none.
std::string PointerFault(const TLineList& lines, TLineType type, std::string_view text, int reg) {
  std::optional<TPointerText> pointer = ParsePointer(text);
  if (!pointer) return Quoted(text) + " is no pointer operand";
  const bool plain = pointer->Mode == TPointerMode::Plain && pointer->Displacement.empty();
  switch (type) {
    case lt::LDD:
    case lt::STD:
      if (pointer->Register == 26) return "displacement through X";
      if (pointer->Displacement.empty()) return "no displacement: Y+q or Z+q";
      return ValueFault(lines, "displacement", pointer->Displacement, {0, 63});
    case lt::LD:
    case lt::ST:
      if (!pointer->Displacement.empty()) return "displacement without LDD or STD";
      break;
    case lt::LPM:
    case lt::ELPM:
      if (pointer->Register != 30 || !pointer->Displacement.empty() || pointer->Mode == TPointerMode::PreDecrement)
        return "only Z or Z+";
      break;
    case lt::SPM:
    case lt::ESPM:
      return pointer->Register == 30 && pointer->Mode == TPointerMode::PostIncrement ? "" : "only Z+";
    default:  // LAS, LAC, LAT, XCH
      return pointer->Register == 30 && plain ? "" : "only Z";
  }
  // Stepping the pair while loading or storing one of its own bytes is undefined.
  if (pointer->Mode != TPointerMode::Plain && reg >= 0 && (reg & ~1) == pointer->Register)
    return RegisterName(reg) + " with " + std::string(text) + " is undefined";
  return {};
}

std::string RegisterFault(TLineType type, int reg) {
  TRegisters allowed = RegistersOf(type);
  if (reg < allowed.Low || reg > allowed.High)
    return RegisterName(reg) + " out of " + RegisterName(allowed.Low) + ".." + RegisterName(allowed.High);
  if (allowed.Even && reg % 2 != 0) return RegisterName(reg) + " is odd";
  return {};
}

// `otherReg` is the register the other operand names, -1 for none.
std::string OperandFault(const TLineList& lines, TLineType type, TOperandRole role, TOperandRole other,
                         std::string_view text, int otherReg) {
  switch (role.Kind) {
    case OperandKind::Pointer:
      return PointerFault(lines, type, text, otherReg);
    case OperandKind::Io:
      // SBI, CBI, SBIC and SBIS reach only the lower half.
      return ValueFault(lines, "I/O address", text, {0, other.Kind == OperandKind::Bit ? 31 : 63});
    case OperandKind::Bit:
    case OperandKind::StatusBit:
      return ValueFault(lines, "bit", text, {0, 7});
    case OperandKind::Constant:
      if (IsByteImmediate(type) && !ValueOf(lines, text) && IsAddressByte(text)) return {};
      return ValueFault(lines, "constant", text, ConstantRange(type));
    case OperandKind::Data:
      // A name the program does not declare is a variable the assembler places.
      if (std::optional<std::int64_t> address = ValueOf(lines, text))
        return OutOfRange("data address", *address, {0, 0xFFFF});
      return {};
    default:  // registers are checked before, targets' reach elsewhere
      return {};
  }
}

}  // namespace

bool TDeviceFeatures::Has(TLineType type) const {
  if (type == lt::JMP || type == lt::CALL) return JmpCall;
  if (type == lt::MOVW) return Movw;
  if (IsOneOf(type, kMultiplies)) return Mul;
  return !IsOneOf(type, kRare) || Rare[type];
}

TDeviceFeatures DeviceFeaturesOf(const TLineList& lines) {
  const std::bitset<lt::Count>& written = lines.LoadedTypes;
  TDeviceFeatures features;
  // PcMode is LARGE when no directive says otherwise: only the directive counts.
  const bool large = written[lt::LARGE] && lines.PcMode == 2;
  features.JmpCall = written[lt::JMP] || written[lt::CALL] || large;
  features.Mul = std::ranges::any_of(kMultiplies, [&](TLineType t) { return written[t]; });
  // Every core with the multiplier has MOVW.
  features.Movw = written[lt::MOVW] || features.Mul;
  for (TLineType t : kRare) features.Rare[t] = written[t];
  // More than 128 KiB of flash: the extended jumps and ELPM exist.
  if (large) features.Rare.set(lt::EIJMP).set(lt::EICALL).set(lt::ELPM);
  return features;
}

std::string EncodingFault(const TLineList& lines, TLineType type, std::string_view op1, std::string_view op2) {
  const std::string_view texts[] = {Trim(op1), Trim(op2)};
  const TInstrEffect* effect = FindEffect(type, !texts[0].empty());
  if (effect == nullptr) return "no instruction";
  if (!DeviceFeaturesOf(lines).Has(type))
    return std::string(effect->Mnemonic) + " not known to exist on the device";
  const TOperandRole roles[] = {effect->Op1, effect->Op2};
  int registers[] = {-1, -1};
  for (int i = 0; i < 2; ++i) {
    const bool bareSpm = (type == lt::SPM || type == lt::ESPM) && i == 0;
    if (roles[i].Kind == OperandKind::None) {
      if (!texts[i].empty()) return "unexpected operand " + Quoted(texts[i]);
    } else if (texts[i].empty()) {
      if (!bareSpm) return "missing operand";
    } else if (roles[i].Kind == OperandKind::Register || roles[i].Kind == OperandKind::RegPair) {
      registers[i] = RegisterNumber(lines, std::string(texts[i]));
      if (registers[i] < 0) return Quoted(texts[i]) + " is no register";
      if (std::string fault = RegisterFault(type, registers[i]); !fault.empty()) return fault;
    }
  }
  for (int i = 0; i < 2; ++i) {
    if (texts[i].empty()) continue;
    std::string fault = OperandFault(lines, type, roles[i], roles[1 - i], texts[i], registers[1 - i]);
    if (!fault.empty()) return fault;
  }
  return {};
}

}  // namespace korvid
