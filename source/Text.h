// Small text helpers shared by the source model: the program compares names
// without regard to case and trims blanks and control characters.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvid {

inline bool IsBlankChar(char c) { return static_cast<unsigned char>(c) <= ' '; }
// What the C locale's toupper gives, without a library call per character:
// names are ASCII, and other bytes stay as they are.
constexpr unsigned char UpperAscii(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

std::string_view Trim(std::string_view text);
std::string UpperCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
// The whole text read as a decimal integer (leading blanks and a sign allowed);
// none when it is not one or does not fit.
std::optional<std::int32_t> ReadDecimal(std::string_view text);
// ReadDecimal, or `fallback` when the text is no number.
int DecimalOr(const std::string& text, int fallback);

}  // namespace korvid
