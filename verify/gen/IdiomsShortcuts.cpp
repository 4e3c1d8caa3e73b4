// Small local patterns the peephole pass shortens, each beside its near miss.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

void Store(Builder& b, const std::string& reg) { b.Op("STS", b.AnyByte().name + "," + reg); }

}  // namespace

void StoreBranchOutcome(Builder& b, const std::string& branch) {
  const std::string done = b.NewLabel("flag");
  b.Op("LDI", "R16,1");
  b.Op(branch, done);
  b.Op("LDI", "R16,2");
  b.Label(done);
  Store(b, "R16");
}

void AdiwPair(Builder& b) {
  // Two steps of a pair: one ADIW of the sum, unless the carry or sign is read.
  const std::string pair = b.rng.Pick(std::vector<std::string>{"R24", "R26", "R30"});
  const std::string high = pair == "R24" ? "R25" : pair == "R26" ? "R27" : "R31";
  b.Op("LDS", pair + "," + b.AnyByte().name);
  b.Op("LDI", high + "," + b.Imm());
  b.Op("ADIW", pair + "," + std::to_string(b.rng.Range(1, 40)));
  b.Op("ADIW", pair + "," + std::to_string(b.rng.Range(1, 30)));
  if (b.rng.Chance(30)) StoreBranchOutcome(b, b.rng.Pick(std::vector<std::string>{"BRCS", "BRLT", "BREQ"}));
  Store(b, pair);
  Store(b, high);
}

void MaskPair(Builder& b) {
  // Two SBR (CBR) of one register: one of both masks, unless something reads
  // the register between; a CBR (SBR) of other bits may stand between.
  const std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R18", "R20"});
  const bool set = b.rng.Chance(50);
  const int a = 1 << b.rng.Below(4), c = 16 << b.rng.Below(2), d = 1 << b.rng.Below(8);
  b.Op("LDS", r + "," + b.AnyByte().name);
  b.Op(set ? "SBR" : "CBR", r + "," + std::to_string(a));
  switch (b.rng.Below(4)) {
    case 0:
      b.Op(set ? "CBR" : "SBR", r + "," + std::to_string(c));
      break;
    case 1:
      b.Op("PUSH", r);
      b.Op("POP", "R17");
      Store(b, "R17");
      break;
    default:
      b.Op("LDI", "R17," + b.Imm());
      Store(b, "R17");
      break;
  }
  b.Op(set ? "SBR" : "CBR", r + "," + std::to_string(d));
  Store(b, r);
}

void KnownCompare(Builder& b) {
  // A compare with the constant just loaded: always equal. The near miss reads
  // the carry it leaves after the branch.
  const int k = b.rng.Below(256);
  const std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R17", "R18"});
  const std::string target = b.NewLabel("known");
  b.Op("LDI", "R19,1");
  if (k == 0 && b.rng.Chance(50))
    b.Op("CLR", r);
  else
    b.Op("LDI", r + "," + std::to_string(k));
  b.Op("CPI", r + "," + std::to_string(k));
  if (b.rng.Chance(40)) b.Op("LDI", "R20," + b.Imm());
  const bool equal = b.rng.Chance(50);
  b.Op(equal ? "BREQ" : "BRNE", target);
  b.Op("LDI", "R19,2");
  b.Label(target);
  if (b.rng.Chance(25)) StoreBranchOutcome(b, "BRCS");
  Store(b, "R19");
}

void JumpChains(Builder& b) {
  // Jumps and branches to a jump, a branch over a jump, a skip over a jump
  // over a jump: each may go to the final label directly or be reversed.
  const std::string hop = b.NewLabel("hop"), end = b.NewLabel("end"), over = b.NewLabel("over");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDI", "R17,1");
  switch (b.rng.Below(3)) {
    case 0:
      b.Op("SBRC", "R16," + std::to_string(b.rng.Below(8)));
      b.Op("RJMP", over);
      b.Op("RJMP", hop);
      b.Label(over);
      break;
    case 1:
      b.Op("TST", "R16");
      b.Op(b.rng.Pick(std::vector<std::string>{"BREQ", "BRMI", "BRNE"}), hop);
      break;
    default:
      // Skipped, so the code after it stays reachable.
      b.Op("SBRS", "R16," + std::to_string(b.rng.Below(8)));
      b.Op("RJMP", hop);
      break;
  }
  // hop: a jump past code of its own, so that no jump here goes to the next line.
  const std::string mid = b.NewLabel("mid");
  b.Op("LDI", "R17,2");
  b.Op("RJMP", mid);
  b.Label(hop);
  b.Op("RJMP", end);
  b.Label(mid);
  b.Op("INC", "R17");
  b.Label(end);
  Store(b, "R17");
}

void FrameStackBounce(Builder& b) {
  // A byte pushed on the frame stack and popped straight back; the near miss
  // pops from above and pushes back, which writes memory for real.
  const std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R17", "R24"});
  b.Op("LDS", r + "," + b.AnyByte().name);
  const int form = b.rng.Below(8);
  if (form < 5) {
    b.Op("ST", "-Y," + r);
    b.Op("LD", r + ",Y+");
  } else if (form == 5) {  // through X the byte lands in buf for real
    b.Op("LDI", "R26,buf+4 AND 0FFh");
    b.Op("LDI", "R27,buf+4 SHRB 8");
    b.Op("ST", "-X," + r);
    b.Op("LD", r + ",X+");
  } else {
    b.Op("LD", r + ",Y+");
    b.Op("ST", "-Y," + r);
  }
  Store(b, r);
}

void StoreThenReload(Builder& b) {
  // A byte stored and read straight back: the register still holds it, unless
  // the byte is volatile or the store may be skipped.
  const int miss = b.rng.Below(4);  // 0: volatile, 1: skipped store
  const std::string var = miss == 0 ? "shared" : b.AnyByte().name;
  b.Op("LDS", "R18," + b.AnyByte().name);
  if (miss == 1) b.Op("SBRC", "R18," + std::to_string(b.rng.Below(8)));
  b.Op("STS", var + ",R18");
  b.Op("LDS", "R19," + var);
  b.Op("SUBI", "R19," + b.Imm());
  Store(b, "R19");
}

void PointerLastStep(Builder& b) {
  // The last access through X or Z steps the pointer nobody reads again; in
  // the near miss the high byte is read after.
  const bool z = b.rng.Chance(50);
  const std::string lo = z ? "R30" : "R26", hi = z ? "R31" : "R27", ptr = z ? "Z" : "X";
  b.Op("LDI", lo + ",buf AND 0FFh");
  b.Op("LDI", hi + ",buf SHRB 8");
  b.Op("LD", "R16," + ptr + "+");
  if (b.rng.Chance(50))
    b.Op("LD", "R17," + ptr + "+");
  else
    b.Op("ST", ptr + "+,R16");
  if (b.rng.Chance(25)) Store(b, hi);
  Store(b, "R16");
  b.Op("LDI", lo + "," + b.Imm());
  b.Op("LDI", hi + "," + b.Imm());
}

}  // namespace korvid::verify::gen
