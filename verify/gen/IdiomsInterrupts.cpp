// Interrupt routines that really run: main enables INT0/INT1 and raises them through
// PORTD bits 0 and 1 while it keeps values in registers and flags, so a routine that
// fails to restore a register or SREG changes the result.
#include "verify/gen/Idioms.h"

#include <utility>

namespace korvid::verify::gen {
namespace {

// Interrupt routines use R16 and two of these; main keeps all three across the interrupt.
std::vector<std::string> Kept(Builder& b) {
  std::vector<std::string> kept = {"R17", "R18", "R19"};
  for (int i = 2; i > 0; --i) std::swap(kept[static_cast<size_t>(i)], kept[static_cast<size_t>(b.rng.Below(i + 1))]);
  return kept;
}

void InterruptRoutine(Builder& b, int k) {
  const std::string name = "isr" + std::to_string(k);
  // Counts in one shared variable, mixes into the other: both volatile.
  const std::string counter = k == 0 ? "ticks" : "shared", other = k == 0 ? "shared" : "ticks";
  const std::vector<std::string> regs = Kept(b);  // the first two
  BeginRoutine(b, name, -1);
  b.Op("PUSH", "R16");
  b.Op("IN", "R16,SREG");
  b.Op("PUSH", "R16");
  for (int i = 0; i < 2; ++i) b.Op("PUSH", regs[i]);
  b.Op("LDS", "R16," + counter);
  b.Op("SUBI", "R16,0FFh");
  b.Op("STS", counter + ",R16");
  b.Op("LDS", regs[0] + "," + other);
  b.Op(b.rng.Pick(std::vector<std::string>{"ADD", "EOR", "SUB"}), regs[0] + ",R16");
  b.Op("MOV", regs[1] + "," + regs[0]);
  b.Op("SWAP", regs[1]);
  b.Op("STS", other + "," + regs[1]);
  // Leaves Z set and N, V, S, C clear, as a compare does only for equal values, and a
  // register value of its own: whatever it fails to restore shows in the caller. Both
  // are dead once restored, so a correct optimiser may drop the two lines.
  const std::string mark = std::to_string(b.rng.Range(1, 255));
  b.Op("LDI", regs[0] + "," + mark);
  b.Op("CPI", regs[0] + "," + mark);
  for (int i = 1; i >= 0; --i) b.Op("POP", regs[i]);
  b.Op("POP", "R16");
  b.Op("OUT", "SREG,R16");
  b.Op("POP", "R16");
  EndRoutine(b, name, "RETI");
}

void RaiseInterrupt(Builder& b, int bit) {
  b.triggered |= 1 << bit;
  const std::string mask = std::to_string(1 << bit);
  const std::vector<std::string> kept = Kept(b);
  // The bit goes low first, so that the trigger turns it from 0 to 1.
  b.Op("CBI", "PORTD," + std::to_string(bit));
  const int how = b.rng.Below(6);
  auto trigger = [&] {
    if (how < 3) b.Op("SBI", "PORTD," + std::to_string(bit));
    else if (how < 5) b.Op("OUT", "PORTD,R16");
    else {
      b.Op("STS", "02Bh,R16");  // PORTD in data space
      b.stored.pop_back();      // an output itself, not a variable to send out
    }
  };
  if (how >= 3) b.Op("LDI", "R16," + mask);
  // A compare, the interrupt, then the branch on the compare's flags (or SREG itself);
  // three registers loaded before the interrupt and used after it; maybe its count,
  // read before and after.
  const Variable& result = b.AnyByte();
  const bool count = b.rng.Chance(50);
  const std::string counter = bit == 0 ? "ticks" : "shared";
  b.Op("LDS", kept[0] + "," + b.AnyByte().name);
  b.Op("LDI", kept[1] + "," + b.Imm());
  b.Op("LDI", kept[2] + "," + b.Imm());
  if (count) b.Op("LDS", "R20," + counter);
  b.Op("CPI", kept[0] + "," + b.Imm());
  trigger();
  if (b.rng.Chance(75)) {
    std::string l = b.NewLabel("irq");
    // Mostly on Z, which the interrupt routine leaves set.
    static const std::vector<std::string> branches = {"BREQ", "BRNE", "BREQ", "BRNE", "BREQ", "BRNE",
                                                      "BRLT", "BRGE", "BRMI", "BRPL", "BRLO", "BRSH"};
    b.Op(b.rng.Pick(branches), l);
    b.Op("SUBI", kept[1] + "," + std::to_string(b.rng.Range(1, 255)));
    b.Label(l);
  } else {
    b.Op("IN", "R21,SREG");
    b.Op("ANDI", "R21,7Fh");
    b.Op("EOR", kept[1] + ",R21");
  }
  b.Op("ADD", kept[1] + "," + kept[0]);
  b.Op("STS", result.name + "," + kept[1]);
  if (count) {
    b.Op("LDS", "R21," + counter);
    b.Op("SUB", "R21,R20");
    b.Op("ADD", kept[2] + ",R21");
  }
  b.Op("STS", b.OtherByte(result).name + "," + kept[2]);
}

}  // namespace

void EmitInterruptRoutines(Builder& b) {
  for (int k = 0; k < b.interrupts; ++k) InterruptRoutine(b, k);
}

void EnableInterrupts(Builder& b) {
  if (b.interrupts == 0) return;
  b.Op("LDI", "R16," + std::to_string(b.interrupts == 2 ? 3 : 1));
  if (b.rng.Chance(50)) b.Op("OUT", "EIFR,R16");  // nothing pending yet: clears nothing
  b.Op("OUT", "EIMSK,R16");
  b.Op("SEI");
}

void InterruptTrigger(Builder& b) {
  if (b.interrupts > 0) RaiseInterrupt(b, b.rng.Below(b.interrupts));
}

void RaiseRemaining(Builder& b) {
  for (int bit = 0; bit < b.interrupts; ++bit)
    if (!(b.triggered & (1 << bit))) RaiseInterrupt(b, bit);
}

}  // namespace korvid::verify::gen
