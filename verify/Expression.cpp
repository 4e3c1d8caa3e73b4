#include "verify/Expression.h"

#include <cctype>
#include <vector>

#include "verify/Text.h"

namespace korvid::verify {
namespace {

bool IsHexDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool IsSymbolChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' || c == '%' ||
         c == '@' || c == '?';
}

struct Token {
  enum Kind { Atom, Plus, Minus, And, Shrb, Open, Close, End } kind;
  std::string text;
};

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '+' || c == '-' || c == '(' || c == ')') {
      tokens.push_back({c == '+' ? Token::Plus : c == '-' ? Token::Minus : c == '(' ? Token::Open : Token::Close, {}});
      ++i;
    } else if (IsSymbolChar(c)) {
      size_t j = i;
      while (j < text.size() && IsSymbolChar(text[j])) ++j;
      std::string word(text.substr(i, j - i));
      if (EqualsNoCase(word, "AND"))
        tokens.push_back({Token::And, {}});
      else if (EqualsNoCase(word, "SHRB"))
        tokens.push_back({Token::Shrb, {}});
      else
        tokens.push_back({Token::Atom, word});
      i = j;
    } else {
      throw LoweringError("unexpected character '" + std::string(1, c) + "' in expression \"" +
                          std::string(text) + "\"");
    }
  }
  tokens.push_back({Token::End, {}});
  return tokens;
}

class Parser {
 public:
  Parser(std::string_view text, const SymbolResolver& resolve)
      : text_(text), tokens_(Tokenize(text)), resolve_(resolve) {}

  SymValue Parse() {
    SymValue v = AndExpr();
    if (Peek() != Token::End) Fail("unexpected text");
    return v;
  }

 private:
  Token::Kind Peek() const { return tokens_[pos_].kind; }
  [[noreturn]] void Fail(const std::string& why) const {
    throw LoweringError(why + " in expression \"" + std::string(text_) + "\"");
  }

  SymValue AndExpr() {
    SymValue v = ShrExpr();
    while (Peek() == Token::And) {
      ++pos_;
      SymValue mask = ShrExpr();
      if (!mask.IsConstant()) Fail("AND with a label as mask");
      if (v.IsConstant()) {
        v.constant &= mask.constant;
      } else if (mask.constant == 0xFF && v.part == SymValue::Part::Whole) {
        v.part = SymValue::Part::Low;
      } else if (mask.constant == 0xFF && v.part != SymValue::Part::Whole) {
        // Already a single byte.
      } else {
        Fail("AND of a code label with a mask other than 0FFh");
      }
    }
    return v;
  }

  SymValue ShrExpr() {
    SymValue v = AddExpr();
    while (Peek() == Token::Shrb) {
      ++pos_;
      SymValue shift = AddExpr();
      if (!shift.IsConstant() || shift.constant < 0 || shift.constant > 63) Fail("bad shift count");
      if (v.IsConstant()) {
        // The assembler works on 16-bit words: the high byte of -4 is 0FFh.
        long long left = v.constant < 0 ? (v.constant & 0xFFFF) : v.constant;
        v.constant = left >> shift.constant;
      } else if (v.part == SymValue::Part::Whole && shift.constant == 8) {
        v.part = SymValue::Part::High;
      } else if (v.part == SymValue::Part::Whole && shift.constant == 16) {
        v.part = SymValue::Part::Highest;
      } else {
        Fail("code label shifted by other than 8 or 16");
      }
    }
    return v;
  }

  SymValue AddExpr() {
    SymValue v = Unary();
    while (Peek() == Token::Plus || Peek() == Token::Minus) {
      bool minus = Peek() == Token::Minus;
      ++pos_;
      SymValue r = Unary();
      if (!r.IsConstant()) {
        if (minus || !v.IsConstant()) Fail("arithmetic on two code labels");
        std::swap(v, r);
      }
      if (!v.IsConstant() && v.part != SymValue::Part::Whole) Fail("offset added to a byte of a code label");
      v.constant = minus ? v.constant - r.constant : v.constant + r.constant;
    }
    return v;
  }

  SymValue Unary() {
    if (Peek() == Token::Minus) {
      ++pos_;
      SymValue v = Unary();
      if (!v.IsConstant()) Fail("negated code label");
      v.constant = -v.constant;
      return v;
    }
    if (Peek() == Token::Plus) {
      ++pos_;
      return Unary();
    }
    if (Peek() == Token::Open) {
      ++pos_;
      SymValue v = AndExpr();
      if (Peek() != Token::Close) Fail("missing ')'");
      ++pos_;
      return v;
    }
    if (Peek() != Token::Atom) Fail("missing operand");
    const std::string& atom = tokens_[pos_++].text;
    if (auto n = ParseNumber(atom)) return SymValue{*n, {}, SymValue::Part::Whole};
    if (std::isdigit(static_cast<unsigned char>(atom[0]))) Fail("bad number \"" + atom + "\"");
    if (auto s = resolve_(atom)) return *s;
    Fail("unknown symbol \"" + atom + "\"");
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  const SymbolResolver& resolve_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<long long> ParseNumber(std::string_view atom) {
  if (atom.empty()) return std::nullopt;
  try {
    if (atom[0] == '$') {
      if (!IsHexDigits(atom.substr(1))) return std::nullopt;
      return std::stoll(std::string(atom.substr(1)), nullptr, 16);
    }
    if (!std::isdigit(static_cast<unsigned char>(atom[0]))) return std::nullopt;
    if (atom.size() > 2 && atom[0] == '0' && (atom[1] == 'x' || atom[1] == 'X')) {
      if (!IsHexDigits(atom.substr(2))) return std::nullopt;
      return std::stoll(std::string(atom.substr(2)), nullptr, 16);
    }
    char last = static_cast<char>(std::toupper(static_cast<unsigned char>(atom.back())));
    std::string_view body = atom.substr(0, atom.size() - 1);
    if (last == 'H') {
      if (!IsHexDigits(body)) return std::nullopt;
      return std::stoll(std::string(body), nullptr, 16);
    }
    if (last == 'B' && !body.empty() && body.find_first_not_of("01") == std::string_view::npos)
      return std::stoll(std::string(body), nullptr, 2);
    if (atom.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    return std::stoll(std::string(atom));
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

SymValue EvaluateExpression(std::string_view text, const SymbolResolver& resolve) {
  if (Trim(text).empty()) throw LoweringError("missing operand");
  return Parser(text, resolve).Parse();
}

long long EvaluateConstant(std::string_view text, const SymbolResolver& resolve) {
  SymValue v = EvaluateExpression(text, resolve);
  if (!v.IsConstant()) throw LoweringError("a number is needed, not the code label in \"" + std::string(text) + "\"");
  return v.constant;
}

}  // namespace korvid::verify
