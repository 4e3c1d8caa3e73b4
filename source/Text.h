// Small text helpers shared by the classifier, the expressions and the file readers.
// Names, mnemonics and directives are ASCII and compared without regard to case.
#pragma once
#include <string>
#include <string_view>

namespace korvid {

std::string_view Trim(std::string_view Text);
std::string UpperCase(std::string_view Text);
std::string LowerCase(std::string_view Text);
bool SameText(std::string_view A, std::string_view B);

}  // namespace korvid
