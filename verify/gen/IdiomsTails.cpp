// Where paths meet after the same instructions, and boolean tests whose carry
// branches are decided: chains of compares with 0 or 255, and paths that go on
// at one label after a shared tail, in main and across two routines.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

// A byte that is 0 or 255, or any byte: the carry after CPI with 0 or 255 is
// the same for both.
void LoadBoolean(Builder& b, const std::string& r) {
  b.Op("LDS", r + "," + b.AnyByte().name);
  if (b.rng.Chance(60)) {
    b.Op("ANDI", r + ",1");
    b.Op("NEG", r);
  }
}

}  // namespace

void BoolChains(Builder& b) {
  // CPI R,0 / BRLO L: never; CPI R,0FFh / BREQ L1 / BRLO L2: always; a chain
  // CPI Ra,V / BRNE T / CPI Rb,V / T: keeps that. The near misses compare
  // with another value, set the flags again, skip the compare, or enter T
  // from elsewhere.
  const std::string yes = b.NewLabel("yes"), no = b.NewLabel("no"), done = b.NewLabel("done");
  const std::string chain = b.NewLabel("chain");
  const bool inverted = b.rng.Chance(50);
  const std::string v = inverted ? "0FFh" : "0";
  LoadBoolean(b, "R16");
  LoadBoolean(b, "R17");
  b.Op("LDI", "R19,1");
  const int form = b.rng.Below(9);
  if (form == 0) b.Op("CP", "R17,R16");
  if (form == 0) b.Op("BRLO", chain);  // the chain label entered from elsewhere
  if (form == 1) b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R17," + std::to_string(b.rng.Below(8)));
  b.Op("CPI", "R16," + (form == 2 ? b.Imm() : v));
  if (form == 0 || form == 3 || form == 4) {
    b.Op(b.rng.Chance(50) ? "BRNE" : "BREQ", chain);
    b.Op("CPI", "R17," + v);
    b.Label(chain);
  }
  if (form == 5) {  // the flags set again
    if (b.rng.Chance(50)) b.Op("TST", "R17");
    else b.Op("SUB", "R17,R16");
  }
  if (form == 6) b.Op("LDI", "R18," + b.Imm());  // flags kept
  if (form != 3 && b.rng.Chance(50)) b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", no);
  b.Op(b.rng.Chance(50) ? "BRLO" : "BRSH", yes);
  b.Op("LDI", "R19,2");
  b.Op("RJMP", done);
  b.Label(no);
  b.Op("LDI", "R19,3");
  b.Op("RJMP", done);
  b.Label(yes);
  b.Op("LDI", "R19,4");
  b.Label(done);
  b.Op("STS", b.AnyByte().name + ",R19");
  // The booleans are kept: only the compares may go.
  b.Op("STS", b.AnyByte().name + ",R16");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void CommonTails(Builder& b) {
  // Three paths to one label: two jump there, the last falls in; their tails
  // are alike, or first differ at a skip, at LDI 0 against CLR, or in a data
  // word that runs as an instruction; or a skip passes over the jump.
  const std::string exit = b.NewLabel("exit"), two = b.NewLabel("two"), three = b.NewLabel("three");
  const Variable& flag = b.AnyByte();
  b.Op("LDS", "R18," + b.AnyByte().name);
  b.Op("LDI", "R19,1");
  b.Op("CPI", "R18,80h");
  b.Op("BRLO", two);
  b.Op("SBRC", "R18,0");
  b.Op("RJMP", three);
  const int form = b.rng.Below(7);
  const std::string skip = b.rng.Chance(50) ? "SBRS" : "SBRC";
  auto tail = [&](int path) {
    b.Op("LDI", "R16," + std::to_string(path == 2 && form == 1 ? 2 : 1));
    if (b.rng.Chance(40)) b.Marker();
    b.Op("STS", flag.name + ",R16");
    switch (form) {
      case 2:  // the copies first differ at a skip
        b.Op(path == 3 ? "SBRS" : "SBRC", "R18,1");
        b.Op("INC", "R19");
        break;
      case 3:  // LDI 0 and CLR set other flags
        b.Op(path == 3 ? "CLR" : "LDI", path == 3 ? "R17" : "R17,0");
        break;
      case 4:  // NOP or INC R0, as data
        b.Line(".WORD   " + std::string(path == 3 ? "9403h" : "0"));
        break;
      case 6:  // the jump after it is passed over on one of the first two paths
        b.Op("INC", "R19");
        b.Op(skip, "R19,1");
        break;
      case 5:
        b.Op("PUSH", "R16");
        b.Op("INC", "R19");
        b.Op("POP", "R16");
        break;
      default:
        b.Op("INC", "R19");
        break;
    }
    if (path < 3) b.Op("RJMP", exit);
  };
  tail(1);
  b.Label(two);
  b.Op("SUBI", "R19,0FEh");
  tail(2);
  b.Label(three);
  b.Op("LSL", "R19");
  tail(3);
  b.Label(exit);
  if (form == 3) {  // whose flags: CLR's or the compare's
    const std::string same = b.NewLabel("same");
    b.Op("BRNE", same);
    b.Op("INC", "R19");
    b.Label(same);
  }
  b.Op("STS", b.AnyByte().name + ",R19");
  if (form == 4) b.Op("STS", b.AnyByte().name + ",R0");
}

void PushPopPairs(Builder& b) {
  // PUSH R16 ... POP R16 around code that needs neither goes; around a join,
  // a read of SP, or with another register popped it stays.
  const std::string join = b.NewLabel("join");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("PUSH", "R16");
  switch (b.rng.Below(5)) {
    case 0:
      b.Op("TST", "R17");
      b.Op("BREQ", join);
      b.Op("INC", "R17");
      b.Label(join);
      break;
    case 1:  // the byte pushed, read through the stack pointer
      b.Op("IN", "R26,3Dh");
      b.Op("IN", "R27,3Eh");
      b.Op("ADIW", "R26,1");
      b.Op("LD", "R17,X");
      break;
    case 2:
      if (!b.procedures.empty()) b.Op("RCALL", b.rng.Pick(b.procedures));
      break;
    default:
      b.Op("LDI", "R17," + b.Imm());
      b.Op("STS", b.AnyByte().name + ",R17");
      break;
  }
  const bool other = b.rng.Chance(30);
  b.Op("POP", other ? "R17" : "R16");
  b.Op("STS", b.AnyByte().name + ",R16");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void SharedTailRoutines(Builder& b) {
  // Two procedures that end alike: the first jumps to the second's RET.
  const Variable& x = b.AnyByte();
  const Variable& y = b.OtherByte(x);
  const std::string k = b.Imm();
  for (const std::string name : {"tailsA", "tailsB"}) {
    BeginRoutine(b, name, 0);
    b.Op("LDS", "R16," + b.AnyByte().name);
    b.Op(name == "tailsA" ? "INC" : "DEC", "R16");
    b.Op("LDI", "R17," + k);
    b.Op("STS", x.name + ",R17");
    b.Op("STS", y.name + ",R16");
    if (name == "tailsA") b.Op("RJMP", "tailsB.exit");
    else b.Label("tailsB.exit");
    EndRoutine(b, name, name == "tailsA" ? "" : "RET");
    b.tailRoutines.push_back(name);
  }
}

void SharedTailCall(Builder& b) {
  if (!b.tailRoutines.empty()) b.Op("RCALL", b.rng.Pick(b.tailRoutines));
}

}  // namespace korvid::verify::gen
