// What a call leaves that its caller reads, as hand-written code relies on it: flags
// a routine ends with, and a register variable the routine writes through a pointer.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {
namespace {

const std::vector<std::string>& CompareBranches() {
  static const std::vector<std::string> b = {"BREQ", "BRNE", "BRLO", "BRSH", "BRLT", "BRGE", "BRMI", "BRPL"};
  return b;
}

}  // namespace

void FlagRoutine(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 0);
  b.Op("LDS", "R16," + b.AnyByte().name);
  std::vector<std::string> branches = CompareBranches();
  switch (b.rng.Below(5)) {
    case 0: b.Op("CPI", "R16," + b.Imm()); break;
    case 1:
      b.Op("LDS", "R17," + b.AnyByte().name);
      b.Op("CP", "R16,R17");
      break;
    case 2:
      b.Op("TST", "R16");
      branches = {"BREQ", "BRNE", "BRMI", "BRPL"};
      break;
    case 3:
      b.Op("BST", "R16," + std::to_string(b.rng.Below(8)));
      branches = {"BRTS", "BRTC"};
      break;
    default: {  // the carry as a boolean result, set on one path and cleared on the other
      std::string set = b.NewLabel("carry");
      b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R16," + std::to_string(b.rng.Below(8)));
      b.Op("RJMP", set);
      b.Op("CLC");
      b.Op("RET");
      b.Label(set);
      b.Op("SEC");
      branches = {"BRCS", "BRCC"};
      break;
    }
  }
  EndRoutine(b, name);
  b.flagRoutines.push_back({name, branches});
}

void CallFlagRoutine(Builder& b, const Builder::FlagRoutine& f) {
  // The branch reads the flags the routine returned with, right after the call.
  std::string l = b.NewLabel("rflag");
  b.Op("LDI", "R18," + b.Imm());
  if (b.rng.Chance(40)) b.Op("TST", "R18");  // known flags, which the call replaces
  b.Op("RCALL", f.name);
  b.Op(b.rng.Pick(f.branches), l);
  b.Op("SUBI", "R18," + std::to_string(b.rng.Range(1, 255)));
  b.Label(l);
  b.Op("STS", b.AnyByte().name + ",R18");
}

void FlagsAfterCall(Builder& b) {
  if (!b.flagRoutines.empty()) CallFlagRoutine(b, b.rng.Pick(b.flagRoutines));
}

void RegisterThroughPointer(Builder& b) {
  // A register variable whose address goes to a routine, in Z or as a parameter on the
  // Y stack: the call writes it.
  if (b.pointerWriters.empty() || b.paramWriters.empty()) return;
  const bool high = b.rng.Chance(60);
  const std::string reg = high ? "R23" : "R5", name = high ? "rvar" : "rlow";
  const std::string value = b.Imm();
  auto set = [&] {
    if (high) {
      b.Op("LDI", "R23," + value);
    } else {
      b.Op("LDI", "R16," + value);
      b.Op("MOV", "R5,R16");
    }
  };
  set();
  const int use = b.rng.Below(4);
  const Variable& v = b.AnyByte();
  if (use == 3) {  // a copy made before the call: the same copy after it only looks redundant
    b.Op("MOV", "R17," + reg);
    b.Op("STS", b.OtherByte(v).name + ",R17");
  }
  if (b.rng.Chance(40)) {
    b.Op("LDI", "R18," + Hi(name));
    b.Op("ST", "-Y,R18");
    b.Op("LDI", "R18," + Lo(name));
    b.Op("ST", "-Y,R18");
    b.Op("RCALL", b.rng.Pick(b.paramWriters));
  } else {
    b.Op("LDI", "R30," + Lo(name));
    b.Op("LDI", "R31," + Hi(name));
    b.Op("RCALL", b.rng.Pick(b.pointerWriters));
  }
  switch (use) {
    case 0: b.Op("STS", v.name + "," + reg); break;
    case 3:
      b.Op("MOV", "R17," + reg);
      b.Op("STS", v.name + ",R17");
      break;
    case 1:  // the same value loaded again: it only looks redundant
      set();
      b.Op("STS", v.name + "," + reg);
      break;
    default: {  // a compare with the value it held before the call
      std::string l = b.NewLabel("regvar");
      b.Op("LDI", "R17," + b.Imm());
      if (high) b.Op("CPI", "R23," + value);
      else b.Op("CP", "R5,R16");
      b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", l);
      b.Op("SUBI", "R17," + std::to_string(b.rng.Range(1, 255)));
      b.Label(l);
      b.Op("STS", v.name + ",R17");
      break;
    }
  }
}

}  // namespace korvid::verify::gen
