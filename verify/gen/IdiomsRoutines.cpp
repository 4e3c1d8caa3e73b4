// Routines nothing calls, which the third phase removes, and the near misses it
// must keep because something still enters them: their address loaded for ICALL,
// a vector row, a call or a branch to an inner label, or the routine
// before running on into them. Labels nothing names stand in the idioms' code.
#include <cstdio>

#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {
namespace {

// The file the header names, for ".FILE" lines around a routine.
std::string SourceFile(const Builder& b) {
  for (const std::string& line : b.lines)
    if (line.rfind(".FILE ", 0) == 0) return line.substr(6);
  return "gen.pas";
}

// The compiler's header and entry label: ".FUNC Blink" / "MAIN.Blink:", with `between` them.
std::string Header(Builder& b, const std::string& name, const std::vector<std::string>& between = {}) {
  b.Line("");
  b.Line(".FUNC " + name);
  for (const std::string& line : between) b.Line(line);
  b.Label("MAIN." + name);
  return "MAIN." + name;
}

// The routine's end; the routine stores what `stored` holds whenever it is called.
void Footer(Builder& b, const std::string& called) {
  b.Line(".ENDFUNC");
  if (!called.empty()) b.routineStores[called] = b.stored;
  b.stored.clear();
}

// A loop that names its own label: the routine's own references keep nothing.
// Never run, so none of its lines is one a mutation test could find changed.
void CountDown(Builder& b, const std::string& entry) {
  const std::string loop = entry + ".loop";
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Label(loop);
  b.Op("LSR", "R16");
  b.Op("SBRC", "R16,0");
  b.Op("RJMP", loop);
  b.Op("OUT", "GPIOR0,R16");
  b.Op("RET");
}

void Uncalled(Builder& b, const std::string& name) {
  // Lines that emit nothing may stand between the header and the entry.
  std::vector<std::string> between;
  if (b.rng.Chance(60)) between.push_back(".LINE " + std::to_string(++b.sourceLine));
  if (b.rng.Chance(40)) between.push_back(".FRAME 0");
  if (b.rng.Chance(40)) between.push_back(".FILE " + SourceFile(b));
  if (b.rng.Chance(40)) between.push_back(".BRANCH 19");
  if (b.rng.Chance(40)) between.push_back("");
  CountDown(b, Header(b, name, between));
  Footer(b, "");
}

// Read or not, the table is eight bytes of data after the routine's code.
void BitMaskTable(Builder& b, bool read) {
  const std::string table = "SYSTEM.BitMaskTab";
  b.Line("");
  b.Line(".FUNC BitMask");
  b.Label("SYSTEM.BitMask");
  if (read) {
    // Z from the table's word address to its byte address, plus the bit number.
    b.Op("CLR", "R17");
    b.Op("LDS", "R16," + b.AnyByte().name);
    b.Op("ANDI", "R16,7");
    b.Op("LDI", "R30," + Lo(table));
    b.Op("LDI", "R31," + Hi(table));
    b.Op("LSL", "R30");
    b.Op("ROL", "R31");
    b.Op("ADD", "R30,R16");
    b.Op("ADC", "R31,R17");
    b.Op("LPM");
    b.Op("STS", b.AnyByte().name + ",R0");
  } else {
    b.Op("LDI", "R30," + Lo(table));
    b.Op("LDI", "R31," + Hi(table));
  }
  b.Op("RET");
  b.Label(table);
  for (int bit = 0; bit < 8; ++bit) b.Op(".BYTE", std::to_string(1 << bit));
  Footer(b, read ? "SYSTEM.BitMask" : "");
}

// Stores a changed copy of one byte into another.
void ChangeOneByte(Builder& b, const std::string& operation) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  b.Op(operation, operation == "SUBI" ? "R16," + std::to_string(b.rng.Range(1, 255)) : "R16");
  b.Op("STS", b.OtherByte(v).name + ",R16");
}

}  // namespace

