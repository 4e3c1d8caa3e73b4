// What every AVR instruction does to registers, flags, I/O and memory, as data.
// The line analysis applies these entries to its variables; every pass trusts them,
// so an entry may be larger than the chip's behaviour but never smaller.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "source/UsageBits.h"
#include "source/LineTypes.h"

namespace korvid {

// Status-register flags as masks in SREG bit order.
namespace sreg {
inline constexpr std::uint8_t C = 1, Z = 2, N = 4, V = 8, S = 16, H = 32, T = 64, I = 128, All = 0xFF;
inline constexpr std::int64_t IoAddress = 0x3F;    // IN/OUT
inline constexpr std::int64_t DataAddress = 0x5F;  // LDS/STS
}  // namespace sreg

// I/O locations instructions use without naming them.
namespace io {
inline constexpr int SPMCSR = 0x37, RAMPZ = 0x3B, EIND = 0x3C, SPL = 0x3D, SPH = 0x3E;
inline constexpr std::uint64_t Bit(int address) { return std::uint64_t{1} << address; }
inline constexpr std::uint64_t StackPointer = Bit(SPL) | Bit(SPH);
inline constexpr std::uint64_t All = ~std::uint64_t{0};
}  // namespace io

// `FlowKind` bits.
namespace flow {
inline constexpr std::uint8_t Conditional = 1, Jump = 2, BlockMarker = 4, Call = 8, Skip = 16,
                              SetsFlags = 32, ReadsFlags = 64;
}  // namespace flow

// Data and program memory touched besides registers and I/O locations.
namespace mem {
inline constexpr std::uint8_t PointerRead = 1, PointerWrite = 2, DirectRead = 4, DirectWrite = 8,
                              StackRead = 16, StackWrite = 32, ProgramRead = 64, ProgramWrite = 128;
inline constexpr std::uint8_t AnyDataRead = PointerRead | DirectRead | StackRead;
inline constexpr std::uint8_t AnyDataWrite = PointerWrite | DirectWrite | StackWrite;
inline constexpr std::uint8_t All = 0xFF;
}  // namespace mem

inline constexpr std::uint32_t AllRegisters = 0xFFFFFFFFu;
inline constexpr std::uint32_t RegBit(int r) { return std::uint32_t{1} << r; }
inline constexpr std::uint32_t RegPairBits(int r) { return RegBit(r) | RegBit(r + 1); }

enum class OperandKind : std::uint8_t {
  None,
  Register,   // R0..R31
  RegPair,    // low register of a pair; both bytes get the usage
  Pointer,    // X, Y or Z with optional -, + or displacement; the register pair gets the usage
  Io,         // I/O location 0..63
  Data,       // data-space address (LDS/STS)
  Constant,   // immediate K
  Label,      // jump, branch or call target
  Bit,        // bit number 0..7 of a register or I/O location
  StatusBit,  // SREG bit number 0..7 (BRBS, BRBC, BSET, BCLR)
};

// `Use` holds usage bits. A pointer with uModify is rewritten only in its
// post-increment and pre-decrement forms; otherwise the pointer is only read.
struct TOperandRole {
  OperandKind Kind = OperandKind::None;
  TUsageSet Use = 0;
};

struct TInstrEffect {
  std::string_view Mnemonic;
  TLineType Type = lt::Unknown;
  std::uint8_t Size = 2;  // bytes
  std::uint8_t FlowKind = 0;
  TOperandRole Op1, Op2;
  std::uint8_t FlagsWritten = 0;  // besides a StatusBit operand
  std::uint8_t FlagsRead = 0;
  std::uint32_t RegsRead = 0;  // registers used without being named
  std::uint32_t RegsWritten = 0;
  std::uint64_t IoRead = 0;  // bit n: I/O location n used without being named
  std::uint64_t IoWritten = 0;
  std::uint8_t Memory = 0;  // mem:: bits
  bool DefinesDest = false;
  bool WordOp = false;
  bool IsStore = false;
  bool SideEffect = false;  // acts outside registers and memory (sleep, watchdog, flash): keep it
  bool Unknown = false;     // not an instruction the table knows: reads and writes everything
};

// Entry of an instruction line type (1..111, 130); nullptr for any other type.
// LPM and ELPM without operands have their own entry (they load R0).
const TInstrEffect* FindEffect(TLineType type, bool hasOperands = true);

// Entry by mnemonic, without regard to case; covers the mnemonics the classifier
// does not type (SLEEP, CLN, CLS, CLV, SEN, SES, SEV, BSET, BCLR) and the BRIE/BRID
// lines it types as BRBS/BRBC. nullptr when the word is no instruction.
const TInstrEffect* FindEffectByMnemonic(std::string_view mnemonic, bool hasOperands = true);

// The entry for an unrecognised instruction line.
const TInstrEffect& UnknownEffect();

// The entry once its operand values are known, adding what those values reach:
// SREG by IN/OUT (3Fh) or LDS/STS (5Fh) reads or writes every flag; LDS/STS of the
// register file or the I/O space use that register or location; a StatusBit operand
// selects its flag. An I/O or StatusBit operand without a value may be any location or
// flag, so it is taken as read and written. A Data operand without a value is a named
// memory variable.
TInstrEffect ResolveOperands(const TInstrEffect& effect, std::optional<std::int64_t> op1,
                             std::optional<std::int64_t> op2);

}  // namespace korvid
