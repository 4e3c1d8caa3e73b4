#include "verify/gen/Builder.h"

#include <algorithm>
#include <cstdio>

namespace korvid::verify::gen {

std::uint64_t Rng::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void Builder::Observe() {
  std::vector<std::string> done;
  for (const std::string& v : stored) {
    if (std::find(done.begin(), done.end(), v) != done.end()) continue;
    done.push_back(v);
    Op("LDS", "R16," + v);
    Op("OUT", "PORTD,R16");
  }
  stored.clear();
}

void Builder::Op(const std::string& mnemonic, const std::string& operands) {
  if (mnemonic == "STS") stored.push_back(operands.substr(0, operands.find(',')));
  if (mnemonic == "RCALL" || mnemonic == "CALL") {
    called.push_back(operands);
    const auto& stores = routineStores[operands];
    stored.insert(stored.end(), stores.begin(), stores.end());
  }
  std::string text = "        " + mnemonic;
  if (!operands.empty()) text += std::string(mnemonic.size() < 8 ? 8 - mnemonic.size() : 1, ' ') + operands;
  lines.push_back(text);
}

std::string Builder::NewLabel(const std::string& stem) { return stem + "." + std::to_string(++labelCounter_); }

void Builder::Marker() { lines.push_back(".LINE " + std::to_string(++sourceLine)); }

void Builder::Directive() {
  static const std::vector<std::string> harmless = {
      "NO_CHECK_REDUNDANT_LOAD", "IGNORE_DUPLICATE_LOAD_LDI", "NO_OPT_TST", "NO_COM_OPT", "NO_ADVANCED_ANALYSIS",
      "NO_OPT_LOOP_LOADS", "CALL_FRAME_OPT", "ALLOW_INLINE", "NO_BITTEST8", "NO_OPT_CPI"};
  lines.push_back(".OPTI " + rng.Pick(harmless));
}

const Variable& Builder::OtherByte(const Variable& v) {
  const Variable* other = &AnyByte();
  while (other->name == v.name) other = &AnyByte();
  return *other;
}

std::string Builder::HexImm() {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0%02Xh", rng.Below(256));
  return buf;
}

std::string Lo(const std::string& symbol) { return symbol + " AND 0FFh"; }
std::string Hi(const std::string& symbol) { return symbol + " SHRB 8"; }

}  // namespace korvid::verify::gen
