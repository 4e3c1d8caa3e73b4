// Finds program text by a pattern of whole lines in which '*' stands for any run of
// characters within one line, e.g. "        SBRC    R20,*\n        RCALL   proc".
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace korvid::verify {

namespace detail {

inline bool MatchPieces(std::string_view text, size_t at, const std::vector<std::string>& pieces, size_t k) {
  if (k == pieces.size()) return true;
  // The next piece starts on the line where the '*' before it started.
  size_t lineEnd = text.find('\n', at);
  std::string_view line = text.substr(at, lineEnd == std::string_view::npos ? lineEnd : lineEnd - at + pieces[k].size());
  for (size_t p = line.find(pieces[k]); p != std::string_view::npos; p = line.find(pieces[k], p + 1))
    if (MatchPieces(text, at + p + pieces[k].size(), pieces, k + 1)) return true;
  return false;
}

}  // namespace detail

// Offset of the first match, or npos.
inline size_t FindPattern(std::string_view text, const std::string& pattern) {
  std::vector<std::string> pieces(1);
  for (char c : pattern) {
    if (c == '*') pieces.emplace_back();
    else pieces.back() += c;
  }
  for (size_t p = text.find(pieces[0]); p != std::string_view::npos; p = text.find(pieces[0], p + 1))
    if (detail::MatchPieces(text, p + pieces[0].size(), pieces, 1)) return p;
  return std::string_view::npos;
}

}  // namespace korvid::verify
