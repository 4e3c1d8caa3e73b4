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

// Counts in one shared variable, mixes into the other (both volatile), and leaves Z set
// and N, V, S, C clear, as a compare does only for equal values, and a register value of
// its own: whatever the routine fails to restore shows in the caller. The last two lines
// are dead once the registers are restored, so a correct optimiser may drop them.
// `between`: after the first line (a directive there follows code).
void InterruptWork(Builder& b, int k, const std::vector<std::string>& regs, const std::string& between = "") {
  const std::string counter = k == 0 ? "ticks" : "shared", other = k == 0 ? "shared" : "ticks";
  b.Op("LDS", "R16," + counter);
  if (!between.empty()) b.Line(between);
  b.Op("SUBI", "R16,0FFh");
  b.Op("STS", counter + ",R16");
  b.Op("LDS", regs[0] + "," + other);
  b.Op(b.rng.Pick(std::vector<std::string>{"ADD", "EOR", "SUB"}), regs[0] + ",R16");
  b.Op("MOV", regs[1] + "," + regs[0]);
  b.Op("SWAP", regs[1]);
  b.Op("STS", other + "," + regs[1]);
  const std::string mark = std::to_string(b.rng.Range(1, 255));
  b.Op("LDI", regs[0] + "," + mark);
  b.Op("CPI", regs[0] + "," + mark);
}

// Restores what InterruptRoutine saved, then returns.
void RestoreAndReturn(Builder& b, const std::vector<std::string>& saved) {
  for (auto r = saved.rbegin(); r != saved.rend(); ++r) b.Op("POP", *r);
  b.Op("POP", "R16");
  b.Op("OUT", "SREG,R16");
  b.Op("POP", "R16");
  b.Op("RETI");
}

