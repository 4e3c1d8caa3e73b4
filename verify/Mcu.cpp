#include "verify/Mcu.h"

#include <map>

#include "verify/Text.h"

namespace korvid::verify {
namespace {

const std::vector<Mcu>& Table() {
  static const std::vector<Mcu> table = {
      {"atmega2560", "avr6", 0x200, 0x21FF, true},
      {"atmega1280", "avr51", 0x200, 0x21FF, true},
      {"atmega644", "avr5", 0x100, 0x10FF, true},
      {"atmega328p", "avr5", 0x100, 0x8FF, true},
  };
  return table;
}

}  // namespace

const Mcu* FindMcu(const std::string& name) {
  for (const Mcu& m : Table())
    if (EqualsNoCase(m.name, name)) return &m;
  return nullptr;
}

std::string McuNames() {
  std::string names;
  for (const Mcu& m : Table()) names += (names.empty() ? "" : ", ") + m.name;
  return names;
}

std::optional<long long> StandardIoAddress(const std::string& name) {
  static const std::map<std::string, long long> io = {
      {"PINA", 0x00},  {"DDRA", 0x01},  {"PORTA", 0x02}, {"PINB", 0x03},   {"DDRB", 0x04},
      {"PORTB", 0x05}, {"PINC", 0x06},  {"DDRC", 0x07},  {"PORTC", 0x08},  {"PIND", 0x09},
      {"DDRD", 0x0A},  {"PORTD", 0x0B}, {"PINE", 0x0C},  {"DDRE", 0x0D},   {"PORTE", 0x0E},
      {"EIFR", 0x1C},   {"EIMSK", 0x1D},  {"GPIOR0", 0x1E}, {"EEDR", 0x20}, {"GPIOR1", 0x2A}, {"GPIOR2", 0x2B}, {"MCUCR", 0x35},
      {"RAMPZ", 0x3B}, {"EIND", 0x3C},  {"SPL", 0x3D},   {"SPH", 0x3E},    {"SREG", 0x3F},
  };
  auto it = io.find(Upper(name));
  if (it == io.end()) return std::nullopt;
  return it->second;
}

}  // namespace korvid::verify
