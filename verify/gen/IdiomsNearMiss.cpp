// Near misses: code that a correct optimiser may simplify, each beside the case that
// looks the same and must stay, so that the soak sees both the rewrite and its limit.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

void CodeIsland(Builder& b) {
  // A loop behind a jump that only its own branch enters never runs, and a correct
  // optimiser may drop it whole; in the near miss a live branch enters it too.
  std::string island = b.NewLabel("island"), after = b.NewLabel("after");
  const Variable& v = b.AnyByte();
  b.Op("LDI", "R19,2");
  if (b.rng.Chance(30)) {
    b.Op("LDS", "R16," + b.AnyByte().name);
    b.Op("CPI", "R16," + b.Imm());
    b.Op("BREQ", island);
  }
  b.Op(b.rng.Chance(50) ? "RJMP" : "JMP", after);
  if (b.rng.Chance(50)) b.Marker();
  b.Label(island);
  b.Op("LDS", "R18," + v.name);
  b.Op("INC", "R18");
  b.Op("STS", v.name + ",R18");
  b.Op("DEC", "R19");
  b.Op("BRNE", island);
  b.Op("INC", "R18");  // runs after the loop when it is entered; dead with it otherwise
  b.Label(after);
}

void JumpToNext(Builder& b) {
  // A jump to the next instruction with only markers and labels in between may go; the
  // jump over COM after it must stay.
  std::string next = b.NewLabel("next"), over = b.NewLabel("over");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op(b.rng.Chance(50) ? "RJMP" : "JMP", next);
  if (b.rng.Chance(50)) b.Marker();
  if (b.rng.Chance(30)) b.Line(".DEB");
  if (b.rng.Chance(50)) b.Label(b.NewLabel("past"));  // a label nothing refers to
  b.Label(next);
  b.Op("INC", "R16");
  b.Op("RJMP", over);
  b.Op("COM", "R16");
  b.Label(over);
  b.Op("STS", b.AnyByte().name + ",R16");
}

void SaveMatch(Builder& b) {
  // A byte loaded through Z and stored back: with nothing stored to it in between the
  // store may go; a store of another value through X or by name in between keeps it.
  std::string target = "buf+" + std::to_string(b.rng.Below(8));
  b.Op("LDI", "R30," + Lo(target));
  b.Op("LDI", "R31," + Hi(target));
  b.Op("LD", "R16,Z");
  b.Op("LDS", "R17," + b.AnyByte().name);
  switch (b.rng.Below(3)) {
    case 0: b.Op("INC", "R17"); break;
    case 1:
      b.Op("LDI", "R26," + Lo(target));
      b.Op("LDI", "R27," + Hi(target));
      b.Op("MOV", "R17,R16");
      b.Op("COM", "R17");
      b.Op("ST", "X,R17");
      break;
    default:
      b.Op("MOV", "R17,R16");
      b.Op("COM", "R17");
      b.Op("STS", target + ",R17");
      break;
  }
  b.Op("ST", "Z,R16");
  b.stored.push_back(target);  // sent out before a later idiom can overwrite it
  b.Op("STS", b.AnyByte().name + ",R17");
}

void DeadLoadBeforeLoop(Builder& b) {
  // The loop is entered only by falling into it and writes R17 before reading it: the
  // load of R17 before it is dead. R19 is read in the loop: its load stays.
  std::string head = b.NewLabel("once");
  b.Op("LDI", "R17," + b.Imm());
  b.Op("LDI", "R19," + b.Imm());
  b.Op("LDI", "R22," + std::to_string(b.rng.Range(1, 5)));
  b.Line(".LOOP");
  b.Label(head);
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("ADD", "R17,R22");
  b.Op("EOR", "R19,R17");
  b.Op("DEC", "R22");
  b.Op("BRNE", head);
  b.Line(".ENDLOOP");
  b.Op("STS", b.AnyByte().name + ",R19");
}

void PointerBesideVariable(Builder& b) {
  // A pointer loaded with one byte of buf, then stepped or displaced so that its access
  // lands on `target` or beside it, between a store of `target` and its reload (or a
  // second store). Only where the access lands elsewhere may the reload or the first
  // store go.
  const int base = b.rng.Range(2, 11);
  const std::string target = "buf+" + std::to_string(base + b.rng.Range(-2, 3));
  const int form = b.rng.Below(7);
  const bool z = form == 6 || b.rng.Chance(50);  // form 6 displaces: only Z can
  const std::string ptr = z ? "Z" : "X", lo = z ? "R30" : "R26", hi = z ? "R31" : "R27";
  const int value = b.rng.Below(256);
  b.Op("LDI", "R16," + std::to_string(value));
  b.Op("STS", target + ",R16");
  b.Op("LDI", lo + "," + Lo("buf+" + std::to_string(base)));
  b.Op("LDI", hi + "," + Hi("buf+" + std::to_string(base)));
  b.Op("LDI", "R17," + std::to_string(b.OtherValue(value)));
  const bool store = b.rng.Chance(50);
  const std::string access = store ? "ST" : "LD";
  auto at = [&](const std::string& where) {
    b.Op(access, store ? where + ",R17" : "R17," + where);
  };
  switch (form) {
    case 0: at(ptr); break;
    case 1: at(ptr + "+"); at(ptr); break;
    case 2: at("-" + ptr); break;
    case 3:
      b.Op("ADIW", lo + "," + std::to_string(b.rng.Range(1, 2)));
      at(ptr);
      break;
    case 4:
      b.Op("SBIW", lo + "," + std::to_string(b.rng.Range(1, 2)));
      at(ptr);
      break;
    case 5:  // the address copied into the other pair
      b.Op("MOVW", z ? "R26,R30" : "R30,R26");
      at(z ? "X" : "Z");
      break;
    default:
      b.Op(store ? "STD" : "LDD", store ? "Z+" + std::to_string(b.rng.Range(1, 2)) + ",R17"
                                        : "R17,Z+" + std::to_string(b.rng.Range(1, 2)));
      break;
  }
  // Send out every byte the pointer store may have written.
  if (store)
    for (int offset = -2; offset <= 2; ++offset) b.stored.push_back("buf+" + std::to_string(base + offset));
  if (b.rng.Chance(50)) {
    b.Op("LDS", "R18," + target);
  } else {
    b.Op("LDI", "R18," + b.Imm());
    b.Op("STS", target + ",R18");
  }
  b.Op("STS", b.AnyByte().name + ",R18");
  b.Op("STS", b.AnyByte().name + ",R17");
}

}  // namespace korvid::verify::gen
