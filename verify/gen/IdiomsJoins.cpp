// Where paths join: labels written on instruction lines, with or without a colon, and
// loop heads entered from two places. A pass that misses a join keeps what it knew
// from the fall-through.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

void LabelledInstructions(Builder& b) {
  // Hand-written assembly puts labels on instruction lines, with a colon or without one
  // ("name  LDI R16,7"). A label without one still makes a join.
  std::string a = b.NewLabel("hand"), c = b.NewLabel("hand");
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + b.AnyByte().name);
  switch (b.rng.Below(3)) {
    case 0:
      b.Op("CPI", "R16,80h");
      b.Op("BRLO", a);
      b.Line(c + "  LDI     R16,7");
      b.Line(a + ": STS     " + v.name + ",R16");
      break;
    case 1: {  // the branch arrives with another value than the fall-through holds
      const int arrives = b.rng.Below(256);
      b.Op("LDI", "R17," + std::to_string(arrives));
      b.Op("CPI", "R16," + b.Imm());
      b.Op(b.rng.Pick(std::vector<std::string>{"BREQ", "BRNE", "BRLO", "BRSH"}), a);
      const std::string holds = std::to_string(b.OtherValue(arrives));
      b.Op("LDI", "R17," + holds);
      if (b.rng.Chance(50)) {  // the fall-through's load again: it only looks redundant
        b.Op("STS", b.OtherByte(v).name + ",R17");
        b.Line(a + "  LDI     R17," + holds);
      } else {
        b.Line(a + "  " + b.rng.Pick(std::vector<std::string>{"INC     R17", "LSL     R17", "SUBI    R17,5"}));
      }
      b.Line("        STS     " + v.name + ",R17");
      break;
    }
    default:  // a loop head: the fall-through brings R17 = 0, the branch back the sum
      b.Op("LDI", "R22," + std::to_string(b.rng.Range(2, 5)));
      b.Op("CLR", "R17");
      b.Line(a + "  ADD     R17,R16");
      b.Op("DEC", "R22");
      b.Op("BRNE", a);
      b.Line("        STS     " + v.name + ",R17");
      break;
  }
  b.stored.push_back(v.name);
}

void LoopTwoEntries(Builder& b) {
  // A loop head reached by falling into it and by a jump from another arm.
  std::string head = b.NewLabel("head"), other = b.NewLabel("other"), out = b.NewLabel("out");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDI", "R22,3");
  b.Op("SBRC", "R16,0");
  b.Op("RJMP", other);
  b.Op("LDI", "R17,1");
  b.Label(head);
  b.Op("ADD", "R17,R16");
  b.Op("DEC", "R22");
  b.Op("BRNE", head);
  b.Op("RJMP", out);
  b.Label(other);
  b.Op("LDI", "R17,2");
  b.Op("RJMP", head);
  b.Label(out);
  b.Op("STS", b.AnyByte().name + ",R17");
}

}  // namespace korvid::verify::gen
