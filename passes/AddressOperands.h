// Address operands as the compiler writes them, for the rewrites that move an
// address between instructions: "buf + 4 AND 0FFh" (the low byte),
// "buf + 4 SHRB 8" (the high byte), "buf-10h". Offsets are plain numbers,
// decimal or hexadecimal ending in "h"; anything else does not parse.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace korvid {

class TLineList;

struct TAddress {
  std::string Symbol;
  std::int64_t Offset = 0;

  bool operator==(const TAddress& other) const;
  // "buf", "buf + 4", "buf - 2".
  std::string Text() const;
};

// "Y+00Ah": a displacement from Y as the passes write it.
std::string YDisplacement(std::int64_t q);

// A plain number; a leading "-" only where `signedText` allows it.
std::optional<std::int64_t> PlainNumber(std::string_view text, bool signedText = false);
// The text before `separator` and, trimmed, after it; none when the separator is missing.
std::optional<std::pair<std::string_view, std::string_view>> SplitAt(std::string_view text,
                                                                      std::string_view separator);
// "sym", "sym + 4", "sym-10h".
std::optional<TAddress> AddressPart(std::string_view text);
std::optional<TAddress> LowByteOperand(std::string_view operand);
std::optional<TAddress> HighByteOperand(std::string_view operand);

// Two LDIs, on lines `first` and `second`, loading the pair whose low register
// is `low` with the two bytes of one address of known value.
struct TAddressLoad {
  int LowLine = -1;
  int HighLine = -1;
  TAddress Address;
  std::int64_t Value = 0;
};
std::optional<TAddressLoad> AddressLoad(const TLineList& lines, int first, int second, int low);

}  // namespace korvid
