// Applies what an instruction does (from the effect table) to a line: its size,
// control flow, and the usages of registers, flags, I/O locations and memory.
#pragma once
#include <string>

namespace korvid {

class TLineList;
struct TLine;

// Returns false when the line is no instruction the table knows.
bool ApplyInstructionEffect(TLineList& lines, TLine& line);

// An instruction nobody knows: two bytes that read and write everything, and
// whose operands keep every label they name alive.
void ApplyUnknownEffect(TLineList& lines, TLine& line);

// Counts a label reference of the operand and remembers it on the line.
void CountLabelRef(TLineList& lines, TLine& line, const std::string& operand);

// The register number of an operand such as "R16", "r5", "XL", "_ACCA" or "Z"; -1 when none.
int RegisterNumber(const TLineList& lines, const std::string& operand);

}  // namespace korvid
