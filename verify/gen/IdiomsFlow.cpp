// Control-flow idioms: calls, skips, jump tables, sleep waits.
#include "verify/gen/Idioms.h"

#include <algorithm>

namespace korvid::verify::gen {

void CallFunction(Builder& b) {
  if (b.functions.empty()) return;
  const auto& f = b.rng.Pick(b.functions);
  bool keep = b.rng.Chance(50);  // R20/R21 live across the call, saved on the hardware stack
  bool local = b.rng.Chance(50);  // a frame local of the caller: at Y+3+params while the callee runs
  if (local) {
    b.Op("LDI", "R19," + b.Imm());
    b.Op("STD", "Y+3,R19");
  }
  if (keep) {
    b.Op("LDS", "R20," + b.AnyByte().name);
    b.Op("LDS", "R21," + b.AnyByte().name);
    b.Op("PUSH", "R20");
    b.Op("PUSH", "R21");
  }
  for (int i = 0; i < f.params; ++i) {
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op("ST", "-Y,R18");
  }
  b.Op("RCALL", f.name);
  if (keep) {
    b.Op("POP", "R21");
    b.Op("POP", "R20");
    b.Op("ADD", "R17,R20");
    b.Op("EOR", "R17,R21");
  }
  if (local) {
    b.Op("LDD", "R18,Y+3");
    b.Op("SUB", "R17,R18");
  }
  b.Op("STS", b.AnyByte().name + ",R17");
  if (f.returns == 2) b.Op("STS", b.AnyByte().name + ",R16");
}

void CallProcedure(Builder& b) {
  if (b.procedures.empty()) return;
  const std::string& p = b.rng.Pick(b.procedures);
  if (b.rng.Chance(50)) {
    // Every procedure writes R16 first: the load before an unskipped call is dead.
    if (b.rng.Chance(50)) b.Op("LDI", "R16," + b.Imm());
    b.Op("RCALL", p);
    return;
  }
  // A skipped call to a routine that writes a register that is live when it is skipped.
  b.Op("LDS", "R20," + b.AnyByte().name);
  b.Op("LDI", "R16," + b.Imm());
  b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R20," + std::to_string(b.rng.Below(8)));
  b.Op("RCALL", p);
  b.Op("STS", b.AnyByte().name + ",R16");
}

namespace {

void CallWriterInZ(Builder& b, const std::string& writer, const std::string& target) {
  b.Op("LDI", "R30," + Lo(target));
  b.Op("LDI", "R31," + Hi(target));
  b.Op("RCALL", writer);
}

void CallWriterOnYStack(Builder& b, const std::string& writer, const std::string& target) {
  b.Op("LDI", "R18," + Hi(target));
  b.Op("ST", "-Y,R18");
  b.Op("LDI", "R18," + Lo(target));
  b.Op("ST", "-Y,R18");
  b.Op("RCALL", writer);
}

}  // namespace

void PointerWriterCall(Builder& b) {
  // The callee changes v through a pointer between two accesses of v by name.
  if (b.pointerWriters.empty() || b.paramWriters.empty()) return;
  const Variable& v = b.AnyByte();
  if (b.rng.Chance(50)) {
    b.Op("LDS", "R16," + v.name);
  } else {
    b.Op("LDI", "R16," + b.Imm());
    b.Op("STS", v.name + ",R16");
  }
  if (b.rng.Chance(50)) CallWriterInZ(b, b.rng.Pick(b.pointerWriters), v.name);
  else CallWriterOnYStack(b, b.rng.Pick(b.paramWriters), v.name);
  b.Op("LDS", "R17," + v.name);
  b.Op("ADD", "R17,R16");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void SlotWriterCall(Builder& b) {
  if (b.slotWriters.empty() || b.pureRoutines.empty()) return;
  switch (b.rng.Below(3)) {
    case 0:
      b.Op("LDI", "R16," + b.Imm());
      b.Op("STD", "Y+2,R16");
      b.Op("LDD", "R16,Y+2");
      b.Op("RCALL", b.rng.Pick(b.slotWriters));
      b.Op("LDD", "R17,Y+2");
      b.Op("EOR", "R17,R16");
      b.Op("STS", b.AnyByte().name + ",R17");
      break;
    case 1: {  // the same register loaded from the slot before and after the call
      const Variable& before = b.AnyByte();
      b.Op("LDD", "R16,Y+2");
      b.Op("STS", before.name + ",R16");
      b.Op("RCALL", b.rng.Pick(b.slotWriters));
      b.Op("LDD", "R16,Y+2");
      b.Op("STS", b.OtherByte(before).name + ",R16");
      break;
    }
    default: {  // the callee stores nothing: the reload may go
      const Variable& result = b.AnyByte();
      b.Op("LDI", "R16," + b.Imm());
      b.Op("STD", "Y+1,R16");
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op("RCALL", b.rng.Pick(b.pureRoutines));
      b.Op("STS", result.name + ",R17");
      b.Op("LDD", "R16,Y+1");
      b.Op("STS", b.OtherByte(result).name + ",R16");
      break;
    }
  }
}

void IoAccess(Builder& b) {
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("OUT", "PORTB,R16");
  int bit = b.rng.Below(8);
  b.Op(b.rng.Chance(50) ? "SBI" : "CBI", "GPIOR0," + std::to_string(bit));
  b.Op("IN", "R17,GPIOR0");
  b.Op(b.rng.Chance(50) ? "SBIC" : "SBIS", "GPIOR0," + std::to_string(b.rng.Below(8)));
  b.Op("INC", "R17");
  b.Op("OUT", "PORTC,R17");
  if (b.rng.Chance(40)) {
    b.Op("LDS", "R18,vol");  // a volatile variable: every access stays
    b.Op("STS", "vol,R16");
    b.Op("STS", "vol,R17");
    b.Op("STS", b.AnyByte().name + ",R18");
  }
}

void Skips(Builder& b) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R20," + b.AnyByte().name);
  b.Op("LDS", "R21," + b.AnyByte().name);
  std::string bit = std::to_string(b.rng.Below(8));
  switch (b.rng.Below(5)) {
    case 0:  // LDI R16,5 / SBRC R20,0 / LDI R16,7 / LDI R16,9: only the first goes
      b.Op("LDI", "R16," + b.Imm());
      b.Op("SBRC", "R20," + std::to_string(b.rng.Below(8)));
      b.Op("LDI", "R16," + b.Imm());
      if (b.rng.Chance(50)) b.Op("LDI", "R16," + b.Imm());
      b.Op("STS", v.name + ",R16");
      break;
    case 1:
    case 4:  // markers between a skip and the instruction it skips: twice, as there are three kinds
      b.Op("LDI", "R17," + b.Imm());
      switch (b.rng.Below(3)) {
        case 0: b.Op(b.rng.Chance(50) ? "SBRS" : "SBRC", "R21," + bit); break;
        case 1: b.Op(b.rng.Chance(50) ? "SBIS" : "SBIC", "GPIOR0," + bit); break;
        default: b.Op("CPSE", "R20,R21"); break;
      }
      b.Line(b.rng.Pick(std::vector<std::string>{".DEB", ".LINE " + std::to_string(b.sourceLine), ".OPTI NO_OPT_TST"}));
      b.Op("LDI", "R17," + b.Imm());
      b.Op("STS", v.name + ",R17");
      break;
    case 2:  // chained skips over a store that the next one overwrites: the second skip needs it
      b.Op("LDI", "R16," + b.Imm());
      b.Op("LDI", "R17," + b.Imm());
      b.Op("SBRS", "R21," + bit);
      b.Op("SBRC", "R20," + std::to_string(b.rng.Below(8)));
      b.Op("STS", v.name + ",R16");
      b.Op("STS", v.name + ",R17");
      break;
    default:  // chained skips before an overwritten store
      b.Op("LDI", "R16," + b.Imm());
      b.Op("LDI", "R17," + b.Imm());
      b.Op("STS", v.name + ",R16");
      b.Op("SBRS", "R21," + bit);
      b.Op("SBRC", "R20," + std::to_string(b.rng.Below(8)));
      b.Op("STS", v.name + ",R17");
      b.Op("CPSE", "R20,R21");
      b.Op("STS", v.name + ",R20");
      break;
  }
}

void SleepWait(Builder& b) {
  // The flag is set, so the SLEEP between the jump and its target never runs.
  std::string wait = b.NewLabel("wait"), test = b.NewLabel("test");
  b.Op("LDI", "R16," + std::to_string(b.rng.Range(1, 255)));
  b.Op("STS", "ready,R16");
  b.Op("RJMP", test);
  b.Label(wait);
  b.Op("SLEEP");
  b.Label(test);
  b.Op("LDS", "R16,ready");
  b.Op("TST", "R16");
  b.Op("BREQ", wait);
}

namespace {

// `rows` jumps, each to a case that sets R18 and goes on at `join`.
void JumpRows(Builder& b, int rows, const std::string& jump, const std::string& join) {
  std::vector<std::string> cases;
  for (int i = 0; i < rows; ++i) {
    cases.push_back(b.NewLabel("case"));
    b.Op(jump, cases.back());
  }
  for (const std::string& c : cases) {
    b.Label(c);
    b.Op("LDI", "R18," + b.Imm());
    b.Op("RJMP", join);
  }
  b.Label(join);
}

}  // namespace

void JumpTable(Builder& b) {
  std::string table = b.NewLabel("jtab"), join = b.NewLabel("join");
  bool far = b.rng.Chance(40);  // JMP rows are two words each
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("ANDI", "R16,1");
  if (far) b.Op("LSL", "R16");
  b.Op("LDI", "R30," + Lo(table));
  b.Op("LDI", "R31," + Hi(table));
  b.Op("CLR", "R17");
  b.Op("ADD", "R30,R16");
  b.Op("ADC", "R31,R17");
  b.Op(b.rng.Chance(50) ? "EIJMP" : "IJMP");
  b.Label(table);
  JumpRows(b, b.rng.Range(2, 4), far ? "JMP" : "RJMP", join);
  b.Op("STS", b.AnyByte().name + ",R18");
}

void UnreachableRows(Builder& b) {
  // Rows of jumps after a label that is branched to but never loaded into Z: only the
  // first row runs, and a correct optimiser may drop the others and their cases.
  std::string rows = b.NewLabel("rows"), join = b.NewLabel("join");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDI", "R18," + b.Imm());
  b.Op("CPI", "R16," + b.Imm());
  b.Op(b.rng.Pick(std::vector<std::string>{"BREQ", "BRNE", "BRLO", "BRSH"}), rows);
  b.Op("RJMP", join);
  b.Label(rows);
  JumpRows(b, b.rng.Range(2, 4), "RJMP", join);
  b.Op("STS", b.AnyByte().name + ",R18");
}

void PointerReload(Builder& b) {
  // Z changes between a store through it and a load through it.
  const Variable& v = b.AnyByte();
  int change = b.rng.Below(6);
  int value = b.rng.Below(256);
  if (change >= 3) {  // a change of R31 moves Z to `upper`, which holds another value
    b.Op("LDI", "R17," + std::to_string(b.OtherValue(value)));
    b.Op("STS", "upper,R17");
  }
  if (change == 5) {
    b.Op("LDI", "R31," + Hi("upper"));
    b.Op("PUSH", "R31");
  }
  b.Op("LDI", "R30," + Lo("buf"));
  b.Op("LDI", "R31," + Hi("buf"));
  b.Op("LDI", "R16," + std::to_string(value));
  b.Op("ST", "Z,R16");
  switch (change) {
    case 0: b.Op("INC", "R30"); break;
    case 1: b.Op("LDI", "R30," + Lo("buf+3")); break;
    case 2:
      b.Op("PUSH", "R30");
      b.Op("LDI", "R30," + Lo("buf+5"));
      b.Op("LD", "R17,Z");
      b.Op("STS", b.AnyByte().name + ",R17");
      b.Op("POP", "R30");
      b.Op("INC", "R30");
      break;
    case 3: b.Op("INC", "R31"); break;
    case 4: b.Op("LDI", "R31," + Hi("upper")); break;
    default: b.Op("POP", "R31"); break;
  }
  b.Op("LD", "R16,Z");
  b.Op("STS", v.name + ",R16");
}

void DuplicateLoads(Builder& b) {
  b.Op("LDI", "R16,0");
  b.Op("LDI", "R17," + b.Imm());  // dead: overwritten before any read
  b.Op("LDI", "R16,0");
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("LDS", "R17," + b.AnyByte().name);
  b.Op("ADD", "R17,R16");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void CallRemaining(Builder& b) {
  auto uncalled = [&b](const std::string& name) {
    return std::find(b.called.begin(), b.called.end(), name) == b.called.end();
  };
  for (const std::string& p : b.procedures)
    if (uncalled(p)) b.Op("RCALL", p);
  for (const std::string& p : b.tailRoutines)
    if (uncalled(p)) b.Op("RCALL", p);
  if (!b.bigFrames.empty() && uncalled(b.bigFrames.front())) BigFrameCall(b);
  for (const auto& f : b.functions) {
    if (!uncalled(f.name)) continue;
    for (int i = 0; i < f.params; ++i) {
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op("ST", "-Y,R18");
    }
    b.Op("RCALL", f.name);
    b.Op("STS", b.AnyByte().name + ",R17");
  }
  for (const std::string& w : b.pointerWriters)
    if (uncalled(w)) CallWriterInZ(b, w, "buf+1");
  for (const std::string& w : b.paramWriters)
    if (uncalled(w)) CallWriterOnYStack(b, w, "buf+1");
  for (const std::string& w : b.pointerWalkers)
    if (uncalled(w)) CallPointerWalker(b, w);
  for (const std::string& p : b.pureRoutines) {
    if (!uncalled(p)) continue;
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op("RCALL", p);
    b.Op("STS", b.AnyByte().name + ",R17");
  }
  for (const std::string& w : b.slotWriters) {
    if (!uncalled(w)) continue;
    b.Op("RCALL", w);
    b.Op("LDD", "R16,Y+2");
    b.Op("STS", b.AnyByte().name + ",R16");
  }
  for (const auto& f : b.flagRoutines)
    if (uncalled(f.name)) CallFlagRoutine(b, f);
  for (const std::string& t : b.farTails)
    if (uncalled(t)) b.Op("RCALL", t);
  for (const std::string& f : b.farRoutines)
    if (uncalled(f)) b.Op("CALL", f);
  CallTestBit8IfUncalled(b);
  RaiseRemaining(b);
}

}  // namespace korvid::verify::gen
