// Constant and address expressions of the compiler's dialect: numbers in the notations
// 0FFh, $FF, 1010b and decimal, symbols, "+", "-", "AND" and "SHRB", with "AND" binding
// loosest and "SHRB" next, as the compiler's assembler reads them.
#pragma once
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvid::verify {

struct LoweringError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A value is a number, or a code label plus a word offset, optionally reduced to one byte
// of the label's word address (what "L AND 0FFh" and "L SHRB 8" mean for a code label).
struct SymValue {
  enum class Part { Whole, Low, High, Highest };
  long long constant = 0;
  std::string label;
  Part part = Part::Whole;
  bool IsConstant() const { return label.empty(); }
};

using SymbolResolver = std::function<std::optional<SymValue>(const std::string& name)>;

std::optional<long long> ParseNumber(std::string_view atom);
SymValue EvaluateExpression(std::string_view text, const SymbolResolver& resolve);
// Evaluates and requires a plain number.
long long EvaluateConstant(std::string_view text, const SymbolResolver& resolve);

}  // namespace korvid::verify
