// Register copies as the compiler writes them, each beside the near miss where
// the copy must stay.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

const std::vector<std::string> kWork = {"R18", "R19", "R20", "R21", "R22", "R24", "R25"};
const std::vector<std::string> kTargets = {"R16", "R17", "R2", "R3", "R4", "R18", "R19"};

std::string Other(Builder& b, const std::vector<std::string>& from, const std::string& not1,
                  const std::string& not2 = "") {
  for (;;) {
    const std::string& r = b.rng.Pick(from);
    if (r != not1 && r != not2) return r;
  }
}

void Store(Builder& b, const std::string& reg) { b.Op("STS", b.AnyByte().name + "," + reg); }

}  // namespace

void CopyOfResult(Builder& b) {
  // A value computed in a working register and copied out: a correct optimiser
  // may compute it in the copy's register, or swap the two where both are defined.
  const std::string work = b.rng.Pick(kWork), copy = Other(b, kTargets, work);
  const int miss = b.rng.Below(9);  // 0: label, 1: skipped copy, 2: original read after, 3: MUL
  const bool exchange = b.rng.Chance(35);
  if (exchange) b.Op("LDS", copy + "," + b.AnyByte().name);
  b.Op("LDS", work + "," + b.AnyByte().name);
  if (exchange)
    b.Op(b.rng.Pick(std::vector<std::string>{"ADD", "EOR", "SUB"}), work + "," + copy);
  else if (b.rng.Chance(60))
    b.Op(b.rng.Pick(std::vector<std::string>{"SUBI", "ANDI", "ORI"}), work + "," + b.Imm());
  if (miss == 3) {
    b.Op("LDS", "R0," + b.AnyByte().name);
    b.Op("MUL", work + "," + work);
    b.Op("MOV", copy + ",R0");
    b.Op("CLR", "R1");
    Store(b, copy);
    return;
  }
  if (miss == 0) b.Label(b.NewLabel("copy"));
  if (miss == 1) {
    b.Op("CLR", copy);
    b.Op("SBRC", work + "," + std::to_string(b.rng.Below(8)));
  }
  b.Op("MOV", copy + "," + work);
  Store(b, copy);
  if (miss == 2) Store(b, work);
}

void CopyThenUse(Builder& b) {
  // A copy read once while the original lives on: a correct optimiser may read
  // the original there. CPI cannot name the low registers, ADIW and ADD R,R
  // read the copy in ways a rename does not reach.
  const std::string original = b.rng.Pick(kTargets), copy = Other(b, {"R20", "R21", "R22", "R24"}, original);
  b.Op("LDS", original + "," + b.AnyByte().name);
  b.Op("MOV", copy + "," + original);
  switch (b.rng.Below(6)) {
    case 0:
      Store(b, copy);
      break;
    case 1:
      b.Op("PUSH", copy);
      b.Op("POP", "R16");
      Store(b, "R16");
      break;
    case 2: {
      const std::string skip = b.NewLabel("cmp");
      b.Op("LDI", "R16,1");
      b.Op("CPI", copy + "," + b.Imm());
      b.Op("BRNE", skip);
      b.Op("LDI", "R16,2");
      b.Label(skip);
      Store(b, "R16");
      break;
    }
    case 3:
      b.Op("ADD", copy + "," + copy);
      b.Op("IN", "R16,SREG");
      Store(b, "R16");
      break;
    case 4:
      b.Op("ADIW", "R24,1");  // copy may be R24; when not, R24 is only scratch
      Store(b, "R24");
      break;
    default:
      b.Op("DEC", copy);
      b.Op("IN", "R16,SREG");
      Store(b, "R16");
      break;
  }
  Store(b, original);
}

void PairCopy(Builder& b) {
  // A word copied through a register pair: the two byte copies may become one
  // MOVW of the originals, or the loads may write the final pair directly.
  const int miss = b.rng.Below(8);  // 0: the copy's high byte read after, 1: INC, 2: skipped load
  const Variable& word = b.AnyWord();
  if (b.rng.Chance(50)) {
    b.Op("LDS", "R16," + word.name);
    b.Op("LDS", "R17," + word.name + "+1");
    b.Op("MOV", "R24,R16");
    b.Op("MOV", "R25,R17");
    b.Op("MOVW", "R20,R24");
    Store(b, "R20");
    Store(b, "R21");
    if (miss == 0) Store(b, "R25");
    Store(b, "R16");
    Store(b, "R17");
    return;
  }
  const bool highFirst = b.rng.Chance(30);
  b.Op("LDS", (highFirst ? "R25," + word.name + "+1" : "R24," + word.name));
  if (miss == 2) b.Op("SBRC", (highFirst ? "R25," : "R24,") + std::to_string(b.rng.Below(8)));
  b.Op("LDS", (highFirst ? "R24," + word.name : "R25," + word.name + "+1"));
  if (miss == 1) b.Op("INC", "R25");
  const std::string target = b.rng.Pick(std::vector<std::string>{"R16", "R18", "R2"});
  b.Op("MOVW", target + ",R24");
  Store(b, target);
  Store(b, "R" + std::to_string(std::stoi(target.substr(1)) + 1));
}

}  // namespace korvid::verify::gen
