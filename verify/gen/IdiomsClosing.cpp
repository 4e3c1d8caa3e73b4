// Patterns the closing rewrites shorten once the program has settled, each
// beside its near misses: a skip before the first line, a label among the
// lines, flags read afterwards.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

void Store(Builder& b, const std::string& reg) { b.Op("STS", b.AnyByte().name + "," + reg); }

// Sometimes a skip that may pass over the line that comes next.
void MaybeSkip(Builder& b, int percent) {
  if (!b.rng.Chance(percent)) return;
  b.Op("LDS", "R20," + b.AnyByte().name);
  b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R20," + std::to_string(b.rng.Below(8)));
}

}  // namespace

void NibbleShift(Builder& b) {
  const std::string r = b.rng.Chance(85) ? b.rng.Pick(std::vector<std::string>{"R16", "R18", "R24"}) : "R2";
  b.Op("LDS", r + "," + b.AnyByte().name);
  MaybeSkip(b, 15);
  const int shifts = b.rng.Chance(85) ? 4 : 3;
  const int labelAt = b.rng.Chance(10) ? 2 : -1;
  for (int k = 0; k < shifts; ++k) {
    if (k == labelAt) b.Label(b.NewLabel("mid"));
    b.Op("LSR", r);
  }
  if (b.rng.Chance(20)) StoreBranchOutcome(b, b.rng.Pick(std::vector<std::string>{"BRCS", "BRLT", "BRVS", "BREQ"}));
  Store(b, r);
}

void TFlagTwice(Builder& b) {
  const bool setFirst = b.rng.Chance(50);
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op(setFirst ? "CLT" : "SET");
  MaybeSkip(b, 25);
  b.Op(setFirst ? "SET" : "CLT");
  b.Op(setFirst ? "CLT" : "SET");
  b.Op("BLD", "R16," + std::to_string(b.rng.Below(8)));
  Store(b, "R16");
}

void TestOfResult(Builder& b) {
  const std::string op = b.rng.Pick(std::vector<std::string>{"ANDI", "ORI", "EOR", "COM", "INC", "DEC", "ADD", "LSR",
                                                             "NEG"});
  b.Op("LDS", "R24," + b.AnyByte().name);
  b.Op("LDS", "R25," + b.AnyByte().name);
  MaybeSkip(b, 15);
  if (op == "ANDI" || op == "ORI")
    b.Op(op, "R24," + b.Imm());
  else if (op == "EOR" || op == "ADD")
    b.Op(op, "R24,R25");
  else
    b.Op(op, "R24");
  b.Op("TST", b.rng.Chance(90) ? "R24" : "R25");
  StoreBranchOutcome(b, b.rng.Pick(std::vector<std::string>{"BREQ", "BRNE", "BRMI", "BRLT", "BRGE", "BRVS", "BRCS"}));
  Store(b, "R24");
}

void PairMoves(Builder& b) {
  b.Op("LDS", "R18," + b.AnyByte().name);
  b.Op("LDS", "R19," + b.AnyByte().name);
  b.Op("LDS", "R16," + b.AnyByte().name);
  MaybeSkip(b, 15);
  switch (b.rng.Below(6)) {
    case 0: b.Op("MOV", "R16,R16"); break;
    case 1: b.Op("MOV", "R16,R19"); b.Op("MOV", "R17,R18"); break;
    case 2: b.Op("MOV", "R17,R19"); b.Op("MOV", "R16,R18"); break;
    default: b.Op("MOV", "R16,R18"); b.Op("MOV", "R17,R19"); break;
  }
  // The sources stay live, so the moves cannot simply be renamed away.
  b.Op("INC", "R18");
  Store(b, "R18");
  Store(b, "R19");
  Store(b, "R16");
  Store(b, "R17");
}

void PairCopiedBack(Builder& b) {
  b.Op("LDS", "R30," + b.AnyByte().name);
  b.Op("LDS", "R31," + b.AnyByte().name);
  b.Op("LDS", "R24," + b.AnyByte().name);
  MaybeSkip(b, 20);
  b.Op("MOVW", "R24,R30");
  b.Op("MOVW", b.rng.Chance(85) ? "R30,R24" : "R30,R26");
  b.Op("ADIW", "R24,1");
  for (const char* r : {"R24", "R25", "R30", "R31"}) Store(b, r);
}

}  // namespace korvid::verify::gen
