// Frame slots: stores loaded back soon after, stores stored over, copies of Y
// in a pointer, and a routine whose frame is larger than a displacement
// reaches, so that it moves Y to get at its far slots. Each beside the near
// misses where Y, the register or the byte changes, or another path joins.
// Main's four locals Y+0..Y+3 are written at its start, so every byte read
// here holds what the same code put there, before and after optimising.
#include <functional>

#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

std::string Slot(int q) { return "Y+" + std::to_string(q); }

// Lines between a store and the load of its slot that keep Y, the stored
// register and the slot as they were.
void Harmless(Builder& b, int q, const std::string& kept) {
  const std::string other = kept == "R18" ? "R19" : "R18";
  switch (b.rng.Below(4)) {
    case 0:
      b.Op("LDI", other + "," + b.Imm());
      b.Op("STD", Slot((q + 1) % 4) + "," + other);
      break;
    case 1:
      b.Op("LDD", other + "," + Slot((q + 2) % 4));
      b.Op("SUBI", other + "," + b.Imm());
      b.Op("STS", b.AnyByte().name + "," + other);
      break;
    case 2:
      b.Op("LDS", other + "," + b.AnyByte().name);
      b.Op("EOR", other + "," + kept);
      b.Op("STS", b.AnyByte().name + "," + other);
      break;
    default:
      break;
  }
}

// Lines around `middle` after which the slot at Y+q may no longer be the one
// it was, or hold what `r` holds, or that read it by another way than a
// displacement from Y. Y is as before afterwards; every byte read is one of
// main's locals.
void NearMiss(Builder& b, int q, const std::string& r, const std::function<void()>& middle) {
  int form = b.rng.Below(10);
  if (form == 2 && q == 3) form = 1;
  switch (form) {
    case 0:
      b.Op("INC", r);
      middle();
      break;
    case 1:  // Y moves down a byte: Y+q is the byte below
      b.Op("ST", "-Y," + r);
      middle();
      b.Op("LD", r + ",Y+");
      break;
    case 2:  // Y moves up a byte
      b.Op("LD", "R19,Y+");
      middle();
      b.Op("ST", "-Y,R19");
      break;
    case 3: {
      const bool up = q < 3;
      const std::string k = std::to_string(up ? 3 - q : 1);
      b.Op(up ? "ADIW" : "SBIW", "R28," + k);
      middle();
      b.Op(up ? "SBIW" : "ADIW", "R28," + k);
      break;
    }
    case 4: {  // as the compiler reaches the slots of a large frame
      const std::string upLo = "R28,0FFh", upHi = "R29,0FFh", downLo = "R28,1", downHi = "R29,0";
      b.Op("SUBI", q < 3 ? upLo : downLo);
      b.Op("SBCI", q < 3 ? upHi : downHi);
      middle();
      b.Op("SUBI", q < 3 ? downLo : upLo);
      b.Op("SBCI", q < 3 ? downHi : upHi);
      break;
    }
    case 5:
      b.Op("PUSH", "R28");
      b.Op("PUSH", "R29");
      middle();
      b.Op("POP", "R29");
      b.Op("POP", "R28");
      break;
    case 6:  // a copy of Y without MOVW writes the slot
      b.Op("MOV", "R30,R28");
      b.Op("MOV", "R31,R29");
      b.Op("LDI", "R19," + b.Imm());
      b.Op("STD", "Z+" + std::to_string(q) + ",R19");
      middle();
      break;
    case 7:
      b.Op("LDI", "R26,buf AND 0FFh");
      b.Op("LDI", "R27,buf SHRB 8");
      b.Op("ST", "X," + r);
      middle();
      break;
    case 8:
      if (!b.slotWriters.empty() && q == 2) b.Op("RCALL", b.rng.Pick(b.slotWriters));
      else if (!b.procedures.empty()) b.Op("RCALL", b.rng.Pick(b.procedures));
      middle();
      break;
    default: {  // at a label that a loop comes back to
      const std::string again = b.NewLabel("again");
      b.Op("LDI", "R19,2");
      b.Label(again);
      middle();
      b.Op("INC", r);
      b.Op("STD", Slot(q) + "," + r);
      b.Op("DEC", "R19");
      b.Op("BRNE", again);
      break;
    }
  }
}

}  // namespace

