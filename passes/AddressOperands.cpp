#include "passes/AddressOperands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "analysis/PointerTargets.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"
#include "source/Variables.h"

namespace korvid {

std::string YDisplacement(std::int64_t q) {
  char text[16];
  std::snprintf(text, sizeof text, "Y+%03llXh", static_cast<unsigned long long>(q));
  return text;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::optional<std::int64_t> PlainNumber(std::string_view text, bool signedText) {
  text = Trim(text);
  const bool negative = signedText && !text.empty() && text.front() == '-';
  if (negative) text = Trim(text.substr(1));
  if (text.empty() || !IsDigit(text.front())) return std::nullopt;
  std::optional<std::int64_t> value;
  if (text.back() == 'h' || text.back() == 'H') {
    text.remove_suffix(1);
    if (!std::all_of(text.begin(), text.end(), IsHexDigit)) return std::nullopt;
    value = HexToInt64(text);
  } else {
    if (!std::all_of(text.begin(), text.end(), IsDigit) || text.size() > 9) return std::nullopt;
    value = std::strtoll(std::string(text).c_str(), nullptr, 10);
  }
  if (value && negative) *value = -*value;
  return value;
}

bool TAddress::operator==(const TAddress& other) const {
  return EqualsNoCase(Symbol, other.Symbol) && Offset == other.Offset;
}

std::string TAddress::Text() const {
  if (Offset == 0) return Symbol;
  return Symbol + (Offset > 0 ? " + " : " - ") + std::to_string(std::llabs(Offset));
}

std::optional<TAddress> AddressPart(std::string_view text) {
  text = Trim(text);
  std::size_t sign = text.find_first_of("+-");
  TAddress address{std::string(Trim(text.substr(0, sign))), 0};
  if (!IsPlainLabel(address.Symbol)) return std::nullopt;
  if (sign == std::string_view::npos) return address;
  std::optional<std::int64_t> offset = PlainNumber(text.substr(sign + 1));
  if (!offset) return std::nullopt;
  address.Offset = text[sign] == '-' ? -*offset : *offset;
  return address;
}

std::optional<std::pair<std::string_view, std::string_view>> SplitAt(std::string_view text,
                                                                      std::string_view separator) {
  std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  return std::pair{text.substr(0, at), Trim(text.substr(at + separator.size()))};
}

// "sym + 4 AND 0FFh": the low byte of an address.
std::optional<TAddress> LowByteOperand(std::string_view operand) {
  auto parts = SplitAt(operand, " AND ");
  if (!parts || PlainNumber(parts->second) != 255) return std::nullopt;
  return AddressPart(parts->first);
}

// "sym + 4 SHRB 8": the high byte of an address.
std::optional<TAddress> HighByteOperand(std::string_view operand) {
  auto parts = SplitAt(operand, " SHRB ");
  if (!parts || parts->second != "8") return std::nullopt;
  return AddressPart(parts->first);
}

std::optional<TAddressLoad> AddressLoad(const TLineList& lines, int first, int second, int low) {
  TAddressLoad load;
  for (int k : {first, second}) {
    const TLine& line = *lines.Line(k);
    if (line.LineType != lt::LDI) return std::nullopt;
    const int r = tVarList::RegisterNumber(line.DestVar);
    if (r == low) load.LowLine = k;
    if (r == low + 1) load.HighLine = k;
  }
  if (load.LowLine < 0 || load.HighLine < 0) return std::nullopt;
  const TLine& lowLoad = *lines.Line(load.LowLine);
  const TLine& highLoad = *lines.Line(load.HighLine);
  std::optional<TAddress> lowAddress = LowByteOperand(lowLoad.Op2);
  std::optional<TAddress> highAddress = HighByteOperand(highLoad.Op2);
  if (!lowAddress || !highAddress || !(*lowAddress == *highAddress)) return std::nullopt;
  std::optional<std::int64_t> lowByte = ImmediateByte(lines.Vars, lowLoad.Op2);
  std::optional<std::int64_t> highByte = ImmediateByte(lines.Vars, highLoad.Op2);
  if (!lowByte || !highByte) return std::nullopt;
  load.Address = *lowAddress;
  load.Value = (*highByte << 8) + *lowByte;
  return load;
}

}  // namespace korvid
