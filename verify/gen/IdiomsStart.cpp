// Programs that start themselves: a vector table and start-up code before the routines.
// Programs with a data block that puts a routine out of RCALL/RJMP reach of its callers.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {
namespace {

// Every row of the atmega2560's table is four bytes: a one-word row needs a NOP after it.
void VectorRow(Builder& b, const std::string& target, bool mayBeShort) {
  if (mayBeShort && b.rng.Chance(30)) {
    b.Op("RJMP", target);
    b.Op("NOP");
  } else {
    b.Op("JMP", target);
  }
}

void UnusedRow(Builder& b) {
  b.Op("RETI");
  b.Op("NOP");
}

}  // namespace

void EmitStart(Builder& b) {
  // Marked or not, the rows must keep their size: shortening one moves the next vector.
  bool marked = b.rng.Chance(50);
  b.Line("");
  if (marked) b.Line(".VECTTAB");
  VectorRow(b, "start", true);
  for (int k = 0; k < 2; ++k) {
    if (k < b.interrupts) VectorRow(b, b.interruptEntries[static_cast<size_t>(k)], !b.far);  // far: across the data
    else if (b.vectorRoutine.empty() && b.rng.Chance(50)) VectorRow(b, b.vectorRoutine = "MAIN.Vector", !b.far);
    else UnusedRow(b);
  }
  if (marked) b.Line(".VECTTABE");
  b.Label("start");
  b.Op("LDI", "R16,0FFh");  // SP at RAMEND, 21FFh
  b.Op("OUT", "SPL,R16");
  b.Op("LDI", "R16,21h");
  b.Op("OUT", "SPH,R16");
  b.Op("LDI", "R28,0FFh");  // Y below the runtime area's top
  b.Op("LDI", "R29,20h");
  b.Op("LDI", "R24," + b.Imm());  // handed to main
  b.Op("LDI", "R25," + b.Imm());
  b.Op("CALL", "main");
  b.Op("STS", "result,R16");  // no harness receives main's registers
  b.Op("STS", "result+1,R17");
  b.stored.clear();
  b.Label("halt");
  b.Op("CLI");
  b.Op("SLEEP");
  b.Op("RJMP", "halt");
}

void MainArguments(Builder& b) {
  if (!b.ownStart) return;
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  b.Op(b.rng.Pick(std::vector<std::string>{"ADD", "EOR", "SUB"}), "R16,R24");
  b.Op("STS", v.name + ",R16");
  b.Op("STS", b.AnyWord().name + "+1,R25");
}

void EmitFarRoutines(Builder& b) {
  const std::string name = "far0", near = b.NewLabel("near");
  BeginRoutine(b, name, 0);
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("LDI", "R17," + b.Imm());
  b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R16," + std::to_string(b.rng.Below(8)));
  b.Op("JMP", near);  // near: may rightly become RJMP, skip and all
  b.Op("SUBI", "R17," + b.HexImm());
  b.Label(near);
  b.Op("ADD", "R16,R17");
  b.Op("STS", b.AnyByte().name + ",R16");
  EndRoutine(b, name);
  b.farRoutines.push_back(name);
  // Over 4 KiB of data (RCALL and RJMP reach 4 KiB); the optimiser counts one byte per
  // .BYTE line, one word per .WORD line and the text of an .ASCII line.
  static const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,-";
  b.Line("");
  b.Label("fartab");
  for (int i = 2 * b.rng.Range(1, 3); i > 0; --i) b.Op(".BYTE", b.HexImm());
  for (int i = b.rng.Range(1, 3); i > 0; --i) b.Op(".WORD", std::to_string(b.rng.Below(65536)));
  for (int row = 0; row < 66; ++row) {
    std::string text;
    for (int i = 0; i < 64; ++i) text += letters[static_cast<size_t>(b.rng.Below(static_cast<int>(letters.size())))];
    b.Op(".ASCII", "'" + text + "'");
  }
}

void FarTail(Builder& b, const std::string& name) {
  if (b.farRoutines.empty()) return;
  const std::string& target = b.rng.Pick(b.farRoutines);
  BeginRoutine(b, name, 0);
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  b.Op("SWAP", "R16");
  b.Op("STS", v.name + ",R16");
  if (!b.procedures.empty()) b.Op("CALL", b.rng.Pick(b.procedures));  // near: may become RCALL
  b.Op("JMP", target);  // a tail call across the data block
  const auto& stores = b.routineStores[target];
  b.stored.insert(b.stored.end(), stores.begin(), stores.end());
  EndRoutine(b, name, "");
  b.farTails.push_back(name);
}

void FarCall(Builder& b) {
  if (!b.far) return;
  switch (b.rng.Below(3)) {
    case 0: {  // R20 is kept across the far call
      const Variable& v = b.AnyByte();
      b.Op("LDS", "R20," + v.name);
      b.Op("CALL", b.rng.Pick(b.farRoutines));
      b.Op("STS", b.OtherByte(v).name + ",R20");
      break;
    }
    case 1: b.Op("RCALL", b.rng.Pick(b.farTails)); break;
    default:
      if (!b.procedures.empty()) b.Op("CALL", b.rng.Pick(b.procedures));  // near: may become RCALL
      break;
  }
}

}  // namespace korvid::verify::gen
