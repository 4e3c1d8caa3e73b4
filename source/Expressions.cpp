#include "source/Expressions.h"

#include <cctype>
#include <charconv>
#include <limits>

#include "source/Errors.h"
#include "source/Text.h"

namespace korvid {

namespace {

using Int64Limits = std::numeric_limits<std::int64_t>;

constexpr TValue Known(std::int64_t Value) { return {Value, true}; }

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

bool CheckedAdd(std::int64_t A, std::int64_t B, std::int64_t& Sum) {
  if ((B > 0 && A > Int64Limits::max() - B) || (B < 0 && A < Int64Limits::min() - B)) return false;
  Sum = A + B;
  return true;
}

bool CheckedSubtract(std::int64_t A, std::int64_t B, std::int64_t& Difference) {
  if ((B < 0 && A > Int64Limits::max() + B) || (B > 0 && A < Int64Limits::min() + B)) return false;
  Difference = A - B;
  return true;
}

TValue EvaluateHex(std::string_view Digits) {
  if (Digits.empty() || !IsHexText(Digits)) return {};
  auto Value = HexToInt64(Digits);
  return Value ? Known(*Value) : TValue{};
}

TValue EvaluateBinary(std::string_view Digits) {
  if (Digits.empty() || !IsBinaryText(Digits)) return {};
  auto First = Digits.find('1');
  // BinaryToInt is 32 bits wide and signed: a 32nd digit would turn the value negative.
  if (First != std::string_view::npos && Digits.size() - First > 31) return {};
  return Known(BinaryToInt(Digits));
}

TValue EvaluateDecimal(std::string_view Digits) {
  std::int64_t Value = 0;
  auto [End, Error] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value);
  if (Error != std::errc{} || End != Digits.data() + Digits.size()) return {};
  return Known(Value);
}

// A number in one of the notations; symbols are not known here.
TValue EvaluateAtom(std::string_view Text) {
  if (Text.empty()) return {};
  if (Text.front() == '$') return EvaluateHex(Text.substr(1));
  if (!IsDigit(Text.front())) return {};
  auto Body = Text.substr(0, Text.size() - 1);
  switch (Text.back()) {
    case 'h': case 'H': return EvaluateHex(Body);
    case 'b': case 'B': return EvaluateBinary(Body);
    default: return EvaluateDecimal(Text);
  }
}

// Terms joined by "+" and "-", left to right; a leading sign belongs to the first term.
// A sign right after an operator ("5+-7") is not a form the compiler writes: unknown.
TValue EvaluateSum(std::string_view Text) {
  Text = Trim(Text);
  char Operator = '+';
  if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) {
    Operator = Text.front();
    Text = Trim(Text.substr(1));
  }
  std::int64_t Total = 0;
  std::size_t Start = 0;
  for (;;) {
    auto End = Text.find_first_of("+-", Start);
    auto Term = EvaluateAtom(Trim(Text.substr(Start, End == std::string_view::npos ? End : End - Start)));
    if (!Term.Known) return {};
    bool Fits = Operator == '+' ? CheckedAdd(Total, Term.Value, Total) : CheckedSubtract(Total, Term.Value, Total);
    if (!Fits) return {};
    if (End == std::string_view::npos) return Known(Total);
    Operator = Text[End];
    Start = End + 1;
  }
}

// Negative operands of AND and SHRB are 16-bit two's complement, as the assembler reads them:
// -4 AND 0FFh is 0FCh and -4 SHRB 8 is 0FFh. Where the width would change the answer
// (a value below -32768, a mask or shift reaching past 16 bits) the result is unknown.
constexpr std::int64_t Int16Min = -32768;
constexpr std::int64_t Word = 0xFFFF;

TValue EvaluateAnd(std::int64_t Left, std::int64_t Mask) {
  if (Left < 0 && (Left < Int16Min || Mask > Word)) return {};
  return Known(Left & Mask);
}

TValue EvaluateShrb(std::int64_t Left, std::int64_t Shift) {
  if (Left < 0) {
    if (Left < Int16Min || Shift > 15) return {};
    return Known((Left & Word) >> Shift);
  }
  return Known(Shift >= 63 ? 0 : Left >> Shift);
}

std::size_t CountOf(std::string_view Text, std::string_view Word) {
  std::size_t Count = 0;
  for (auto At = Text.find(Word); At != std::string_view::npos; At = Text.find(Word, At + Word.size())) ++Count;
  return Count;
}

}  // namespace

