// Near misses: code that a correct optimiser may simplify, each beside the case that
// looks the same and must stay, so that the soak sees both the rewrite and its limit.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

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

}  // namespace korvid::verify::gen
