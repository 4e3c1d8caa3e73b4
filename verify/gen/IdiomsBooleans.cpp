// Booleans as the compiler writes them for every condition: a register loaded
// with 0 or 0FFh by a compare and its branches, or by a skip, then tested to
// decide a jump or to set T; tests of registers just cleared or set; ORI and
// COM in front of tests; AND/OR of two booleans. Each beside the near misses
// where a correct branch optimisation keeps the boolean.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

const std::vector<std::string> kConditions = {"BREQ", "BRNE", "BRLO", "BRSH", "BRLT", "BRGE"};

// The boolean register: R16 mostly, which main's end overwrites; R18 or R19,
// which an idiom after this one may still find, otherwise.
std::string BooleanRegister(Builder& b) {
  return b.rng.Chance(70) ? "R16" : b.rng.Pick(std::vector<std::string>{"R18", "R19"});
}

// CLR/SER r, or LDI r,0/0FFh (always LDI where flags must survive).
void Load(Builder& b, const std::string& r, bool value, bool flagless = false) {
  if (flagless || b.rng.Chance(50)) b.Op("LDI", r + "," + (value ? "0FFh" : "0"));
  else b.Op(value ? "SER" : "CLR", r);
}

// The setter: the other constant, or COM.
void Setter(Builder& b, const std::string& r, bool startTrue) {
  if (b.rng.Chance(30)) b.Op("COM", r);
  else Load(b, r, !startTrue);
}

}  // namespace

void BooleanConstantTest(Builder& b) {
  // if flag then ..., with flag just set to a constant: the branch is known.
  const std::string r = BooleanRegister(b);
  const std::string l = b.NewLabel("known"), l2 = b.NewLabel("known");
  const Variable& result = b.AnyByte();
  const bool value = b.rng.Chance(50);
  const int miss = b.rng.Below(8);  // 0: R read after, 1: flags read by a second branch, 2: by IN, 3: start skipped
  b.Op("LDI", "R17," + b.Imm());
  if (miss == 3) {
    b.Op("LDS", "R22," + b.AnyByte().name);
    Load(b, r, !value);
    b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R22," + std::to_string(b.rng.Below(8)));
  }
  Load(b, r, value);
  b.Op("TST", r);
  if (miss == 1) {
    b.Op(value ? "BRMI" : "BRLT", l);  // never taken; the next branch reads the same flags
    b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", l2);
  } else {
    static const std::vector<std::string> falseBranches = {"BREQ", "BRNE", "BRLT"};
    static const std::vector<std::string> trueBranches = {"BREQ", "BRNE"};
    b.Op(b.rng.Pick(value ? trueBranches : falseBranches), l);
  }
  if (miss == 2) {
    b.Op("IN", "R17,SREG");
    b.Op("ANDI", "R17,1Eh");
  } else {
    b.Op("LDI", "R17," + b.Imm());
  }
  b.Label(l);
  b.Op("INC", "R17");
  if (miss == 1) b.Label(l2);
  b.Op("STS", result.name + ",R17");
  if (miss == 0) b.Op("STS", b.OtherByte(result).name + "," + r);
}

