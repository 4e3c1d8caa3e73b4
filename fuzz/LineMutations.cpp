#include "fuzz/LineMutations.h"

#include <sstream>
#include <vector>

namespace korvid::fuzz {
namespace {

const std::vector<std::string> kOddOperands = {
    "", ",", ",,", "R32", "R-1", "R99999999999", "R16,R17,R18", "Y+", "Y+64", "Y+-1", "Z+99999", "-X", "X+",
    "-Y+1", "99999999999999999999", "-2147483648", "2147483647", "0FFFFFFFFFFFFFFFFh", "0h", "h", "$", "$G",
    "0x", "1111111111111111111111111111111111111111b", "b", "((", "))", "+", "-", "AND", "SHRB", "1 SHRB 99",
    "1 SHRB -1", "v AND", "main+99999999", "main-", "%", "%%", "\"", "'", ";", ".", "R16,", ",R16", "XL,XH",
    "Z,Z", "R16,-1", "R16,256", "R16,-129", "R16,65536", "R1,R1", "R31,R32", "PORTB,8", "PORTB,-1", "1024,R16",
    "0FFFFh,R16", "R16,Y+63", "R16,Z+", "R16,-Z", "R16,X+", "\xBF", "\xC2\xBF", "R16,\xBF""5",
};
const std::vector<std::string> kOddMnemonics = {
    "FOO", "LDDD", "BRXX", "CALLL", "LDI", "RJMP", "RCALL", "BRNE", "SBRC", "SBRS", "CPSE", "SBIC", "RET", "RETI",
    "IJMP", "ICALL", "PUSH", "POP", "LPM", "ELPM", "MOVW", "ADIW", "SBIW", "STD", "LDD", "LD", "ST", "OUT", "IN",
    "SWAP", "BREAK", "SPM", "DES", ".DB", ".DW", ".ORG", ".EQU", ":",
};
const std::vector<std::string> kOddLines = {
    ".FUNC f", ".FUNC", ".ENDFUNC", ".ENDFUNC f", ".FUNC main", ".FRAME 99999999999", ".FRAME -5", ".FRAME",
    ".RETURNS 99999999", ".RETURNS -1", ".RETURNS", ".LINE 4294967296", ".LINE -1", ".LINE", ".FILE", ".FILE ",
    ".ENTRY", ".ENTRYMAIN", ".ENTRYMAIN $", ".END", ".OPTI", ".OPTI VOLATILE", ".OPTI NO_SUCH", ".LOOP", ".ENDLOOP",
    ".BLOCK", ".ENDBLOCK", "x .EQU", "x .EQU 99999999999999999999h", "x .EQU x", "x .EQU x+1", "COMPILERREV .EQU 0",
    "COMPILERREV .EQU 99999999999", "OPTIMISERREV .EQU -1", ":", "::", "a:", "a: b:", "\t", "\r", "%%%",
    "                        LDI       R16,\xBF""1",
};

template <class T>
const T& Pick(const std::vector<T>& v, std::mt19937& rng) {
  return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The byte ranges of the whitespace-separated words before any comment.
std::vector<std::pair<std::size_t, std::size_t>> Words(const std::string& line) {
  std::vector<std::pair<std::size_t, std::size_t>> words;
  std::size_t end = line.find(';');
  if (end == std::string::npos) end = line.size();
  for (std::size_t i = 0; i < end;) {
    while (i < end && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < end && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.emplace_back(start, i - start);
  }
  return words;
}

// Replaces one word; the first word of an indented line is a mnemonic, later ones operands.
void ReplaceWord(std::string& line, std::mt19937& rng) {
  auto words = Words(line);
  if (words.empty()) {
    line += " " + Pick(kOddOperands, rng);
    return;
  }
  std::size_t k = std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(rng);
  bool mnemonic = k == 0 && words[0].first > 0;
  line.replace(words[k].first, words[k].second, Pick(mnemonic ? kOddMnemonics : kOddOperands, rng));
}

}  // namespace

std::string MutateProgram(const std::string& text, std::mt19937& rng) {
  std::vector<std::string> lines = SplitLines(text);
  int count = std::uniform_int_distribution<int>(1, 3)(rng);
  for (int m = 0; m < count; ++m) {
    if (lines.empty()) lines.push_back("");
    std::size_t at = std::uniform_int_distribution<std::size_t>(0, lines.size() - 1)(rng);
    switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
      case 0: ReplaceWord(lines[at], rng); break;
      case 1: lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at)); break;
      case 2: lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Pick(kOddLines, rng)); break;
      case 3: lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]); break;
      case 4: std::swap(lines[at], lines[std::uniform_int_distribution<std::size_t>(0, lines.size() - 1)(rng)]); break;
      default:
        // Drops a directive line, so the ones that open or close a region go missing.
        for (std::size_t i = at; i < lines.size(); ++i) {
          auto words = Words(lines[i]);
          if (!words.empty() && lines[i][words[0].first] == '.') {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            break;
          }
        }
    }
  }
  std::string result;
  for (const std::string& line : lines) result += line + "\n";
  return result;
}

}  // namespace korvid::fuzz
