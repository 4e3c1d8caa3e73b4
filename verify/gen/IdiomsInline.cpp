// Calls of routines smaller than a call: empty ones, one instruction, a jump away,
// a one-byte parameter from the Y stack and one instruction; beside them the near
// misses that must stay calls: two instructions, a skip, a branch, a read of SP, the
// second parameter byte, a body that moves Y, an entry label, the delay routine.
#include <algorithm>

#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {
namespace {

const std::vector<std::string> kR16Ops = {"COM R16", "SWAP R16", "INC R16", "LSR R16", "NEG R16"};
const std::vector<std::string> kAccaOps = {"COM _ACCA", "SWAP _ACCA", "INC _ACCA", "NEG _ACCA"};

void Insn(Builder& b, const std::string& text) {
  const size_t space = text.find(' ');
  b.Op(text.substr(0, space), space == std::string::npos ? "" : text.substr(space + 1));
}

void Small(Builder& b, const std::string& name, const std::vector<std::string>& body) {
  BeginRoutine(b, name, 0);
  for (const std::string& line : body) Insn(b, line);
  EndRoutine(b, name);
}

// A routine that starts by jumping to `target` stores what `target` stores.
void Jumper(Builder& b, const std::string& name, const std::string& jump, const std::string& target) {
  BeginRoutine(b, name, 0);
  b.Op(jump, target);
  b.stored = b.routineStores[target];
  EndRoutine(b, name);
}

bool Called(const Builder& b, const std::string& name) {
  return std::find(b.called.begin(), b.called.end(), name) != b.called.end();
}

void Call(Builder& b, const std::string& name) {
  if (b.rng.Chance(30)) b.Line(".BRANCH 18, " + name);
  // The delay routine counts cycles: its CALL stays whatever reaches.
  b.Op(name == "SYSTEM.UDELAY" || b.rng.Chance(40) ? "CALL" : "RCALL", name);
}

// R16 from a variable through the routine to another variable; maybe after a skip.
void R16Through(Builder& b, const std::string& name) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  if (name == "inl.branch") b.Op("TST", "R16");
  const bool skipped = name != "inl.branch" && b.rng.Chance(20);
  if (skipped) b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R16," + std::to_string(b.rng.Below(8)));
  const bool forbid = !skipped && b.rng.Chance(20);
  if (forbid) b.Line(".OPTI NO_ALLOW_INLINE");
  Call(b, name);
  if (forbid) b.Line(".OPTI ALLOW_INLINE");
  b.Op("SUBI", "R16," + std::to_string(b.rng.Range(1, 255)));
  b.Op("STS", b.OtherByte(v).name + ",R16");
}

// One to three bytes pushed on the Y stack, the routine's _ACCA result stored.
void ParameterCall(Builder& b, const std::string& name) {
  const int params = name == "inl.second" ? 2 : b.rng.Chance(70) ? 1 : 3;
  std::string r = b.rng.Pick(std::vector<std::string>{"R16", "R18", "_ACCA"});
  for (int i = 0; i < params; ++i) {
    b.Op("LDS", r + "," + b.AnyByte().name);
    b.Op("ST", "-Y," + r);
  }
  const int shape = b.rng.Below(10);
  if (shape == 0) b.Line(".OPTI NO_ALLOW_INLINE");
  Call(b, name);
  if (shape == 0) b.Line(".OPTI ALLOW_INLINE");
  if (name == "inl.moves") {  // released by the routine itself
    b.Op("STS", b.AnyByte().name + ",R17");
    return;
  }
  if (shape == 1) b.Op("STS", b.AnyByte().name + ",R17");  // the release is not next
  b.Op("ADIW", "R28," + std::to_string(params));
  if (shape == 2) {  // the release's flags are read
    const std::string done = b.NewLabel("rel");
    b.Op("BRNE", done);
    b.Op("INC", "R17");
    b.Label(done);
  }
  if (shape != 1) b.Op("STS", b.AnyByte().name + ",R17");
}

void CallShape(Builder& b, const std::string& name) {
  if (name == "inl.param" || name == "inl.second" || name == "inl.moves") ParameterCall(b, name);
  else R16Through(b, name);
}

std::vector<std::string> Names(const Builder& b) {
  std::vector<std::string> names = {"inl.empty", "inl.one",   "inl.two",    "inl.jump",   "inl.sp",    "inl.skip",
                                    "inl.branch", "inl.param", "inl.second", "inl.moves", "inl.entry", "SYSTEM.UDELAY"};
  if (b.far) names.push_back("inl.far");
  return names;
}

}  // namespace

void InlineRoutines(Builder& b) {
  Small(b, "inl.empty", {});
  Small(b, "inl.one", {b.rng.Pick(kR16Ops)});
  Small(b, "inl.two", {b.rng.Pick(kR16Ops), b.rng.Pick(kR16Ops)});
  Jumper(b, "inl.jump", b.rng.Chance(50) ? "RJMP" : "JMP", b.rng.Pick(b.procedures));
  if (b.far) Jumper(b, "inl.far", "JMP", b.rng.Pick(b.farRoutines));
  Small(b, "inl.sp", {"IN R16,SPL"});
  Small(b, "inl.skip", {"SBRC R16," + std::to_string(b.rng.Below(8)), "RET", b.rng.Pick(kR16Ops)});
  BeginRoutine(b, "inl.branch", 0);
  b.Op(b.rng.Chance(50) ? "BREQ" : "BRNE", "inl.branch.to");
  b.Op("RET");
  b.Label("inl.branch.to");
  b.Op(b.rng.Chance(50) ? "COM" : "INC", "R16");  // changes every value, 0 included
  EndRoutine(b, "inl.branch");
  Small(b, "inl.param", {"LDD _ACCA,Y+0", b.rng.Pick(kAccaOps)});
  Small(b, "inl.second", {"LDD _ACCA,Y+1", b.rng.Pick(kAccaOps)});
  Small(b, "inl.moves", {"LDD _ACCA,Y+0", "ADIW R28,1"});
  b.Line(".ENTRYUNIT inl.entry");
  Small(b, "inl.entry", {});
  Small(b, "SYSTEM.UDELAY", {"NOP"});
}

void InlineCall(Builder& b) { CallShape(b, b.rng.Pick(Names(b))); }

void CallInlineRoutines(Builder& b) {
  for (const std::string& name : Names(b))
    if (!Called(b, name)) {
      CallShape(b, name);
      b.Observe();
    }
}

}  // namespace korvid::verify::gen
