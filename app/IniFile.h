// A reader for INI text: "[Section]" lines, then "Key=Value" lines. Section and key names
// are compared without regard to case; the first of two equal keys wins.
#pragma once
#include <map>
#include <string>
#include <string_view>

namespace korvid {

class TIniFile {
 public:
  // Throws KorvidError naming the file when it cannot be read or is not INI text.
  explicit TIniFile(const std::string& FileName);

  std::string ReadString(std::string_view Section, std::string_view Key, std::string_view Default) const;

 private:
  void Parse(std::string_view Text, const std::string& FileName);

  std::map<std::string, std::map<std::string, std::string>> Sections;
};

}  // namespace korvid
