// Small text helpers shared by the lowering, the generator and the checker.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace korvid::verify {

std::string Trim(std::string_view s);
std::string Upper(std::string_view s);
std::string Lower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
// Splits at top-level commas (outside quotes); every part is trimmed.
std::vector<std::string> SplitCommas(std::string_view s);
std::vector<std::string> SplitLines(const std::string& text);
std::string Hex(long long value, int digits = 2);

}  // namespace korvid::verify
