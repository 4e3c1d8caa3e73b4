// Line-type codes: one byte per line saying which instruction or directive it holds.
// Every pass works on these codes, never on the raw text.
#pragma once
#include <cstdint>

namespace korvid {

using TLineType = std::uint8_t;

namespace lt {
inline constexpr TLineType Unknown = 0;
// Instructions.
inline constexpr TLineType ADD = 1, ADC = 2, ADDI = 3, ADIW = 4, SUB = 5, SUBI = 6, SBC = 7, SBCI = 8,
                           SBIW = 9, AND = 10, ANDI = 11, OR = 12, ORI = 13, EOR = 14, COM = 15, NEG = 16,
                           SBR = 17, CBR = 18, INC = 19, DEC = 20, LSR = 21, LSL = 22, ROR = 23, ASR = 24,
                           ROL = 25, CLR = 26, SER = 27, MUL = 28, MULS = 29, MULSU = 30, FMUL = 31,
                           FMULS = 32, FMULSU = 33, RJMP = 34, IJMP = 35, EIJMP = 36, JMP = 37, RCALL = 38,
                           ICALL = 39, EICALL = 40, CALL = 41, RET = 42, RETI = 43, CPSE = 44, CP = 45,
                           CPC = 46, CPI = 47, SBRC = 48, SBRS = 49, SBIC = 50, SBIS = 51, STS = 52, ST = 53,
                           STD = 54, BRBS = 55, BRBC = 56, BREQ = 57, BRNE = 58, BRCS = 59, BRCC = 60,
                           BRSH = 61, BRTC = 62, BRTS = 63, BRVC = 64, BRVS = 65, BRLO = 66, BRMI = 67,
                           BRPL = 68, BRLT = 69, BRGE = 70, BRHS = 71, BRID = 72, BRIE = 73, BRHC = 74,
                           IN = 75, LDI = 76, LDS = 77, LDD = 78, LD = 79, OUT = 80, POP = 81, PUSH = 82,
                           CLT = 83, CLI = 84, SEI = 85, SET = 86, TST = 87, BLD = 88, MOV = 89, MOVW = 90,
                           SBI = 91, CBI = 92, LPM = 93, ELPM = 94, NOP = 95, SWAP = 96, BST = 97, CLC = 98,
                           SEC = 99, CLH = 100, SEH = 101, CLZ = 102, SEZ = 103, WDR = 104, SPM = 105,
                           ESPM = 106, DES = 107, LAS = 108, LAC = 109, LAT = 110, XCH = 111, BREAK = 130;
// Label line and assembler directives.
inline constexpr TLineType Label = 112, ENTRY = 113, ENTRYMAIN = 114, ENTRYBOOT = 115, END = 117,
                           ENDCODE = 118, VECTTAB = 119, VECTTABE = 120, VECTTAB_B = 121, VECTTABE_B = 122,
                           ENTRYUNIT = 123, XDATASTART = 124, OPT_RET = 127, LOOP = 128, ENDLOOP = 129,
                           OtherText = 131, UNIT = 132, USEINLINE = 133, OPTI = 134, OPTI_QUICK = 137,
                           REGS = 138, ANALYSIS = 139, RETURNS = 140, FRAME = 141, STARTCODE = 142,
                           BLOCK = 143, ENDBLOCK = 144, VALID = 145, LINE = 146, XLINE = 147, BRANCH = 148,
                           FUNC = 149, FILE = 150, ENDFUNC = 151, ORG = 152, PHASE = 153, DEPHASE = 154,
                           DEB = 155, Comment = 156, EQU = 157, BYTE = 158, WORD = 159, ADDR = 160,
                           WORDD = 161, ADDR32 = 162, ASCII = 163, INLINE = 164, LARGE = 165, MEDIUM = 166,
                           SMALL = 167, NOSINLINE = 168, ASM = 169, ENDASM = 170, Blank = 171;
inline constexpr int Count = 172;
}  // namespace lt

inline constexpr bool IsInstructionType(TLineType type) {
  return (type >= lt::ADD && type <= lt::XCH) || type == lt::BREAK;
}
// The conditional branches BRBS .. BRHC.
inline constexpr bool IsBranchType(TLineType type) { return type >= lt::BRBS && type <= lt::BRHC; }
inline constexpr bool IsDirectCallType(TLineType type) { return type == lt::RCALL || type == lt::CALL; }
// Transfers to the label their operand names.
inline constexpr bool IsDirectTransferType(TLineType type) {
  return IsBranchType(type) || IsDirectCallType(type) || type == lt::RJMP || type == lt::JMP;
}

}  // namespace korvid
