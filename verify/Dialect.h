// Splits one line of the compiler's assembly into label, word and operands, the way the
// compiler's own assembler reads it (independent of the optimiser's classifier).
#pragma once
#include <string>
#include <vector>

namespace korvid::verify {

struct DialectLine {
  std::string label;     // without ":"; for ".EQU" lines the declared name
  std::string word;      // mnemonic or directive as written ("" for label-only and blank lines)
  std::string operands;  // operand text, trimmed, comment removed
  bool IsDirective() const { return !word.empty() && word[0] == '.'; }
  bool IsInstruction() const { return !word.empty() && word[0] != '.'; }
};

bool IsMnemonic(const std::string& word);
// Throws LoweringError for a line that is neither blank, comment, label, directive nor instruction.
DialectLine ParseDialectLine(const std::string& text);
std::string StripComment(const std::string& text);

}  // namespace korvid::verify
