#include "verify/gen/Reach.h"

#include <map>

#include "verify/Dialect.h"
#include "verify/Instructions.h"
#include "verify/Text.h"

namespace korvid::verify::gen {
namespace {

long DataBytes(const DialectLine& l) {
  const std::string word = Upper(l.word);
  if (word == ".ASCII") return static_cast<long>(Trim(l.operands).size()) - 2;  // without the quotes
  const long items = static_cast<long>(SplitCommas(l.operands).size());
  if (word == ".BYTE") return items;
  if (word == ".WORD" || word == ".ADDR") return 2 * items;
  if (word == ".WORDD" || word == ".ADDR32") return 4 * items;
  return 0;
}

// Byte address of every label, laid out as the lowering lays the program out.
std::map<std::string, long> LabelAddresses(const std::vector<DialectLine>& parsed, std::vector<long>& address) {
  std::map<std::string, long> labels;
  long at = 0;
  bool afterData = false;
  for (size_t i = 0; i < parsed.size(); ++i) {
    const DialectLine& l = parsed[i];
    if (l.IsInstruction() && afterData) at = (at + 1) & ~1L;  // instructions start on a word
    if (!l.label.empty() && !EqualsNoCase(l.word, ".EQU")) labels[Upper(l.label)] = at;
    address[i] = at;
    if (l.IsInstruction()) {
      at += FindInstruction(l.word)->size;
      afterData = false;
    } else if (long bytes = DataBytes(l)) {
      at += bytes;
      afterData = true;
    }
  }
  return labels;
}

}  // namespace

void FitTransfersToReach(std::vector<std::string>& lines) {
  std::vector<DialectLine> parsed;
  for (const std::string& line : lines) parsed.push_back(ParseDialectLine(line));
  // A longer transfer moves the code after it, so another one may fall out of reach.
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<long> address(lines.size());
    const std::map<std::string, long> labels = LabelAddresses(parsed, address);
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string word = Upper(parsed[i].word);
      if (word != "RJMP" && word != "RCALL") continue;
      auto target = labels.find(Upper(Trim(parsed[i].operands)));
      if (target == labels.end()) continue;
      const long words = (target->second - address[i] - 2) / 2;
      if (words >= -2048 && words <= 2047) continue;
      parsed[i].word = word == "RJMP" ? "JMP" : "CALL";
      lines[i] = (parsed[i].label.empty() ? "" : parsed[i].label + ":") + "        " + parsed[i].word +
                 std::string(8 - parsed[i].word.size(), ' ') + parsed[i].operands;
      changed = true;
    }
  }
}

}  // namespace korvid::verify::gen
