// Assembling and linking a lowered program with binutils-avr, and reading the result.
#pragma once
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "verify/Lowering.h"
#include "verify/Mcu.h"

namespace korvid::verify {

// A tool or library the check needs is not installed; the text names the package.
struct MissingToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Image {
  std::vector<std::uint8_t> flash;
  std::map<std::uint32_t, int> addressToLine;  // byte address of an instruction -> dialect line
  // Dialect line of the instruction at or before `pc` (a byte address), or -1.
  int LineAt(std::uint32_t pc) const;
};

// Throws MissingToolError, or LoweringError carrying the assembler's message mapped to the dialect line.
Image Assemble(const LoweredProgram& program, const Mcu& mcu);
// Throws MissingToolError when binutils-avr is not installed.
void RequireToolchain();

}  // namespace korvid::verify