void BooleanDecision(Builder& b) {
  // if (x < y) [and (z = k)] then r := a else r := b, the condition a boolean in R:
  //   CP / LDI R,0 / BRcc L {/ CPI / BRcc L} / setter / L: [copy] [COM] [CLT|SET] / TST R
  //   / BREQ|BRNE Z / RJMP X (or the other T line) / Z:
  // or the skip form: CLR R / SBRC|SBRS|SBIC|SBIS|CPSE / setter / [label] / tail.
  // 0..9 below: a near miss; else none.
  const int miss = b.rng.Below(22);
  const std::string r = BooleanRegister(b);
  const bool startTrue = b.rng.Chance(30);
  const bool branchOnly = miss == 0 || miss == 2 || miss == 3 || miss == 5 || miss == 7;
  const bool skipForm = miss == 1 || (!branchOnly && b.rng.Chance(35));
  const std::string l = b.NewLabel("bool"), z = b.NewLabel("then"), x = b.NewLabel("else"), done = b.NewLabel("fi");
  const Variable& result = b.AnyByte();
  b.Op("LDS", "R22," + b.AnyByte().name);
  b.Op("LDS", "R23," + b.AnyByte().name);
  if (miss == 5) b.Op("LDI", "R24,2");  // counts the back edge into the label
  if (skipForm) {
    if (miss == 1) {  // the skip is not right after the start
      Load(b, r, startTrue);
      b.Op("MOV", "R24,R22");
      b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R24," + std::to_string(b.rng.Below(8)));
    } else {
      Load(b, r, startTrue);
      switch (b.rng.Below(5)) {
        case 0: b.Op("CPSE", "R22,R23"); break;
        case 1: b.Op(b.rng.Chance(50) ? "SBIC" : "SBIS", "GPIOR0," + std::to_string(b.rng.Below(8))); break;
        default: b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R22," + std::to_string(b.rng.Below(8))); break;
      }
    }
    Setter(b, r, startTrue);
    if (b.rng.Chance(30)) b.Label(b.NewLabel("shadow"));  // nothing names it
  } else {
    const bool loadFirst = b.rng.Chance(30);
    if (loadFirst) Load(b, r, startTrue);
    if (b.rng.Chance(70)) b.Op("CP", "R22,R23");
    else b.Op("CPI", "R22," + b.Imm());
    if (!loadFirst) Load(b, r, startTrue, true);
    const std::string second = b.NewLabel("bool");
    if (miss == 2) {  // two BREQs: no single branch to turn round
      b.Op("BREQ", l);
      b.Op("CPI", "R23," + b.Imm());
      b.Op("BREQ", l);
    } else {
      b.Op(b.rng.Pick(kConditions), l);
      if (b.rng.Chance(30) || miss == 0) {
        b.Op("LDS", "R24," + b.AnyByte().name);
        b.Op("CPI", "R24," + b.Imm());
        b.Op(b.rng.Pick(kConditions), miss == 0 ? second : l);  // 0: a second target
      }
    }
    if (miss == 7) b.Op("COM", "R24");  // a COM of another register is no setter
    else Setter(b, r, startTrue);
    if (miss == 0) b.Label(second);
    if (miss == 3) b.Label(b.NewLabel("other"));  // a label of another name first
    b.Label(l);
  }
  // The tail.
  if (miss == 4 || (miss > 9 && b.rng.Chance(25))) {  // a copy (4: compares another register)
    const std::string l5 = b.NewLabel("copy");
    const bool v = b.rng.Chance(50);
    b.Op("CPI", (miss == 4 ? "R23," : r + ",") + std::string(b.rng.Chance(50) ? "0" : "0FFh"));
    Load(b, r, v, true);
    b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", l5);
    Load(b, r, !v, true);
    b.Label(l5);
  }
  if (b.rng.Chance(30)) b.Op("COM", r);
  const bool tForm = miss == 8 || b.rng.Chance(25);
  const bool tSets = b.rng.Chance(40);
  if (tForm) b.Op(tSets ? "SET" : "CLT", "");
  b.Op("TST", r);
  const std::string follow = miss == 6 ? b.NewLabel("other") : z;  // 6: the decision goes elsewhere
  // A T line is decided by BREQ mostly: the rewrites of the T forms are for BREQ only.
  b.Op(b.rng.Chance(tForm ? 80 : 50) ? "BREQ" : "BRNE", follow);
  if (tForm && miss != 8) {
    b.Op(tSets ? "CLT" : "SET", "");  // the other T line
    b.Label(z);
    b.Op("LDS", "R17," + result.name);
    b.Op("BLD", "R17," + std::to_string(b.rng.Below(8)));
    if (miss == 9) b.Op("STS", b.OtherByte(result).name + "," + r);  // R read after
    b.Op("STS", result.name + ",R17");
    if (miss == 6) {
      b.Label(follow);
      b.Op("STS", b.OtherByte(result).name + ",R22");
    }
    if (r != "R16") b.Op("LDI", r + "," + b.Imm());
    return;
  }
  b.Op(b.rng.Chance(80) ? "RJMP" : "JMP", x);  // 8: with a T line before the test
  b.Label(z);
  if (miss == 8) b.Op(tSets ? "CLT" : "SET", "");
  b.Op("LDI", "R17," + b.Imm());
  if (miss == 9) b.Op("ADD", "R17," + r);  // R read after the decision
  b.Op("STS", result.name + ",R17");
  b.Op(b.rng.Chance(80) ? "RJMP" : "JMP", done);
  if (miss == 6) {
    b.Label(follow);
    b.Op("LDI", "R17," + b.Imm());
    b.Op("STS", result.name + ",R17");
    b.Op("RJMP", done);
  }
  b.Label(x);
  if (miss == 8) b.Op("LDS", "R17," + result.name);
  else b.Op("LDI", "R17," + b.Imm());
  if (miss == 8) b.Op("BLD", "R17,0");
  b.Op("STS", b.OtherByte(result).name + ",R17");
  if (miss == 5) {  // a back edge into the label: R keeps what the else arm found
    b.Op("DEC", "R24");
    b.Op("BRNE", l);
  }
  b.Label(done);
  if (r != "R16") b.Op("LDI", r + "," + b.Imm());
}

