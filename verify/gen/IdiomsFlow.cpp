// Control-flow idioms: calls, skips, flags, jump tables, sleep waits.
#include "verify/gen/Idioms.h"

#include <algorithm>

namespace korvid::verify::gen {

void CallFunction(Builder& b) {
  if (b.functions.empty()) return;
  const auto& f = b.rng.Pick(b.functions);
  bool keep = b.rng.Chance(50);  // R20/R21 live across the call, saved on the hardware stack
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
  b.Op("STS", b.AnyByte().name + ",R17");
  if (f.returns == 2) b.Op("STS", b.AnyByte().name + ",R16");
}

void CallProcedure(Builder& b) {
  if (b.procedures.empty()) return;
  const std::string& p = b.rng.Pick(b.procedures);
  if (b.rng.Chance(50)) {
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

void PointerWriterCall(Builder& b) {
  if (b.pointerWriters.empty()) return;
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  b.Op("LDI", "R30," + Lo(v.name));
  b.Op("LDI", "R31," + Hi(v.name));
  b.Op("RCALL", b.rng.Pick(b.pointerWriters));
  b.Op("LDS", "R17," + v.name);
  b.Op("ADD", "R17,R16");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void SlotWriterCall(Builder& b) {
  if (b.slotWriters.empty()) return;
  b.Op("LDI", "R16," + b.Imm());
  b.Op("STD", "Y+2,R16");
  b.Op("LDD", "R16,Y+2");
  b.Op("RCALL", b.rng.Pick(b.slotWriters));
  b.Op("LDD", "R17,Y+2");
  b.Op("EOR", "R17,R16");
  b.Op("STS", b.AnyByte().name + ",R17");
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
  switch (b.rng.Below(3)) {
    case 0:  // LDI R16,5 / SBRC R20,0 / LDI R16,7 / LDI R16,9: only the first goes
      b.Op("LDI", "R16," + b.Imm());
      b.Op("SBRC", "R20," + std::to_string(b.rng.Below(8)));
      b.Op("LDI", "R16," + b.Imm());
      if (b.rng.Chance(50)) b.Op("LDI", "R16," + b.Imm());
      b.Op("STS", v.name + ",R16");
      break;
    case 1:  // markers between a skip and the instruction it skips
      b.Op("LDI", "R17," + b.Imm());
      b.Op("SBRS", "R21," + std::to_string(b.rng.Below(8)));
      b.Line(b.rng.Pick(std::vector<std::string>{".DEB", ".LINE " + std::to_string(b.sourceLine), ".OPTI NO_OPT_TST"}));
      b.Op("LDI", "R17," + b.Imm());
      b.Op("STS", v.name + ",R17");
      break;
    default:  // chained skips before an overwritten store
      b.Op("LDI", "R16," + b.Imm());
      b.Op("LDI", "R17," + b.Imm());
      b.Op("STS", v.name + ",R16");
      b.Op("SBRS", "R21," + std::to_string(b.rng.Below(8)));
      b.Op("SBRC", "R20," + std::to_string(b.rng.Below(8)));
      b.Op("STS", v.name + ",R17");
      b.Op("CPSE", "R20,R21");
      b.Op("STS", v.name + ",R20");
      break;
  }
}

void FlagsAfterKill(Builder& b) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R24," + b.AnyByte().name);
  b.Op("LDS", "R22," + b.AnyByte().name);
  switch (b.rng.Below(5)) {
    case 0:  // the carry of SUB survives CLR into ROL
      b.Op("SUB", "R24,R22");
      b.Op("CLR", "R24");
      b.Op("ROL", "R24");
      b.Op("STS", v.name + ",R24");
      break;
    case 1:
      b.Op("ADD", "R24,R22");
      b.Op("MOV", "R16,R22");
      b.Op("ADC", "R16,R24");
      b.Op("STS", v.name + ",R16");
      break;
    case 2: {  // the Z of SBIW reaches past a skip to BRNE
      std::string head = b.NewLabel("sbiw");
      b.Op("ANDI", "R24,7");
      b.Op("INC", "R24");
      b.Op("CLR", "R25");
      b.Op("LDS", "R21," + b.AnyByte().name);
      b.Label(head);
      b.Op("SBIW", "R24,1");
      b.Op("SBRC", "R21,0");
      b.Op("INC", "R22");
      b.Op("BRNE", head);
      b.Op("STS", v.name + ",R22");
      break;
    }
    case 3:
      b.Op("SUBI", "R24," + b.HexImm());
      b.Op("IN", "R16,SREG");
      b.Op("ANDI", "R16,3Fh");
      b.Op("STS", v.name + ",R16");
      break;
    default: {
      std::string l = b.NewLabel("cpi");
      b.Op("LDI", "R17,1");
      b.Op("CLR", "R16");
      b.Op("CPI", "R24," + std::to_string(b.rng.Below(4)));
      b.Op("CLR", "R16");
      b.Op("BREQ", l);
      b.Op("LDI", "R17,2");
      b.Label(l);
      b.Op("STS", v.name + ",R17");
      break;
    }
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

void FlagOps(Builder& b) {
  std::string l = b.NewLabel("flag");
  struct Pair { const char* set; const char* branch; };
  static const std::vector<Pair> pairs = {{"SEC", "BRCS"}, {"CLC", "BRCC"}, {"SEN", "BRMI"}, {"CLN", "BRPL"},
                                          {"SEV", "BRVS"}, {"CLV", "BRVC"}, {"SES", "BRLT"}, {"CLS", "BRGE"},
                                          {"SET", "BRTS"}, {"CLT", "BRTC"}, {"SEZ", "BREQ"}, {"CLZ", "BRNE"}};
  const Pair& p = b.rng.Pick(pairs);
  b.Op("LDI", "R16,1");
  if (b.rng.Chance(30)) b.Op(p.set);
  else b.Op(b.rng.Chance(50) ? "BSET" : "BCLR", std::to_string(b.rng.Below(7)));
  b.Op(p.branch, l);
  b.Op("LDI", "R16,2");
  for (int i = b.rng.Below(3); i > 0; --i) b.Op("NOP");
  b.Label(l);
  b.Op("STS", b.AnyByte().name + ",R16");
}

void JumpTable(Builder& b) {
  std::string table = b.NewLabel("jtab"), join = b.NewLabel("join");
  bool far = b.rng.Chance(40);  // JMP rows are two words each
  int rows = b.rng.Range(2, 4);
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("ANDI", "R16,1");
  if (far) b.Op("LSL", "R16");
  b.Op("LDI", "R30," + Lo(table));
  b.Op("LDI", "R31," + Hi(table));
  b.Op("CLR", "R17");
  b.Op("ADD", "R30,R16");
  b.Op("ADC", "R31,R17");
  b.Op(b.rng.Chance(30) ? "EIJMP" : "IJMP");
  b.Label(table);
  std::vector<std::string> cases;
  for (int i = 0; i < rows; ++i) {
    cases.push_back(b.NewLabel("case"));
    b.Op(far ? "JMP" : "RJMP", cases.back());
  }
  for (const std::string& c : cases) {
    b.Label(c);
    b.Op("LDI", "R18," + b.Imm());
    b.Op("RJMP", join);
  }
  b.Label(join);
  b.Op("STS", b.AnyByte().name + ",R18");
}

void PointerReload(Builder& b) {
  // Z changes between a store through it and a load through it.
  const Variable& v = b.AnyByte();
  b.Op("LDI", "R30," + Lo("buf"));
  b.Op("LDI", "R31," + Hi("buf"));
  b.Op("LDI", "R16," + b.Imm());
  b.Op("ST", "Z,R16");
  switch (b.rng.Below(3)) {
    case 0: b.Op("INC", "R30"); break;
    case 1: b.Op("LDI", "R30," + Lo("buf+3")); break;
    default:
      b.Op("PUSH", "R30");
      b.Op("LDI", "R30," + Lo("buf+5"));
      b.Op("LD", "R17,Z");
      b.Op("STS", b.AnyByte().name + ",R17");
      b.Op("POP", "R30");
      b.Op("INC", "R30");
      break;
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

void LabelledInstructions(Builder& b) {
  // Hand-written assembly puts labels on instruction lines.
  std::string a = b.NewLabel("hand"), c = b.NewLabel("hand");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("CPI", "R16,80h");
  b.Op("BRLO", a);
  b.Line(c + "  LDI     R16,7");
  const Variable& v = b.AnyByte();
  b.Line(a + ": STS     " + v.name + ",R16");
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

void CallRemaining(Builder& b) {
  auto uncalled = [&b](const std::string& name) {
    return std::find(b.called.begin(), b.called.end(), name) == b.called.end();
  };
  for (const std::string& p : b.procedures)
    if (uncalled(p)) b.Op("RCALL", p);
  for (const auto& f : b.functions) {
    if (!uncalled(f.name)) continue;
    for (int i = 0; i < f.params; ++i) {
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op("ST", "-Y,R18");
    }
    b.Op("RCALL", f.name);
    b.Op("STS", b.AnyByte().name + ",R17");
  }
  for (const std::string& w : b.pointerWriters) {
    if (!uncalled(w)) continue;
    b.Op("LDI", "R30," + Lo("buf+1"));
    b.Op("LDI", "R31," + Hi("buf+1"));
    b.Op("RCALL", w);
  }
  for (const std::string& w : b.slotWriters) {
    if (!uncalled(w)) continue;
    b.Op("RCALL", w);
    b.Op("LDD", "R16,Y+2");
    b.Op("STS", b.AnyByte().name + ",R16");
  }
}

}  // namespace korvid::verify::gen