void EmitPhase3Routines(Builder& b) {
  for (int i = b.rng.Range(1, 2); i > 0; --i) Uncalled(b, "Blink" + std::to_string(i));
  if (b.rng.Chance(40)) {
    CountDown(b, Header(b, "Kept", {".VALID"}));
    Footer(b, "");
  }
  if (b.rng.Chance(40)) {
    // The same file before and after: once the routine goes, one line says it.
    const std::string file = ".FILE " + SourceFile(b);
    b.Line("");
    b.Line(file);
    Uncalled(b, "Framed");
    b.Line("");
    b.Line(file);
  }
  const int table = b.rng.Below(100);
  if (table < 60) BitMaskTable(b, table < 25);
  if (b.rng.Chance(35)) {
    b.phase3Calls.push_back(Header(b, "Indirect"));
    ChangeOneByte(b, "COM");
    b.Op("RET");
    Footer(b, b.phase3Calls.back());
  }
  if (!b.vectorRoutine.empty()) {
    CountDown(b, Header(b, "Vector"));
    Footer(b, "");
  }
  if (b.rng.Chance(50)) {
    Header(b, "Inner");
    b.Op("LDS", "R16," + b.AnyByte().name);  // never runs: no line a mutation could change unseen
    b.Label("MAIN.Inner.in");
    b.Op("SUBI", "R16," + std::to_string(b.rng.Range(1, 255)));
    b.Op("STS", b.AnyByte().name + ",R16");
    b.Op("RET");
    b.phase3Calls.push_back("MAIN.Inner.in");
    Footer(b, "MAIN.Inner.in");
  }
  if (b.rng.Chance(50)) {
    // Runs off its end into the next routine, whose entry nothing names.
    b.phase3Calls.push_back(Header(b, "Lead"));
    ChangeOneByte(b, "INC");
    b.Line(".ENDFUNC");
    Header(b, "Follow");
    ChangeOneByte(b, "SWAP");
    b.Op("RET");
    Footer(b, "MAIN.Lead");
  }
  if (b.rng.Chance(50)) {
    // Branches on the interrupt flag into the next routine, which it does not run into.
    b.phase3Calls.push_back(Header(b, "Brancher"));
    const Variable& v = b.AnyByte();
    b.Op("LDS", "R16," + v.name);
    b.Op(b.rng.Chance(50) ? "BRIE" : "BRID", "MAIN.Target.in");
    b.Op("INC", "R16");
    b.Op("STS", v.name + ",R16");
    b.Op("RET");
    b.Line(".ENDFUNC");
    Header(b, "Target");
    b.Op("COM", "R16");
    b.Label("MAIN.Target.in");
    b.Op("STS", b.OtherByte(v).name + ",R16");
    b.Op("RET");
    Footer(b, "MAIN.Brancher");
  }
}

// Each call's stores go out at once: a later call may store the same bytes.
void CallPhase3Routines(Builder& b) {
  for (const std::string& routine : b.phase3Calls) {
    if (routine != "MAIN.Indirect") {
      b.Op("RCALL", routine);
    } else {
      b.Op("LDI", "R30," + Lo(routine));
      b.Op("LDI", "R31," + Hi(routine));
      b.Op("ICALL");
      const auto& stores = b.routineStores[routine];
      b.stored.insert(b.stored.end(), stores.begin(), stores.end());
    }
    b.Observe();
  }
  if (b.routineStores.count("SYSTEM.BitMask")) {
    b.Op("RCALL", "SYSTEM.BitMask");
    b.Observe();
  }
}

void UnnamedLabels(Builder& b) {
  const Variable& v = b.AnyByte();
  b.Op("LDS", "R16," + v.name);
  switch (b.rng.Below(4)) {
    case 0: {
      char label[16];
      std::snprintf(label, sizeof label, "_CSE%04d", std::stoi(b.NewLabel("").substr(1)));
      b.Label(label);
      break;
    }
    case 1:
      // A skip jumps over the next instruction, whatever labels stand before it.
      b.Op("SBRC", "R16," + std::to_string(b.rng.Below(8)));
      b.Label(b.NewLabel("shadow"));
      break;
    case 2:
      b.Line(".VALID");
      b.Label(b.NewLabel("valid"));
      break;
    default:
      b.Label(b.NewLabel("x.y"));  // dotted, yet no routine's entry
      break;
  }
  b.Op("SUBI", "R16," + std::to_string(b.rng.Range(1, 255)));
  b.Op("STS", b.OtherByte(v).name + ",R16");
}

}  // namespace korvid::verify::gen
