#include "analysis/Encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "source/Classifier.h"
#include "source/Expressions.h"
#include "source/LineList.h"
#include "tests/analysis/AvrAssembler.h"
#include "tests/verify/ToolchainTest.h"
#include "verify/Instructions.h"

namespace korvid {
namespace {

constexpr const char* kDeclarations =
    "_FRAMEPTR      .EQU 1Ch  ; var data word\n"
    "PORTB          .EQU 05h  ; var pdata byte volatile\n"
    "GPIOR0         .EQU 1Eh  ; var pdata byte volatile\n"
    "GPIOR1         .EQU 2Ah  ; var pdata byte volatile\n"
    "HIGHIO         .EQU 40h  ; var pdata byte\n"
    "TOPBIT         .EQU 7    ; const\n"
    "FARBIT         .EQU 8    ; const\n"
    "FRAMEEND       .EQU 3Fh  ; const\n"
    "table          .EQU 206h ; var idata byte\n";

// A device whose program shows JMP, MOVW, the multiplier and ELPM; and one that shows none.
enum class TDevice { Full, Bare };

std::string Program(TDevice device) {
  if (device == TDevice::Full)
    return std::string(kDeclarations) + "main: JMP main\n MOVW R24,R30\n MUL R16,R17\n ELPM R0,Z+\n";
  return std::string(kDeclarations) + "main: RJMP main\n";
}

struct TCase {
  TDevice Device;
  const char* Instruction;
  const char* Fault;  // part of the reason; nullptr: encodable
};

constexpr TDevice F = TDevice::Full, B = TDevice::Bare;

const TCase kCases[] = {
    // Displacements: 0..63, through Y or Z only.
    {F, "LDD R16,Y+63", nullptr}, {F, "LDD R16,Y+64", "displacement 64 out of 0..63"},
    {F, "STD Z+0,R16", nullptr}, {F, "STD Z+64,R16", "displacement 64"}, {F, "LDD R16,Y+-1", "displacement -1"},
    {F, "LDD R16,Y+FRAMEEND", nullptr}, {F, "LDD R16,Y+FRAMEEND+1", "displacement 64"},
    {F, "LDD R16,Y+ofs", "not known"}, {F, "LDD R16,X+1", "through X"}, {F, "LDD R16,Y+", "no displacement"},
    // ADIW/SBIW: 0..63 on R24, R26, R28, R30 by any name the program gives them.
    {F, "ADIW R24,63", nullptr}, {F, "ADIW R24,64", "constant 64 out of 0..63"}, {F, "SBIW R30,-1", "constant -1"},
    {F, "ADIW R25,1", "R25 is odd"}, {F, "ADIW R22,1", "R22 out of R24..R30"}, {F, "ADIW X,1", nullptr},
    {F, "SBIW _FRAMEPTR,4", nullptr}, {F, "ADIW R28,n", "not known"},
    // Byte immediates: R16..R31 and -128..255.
    {F, "LDI R16,255", nullptr}, {F, "LDI R16,256", "constant 256"}, {F, "LDI R16,-128", nullptr},
    {F, "LDI R16,-129", "constant -129"}, {F, "LDI R15,1", "R15 out of R16..R31"}, {F, "CPI R16,TOPBIT", nullptr},
    {F, "SBCI R17,-0100h SHRB 8", nullptr}, {F, "CBR R15,1", "R15 out"}, {F, "SER R15", "R15 out"},
    {F, "SER R16", nullptr}, {F, "ADDI R16,128", nullptr}, {F, "ADDI R16,129", "constant 129"},
    // An address: known ones must fit, unknown ones only as one of their bytes.
    {F, "LDI R26,table AND 0FFh", nullptr}, {F, "LDI R27,table SHRB 8", nullptr},
    {F, "LDI R26,table", "constant 518"}, {F, "LDI R30,main AND 0FFh", nullptr},
    {F, "LDI R31,main SHRB 8", nullptr}, {F, "LDI R30,main", "not known"},
    {F, "LDI R30,main AND 1FFh", "not known"}, {F, "CPI R30,main SHRB 4", "not known"},
    // Register pairs and the multiplier's registers, for both operands.
    {F, "MOVW R24,R30", nullptr}, {F, "MOVW R3,R4", "R3 is odd"}, {F, "MOVW R4,R3", "R3 is odd"},
    {F, "MUL R0,R31", nullptr}, {F, "MULS R16,R31", nullptr}, {F, "MULS R15,R16", "R15 out of R16..R31"},
    {F, "MULS R16,R15", "R15 out"}, {F, "MULSU R23,R16", nullptr}, {F, "MULSU R24,R16", "R24 out of R16..R23"},
    {F, "MULSU R16,R24", "R24 out of R16..R23"}, {F, "FMUL R24,R16", "R24 out"}, {F, "FMULS R16,R23", nullptr},
    // I/O addresses: 0..63, and 0..31 for the bit instructions.
    {F, "OUT 63,R16", nullptr}, {F, "OUT 64,R16", "I/O address 64 out of 0..63"},
    {F, "IN R16,HIGHIO", "I/O address 64"}, {F, "OUT PORTB,R16", nullptr}, {F, "IN R16,TCCR0", "not known"},
    {F, "SBI 31,0", nullptr}, {F, "SBI 32,0", "I/O address 32 out of 0..31"}, {F, "CBI GPIOR0,7", nullptr},
    {F, "OUT GPIOR1,R0", nullptr}, {F, "SBIS GPIOR1,0", "I/O address 42"},
    // Bit numbers 0..7.
    {F, "SBRC R16,7", nullptr}, {F, "SBRS R16,8", "bit 8 out of 0..7"}, {F, "BST R0,FARBIT", "bit 8"},
    {F, "SBIC PORTB,TOPBIT", nullptr}, {F, "SBI PORTB,8", "bit 8"}, {F, "CBI PORTB,b", "not known"},
    {F, "BRBS 7,main", nullptr}, {F, "BRBC 8,main", "bit 8"},
    // Pointer forms; stepping the pair while moving one of its own bytes is undefined.
    {F, "LD R16,X+", nullptr}, {F, "LD R26,X", nullptr}, {F, "LD R26,X+", "R26 with X+ is undefined"},
    {F, "LD R27,-X", "undefined"}, {F, "LD R28,Y+", "undefined"}, {F, "LD R30,Y+", nullptr},
    {F, "LD R31,Z", nullptr}, {F, "LD R27,Z", nullptr}, {F, "ST Z+,R31", "undefined"}, {F, "ST -Z,R29", nullptr},
    {F, "LD R16,Y+1", "displacement without LDD"}, {F, "LD R16,XL", "no pointer operand"}, {F, "LPM", nullptr},
    {F, "LPM R30,Z", nullptr}, {F, "LPM R30,Z+", "undefined"}, {F, "LPM R16,Y", "only Z"},
    // Operands that are no registers, missing or extra.
    {F, "MOV R31,R0", nullptr}, {F, "MOV R16,5", "'5' is no register"}, {F, "CLR R32", "no register"},
    {F, "MOV R16", "missing operand"}, {F, "NOP R16", "unexpected operand"},
    // What the device has: the program shows it or nothing does.
    {F, "JMP main", nullptr}, {F, "CALL main", nullptr}, {F, "ELPM R0,Z+", nullptr},
    {B, "JMP main", "JMP not known to exist on the device"}, {B, "RJMP main", nullptr},
    {B, "CALL main", "device"}, {B, "MOVW R24,R30", "device"}, {B, "MUL R16,R17", "device"},
    {B, "FMULSU R16,R17", "device"}, {B, "ELPM R0,Z+", "device"},
};

struct TWritten {
  TLineType Type;
  std::string Mnemonic, Op1, Op2;
};

TWritten Split(const char* instruction) {
  TParsedLine parsed = ParseLine(instruction);
  TWritten out{parsed.LineType, parsed.Mnemonic, "", ""};
  SplitOperands(parsed.Operands, out.Op1, out.Op2);
  return out;
}

TEST(EncodingTest, OperandsTheDeviceCanEncode) {
  TLineList full, bare;
  full.LoadFromText(Program(TDevice::Full));
  bare.LoadFromText(Program(TDevice::Bare));
  for (const TCase& c : kCases) {
    TWritten w = Split(c.Instruction);
    std::string fault = EncodingFault(c.Device == F ? full : bare, w.Type, w.Op1, w.Op2);
    if (c.Fault == nullptr) {
      EXPECT_EQ(fault, "") << c.Instruction;
    } else {
      EXPECT_NE(fault.find(c.Fault), std::string::npos) << c.Instruction << " gave \"" << fault << "\"";
    }
  }
}

TEST(EncodingTest, DeviceFeaturesFromWhatTheProgramShows) {
  struct TFeatureCase {
    const char* Program;
    bool JmpCall, Movw, Mul, Eijmp;
  };
  const TFeatureCase cases[] = {
      {"main: RJMP main\n", false, false, false, false},
      {"main: JMP main\n", true, false, false, false},
      {"main: CALL main\n", true, false, false, false},
      {".LARGE\n", true, false, false, true},
      {".MEDIUM\n", false, false, false, false},
      {".LARGE\n.MEDIUM\n", false, false, false, false},
      {" MOVW R24,R30\n", false, true, false, false},
      {" FMULSU R16,R17\n", false, true, true, false},
      {" MUL R0,R1\n", false, true, true, false},
      {" EIJMP\n", false, false, false, true},
  };
  for (const TFeatureCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(c.Program);
    TDeviceFeatures device = DeviceFeaturesOf(lines);
    EXPECT_EQ(device.JmpCall, c.JmpCall) << c.Program;
    EXPECT_EQ(device.Movw, c.Movw) << c.Program;
    EXPECT_EQ(device.Mul, c.Mul) << c.Program;
    EXPECT_EQ(device.Has(lt::EIJMP), c.Eijmp) << c.Program;
    EXPECT_TRUE(device.Has(lt::ADIW)) << c.Program;
  }
}

// A pass that shortens the program's only JMP leaves the device as it was, and
// a JMP a pass wrote proves nothing about it.
TEST(EncodingTest, TheProgramAsLoadedShowsTheDevice) {
  TLineList shortened, lengthened;
  shortened.LoadFromText("main: JMP main\n");
  lengthened.LoadFromText("main: RJMP main\n");
  shortened.SetLine(0, lt::RJMP, "main", "RJMP", "main", nullptr);
  lengthened.SetLine(0, lt::JMP, "main", "JMP", "main", nullptr);
  EXPECT_EQ(EncodingFault(shortened, lt::JMP, "main", ""), "");
  EXPECT_NE(EncodingFault(lengthened, lt::JMP, "main", ""), "");
}

class EncodingAssemblyTest : public testing::TToolchainTest {};

// Every accepted row in the assembler's syntax, so that the table cannot accept
// what the assembler refuses.
TEST_F(EncodingAssemblyTest, AcceptedInstructionsAssemble) {
  TLineList declared;
  declared.LoadFromText(kDeclarations);
  verify::SymbolResolver resolve = [&](const std::string& name) -> std::optional<verify::SymValue> {
    if (const TVar* var = declared.Vars.Find(name); var != nullptr && var->Address >= 0)
      return verify::SymValue{var->Address, {}, verify::SymValue::Part::Whole};
    return verify::SymValue{0, name, verify::SymValue::Part::Whole};
  };
  std::vector<std::string> lowered;
  for (const TCase& c : kCases) {
    if (c.Fault != nullptr) continue;
    TWritten w = Split(c.Instruction);
    // ADDI is the compiler's own word for SUBI with the negated constant.
    if (w.Type == lt::ADDI) continue;
    const verify::InstructionInfo* info = verify::FindInstruction(w.Mnemonic);
    ASSERT_NE(info, nullptr) << c.Instruction;
    std::string operands = w.Op2.empty() ? w.Op1 : w.Op1 + "," + w.Op2;
    lowered.push_back(verify::LowerInstruction(*info, operands, resolve));
  }
  lowered.push_back(verify::MangleLabel("main") + ": nop");
  std::string error;
  std::vector<std::string_view> lines(lowered.begin(), lowered.end());
  EXPECT_TRUE(test::AssembleLines(lines, error)) << error;
}

}  // namespace
}  // namespace korvid