// As the compiler writes it: R16 and SREG, then the registers it uses, or more
// than it uses. Then it returns at two places, reads SREG for itself, calls a
// label of its own (which returns by RET) or leaves by a jump.
void InterruptRoutine(Builder& b, int k) {
  const std::string name = "isr" + std::to_string(k);
  const std::vector<std::string> regs = Kept(b);  // the first two
  const int shape = b.rng.Below(8);
  std::vector<std::string> saved = {regs[0], regs[1]};
  if (shape > 0) saved.insert(saved.begin() + b.rng.Below(3), b.rng.Pick(std::vector<std::string>{"R20", "R24", "R30"}));
  BeginRoutine(b, name, -1);
  b.Op("PUSH", "R16");
  b.Op("IN", "R16,SREG");
  b.Op("PUSH", "R16");
  for (const std::string& r : saved) b.Op("PUSH", r);
  if (shape == 3) {
    b.Op("IN", regs[1] + ",SREG");
    b.Op("CLI");
    b.Op("OUT", "SREG," + regs[1]);
  }
  InterruptWork(b, k, regs);
  if (shape == 2) {
    const std::string early = b.NewLabel("isr");
    b.Op("BRNE", early);
    RestoreAndReturn(b, saved);
    b.Label(early);
  }
  if (shape == 4) b.Op("RCALL", name + ".sub");
  if (shape == 5) {
    // The restore stands in a routine of its own.
    for (auto r = saved.rbegin(); r != saved.rend(); ++r) b.Op("POP", *r);
    b.Op("RJMP", name + ".done");
    EndRoutine(b, name, "");
    BeginRoutine(b, name + ".done", 0);
    b.Op("POP", "R16");
    b.Op("OUT", "SREG,R16");
    b.Op("POP", "R16");
    EndRoutine(b, name + ".done", "RETI");
    return;
  }
  RestoreAndReturn(b, saved);
  if (shape == 4) {
    b.Label(name + ".sub");
    b.Op("INC", regs[1]);
    b.Op("RET");
  }
  EndRoutine(b, name, "");
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

// The library as the harness's runtime has it: every register and SREG into the
// runtime's part of RAM (which the check does not compare) and back.
void SaveAllRegs(Builder& b) {
  BeginRoutine(b, "SYSTEM.SaveAllRegs", 0);
  for (int r = 0; r < 32; ++r) b.Op("STS", std::to_string(0x1F00 + r) + ",R" + std::to_string(r));
  b.Op("IN", "R0,SREG");
  b.Op("STS", std::to_string(0x1F20) + ",R0");
  b.Op("LDS", "R0," + std::to_string(0x1F00));
  b.stored.clear();
  EndRoutine(b, "SYSTEM.SaveAllRegs");
  BeginRoutine(b, "SYSTEM.RestoreAllRegs", 0);
  b.Op("LDS", "R0," + std::to_string(0x1F20));
  b.Op("OUT", "SREG,R0");
  for (int r = 0; r < 32; ++r) b.Op("LDS", "R" + std::to_string(r) + "," + std::to_string(0x1F00 + r));
  EndRoutine(b, "SYSTEM.RestoreAllRegs");
}

// Saves around the call of the handler through the library, or saves R16 to R19
// itself (all a handler writes); maybe it also writes a port after the call, when
// it is the only interrupt: one write raising two interrupts runs the second after
// one instruction of main, whose own writes would then order differently with it.
void Stub(Builder& b, int k, const std::string& handler) {
  const std::string& name = b.interruptEntries[static_cast<size_t>(k)];
  const bool single = b.interrupts == 1;
  const bool library = b.rng.Chance(single ? 25 : 50), port = single && !library;
  const std::vector<std::string> own = library ? std::vector<std::string>{} : std::vector<std::string>{"R17", "R18", "R19"};
  BeginRoutine(b, name, -1);
  b.Op("PUSH", "R16");
  b.Op("IN", "R16,SREG");
  b.Op("PUSH", "R16");
  for (const std::string& r : own) b.Op("PUSH", r);
  if (library) b.Op("CALL", "SYSTEM.SaveAllRegs");
  b.Op("CALL", handler);
  if (library) b.Op("CALL", "SYSTEM.RestoreAllRegs");
  // What the interrupted code held in R16 (its SREG) is no defined value.
  if (port) {
    b.Op("LDS", "R16,ticks");
    b.Op("OUT", "PORTB,R16");
  }
  for (auto r = own.rbegin(); r != own.rend(); ++r) b.Op("POP", *r);
  b.Op("POP", "R16");
  b.Op("OUT", "SREG,R16");
  b.Op("POP", "R16");
  EndRoutine(b, name, "RETI");
}

// A handler that saves nothing itself; the directive may stand before the label or
// after code. Near misses: it leaves by a jump, calls a label of its own, or main calls it.
void Handler(Builder& b, int k, const std::string& name) {
  const int shape = b.rng.Below(10);
  const std::vector<std::string> regs = Kept(b);
  b.Line("");
  b.Line(".FUNC " + name);
  b.Line(".RETURNS 0");
  if (shape == 0) b.Line(".OPTI REGS");
  b.Label(name);
  b.Marker();
  if (shape > 1) b.Line(".OPTI REGS");
  b.stored.clear();
  InterruptWork(b, k, regs, shape == 1 ? ".OPTI REGS" : "");
  if (shape == 2) {
    // The routine it jumps to touches only what an interrupt may: a volatile
    // variable. Main may keep any other variable in a register across it.
    const std::string exit = name + ".exit";
    b.Op("RJMP", exit);
    EndRoutine(b, name, "");
    BeginRoutine(b, exit, 0);
    b.Op("LDS", "R18,ticks");
    b.Op("INC", "R18");
    b.Op("STS", "ticks,R18");
    EndRoutine(b, exit);
    return;
  }
  if (shape == 3) {
    b.Op("RCALL", name + ".sub");
    b.Op("RET");
    b.Label(name + ".sub");
    b.Op("INC", regs[1]);
  }
  if (shape == 4) b.handlersCalledFromMain.push_back(name);
  EndRoutine(b, name);
}

}  // namespace

void PlanInterruptEntries(Builder& b) {
  for (int k = 0; k < b.interrupts; ++k)
    b.interruptEntries.push_back(b.ownStart && b.rng.Chance(b.interrupts == 1 ? 90 : 60) ? "SYSTEM.$h" + std::to_string(k)
                                                                : "isr" + std::to_string(k));
}

void EmitInterruptRoutines(Builder& b) {
  bool library = false;
  std::string shared;  // a handler two stubs call
  for (int k = 0; k < b.interrupts; ++k) {
    const std::string& entry = b.interruptEntries[static_cast<size_t>(k)];
    if (entry.rfind("isr", 0) == 0) {
      InterruptRoutine(b, k);
      continue;
    }
    if (!library) SaveAllRegs(b);
    library = true;
    const bool share = !shared.empty() && b.rng.Chance(30);
    const std::string handler = share ? shared : "UNIT.h" + std::to_string(k);
    if (shared.empty()) shared = handler;
    // The stub stands before or after its handler.
    const bool stubFirst = b.rng.Chance(50);
    if (stubFirst) Stub(b, k, handler);
    if (!share) Handler(b, k, handler);
    if (!stubFirst) Stub(b, k, handler);
  }
}

void EnableInterrupts(Builder& b) {
  if (b.interrupts == 0) return;
  b.Op("LDI", "R16," + std::to_string(b.interrupts == 2 ? 3 : 1));
  if (b.rng.Chance(50)) b.Op("OUT", "EIFR,R16");  // nothing pending yet: clears nothing
  b.Op("OUT", "EIMSK,R16");
  for (const std::string& handler : b.handlersCalledFromMain) b.Op("CALL", handler);
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
