// What the peephole pass rewrites, each beside the near miss that must stay.
#include <cstdio>

#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

// "buf", "buf+5", "buf+0Ah": the compiler writes offsets in decimal or in hex.
std::string BufAddress(Builder& b, int offset) {
  if (offset == 0) return "buf";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0%Xh", offset);
  return "buf+" + (b.rng.Chance(30) ? std::string(hex) : std::to_string(offset));
}

}  // namespace

void AddressAdjustment(Builder& b) {
  // The address of a byte of buf loaded into a pair and moved by ADIW/SBIW or SUBI/SBCI:
  // a correct optimiser may fold the move into the loads, except in the near misses.
  static const std::vector<std::vector<std::string>> pairs = {{"R30", "R31", "Z"}, {"R26", "R27", "X"},
                                                              {"R24", "R25", ""}};
  const std::vector<std::string>& pair = b.rng.Pick(pairs);
  const int base = b.rng.Below(12), step = b.rng.Range(-base, 12 - base);
  const std::string address = BufAddress(b, base);
  const int miss = b.rng.Below(8);  // 0: a label, 1: the carry read, 2: another offset; else none
  const std::string low = pair[0] + "," + address + " AND 0FFh";
  const std::string high = pair[1] + "," + (miss == 2 ? BufAddress(b, base + 1) : address) + " SHRB 8";
  const bool lowFirst = b.rng.Chance(50);
  b.Op("LDI", lowFirst ? low : high);
  b.Op("LDI", lowFirst ? high : low);
  if (b.rng.Chance(30)) b.Marker();
  if (miss == 0) b.Label(b.NewLabel("fold"));
  if (b.rng.Chance(50)) {
    b.Op(step >= 0 ? "ADIW" : "SBIW", pair[0] + "," + std::to_string(step >= 0 ? step : -step));
  } else {
    b.Op("SUBI", pair[0] + "," + std::to_string(-step) + " AND 0FFh");
    b.Op("SBCI", pair[1] + "," + std::to_string(-step) + " SHRB 8");
  }
  if (miss == 1) {
    const std::string carry = b.NewLabel("carry");
    b.Op("LDI", "R16,1");
    b.Op("BRCC", carry);
    b.Op("LDI", "R16,2");
    b.Label(carry);
    b.Op("STS", b.AnyByte().name + ",R16");
  }
  if (pair[2].empty()) {
    b.Op("STS", b.AnyByte().name + "," + pair[0]);
    b.Op("STS", b.AnyByte().name + "," + pair[1]);
  } else {
    b.Op("LDI", "R16," + b.Imm());
    b.Op("ST", pair[2] + ",R16");
  }
}

void PointerThenReload(Builder& b) {
  // A byte or two of buf reached through X or Z, which is loaded afresh afterwards: a
  // correct optimiser may address them directly. In the near misses the pointer's
  // value or the flags of its ADIW are still read.
  const bool z = b.rng.Chance(60);
  const std::string lo = z ? "R30" : "R26", hi = z ? "R31" : "R27", ptr = z ? "Z" : "X";
  const int base = b.rng.Below(10);
  const std::string address = BufAddress(b, base);
  b.Op("LDI", lo + "," + address + " AND 0FFh");
  b.Op("LDI", hi + "," + address + " SHRB 8");
  b.Op("LDI", "R17," + b.Imm());
  const int miss = b.rng.Below(4);  // 0: the pointer read after, 1: the carry of its ADIW read after
  switch (b.rng.Below(3)) {
    case 0:
      b.Op("LD", "R16," + ptr + "+");
      b.Op("ST", ptr + ",R17");
      break;
    case 1:
      b.Op("ST", ptr + ",R17");
      b.Op("ADIW", lo + "," + std::to_string(b.rng.Range(1, 4)));
      b.Op("LD", "R16," + ptr);
      if (miss == 1) b.Op("ADC", "R16,R17");
      break;
    default:
      b.Op(z ? "LDD" : "LD", "R16," + ptr + (z ? "+" + std::to_string(b.rng.Below(4)) : ""));
      break;
  }
  if (miss == 0) {
    b.Op("MOV", "R18," + lo);
    b.Op("STS", b.AnyByte().name + ",R18");
  }
  b.Op("STS", b.AnyByte().name + ",R16");
  b.Op("LDI", lo + "," + b.Imm());
  b.Op("LDI", hi + "," + b.Imm());
}

}  // namespace korvid::verify::gen