void FrameStores(Builder& b) {
  // STD Y+q,Rr / ... / LDD Rd,Y+q: the load is a move, or nothing when Rd is Rr.
  const int form = b.rng.Below(9);  // 0..2 skips and the byte 0, 3..6 near misses
  const int q = form == 2 ? 0 : b.rng.Below(4);
  const std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R17", "R24"});
  const std::string d = b.rng.Chance(35) ? r : "R18";
  auto load = [&] {
    if (form == 2) b.Op("LD", d + ",Y");  // the byte 0 without a displacement
    else b.Op("LDD", d + "," + Slot(q));
  };
  b.Op("LDS", r + "," + b.AnyByte().name);
  if (form == 0) b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R18," + std::to_string(b.rng.Below(8)));
  b.Op("STD", Slot(q) + "," + r);
  if (form == 1) b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", r + "," + std::to_string(b.rng.Below(8)));
  if (form >= 7) Harmless(b, q, r);
  if (form >= 3 && form <= 6) NearMiss(b, q, r, load);
  else load();
  b.Op("STS", b.AnyByte().name + "," + d);
  b.Op("STS", b.AnyByte().name + "," + r);
}

void FrameDeadStores(Builder& b) {
  // A slot stored again before anything reads it: the first store goes.
  const int q = b.rng.Below(4);
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("STD", Slot(q) + ",R16");
  const int form = b.rng.Below(6);
  if (form == 0) {  // stored again on both paths of a branch
    const std::string one = b.NewLabel("one"), both = b.NewLabel("both");
    b.Op("TST", "R17");
    b.Op("BREQ", one);
    b.Op("STD", Slot(q) + ",R17");
    b.Op("RJMP", both);
    b.Label(one);
    b.Op("STD", Slot(q) + ",R16");
    b.Label(both);
  } else if (form == 1) {  // a path through a tight loop without Y first
    const std::string over = b.NewLabel("over"), spin = b.NewLabel("spin");
    b.Op("TST", "R17");
    b.Op("BREQ", over);
    b.Op("LDI", "R19,3");
    b.Label(spin);
    b.Op("DEC", "R19");
    b.Op("BRNE", spin);
    b.Label(over);
    b.Op("STD", Slot(q) + ",R17");
  } else if (form == 2) {  // a read on one path only
    const std::string skip = b.NewLabel("read");
    b.Op("TST", "R17");
    b.Op("BRNE", skip);
    b.Op("LDD", "R18," + Slot(q));
    b.Op("STS", b.AnyByte().name + ",R18");
    b.Label(skip);
    b.Op("STD", Slot(q) + ",R17");
  } else if (form == 3) {
    b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R17," + std::to_string(b.rng.Below(8)));
    b.Op("STD", Slot(q) + ",R17");
  } else if (form == 4) {  // the second store to another byte, or a read between
    NearMiss(b, q, "R16", [&] { b.Op("STD", Slot(q) + ",R17"); });
  } else {
    Harmless(b, q, "R16");
    b.Op("STD", Slot(q) + ",R17");
  }
  b.Op("LDD", "R19," + Slot(q));
  b.Op("STS", b.AnyByte().name + ",R19");
}

