#include "verify/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace korvid::verify {

std::string Trim(std::string_view s) {
  auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\0'; };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string Upper(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return r;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Upper(a) == Upper(b); }

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> SplitCommas(std::string_view s) {
  std::vector<std::string> parts;
  std::string current;
  bool quoted = false;
  for (char c : s) {
    if (c == '\'' || c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      parts.push_back(Trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!Trim(current).empty() || !parts.empty()) parts.push_back(Trim(current));
  return parts;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      if (!current.empty() && current.back() == '\r') current.pop_back();
      lines.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

std::string Hex(long long value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llXh", digits, value);
  std::string s = buf;
  if (!std::isdigit(static_cast<unsigned char>(s[0]))) s = "0" + s;
  return s;
}

}  // namespace korvid::verify
