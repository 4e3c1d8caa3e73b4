#include "source/Text.h"

#include <algorithm>
#include <cctype>

namespace korvid {

namespace {
bool IsBlank(char C) { return std::isspace(static_cast<unsigned char>(C)) != 0; }
char Upper(char C) { return static_cast<char>(std::toupper(static_cast<unsigned char>(C))); }
char Lower(char C) { return static_cast<char>(std::tolower(static_cast<unsigned char>(C))); }
}  // namespace

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  return Text;
}

std::string UpperCase(std::string_view Text) {
  std::string Result(Text);
  std::transform(Result.begin(), Result.end(), Result.begin(), Upper);
  return Result;
}

std::string LowerCase(std::string_view Text) {
  std::string Result(Text);
  std::transform(Result.begin(), Result.end(), Result.begin(), Lower);
  return Result;
}

bool SameText(std::string_view A, std::string_view B) {
  return std::equal(A.begin(), A.end(), B.begin(), B.end(),
                    [](char X, char Y) { return Upper(X) == Upper(Y); });
}

}  // namespace korvid
