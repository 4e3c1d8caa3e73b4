// Splits one text line of the compiler's assembly into label, mnemonic, operands
// and comment, and gives it a line type. A pure function of the text, called
// from several worker threads at once.
#pragma once
#include <string>
#include <string_view>

#include "source/LineTypes.h"

namespace korvid {

struct TParsedLine {
  TLineType LineType = lt::Blank;
  std::string LabelName;
  std::string Mnemonic = "    ";
  std::string Comment;
  std::string Operands;
};

TParsedLine ParseLine(std::string_view text);

// Whether a line of this type was seen in the program (or is assumed present).
bool TypePresent(TLineType type);
// Puts the presence table back to its start state (a new run).
void ResetTypePresence();

bool IsEntryDirective(TLineType type);
bool IsSkipType(TLineType type);

// Words the instruction set has but the line-type table does not: they keep
// line type 0 and are split like instructions, so the analysis sees them.
bool IsUntypedInstruction(std::string_view word);

}  // namespace korvid