void OriComTests(Builder& b) {
  // ORI R,0FFh for SER, ORI R,0 after a logic instruction, COM of a boolean before its
  // test; each beside the case that must stay.
  const std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R18"});
  const Variable& result = b.AnyByte();
  const std::string l = b.NewLabel("oricom");
  const int miss = b.rng.Below(3);  // 0: a near miss below
  b.Op("LDS", r + "," + b.AnyByte().name);
  b.Op("LDS", "R17," + b.AnyByte().name);
  switch (b.rng.Below(3)) {
    case 0:
      b.Op("ORI", r + ",0FFh");
      if (miss == 0) b.Op("IN", "R17,SREG");  // the flags of the ORI read
      b.Op("STS", result.name + "," + r);
      b.Op("STS", b.OtherByte(result).name + ",R17");
      return;
    case 1:
      b.Op(b.rng.Pick(std::vector<std::string>{"AND", "OR", "EOR"}), r + ",R17");
      if (miss == 0) b.Op(b.rng.Chance(50) ? "ADD" : "ADC", r + ",R17");  // sets C and V
      b.Op("ORI", r + ",0");
      b.Op(b.rng.Pick(kConditions), l);
      b.Op("INC", "R17");
      b.Label(l);
      b.Op("STS", result.name + ",R17");
      return;
    default: {
      // if not (x bit set) then inc(y)
      b.Op("CLR", r);
      if (miss == 0) b.Op("MOV", r + ",R17");  // no longer known to be a boolean
      else b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R17," + std::to_string(b.rng.Below(8)));
      if (miss != 0) b.Op("SER", r);
      b.Op("COM", r);
      if (b.rng.Chance(30)) b.Op("LDI", "R19," + b.Imm());
      b.Op("TST", r);
      b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", l);
      b.Op("INC", "R17");
      b.Label(l);
      b.Op("STS", result.name + ",R17");
      if (miss == 1) b.Op("STS", b.OtherByte(result).name + "," + r);  // the boolean read after
    }
  }
}

void ShortCircuitAndOr(Builder& b) {
  // if (x < y) and (x = k) then ...: the left boolean pushed, the right one computed
  // in the same register, the two combined by AND or OR.
  const std::string l = b.NewLabel("left"), l2 = b.NewLabel("right"), z = b.NewLabel("then"),
                    x = b.NewLabel("else"), done = b.NewLabel("fi");
  const Variable& result = b.AnyByte();
  const int miss = b.rng.Below(5);  // 0: Rx read after, 1: the right operand stores
  b.Op("LDS", "R22," + b.AnyByte().name);
  b.Op("LDS", "R23," + b.AnyByte().name);
  b.Op("CP", "R22,R23");
  b.Op("LDI", "R16,0");
  b.Op(b.rng.Pick(kConditions), l);
  b.Op("SER", "R16");
  b.Label(l);
  b.Op("PUSH", "R16");
  if (miss == 1) b.Op("STS", b.OtherByte(result).name + ",R22");
  b.Op("CLR", "R16");
  b.Op("CPI", "R22," + b.Imm());
  b.Op(b.rng.Pick(kConditions), l2);
  b.Op("SER", "R16");
  b.Label(l2);
  b.Op("POP", "R24");
  b.Op(b.rng.Chance(50) ? "AND" : "OR", "R16,R24");
  b.Op("TST", "R16");
  b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", z);
  b.Op("RJMP", x);
  b.Label(z);
  b.Op("LDI", "R17," + b.Imm());
  b.Op("RJMP", done);
  b.Label(x);
  b.Op("LDI", "R17," + b.Imm());
  b.Label(done);
  b.Op("STS", result.name + ",R17");
  if (miss == 0) b.Op("STS", b.OtherByte(result).name + ",R24");
  else b.Op("LDI", "R24," + b.Imm());
}

}  // namespace korvid::verify::gen
