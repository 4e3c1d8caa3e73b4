// The microcontrollers a program can be checked on, with what the lowering and the
// simulator need to know about each.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace korvid::verify {

struct Mcu {
  std::string name;          // as simavr and avr-as know it
  std::string ldEmulation;   // avr-ld's -m value
  unsigned ramStart = 0;     // first byte of SRAM in data space
  unsigned ramEnd = 0;       // last byte of SRAM
  bool hasJmp = true;        // JMP/CALL exist
  // Runtime area at the top of SRAM: scratch, the Y frame stack, the hardware stack.
  // It holds nothing a program computes for its caller, so it is not compared.
  unsigned RuntimeAreaStart() const { return ramEnd + 1 - 1024; }
  unsigned FrameTop() const { return ramEnd - 256; }
  unsigned Scratch() const { return RuntimeAreaStart(); }
};

// The harness wires PORTD bit k to the external interrupt input INTk (k < kWiredInterrupts):
// a write that turns the bit from 0 to 1 raises INTk when EIMSK enables it. These are the
// same on every MCU of the table; INTk is vector k + 1, and every vector row is one JMP.
constexpr int kWiredInterrupts = 2;
constexpr unsigned kWiredPortData = 0x2B;      // PORTD in data space
constexpr unsigned kInterruptMaskData = 0x3D;  // EIMSK in data space
constexpr unsigned kVectorRowBytes = 4;

const Mcu* FindMcu(const std::string& name);
std::string McuNames();
// I/O register names every program may use without declaring them, as I/O addresses.
std::optional<long long> StandardIoAddress(const std::string& name);

}  // namespace korvid::verify
