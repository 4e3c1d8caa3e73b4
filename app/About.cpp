#include "app/About.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace korvid {

namespace {

std::string FourHexDigits(unsigned value) {
  std::array<char, 16> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%04X", value & 0xFFFFu);
  return std::string(buffer.data()) + "h";
}

}  // namespace

TVersionInfo ParseFileVersion(std::string_view fileVersion) {
  TVersionInfo info;
  if (fileVersion.empty()) return info;
  info.Label = "Version " + std::string(fileVersion);
  std::array<unsigned, 4> numbers{};
  std::size_t field = 0;
  while (field < numbers.size() && !fileVersion.empty()) {
    std::size_t dot = fileVersion.find('.');
    std::string_view digits = fileVersion.substr(0, dot);
    std::from_chars(digits.data(), digits.data() + digits.size(), numbers[field]);
    ++field;
    if (dot == std::string_view::npos) break;
    fileVersion.remove_prefix(dot + 1);
  }
  info.RevisionText = FourHexDigits(numbers[0] * 256 + numbers[1]);
  info.BuildText = FourHexDigits(numbers[2] * 256 + numbers[3]);
  return info;
}

const TVersionInfo& ProgramVersion() {
#define KORVID_TEXT(x) #x
#define KORVID_VERSION_TEXT(a, b, c, d) KORVID_TEXT(a) "." KORVID_TEXT(b) "." KORVID_TEXT(c) "." KORVID_TEXT(d)
  static const TVersionInfo version = ParseFileVersion(
      KORVID_VERSION_TEXT(KORVID_VERSION_MAJOR, KORVID_VERSION_MINOR, KORVID_VERSION_PATCH, KORVID_VERSION_TWEAK));
  return version;
}

}  // namespace korvid
