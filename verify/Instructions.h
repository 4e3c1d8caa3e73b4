// The AVR instruction set as the lowering knows it: each mnemonic with the form of its
// operands, and the translation of those operands into avr-as syntax.
#pragma once
#include <string>

#include "verify/Expression.h"

namespace korvid::verify {

enum class OperandForm {
  None,      // NOP
  Reg,       // INC Rd
  RegReg,    // ADD Rd,Rr
  PairPair,  // MOVW Rd,Rr
  RegImm,    // LDI Rd,K
  PairImm,   // ADIW Rd,K
  RegBit,    // SBRC Rr,b
  IoBit,     // SBI A,b
  RegIo,     // IN Rd,A
  IoReg,     // OUT A,Rr
  RegData,   // LDS Rd,k
  DataReg,   // STS k,Rr
  RegPtr,    // LD Rd,X+
  PtrReg,    // ST X+,Rr
  ProgMem,   // LPM, LPM Rd,Z+
  Target,    // RJMP k
  BitTarget, // BRBS s,k
  Bit,       // BSET s
  PtrOnlyReg,// XCH Z,Rd
  Imm,       // DES K
};

struct InstructionInfo {
  const char* mnemonic;
  OperandForm form;
  int size;  // bytes
};

const InstructionInfo* FindInstruction(const std::string& mnemonic);

// Maps a code label of the dialect to its avr-as name.
std::string MangleLabel(const std::string& name);

// Returns the instruction as an avr-as line ("ldi r16, 12"). Throws LoweringError.
std::string LowerInstruction(const InstructionInfo& info, const std::string& operands, const SymbolResolver& resolve);

}  // namespace korvid::verify
