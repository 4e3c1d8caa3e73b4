// Helper routines: functions with parameters on the Y stack, procedures with early
// returns, routines that write through a pointer or into the caller's frame, and one
// that stores nothing.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

void BeginRoutine(Builder& b, const std::string& name, int returns) {
  b.Line("");
  b.Line(".FUNC " + name);
  b.Line(".RETURNS " + std::to_string(returns));
  b.Label(name);
  b.Marker();
  b.stored.clear();
}

void EndRoutine(Builder& b, const std::string& name, const std::string& ret) {
  if (!ret.empty()) b.Op(ret);
  b.Line(".ENDFUNC");
  b.routineStores[name] = b.stored;  // callers observe these after each call
  b.stored.clear();
}

namespace {

void FrameFunction(Builder& b, const std::string& name) {
  int params = b.rng.Range(1, 3), returns = b.rng.Range(1, 2);
  bool local = b.rng.Chance(40);
  BeginRoutine(b, name, returns);
  int base = 0;
  if (local) {
    b.Op("SBIW", "R28,1");
    b.Line(".FRAME 1");
    base = 1;
  }
  b.Op("LDD", "R17,Y+" + std::to_string(base));
  for (int i = 1; i < params; ++i) {
    b.Op("LDD", "R18,Y+" + std::to_string(base + i));
    b.Op(b.rng.Pick(std::vector<std::string>{"ADD", "SUB", "EOR", "OR"}), "R17,R18");
  }
  if (local) {
    b.Op("STD", "Y+0,R17");
    b.Op("LDD", "R16,Y+0");
    b.Op("SWAP", "R16");
  } else {
    b.Op("MOV", "R16,R17");
    b.Op("COM", "R16");
  }
  if (!b.procedures.empty() && b.rng.Chance(30)) {
    // A nested call: the result is kept on the hardware stack across it.
    b.Op("PUSH", "R16");
    b.Op("PUSH", "R17");
    b.Op("RCALL", b.rng.Pick(b.procedures));
    b.Op("POP", "R17");
    b.Op("POP", "R16");
  }
  b.Op("ADIW", "R28," + std::to_string(params + base));  // release parameters and locals
  EndRoutine(b, name);
  b.functions.push_back({name, params, returns});
}

void Procedure(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 0);
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + b.AnyByte().name);
  switch (b.rng.Below(4)) {
    case 0: b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R16," + std::to_string(b.rng.Below(8))); b.Op("RET"); break;
    case 1: b.Op("LDS", "R17," + b.AnyByte().name); b.Op("CPSE", "R16,R17"); b.Op("RET"); break;
    case 2: b.Op(b.rng.Chance(50) ? "SBIC" : "SBIS", "GPIOR0," + std::to_string(b.rng.Below(8))); b.Op("RET"); break;
    default: break;
  }
  if (!b.procedures.empty() && b.rng.Chance(30)) b.Op("RCALL", b.rng.Pick(b.procedures));
  // Writes R16 and R20 first: callers may keep them live across a skipped call.
  b.Op("LDI", "R16," + b.Imm());
  b.Op("LDI", "R20," + b.Imm());
  b.Op("LDS", "R17," + v.name);
  b.Op("ADD", "R17,R16");
  b.Op("STS", v.name + ",R17");
  EndRoutine(b, name);
  b.procedures.push_back(name);
}

// Subtracts a nonzero constant from the byte at `at`: a writer that could leave the byte
// as it was would hide a missed reload in the caller.
void ChangeByte(Builder& b, const std::string& at) {
  bool displaced = at.find('+') != std::string::npos;
  b.Op(displaced ? "LDD" : "LD", "R18," + at);
  b.Op("SUBI", "R18," + std::to_string(b.rng.Range(1, 255)));
  b.Op(displaced ? "STD" : "ST", at + ",R18");
}

void PointerWriter(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 0);
  ChangeByte(b, "Z");
  EndRoutine(b, name);
  b.pointerWriters.push_back(name);
}

void SlotWriter(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 0);
  ChangeByte(b, "Y+2");  // the caller's frame slot: the return address is on the hardware stack
  EndRoutine(b, name);
  b.slotWriters.push_back(name);
}

void ParamWriter(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 0);
  b.Op("LDD", "R30,Y+0");  // the pointer parameter, low byte on top of the Y stack
  b.Op("LDD", "R31,Y+1");
  ChangeByte(b, "Z");
  b.Op("ADIW", "R28,2");
  EndRoutine(b, name);
  b.paramWriters.push_back(name);
}

void PureRoutine(Builder& b, const std::string& name) {
  BeginRoutine(b, name, 1);
  b.Op("MOV", "R17,R18");
  b.Op("SWAP", "R17");
  b.Op("SUBI", "R17," + b.HexImm());
  EndRoutine(b, name);
  b.pureRoutines.push_back(name);
}

}  // namespace

void EmitRoutines(Builder& b) {
  int procedures = b.rng.Range(2, 4), functions = b.rng.Range(1, 3);
  for (int i = 0; i < procedures; ++i) Procedure(b, "proc" + std::to_string(i));
  for (int i = 0; i < functions; ++i) FrameFunction(b, "func" + std::to_string(i));
  PointerWriter(b, "ptrwrite");
  SlotWriter(b, "slotwrite");
  ParamWriter(b, "paramwrite");
  PureRoutine(b, "pure");
  for (int i = b.rng.Range(1, 2); i > 0; --i) FlagRoutine(b, "cmp" + std::to_string(b.flagRoutines.size()));
  TestBit8Routine(b);
  BigFrameRoutine(b);
  SharedTailRoutines(b);
  SaveRoutines(b);
  PointerWalkRoutines(b);
  if (b.far) FarTail(b, "tailfar");
  InlineRoutines(b);
}

}  // namespace korvid::verify::gen
