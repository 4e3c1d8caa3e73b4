#include "analysis/EffectTable.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "source/Text.h"

namespace korvid {
namespace {

using namespace sreg;

constexpr TUsageSet R = uRead, W = uWrite, M = uModify | uRead;
constexpr std::uint8_t SVNZ = S | V | N | Z, SVNZC = SVNZ | C, HSVNZC = H | SVNZC;
constexpr std::uint32_t Zreg = RegPairBits(30);
constexpr std::uint32_t R1R0 = RegPairBits(0);
constexpr std::uint32_t R0toR15 = 0xFFFFu;

constexpr TOperandRole Reg(TUsageSet u) { return {OperandKind::Register, u}; }
constexpr TOperandRole Pair(TUsageSet u) { return {OperandKind::RegPair, u}; }
constexpr TOperandRole Ptr(TUsageSet u) { return {OperandKind::Pointer, u}; }
constexpr TOperandRole Io(TUsageSet u) { return {OperandKind::Io, u}; }
constexpr TOperandRole Data(TUsageSet u) { return {OperandKind::Data, u}; }
constexpr TOperandRole StatusBit(TUsageSet u) { return {OperandKind::StatusBit, u}; }
constexpr TOperandRole K{OperandKind::Constant, 0};
constexpr TOperandRole Label{OperandKind::Label, 0};
constexpr TOperandRole Bit{OperandKind::Bit, 0};

// Builder for one row; the flag bits of `FlowKind` follow from the flag masks.
struct Row {
  TInstrEffect e;
  constexpr Row(TLineType type, std::string_view mnemonic, std::uint8_t size = 2, std::uint8_t transfer = 0) {
    e.Type = type;
    e.Mnemonic = mnemonic;
    e.Size = size;
    e.FlowKind = transfer;
  }
  constexpr Row& ops(TOperandRole a, TOperandRole b = {}) { return e.Op1 = a, e.Op2 = b, *this; }
  constexpr Row& writes(std::uint8_t f) { return e.FlagsWritten |= f, *this; }
  constexpr Row& reads(std::uint8_t f) { return e.FlagsRead |= f, *this; }
  constexpr Row& regs(std::uint32_t read, std::uint32_t written) {
    return e.RegsRead |= read, e.RegsWritten |= written, *this;
  }
  constexpr Row& io(std::uint64_t read, std::uint64_t written) {
    return e.IoRead |= read, e.IoWritten |= written, *this;
  }
  constexpr Row& memory(std::uint8_t m) { return e.Memory |= m, *this; }
  constexpr Row& defines() { return e.DefinesDest = true, *this; }
  constexpr Row& word() { return e.WordOp = true, *this; }
  constexpr Row& store() { return e.IsStore = true, *this; }
  constexpr Row& side() { return e.SideEffect = true, *this; }
  // Call and return: the stack pointer and the stack bytes.
  constexpr Row& stack(std::uint8_t m) { return io(io::StackPointer, io::StackPointer).memory(m); }
};

constexpr Row Alu(TLineType t, std::string_view m, TOperandRole src, std::uint8_t written) {
  return Row(t, m).ops(Reg(M), src).writes(written);
}
// SBC, SBCI and CPC keep Z only when the result is zero, so they read it as well.
constexpr Row WithBorrow(Row r) { return r.writes(HSVNZC).reads(Z | C); }
constexpr Row Branch(TLineType t, std::string_view m, std::uint8_t flag) {
  return Row(t, m, 2, flow::Conditional).ops(Label).reads(flag);
}
constexpr Row FlagSet(TLineType t, std::string_view m, std::uint8_t flag) { return Row(t, m).writes(flag); }
constexpr Row Multiply(TLineType t, std::string_view m) {
  return Row(t, m).ops(Reg(R), Reg(R)).regs(0, R1R0).writes(Z | C).word();
}
constexpr Row Skip(TLineType t, std::string_view m, TOperandRole a, TOperandRole b) {
  return Row(t, m, 2, flow::Skip | flow::Conditional).ops(a, b);
}
// LAS, LAC, LAT, XCH: read and rewrite both the register and the byte at Z.
constexpr Row AtomicZ(TLineType t, std::string_view m) {
  return Row(t, m).ops(Ptr(R), Reg(M)).memory(mem::PointerRead | mem::PointerWrite);
}
// SPM writes flash from R1:R0 at RAMPZ:Z under control of SPMCSR; "SPM Z+" steps Z.
constexpr Row StoreProgram(TLineType t, std::string_view m) {
  return Row(t, m)
      .ops(Ptr(M))
      .regs(R1R0 | Zreg, 0)
      .io(io::Bit(io::RAMPZ) | io::Bit(io::SPMCSR), io::Bit(io::RAMPZ) | io::Bit(io::SPMCSR))
      .memory(mem::ProgramWrite)
      .side();
}

constexpr Row kRows[] = {
    Alu(lt::ADD, "ADD", Reg(R), HSVNZC),
    Alu(lt::ADC, "ADC", Reg(R), HSVNZC).reads(C),
    Alu(lt::ADDI, "ADDI", K, HSVNZC),  // assembles as SUBI with the negated constant
    Row(lt::ADIW, "ADIW").ops(Pair(M), K).writes(SVNZC).word(),
    Alu(lt::SUB, "SUB", Reg(R), HSVNZC),
    Alu(lt::SUBI, "SUBI", K, HSVNZC),
    WithBorrow(Alu(lt::SBC, "SBC", Reg(R), 0)),
    WithBorrow(Alu(lt::SBCI, "SBCI", K, 0)),
    Row(lt::SBIW, "SBIW").ops(Pair(M), K).writes(SVNZC).word(),
    Alu(lt::AND, "AND", Reg(R), SVNZ),
    Alu(lt::ANDI, "ANDI", K, SVNZ),
    Alu(lt::OR, "OR", Reg(R), SVNZ),
    Alu(lt::ORI, "ORI", K, SVNZ),
    Alu(lt::EOR, "EOR", Reg(R), SVNZ),
    Alu(lt::COM, "COM", {}, SVNZC),
    Alu(lt::NEG, "NEG", {}, HSVNZC),
    Alu(lt::SBR, "SBR", K, SVNZ),
    Alu(lt::CBR, "CBR", K, SVNZ),
    Alu(lt::INC, "INC", {}, SVNZ),
    Alu(lt::DEC, "DEC", {}, SVNZ),
    Alu(lt::LSR, "LSR", {}, SVNZC),
    Alu(lt::LSL, "LSL", {}, HSVNZC),
    Alu(lt::ROR, "ROR", {}, SVNZC).reads(C),
    Alu(lt::ASR, "ASR", {}, SVNZC),
    Alu(lt::ROL, "ROL", {}, HSVNZC).reads(C),  // ADC Rd,Rd: H too
    Row(lt::CLR, "CLR").ops(Reg(W)).writes(SVNZ).defines(),
    Row(lt::SER, "SER").ops(Reg(W)).defines(),
    Multiply(lt::MUL, "MUL"),
    Multiply(lt::MULS, "MULS"),
    Multiply(lt::MULSU, "MULSU"),
    Multiply(lt::FMUL, "FMUL"),
    Multiply(lt::FMULS, "FMULS"),
    Multiply(lt::FMULSU, "FMULSU"),
    Row(lt::RJMP, "RJMP", 2, flow::Jump).ops(Label),
    Row(lt::IJMP, "IJMP", 2, flow::Jump).regs(Zreg, 0),
    Row(lt::EIJMP, "EIJMP", 2, flow::Jump).regs(Zreg, 0).io(io::Bit(io::EIND), 0),
    Row(lt::JMP, "JMP", 4, flow::Jump).ops(Label),
    Row(lt::RCALL, "RCALL", 2, flow::Call).ops(Label).stack(mem::StackWrite),
    Row(lt::ICALL, "ICALL", 2, flow::Call).regs(Zreg, 0).stack(mem::StackWrite),
    Row(lt::EICALL, "EICALL", 2, flow::Call).regs(Zreg, 0).io(io::Bit(io::EIND), 0).stack(mem::StackWrite),
    Row(lt::CALL, "CALL", 4, flow::Call).ops(Label).stack(mem::StackWrite),
    Row(lt::RET, "RET", 2, flow::Jump).stack(mem::StackRead),
    Row(lt::RETI, "RETI", 2, flow::Jump).stack(mem::StackRead).writes(I),
    Skip(lt::CPSE, "CPSE", Reg(R), Reg(R)),
    Row(lt::CP, "CP").ops(Reg(R), Reg(R)).writes(HSVNZC),
    WithBorrow(Row(lt::CPC, "CPC").ops(Reg(R), Reg(R))),
    Row(lt::CPI, "CPI").ops(Reg(R), K).writes(HSVNZC),
    Skip(lt::SBRC, "SBRC", Reg(R), Bit),
    Skip(lt::SBRS, "SBRS", Reg(R), Bit),
    Skip(lt::SBIC, "SBIC", Io(R), Bit),
    Skip(lt::SBIS, "SBIS", Io(R), Bit),
    Row(lt::STS, "STS", 4).ops(Data(W), Reg(R)).memory(mem::DirectWrite).store().defines(),
    Row(lt::ST, "ST").ops(Ptr(M), Reg(R)).memory(mem::PointerWrite).store(),
    Row(lt::STD, "STD").ops(Ptr(R), Reg(R)).memory(mem::PointerWrite).store(),
    Row(lt::BRBS, "BRBS", 2, flow::Conditional).ops(StatusBit(R), Label),
    Row(lt::BRBC, "BRBC", 2, flow::Conditional).ops(StatusBit(R), Label),
    Branch(lt::BREQ, "BREQ", Z),
    Branch(lt::BRNE, "BRNE", Z),
    Branch(lt::BRCS, "BRCS", C),
    Branch(lt::BRCC, "BRCC", C),
    Branch(lt::BRSH, "BRSH", C),
    Branch(lt::BRTC, "BRTC", T),
    Branch(lt::BRTS, "BRTS", T),
    Branch(lt::BRVC, "BRVC", V),
    Branch(lt::BRVS, "BRVS", V),
    Branch(lt::BRLO, "BRLO", C),
    Branch(lt::BRMI, "BRMI", N),
    Branch(lt::BRPL, "BRPL", N),
    Branch(lt::BRLT, "BRLT", S),
    Branch(lt::BRGE, "BRGE", S),
    Branch(lt::BRHS, "BRHS", H),
    Branch(lt::BRID, "BRID", I),
    Branch(lt::BRIE, "BRIE", I),
    Branch(lt::BRHC, "BRHC", H),
    Row(lt::IN, "IN").ops(Reg(W), Io(R)),
    Row(lt::LDI, "LDI").ops(Reg(W), K).defines(),
    Row(lt::LDS, "LDS", 4).ops(Reg(W), Data(R)).memory(mem::DirectRead).defines(),
    Row(lt::LDD, "LDD").ops(Reg(W), Ptr(R)).memory(mem::PointerRead).defines(),
    Row(lt::LD, "LD").ops(Reg(W), Ptr(M)).memory(mem::PointerRead).defines(),
    Row(lt::OUT, "OUT").ops(Io(W), Reg(R)),
    Row(lt::POP, "POP").ops(Reg(W | uPop)).stack(mem::StackRead),
    Row(lt::PUSH, "PUSH").ops(Reg(R | uPush)).stack(mem::StackWrite),
    FlagSet(lt::CLT, "CLT", T),
    FlagSet(lt::CLI, "CLI", I),
    FlagSet(lt::SEI, "SEI", I),
    FlagSet(lt::SET, "SET", T),
    Row(lt::TST, "TST").ops(Reg(R)).writes(SVNZ),
    Row(lt::BLD, "BLD").ops(Reg(M), Bit).reads(T),
    Row(lt::BST, "BST").ops(Reg(R), Bit).writes(T),
    Row(lt::MOV, "MOV").ops(Reg(W), Reg(R)).defines(),
    Row(lt::MOVW, "MOVW").ops(Pair(W), Pair(R)).defines().word(),
    Row(lt::SBI, "SBI").ops(Io(M), Bit),
    Row(lt::CBI, "CBI").ops(Io(M), Bit),
    Row(lt::LPM, "LPM").ops(Reg(W), Ptr(M)).memory(mem::ProgramRead).defines(),
    // ELPM Rd,Z+ carries into RAMPZ; the plain form only reads it.
    Row(lt::ELPM, "ELPM")
        .ops(Reg(W), Ptr(M))
        .io(io::Bit(io::RAMPZ), io::Bit(io::RAMPZ))
        .memory(mem::ProgramRead)
        .defines(),
    Row(lt::NOP, "NOP"),
    Row(lt::SWAP, "SWAP").ops(Reg(M)),
    FlagSet(lt::CLC, "CLC", C),
    FlagSet(lt::SEC, "SEC", C),
    FlagSet(lt::CLH, "CLH", H),
    FlagSet(lt::SEH, "SEH", H),
    FlagSet(lt::CLZ, "CLZ", Z),
    FlagSet(lt::SEZ, "SEZ", Z),
    Row(lt::WDR, "WDR").side(),
    StoreProgram(lt::SPM, "SPM"),
    StoreProgram(lt::ESPM, "ESPM"),  // no such AVR instruction: taken as SPM Z+
    Row(lt::DES, "DES").ops(K).regs(R0toR15, R0toR15).reads(H),
    AtomicZ(lt::LAS, "LAS"),
    AtomicZ(lt::LAC, "LAC"),
    AtomicZ(lt::LAT, "LAT"),
    AtomicZ(lt::XCH, "XCH"),
    Row(lt::BREAK, "BREAK").side(),
    // Bare LPM and ELPM load R0 from Z.
    Row(lt::LPM, "LPM").regs(Zreg, RegBit(0)).memory(mem::ProgramRead),
    Row(lt::ELPM, "ELPM").regs(Zreg, RegBit(0)).io(io::Bit(io::RAMPZ), 0).memory(mem::ProgramRead),
    // Mnemonics the classifier leaves untyped.
    Row(lt::Unknown, "SLEEP").side(),
    FlagSet(lt::Unknown, "CLN", N),
    FlagSet(lt::Unknown, "CLS", S),
    FlagSet(lt::Unknown, "CLV", V),
    FlagSet(lt::Unknown, "SEN", N),
    FlagSet(lt::Unknown, "SES", S),
    FlagSet(lt::Unknown, "SEV", V),
    Row(lt::Unknown, "BSET").ops(StatusBit(W)),
    Row(lt::Unknown, "BCLR").ops(StatusBit(W)),
};

constexpr std::size_t kRowCount = std::size(kRows);

// A flag or I/O operand whose value is unknown may be any of them: read, and
// rewritten when the instruction writes it, so that nothing counts as killed.
constexpr TUsageSet MaybeUse(TUsageSet use) { return (use & (uWrite | uModify)) ? M : use; }

void AddFlags(TInstrEffect& e, TUsageSet use, std::uint8_t flags) {
  if (use & (uRead | uModify)) e.FlagsRead |= flags;
  if (use & (uWrite | uModify)) e.FlagsWritten |= flags;
}

void AddIo(TInstrEffect& e, TUsageSet use, std::uint64_t locations) {
  if (use & (uRead | uModify)) e.IoRead |= locations;
  if (use & (uWrite | uModify)) e.IoWritten |= locations;
}

void AddOperand(TInstrEffect& e, TOperandRole role, TOperandRole other, std::optional<std::int64_t> value) {
  switch (role.Kind) {
    case OperandKind::StatusBit:
      if (value && *value >= 0 && *value < 8)
        AddFlags(e, role.Use, static_cast<std::uint8_t>(1u << *value));
      else
        AddFlags(e, MaybeUse(role.Use), sreg::All);
      break;
    case OperandKind::Io: {
      const bool bitAddressed = other.Kind == OperandKind::Bit;  // SBI, CBI, SBIC, SBIS: 0..31 only
      if (value && *value >= 0 && *value < (bitAddressed ? 32 : 64)) {
        AddIo(e, role.Use, io::Bit(static_cast<int>(*value)));
        if (*value == sreg::IoAddress) AddFlags(e, role.Use, sreg::All);
      } else {
        AddIo(e, MaybeUse(role.Use), bitAddressed ? 0xFFFFFFFFu : io::All);
        if (!bitAddressed) AddFlags(e, MaybeUse(role.Use), sreg::All);
      }
      break;
    }
    case OperandKind::Data:
      // The register file and the I/O space are mapped below 60h of the data space.
      if (!value || *value < 0 || *value >= 0x60) break;
      if (*value < 0x20) {
        const std::uint32_t reg = RegBit(static_cast<int>(*value));
        if (role.Use & uRead) e.RegsRead |= reg;
        if (role.Use & uWrite) e.RegsWritten |= reg;
      } else {
        AddIo(e, role.Use, io::Bit(static_cast<int>(*value - 0x20)));
        if (*value == sreg::DataAddress) AddFlags(e, role.Use, sreg::All);
      }
      break;
    default:
      break;
  }
}

TInstrEffect Resolve(const TInstrEffect& base, std::optional<std::int64_t> op1, std::optional<std::int64_t> op2) {
  TInstrEffect e = base;
  AddOperand(e, base.Op1, base.Op2, op1);
  AddOperand(e, base.Op2, base.Op1, op2);
  e.FlowKind &= static_cast<std::uint8_t>(~(flow::SetsFlags | flow::ReadsFlags));
  if (e.FlagsWritten) e.FlowKind |= flow::SetsFlags;
  if (e.FlagsRead) e.FlowKind |= flow::ReadsFlags;
  return e;
}

// The rows as handed out: operands whose value is not known yet taken at their worst.
const std::array<TInstrEffect, kRowCount>& Entries() {
  static const auto entries = [] {
    std::array<TInstrEffect, kRowCount> all{};
    for (std::size_t i = 0; i < kRowCount; ++i) all[i] = Resolve(kRows[i].e, std::nullopt, std::nullopt);
    return all;
  }();
  return entries;
}

bool IsBare(const TInstrEffect& e) { return e.Op1.Kind == OperandKind::None; }
bool HasBareForm(TLineType t) { return t == lt::LPM || t == lt::ELPM; }


const TInstrEffect* Find(auto matches, bool hasOperands) {
  for (const TInstrEffect& e : Entries())
    if (matches(e) && (!HasBareForm(e.Type) || IsBare(e) != hasOperands)) return &e;
  return nullptr;
}

}  // namespace

const TInstrEffect* FindEffect(TLineType type, bool hasOperands) {
  static const auto byType = [] {
    std::array<const TInstrEffect*, 2 * lt::Count> index{};
    for (const TInstrEffect& e : Entries()) {
      if (e.Type == lt::Unknown) continue;
      auto& slot = index[2 * e.Type + (IsBare(e) && HasBareForm(e.Type) ? 0 : 1)];
      if (!slot) slot = &e;
    }
    return index;
  }();
  if (type >= lt::Count) return nullptr;
  return byType[2 * type + (!hasOperands && HasBareForm(type) ? 0 : 1)];
}

const TInstrEffect* FindEffectByMnemonic(std::string_view mnemonic, bool hasOperands) {
  return Find([&](const TInstrEffect& e) { return EqualsNoCase(e.Mnemonic, mnemonic); }, hasOperands);
}

const TInstrEffect& UnknownEffect() {
  static const TInstrEffect unknown = [] {
    TInstrEffect e;
    e.Mnemonic = "";
    e.FlowKind = flow::SetsFlags | flow::ReadsFlags;
    e.FlagsWritten = e.FlagsRead = sreg::All;
    e.RegsRead = e.RegsWritten = AllRegisters;
    e.IoRead = e.IoWritten = io::All;
    e.Memory = mem::All;
    e.SideEffect = e.Unknown = true;
    return e;
  }();
  return unknown;
}

TInstrEffect ResolveOperands(const TInstrEffect& effect, std::optional<std::int64_t> op1,
                             std::optional<std::int64_t> op2) {
  const auto& entries = Entries();
  for (std::size_t i = 0; i < kRowCount; ++i) {
    const TInstrEffect& e = entries[i];
    if (&e == &effect || (e.Type == effect.Type && e.Mnemonic == effect.Mnemonic && IsBare(e) == IsBare(effect)))
      return Resolve(kRows[i].e, op1, op2);
  }
  return effect;
}

}  // namespace korvid
