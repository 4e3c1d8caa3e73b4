// Operand texts: splitting, constant evaluation, pointer operands, and the small tables
// that map a line type to its reverse instruction and its branch condition code.
// Pure text arithmetic: nothing here touches the line list.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "source/LineTypes.h"

namespace korvid {

// The result of evaluating an operand; an unknown value is -1.
struct TValue {
  std::int64_t Value = -1;
  bool Known = false;
};

// Splits at the first comma, trimming both parts. Without a comma Second keeps its value.
void SplitOperands(std::string_view Text, std::string& First, std::string& Second);

// Constant expression with "+", "-", "AND", "SHRB" and the number notations.
// Anything it cannot decide (symbols, malformed text, overflow) is unknown.
TValue Evaluate(std::string_view Text);

enum class TExprKind { Plain = 0, Shrb = 1, And = 2, Plus = 3, Minus = 4 };

struct TExpression {
  TExprKind Kind = TExprKind::Plain;
  std::string Left;
  std::string Right;
};

// A symbol, an operator and an offset, as the label and variable tables resolve them.
TExpression SplitExpression(std::string_view Text);

enum class TPointerMode { PreDecrement = 0, PostIncrement = 1, Plain = 2 };

struct TPointerOperand {
  int Register = 0;  // low register of the pair: X 26, Y 28, Z 30
  TPointerMode Mode = TPointerMode::Plain;
  TValue Displacement{0, true};
};

// Throws KorvidError "Cannot Resolve XYZ register" when the text names no pointer register.
TPointerOperand ResolvePointer(std::string_view Text);

// The instruction with the opposite direction or condition; lt::Unknown and "" when there is none.
TLineType ReverseLineType(TLineType Type);
std::string_view ReverseMnemonic(TLineType Type);

// Condition codes 1..16 come in opposite pairs (1/2, 3/4, ...); other texts are returned unchanged.
std::string InvertCondition(std::string_view Text);
int BranchCondition(TLineType Type);

bool IsHexText(std::string_view Text);
// Hexadecimal digits in order, other characters ignored; empty when the value passes 63 bits.
std::optional<std::int64_t> HexToInt64(std::string_view Text);
bool IsBinaryText(std::string_view Text);
// 32-bit value of the binary digits, other characters skipped, sign-extended.
std::int64_t BinaryToInt(std::string_view Text);

}  // namespace korvid