void PointerCopies(Builder& b) {
  // MOVW P,Y [PUSH] [ADIW P,k] / ... / LD Rx,P[+q] [... ST P[+q],Rx]: Y with a displacement.
  const bool z = b.rng.Chance(70);
  const std::string lo = z ? "R30" : "R26", hi = z ? "R31" : "R27", p = z ? "Z" : "X";
  const int k = b.rng.Below(3), q = z ? b.rng.Below(4 - k) : 0;
  const std::string at = q > 0 ? p + "+" + std::to_string(q) : p;
  const std::string load = q > 0 ? "LDD" : "LD", store = q > 0 ? "STD" : "ST";
  const int form = b.rng.Below(8);
  if (form == 0) {  // skipped copy: the pointer may still point into buf
    b.Op("LDI", lo + ",buf AND 0FFh");
    b.Op("LDI", hi + ",buf SHRB 8");
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R18," + std::to_string(b.rng.Below(8)));
  }
  b.Op("MOVW", lo + ",R28");
  if (form == 1) {
    b.Op("PUSH", lo);
    b.Op("PUSH", hi);
  }
  if (k > 0) b.Op("ADIW", lo + "," + std::to_string(k));
  if (form == 2) b.Op("SBIW", "R28,1");  // Y moves away from the copy
  // The pointer steps first, up or down, and the copy is Y+k+1 or Y+k-1.
  const bool down = k > 0 && b.rng.Chance(50);
  if ((form == 3 || form == 5) && (down || k + q < 3)) b.Op("LD", "R19," + (down ? "-" + p : p + "+"));
  b.Op(load, "R17," + at);
  if (b.rng.Chance(50)) {
    b.Op("SUBI", "R17," + b.Imm());
    b.Op(store, at + ",R17");
  }
  if (form == 2) b.Op("ADIW", "R28,1");
  if (form == 1) {
    b.Op("POP", hi);
    b.Op("POP", lo);
  }
  b.Op("STS", b.AnyByte().name + ",R17");
  if (form == 4) b.Op("STS", b.AnyByte().name + "," + lo);  // the copy is read after
  if (form == 3 || form == 5) b.Op("STS", b.AnyByte().name + ",R19");
}

void BigFrameRoutine(Builder& b) {
  // Eighty bytes of frame: slots past Y+63 are reached by moving Y up 64 and
  // back. R16 and R17 come in, R17 goes out.
  static const std::pair<const char*, const char*> kBody[] = {
      {"STD", "Y+1,R16"},   {"STD", "Y+2,R17"},
      {"SUBI", "R28,0C0h"}, {"SBCI", "R29,0FFh"},  // Y up 64
      {"STD", "Y+1,R17"},   {"STD", "Y+2,R16"},    // the bytes 65 and 66, not 1 and 2
      {"LDD", "R18,Y+1"},   {"MOVW", "R30,R28"},   {"ADIW", "R30,2"}, {"LD", "R19,Z"},
      {"SUBI", "R28,40h"},  {"SBCI", "R29,0"},     // Y back
      {"LDD", "R16,Y+1"},   {"SUB", "R16,R19"},    {"ADD", "R16,R18"},
      {"MOVW", "R30,R28"},  {"ADIW", "R30,60"},    {"LDD", "R18,Z+6"},  // the byte 66: past a displacement
      {"EOR", "R16,R18"},   {"LDD", "R18,Y+2"},    {"ADD", "R16,R18"}, {"MOV", "R17,R16"},
  };
  const std::string name = "bigframe";
  BeginRoutine(b, name, 1);
  // Reserved and released by SBIW and ADIW twice, or by SUBI and SBCI.
  const bool words = b.rng.Chance(50);
  b.Op(words ? "SBIW" : "SUBI", words ? "R28,63" : "R28,80");
  b.Op(words ? "SBIW" : "SBCI", words ? "R28,17" : "R29,0");
  b.Line(".FRAME 80");
  for (const auto& [mnemonic, operands] : kBody) b.Op(mnemonic, operands);
  b.Op(words ? "ADIW" : "SUBI", words ? "R28,63" : "R28,0B0h");
  b.Op(words ? "ADIW" : "SBCI", words ? "R28,17" : "R29,0FFh");
  EndRoutine(b, name);
  b.bigFrames.push_back(name);
}

void BigFrameCall(Builder& b) {
  if (b.bigFrames.empty()) return;
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("RCALL", b.rng.Pick(b.bigFrames));
  b.Op("STS", b.AnyByte().name + ",R17");
}

}  // namespace korvid::verify::gen
