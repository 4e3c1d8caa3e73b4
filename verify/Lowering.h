// Lowering: translates a program in the compiler's dialect, with our runtime appended,
// into avr-as source, and keeps the map from lowered lines back to dialect lines.
#pragma once
#include <string>
#include <vector>

#include "verify/Mcu.h"

namespace korvid::verify {

struct SourceLine {
  bool runtime = false;  // a line of the runtime rather than of the program
  int number = 0;        // 1-based line number in its file
  std::string text;
  std::string markerLine;  // the compiler's ".LINE" marker in force
  std::string markerFile;  // the compiler's ".FILE" marker in force
};

struct LoweredProgram {
  std::string assembly;
  std::vector<SourceLine> lines;       // every dialect line, program first, then runtime
  std::vector<int> loweredToDialect;   // per line of `assembly`: index into `lines`, or -1
  // The program starts at its own first code line (a vector table or start-up code before
  // its routines) instead of being called by the harness; nothing receives main's registers.
  bool ownStart = false;
  std::string mainLabel;               // empty with an own start
  bool returnKnown = false;            // main's return size is declared
  std::vector<int> returnRegisters;    // the registers main hands back
};


// Symbol of the instruction that starts dialect line `index` in the lowered program.
std::string LineSymbol(int index);
bool ParseLineSymbol(const std::string& symbol, int& index);

// Throws LoweringError whose text names the offending line.
LoweredProgram Lower(const std::string& program, const Mcu& mcu);
// "line 12 (source line 5 of blink.pas)" or "runtime line 7".
std::string DescribeLine(const LoweredProgram& program, int index);
// The runtime source, in the dialect.
const char* RuntimeSource();

}  // namespace korvid::verify
