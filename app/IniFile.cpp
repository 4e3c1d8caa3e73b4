#include "app/IniFile.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "source/Errors.h"
#include "source/Text.h"

namespace korvid {

namespace {

// Values may be quoted to keep blanks at their ends; the quotes are not part of the value.
std::string_view Unquote(std::string_view Value) {
  if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') && Value.back() == Value.front())
    return Value.substr(1, Value.size() - 2);
  return Value;
}

}  // namespace

TIniFile::TIniFile(const std::string& FileName) {
  std::error_code Error;
  std::ifstream In;
  if (std::filesystem::is_regular_file(FileName, Error)) In.open(FileName, std::ios::binary);
  std::ostringstream Text;
  if (In) Text << In.rdbuf();
  if (!In.is_open() || In.bad()) throw KorvidError("Cannot read \"" + FileName + "\"");
  Parse(Text.str(), FileName);
}

void TIniFile::Parse(std::string_view Text, const std::string& FileName) {
  if (Text.find('\0') != std::string_view::npos) throw KorvidError("\"" + FileName + "\" is not an INI file");
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  std::string Section;
  bool InSection = false;  // keys before the first section belong to none and are not read
  int LineNumber = 0;
  while (!Text.empty()) {
    auto End = Text.find('\n');
    auto Line = Trim(Text.substr(0, End));
    Text = End == std::string_view::npos ? std::string_view{} : Text.substr(End + 1);
    ++LineNumber;
    if (Line.empty() || Line.front() == ';' || Line.front() == '#') continue;
    auto Equals = Line.find('=');
    if (Line.front() == '[' && Line.back() == ']') {
      Section = UpperCase(Trim(Line.substr(1, Line.size() - 2)));
      InSection = true;
    } else if (Equals != std::string_view::npos && Equals > 0) {
      auto Key = UpperCase(Trim(Line.substr(0, Equals)));
      if (InSection) Sections[Section].try_emplace(Key, Unquote(Trim(Line.substr(Equals + 1))));
    } else {
      throw KorvidError("\"" + FileName + "\" is not an INI file (line " + std::to_string(LineNumber) + ")");
    }
  }
}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Key, std::string_view Default) const {
  auto InSection = Sections.find(UpperCase(Section));
  if (InSection == Sections.end()) return std::string(Default);
  auto Value = InSection->second.find(UpperCase(Key));
  return Value == InSection->second.end() ? std::string(Default) : Value->second;
}

}  // namespace korvid
