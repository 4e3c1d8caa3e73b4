#include "verify/Dialect.h"

#include <set>

#include "verify/Expression.h"
#include "verify/Instructions.h"
#include "verify/Text.h"

namespace korvid::verify {

bool IsMnemonic(const std::string& word) { return FindInstruction(word) != nullptr; }

std::string StripComment(const std::string& text) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'' || c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ';') return text.substr(0, i);
    if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') return text.substr(0, i);
  }
  return text;
}

namespace {

void SplitWord(const std::string& text, std::string& word, std::string& rest) {
  size_t end = text.find_first_of(" \t");
  word = text.substr(0, end);
  rest = end == std::string::npos ? "" : Trim(text.substr(end));
}

}  // namespace

DialectLine ParseDialectLine(const std::string& raw) {
  DialectLine line;
  std::string text = Trim(StripComment(raw));
  if (text.empty()) return line;
  std::string word, rest;
  SplitWord(text, word, rest);
  if (word[0] != '.' && !IsMnemonic(word)) {
    if (word.back() == ':') {
      line.label = word.substr(0, word.size() - 1);
    } else if (!rest.empty()) {
      line.label = word;  // a label written without colon before an instruction or ".EQU"
    } else {
      throw LoweringError("\"" + word + "\" is neither an instruction nor a label");
    }
    if (line.label.empty()) throw LoweringError("empty label");
    if (rest.empty()) return line;
    std::string first = word;
    SplitWord(rest, word, rest);
    if (word[0] != '.' && !IsMnemonic(word)) {
      if (first.back() == ':') throw LoweringError("unknown instruction \"" + word + "\"");
      throw LoweringError("neither \"" + first + "\" nor \"" + word + "\" is an instruction");
    }
  }
  line.word = word;
  line.operands = rest;
  return line;
}

}  // namespace korvid::verify
