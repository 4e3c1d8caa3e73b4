// Whether an instruction a pass is about to write can be encoded on the
// program's device: the registers each encoding can name, the ranges of its
// constants, I/O addresses, bit numbers and displacements, its pointer forms,
// and whether the device has the instruction at all. A rewrite that breaks one
// of these would only fail in the assembler, or assemble into something else,
// so an operand whose value cannot be known counts as a fault too.
#pragma once
#include <bitset>
#include <string>
#include <string_view>

#include "source/LineTypes.h"

namespace korvid {

class TLineList;

// What the device offers beyond the instructions every core has. The program
// shows it only by what the compiler wrote into it (a JMP, a MOVW, a MUL) and
// by ".LARGE"; anything it does not show is taken as missing.
struct TDeviceFeatures {
  bool JmpCall = false;  // JMP, CALL
  bool Movw = false;
  bool Mul = false;  // MUL, MULS, MULSU, FMUL, FMULS, FMULSU
  // The rarer instructions only some cores have (EIJMP, EICALL, ELPM, SPM, DES,
  // BREAK, the atomic Z operations), by line type.
  std::bitset<lt::Count> Rare;

  bool Has(TLineType type) const;
};

TDeviceFeatures DeviceFeaturesOf(const TLineList& lines);

// Empty when the instruction of this line type with these operand texts, as a
// pass would write it, can be encoded on the program's device; otherwise a
// short reason ("displacement 64 out of 0..63"). Names resolve through the
// program's declarations. A byte immediate written as one byte of an address
// ("lab AND 0FFh", "lab SHRB 8") is accepted without knowing the address: the
// assembler keeps just that byte.
std::string EncodingFault(const TLineList& lines, TLineType type, std::string_view op1, std::string_view op2);

}  // namespace korvid
