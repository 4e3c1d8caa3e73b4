// Single bits tested by the run-time routine SYSTEM.TestBit8 and by ANDI masks
// before a branch, each beside the near misses where a correct optimiser keeps
// the call or the mask.
#include <algorithm>
#include <cstdio>

#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

const std::string kTestBit8 = "SYSTEM.TestBit8";

void PointXAtByte(Builder& b) {
  const Variable& v = b.AnyByte();
  b.Op("LDI", "R26," + Lo(v.name));
  b.Op("LDI", "R27," + Hi(v.name));
}

void CallTestBit8(Builder& b) { b.Op(b.rng.Chance(70) ? "RCALL" : "CALL", kTestBit8); }

}  // namespace

void TestBit8Routine(Builder& b) {
  // Bit _ACCA of the byte at X, answered in _ACCA as 255 or 0: the byte is
  // shifted right _ACCA times, so bit numbers past 7 answer 0.
  const std::string shift = b.NewLabel("tb.shift"), test = b.NewLabel("tb.test");
  BeginRoutine(b, kTestBit8, 1);
  b.Op("LD", "_ACCB,X");
  b.Op("INC", "_ACCA");
  b.Label(shift);
  b.Op("DEC", "_ACCA");
  b.Op("BREQ", test);
  b.Op("LSR", "_ACCB");
  b.Op("RJMP", shift);
  b.Label(test);
  b.Op("SER", "_ACCA");
  b.Op("SBRS", "_ACCB,0");
  b.Op("CLR", "_ACCA");
  EndRoutine(b, kTestBit8);
}

void TestBit8Call(Builder& b) {
  // if x[n] then r := true: the bit number in _ACCA, X at the byte.
  const int bit = b.rng.Chance(20) ? 0 : b.rng.Below(8);  // bit 0 is often loaded by CLR
  const int miss = b.rng.Below(11);  // 0..6: a near miss below; else none
  const Variable& result = b.AnyByte();
  if (miss == 0) {  // a load a branch may pass by: the label ends the number known
    const std::string join = b.NewLabel("tb.join");
    b.Op("LDI", "_ACCA," + std::to_string(bit));
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op("SBRC", "R18," + std::to_string(b.rng.Below(8)));
    b.Op("RJMP", join);
    b.Op("LDI", "_ACCA," + std::to_string((bit + 3) % 8));
    b.Label(join);
  } else if (bit == 0 && b.rng.Chance(50)) {
    b.Op("CLR", "_ACCA");
  } else if (miss == 1) {  // past the byte, in hex as the compiler may write it
    char past[8];
    std::snprintf(past, sizeof past, "0%02Xh", bit + 8);
    b.Op("LDI", "_ACCA," + std::string(past));
  } else {
    b.Op("LDI", "_ACCA," + std::to_string(bit));
  }
  PointXAtByte(b);
  switch (miss) {
    case 2:  // a procedure writes R17
      b.Op("RCALL", b.rng.Pick(b.procedures));
      break;
    case 3:
      b.Op("INC", "_ACCA");
      break;
    case 4:  // a skipped load
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R18," + std::to_string(b.rng.Below(8)));
      b.Op("LDI", "_ACCA," + std::to_string((bit + 5) % 8));
      break;
    case 5:  // a skipped call
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R18," + std::to_string(b.rng.Below(8)));
      break;
    default:
      break;
  }
  CallTestBit8(b);
  b.Op("STS", result.name + ",_ACCA");
  if (miss == 6) b.Op("STS", b.OtherByte(result).name + ",_ACCB");  // the shifted byte read after
}

void CallTestBit8IfUncalled(Builder& b) {
  if (std::find(b.called.begin(), b.called.end(), kTestBit8) != b.called.end()) return;
  b.Op("LDI", "_ACCA," + std::to_string(b.rng.Below(8)));
  PointXAtByte(b);
  CallTestBit8(b);
  b.Op("STS", b.AnyByte().name + ",_ACCA");
}

void AndiMasks(Builder& b) {
  // if (x and 2^b) <> 0 then inc(y), and the masks around it; R17 counts, R19 is
  // loaded between the mask and the branch.
  const std::string rd = b.rng.Pick(std::vector<std::string>{"R16", "R18", "R24"});
  const Variable& x = b.AnyByte();
  const Variable& y = b.OtherByte(x);
  b.Op("LDS", rd + "," + x.name);
  const int kind = b.rng.Below(20);
  switch (kind < 4 ? 0 : kind < 10 ? 1 : 2) {
    case 0: {  // ANDI Rd,0 and the flags it leaves
      b.Op("ANDI", rd + ",0");
      b.Op("IN", "R19,SREG");
      b.Op("STS", y.name + ",R19");
      b.Op("STS", b.OtherByte(y).name + "," + rd);
      return;
    }
    case 1: {  // ANDI Rd,0FFh after a logic instruction, its flags read
      static const std::vector<std::string> logic = {"AND", "OR", "EOR", "ANDI", "ORI"};
      const int near = b.rng.Below(4);  // 0: ADD sets V and C, 1: a label between
      const std::string op = near == 0 ? "ADD" : b.rng.Pick(logic);
      b.Op("LDS", "R19," + y.name);
      b.Op(op, rd + (op.back() == 'I' ? "," + b.HexImm() : ",R19"));
      if (near == 1) b.Label(b.NewLabel("andi"));
      b.Op("ANDI", rd + ",0FFh");
      b.Op("IN", "R19,SREG");
      b.Op("STS", y.name + ",R19");
      b.Op("STS", b.OtherByte(y).name + "," + rd);
      return;
    }
    default:
      break;
  }
  // 0: two bits, 1: CLR sets Z before the branch, 2: two instructions before the
  // label, 3: the masked register read after, 4: the flags read after; else none.
  const int miss = b.rng.Below(10);
  const int bit = b.rng.Below(8);
  const std::string mask = std::to_string(miss == 0 ? 3 << (bit % 7) : 1 << bit);
  const std::string skip = b.NewLabel("bit");
  b.Op("LDS", "R17," + y.name);
  b.Op("ANDI", rd + "," + mask);
  const bool compare = b.rng.Chance(50);
  if (compare) b.Op("CPI", rd + "," + mask);
  if (miss == 1) b.Op("CLR", "R19");
  else if (b.rng.Chance(50) && b.rng.Chance(70)) b.Op("LDI", "R19," + b.Imm());
  else if (b.rng.Chance(30)) b.Op("SER", "R19");
  b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", skip);
  b.Op("INC", "R17");
  if (miss == 2) b.Op("INC", "R17");
  b.Label(skip);
  b.Op("STS", y.name + ",R17");
  if (miss == 3) b.Op("STS", b.OtherByte(y).name + "," + rd);
  if (miss == 4) {
    b.Op("IN", "R19,SREG");
    b.Op("STS", b.OtherByte(y).name + ",R19");
  }
}

}  // namespace korvid::verify::gen
