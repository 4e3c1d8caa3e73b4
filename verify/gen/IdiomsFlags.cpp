// Flag idioms: flags read after an instruction that kills a register, flag set and
// clear instructions, and branches at the edge of their reach with flag work inside.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {
namespace {

struct Flag {
  int bit;  // in SREG
  const char* set;
  const char* clear;
  const char* ifSet;  // branches taken when the flag is set, when it is clear
  const char* ifClear;
};

// Every flag but I: setting it would let interrupts in.
const std::vector<Flag>& Flags() {
  static const std::vector<Flag> flags = {
      {0, "SEC", "CLC", "BRCS", "BRCC"}, {1, "SEZ", "CLZ", "BREQ", "BRNE"}, {2, "SEN", "CLN", "BRMI", "BRPL"},
      {3, "SEV", "CLV", "BRVS", "BRVC"}, {4, "SES", "CLS", "BRLT", "BRGE"}, {5, "SEH", "CLH", "BRHS", "BRHC"},
      {6, "SET", "CLT", "BRTS", "BRTC"}};
  return flags;
}

// Sets or clears one flag, by its own mnemonic or by BSET/BCLR.
void FlagOp(Builder& b, const Flag& f) {
  bool set = b.rng.Chance(50);
  if (b.rng.Chance(50)) b.Op(set ? f.set : f.clear);
  else b.Op(set ? "BSET" : "BCLR", std::to_string(f.bit));
}

const Flag& AnyFlagBut(Builder& b, int bit) {
  const Flag* f = &b.rng.Pick(Flags());
  while (f->bit == bit) f = &b.rng.Pick(Flags());
  return *f;
}

// `words` one-word instructions on R16 and R17 only; the carry they read makes the
// flag instructions among them count.
void FlagArm(Builder& b, int words) {
  static const std::vector<std::pair<std::string, std::string>> ops = {
      {"INC", "R17"}, {"DEC", "R17"}, {"ADD", "R17,R16"}, {"ADC", "R17,R16"},
      {"EOR", "R17,R16"}, {"ROR", "R17"}, {"SWAP", "R17"}, {"NOP", ""}};
  for (int i = 0; i < words; ++i) {
    switch (b.rng.Below(4)) {
      case 0: FlagOp(b, b.rng.Pick(Flags())); break;
      case 1: b.Op("SUBI", "R17," + b.HexImm()); break;
      default: {
        const auto& [mnemonic, operands] = b.rng.Pick(ops);
        b.Op(mnemonic, operands);
        break;
      }
    }
  }
}

}  // namespace

void FlagsAfterKill(Builder& b) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R24," + b.AnyByte().name);
  b.Op("LDS", "R22," + b.AnyByte().name);
  switch (b.rng.Below(5)) {
    case 0:  // the carry of SUB survives CLR into ROL
      b.Op("SUB", "R24,R22");
      b.Op("CLR", "R24");
      b.Op("ROL", "R24");
      b.Op("STS", v.name + ",R24");
      break;
    case 1:
      b.Op("ADD", "R24,R22");
      b.Op("MOV", "R16,R22");
      b.Op("ADC", "R16,R24");
      b.Op("STS", v.name + ",R16");
      break;
    case 2: {  // the Z of SBIW reaches past a skip to BRNE
      std::string head = b.NewLabel("sbiw");
      b.Op("ANDI", "R24,7");
      b.Op("INC", "R24");
      b.Op("CLR", "R25");
      b.Op("LDS", "R21," + b.AnyByte().name);
      b.Label(head);
      b.Op("SBIW", "R24,1");
      b.Op("SBRC", "R21,0");
      b.Op("INC", "R22");
      b.Op("BRNE", head);
      b.Op("STS", v.name + ",R22");
      break;
    }
    case 3:
      b.Op("SUBI", "R24," + b.HexImm());
      b.Op("IN", "R16,SREG");
      b.Op("ANDI", "R16,3Fh");
      b.Op("STS", v.name + ",R16");
      break;
    default: {  // BREQ reads the Z of the second CLR, which clears nothing new
      std::string l = b.NewLabel("cpi");
      b.Op("LDI", "R17,1");
      b.Op("CLR", "R16");
      b.Op("CPI", "R24," + std::to_string(b.rng.Below(4)));
      b.Op("CLR", "R16");
      b.Op("BREQ", l);
      b.Op("LDI", "R17,2");
      b.Label(l);
      b.Op("STS", v.name + ",R17");
      break;
    }
  }
}

void FlagOps(Builder& b) {
  std::string l = b.NewLabel("flag");
  const Flag& f = b.rng.Pick(Flags());
  b.Op("LDI", "R16,1");
  FlagOp(b, b.rng.Chance(50) ? f : b.rng.Pick(Flags()));
  b.Op(b.rng.Chance(50) ? f.ifSet : f.ifClear, l);
  b.Op("LDI", "R16,2");
  for (int i = b.rng.Below(3); i > 0; --i) b.Op("NOP");
  b.Label(l);
  b.Op("STS", b.AnyByte().name + ",R16");
}

void FarFlagBranch(Builder& b) {
  // A branch within a few words of its reach (63 forward, 64 back) over flag work: a
  // pass that grows the code in between breaks the assembly, one that drops a flag
  // instruction changes the carry that ROL finally reads, or SREG itself.
  std::string l = b.NewLabel("far");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDI", "R17," + b.Imm());
  if (b.rng.Chance(50)) {
    const Flag& f = b.rng.Pick(Flags());
    b.Op("CPI", "R16," + b.Imm());
    FlagOp(b, b.rng.Chance(50) ? f : AnyFlagBut(b, f.bit));
    b.Op(b.rng.Chance(50) ? f.ifSet : f.ifClear, l);
    FlagArm(b, b.rng.Range(56, 63));
    b.Label(l);
  } else {
    b.Op("LDI", "R22," + std::to_string(b.rng.Range(1, 3)));
    b.Label(l);
    FlagArm(b, b.rng.Range(55, 61));
    b.Op("DEC", "R22");
    FlagOp(b, AnyFlagBut(b, 1));  // BRNE still reads the Z of DEC
    b.Op("BRNE", l);
  }
  const Variable& result = b.AnyByte();
  if (b.rng.Chance(50)) {  // every flag the arm leaves is read, not only the carry
    b.Op("IN", "R18,SREG");
    b.Op("ANDI", "R18,7Fh");
    b.Op("STS", b.OtherByte(result).name + ",R18");
  }
  b.Op("ROL", "R17");
  b.Op("STS", result.name + ",R17");
}

void RedundantClear(Builder& b) {
  // The second CLR clears a register that is already zero, and CPI sets its flags again
  // before anything reads them: a correct optimiser may drop it.
  std::string l = b.NewLabel("clr");
  b.Op("LDS", "R24," + b.AnyByte().name);
  b.Op("CLR", "R16");
  b.Op("STS", b.AnyByte().name + ",R16");
  b.Op("CLR", "R16");
  b.Op("CPI", "R24," + b.Imm());
  b.Op(b.rng.Pick(std::vector<std::string>{"BREQ", "BRNE", "BRLO", "BRSH"}), l);
  b.Op("INC", "R16");
  b.Label(l);
  b.Op("STS", b.AnyByte().name + ",R16");
}

}  // namespace korvid::verify::gen