void SplitOperands(std::string_view Text, std::string& First, std::string& Second) {
  auto Comma = Text.find(',');
  First = Trim(Text.substr(0, Comma));
  if (Comma != std::string_view::npos) Second = Trim(Text.substr(Comma + 1));
}

TValue Evaluate(std::string_view Text) {
  Text = Trim(Text);
  // The operator words are found anywhere, case-sensitively, so a symbol containing one splits
  // into unknown parts. Two of them cannot be grouped without the assembler's precedence.
  std::size_t Ands = CountOf(Text, "AND"), Shrbs = CountOf(Text, "SHRB");
  if (Ands + Shrbs == 0) return EvaluateSum(Text);
  if (Ands + Shrbs > 1) return {};
  std::string_view Word = Ands ? "AND" : "SHRB";
  auto At = Text.find(Word);
  auto Left = EvaluateSum(Text.substr(0, At));
  auto Right = EvaluateSum(Text.substr(At + Word.size()));
  if (!Left.Known || !Right.Known || Right.Value < 0) return {};
  return Ands ? EvaluateAnd(Left.Value, Right.Value) : EvaluateShrb(Left.Value, Right.Value);
}

TExpression SplitExpression(std::string_view Text) {
  for (char Operator : {'+', '-'}) {
    auto At = Text.find(Operator);
    if (At != std::string_view::npos)
      return {Operator == '+' ? TExprKind::Plus : TExprKind::Minus, std::string(Trim(Text.substr(0, At))),
              std::string(Trim(Text.substr(At + 1)))};
  }
  std::string_view Words[3];
  std::string_view Rest = Trim(Text);
  for (auto& Word : Words) {
    auto End = Rest.find_first_of(" \t");
    Word = Rest.substr(0, End);
    Rest = End == std::string_view::npos ? std::string_view{} : Trim(Rest.substr(End));
  }
  if (Rest.empty() && !Words[2].empty()) {
    if (SameText(Words[1], "SHRB")) return {TExprKind::Shrb, std::string(Words[0]), std::string(Words[2])};
    if (SameText(Words[1], "AND")) return {TExprKind::And, std::string(Words[0]), std::string(Words[2])};
  }
  return {TExprKind::Plain, std::string(Text), {}};
}

TPointerOperand ResolvePointer(std::string_view Text) {
  const std::string Upper = UpperCase(Trim(Text));
  auto RegisterOf = [](char Letter) {
    switch (Letter) {
      case 'X': return 26;
      case 'Y': return 28;
      case 'Z': return 30;
      default: throw KorvidError("Cannot Resolve XYZ register");
    }
  };
  if (Upper.empty()) throw KorvidError("Cannot Resolve XYZ register");
  TPointerOperand Result;
  if (Upper.front() == '-') {
    auto Name = Trim(std::string_view(Upper).substr(1));
    if (Name.size() != 1) throw KorvidError("Cannot Resolve XYZ register");
    Result.Register = RegisterOf(Name.front());
    Result.Mode = TPointerMode::PreDecrement;
    return Result;
  }
  Result.Register = RegisterOf(Upper.front());
  auto Tail = Trim(std::string_view(Upper).substr(1));
  if (Tail == "+") {
    Result.Mode = TPointerMode::PostIncrement;
  } else if (!Tail.empty()) {
    // Only "+displacement" may follow the letter; anything else leaves the displacement unknown.
    Result.Displacement = Tail.front() == '+' ? Evaluate(Tail.substr(1)) : TValue{};
  }
  return Result;
}

bool IsHexText(std::string_view Text) {
  for (char C : Text)
    if (!std::isxdigit(static_cast<unsigned char>(C))) return false;
  return true;
}

std::optional<std::int64_t> HexToInt64(std::string_view Text) {
  std::int64_t Value = 0;
  for (char C : Text) {
    if (!std::isxdigit(static_cast<unsigned char>(C))) continue;
    int Digit = IsDigit(C) ? C - '0' : std::toupper(static_cast<unsigned char>(C)) - 'A' + 10;
    if (Value > (Int64Limits::max() - Digit) / 16) return std::nullopt;
    Value = Value * 16 + Digit;
  }
  return Value;
}

bool IsBinaryText(std::string_view Text) { return Text.find_first_not_of("01") == std::string_view::npos; }

std::int64_t BinaryToInt(std::string_view Text) {
  std::uint32_t Bits = 0;
  for (char C : Text)
    if (C == '0' || C == '1') Bits = (Bits << 1) | static_cast<std::uint32_t>(C - '0');
  return static_cast<std::int32_t>(Bits);
}

}  // namespace korvid
