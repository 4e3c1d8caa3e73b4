#include "source/FileNames.h"

#include <algorithm>
#include <cctype>

namespace korvid {

namespace {

// Index just past the directory part. A ":" counts only as a drive ("C:name"): on this
// file system it is an ordinary character in names.
std::size_t DirectoryEnd(std::string_view Name) {
  auto Slash = Name.find_last_of("/\\");
  if (Slash != std::string_view::npos) return Slash + 1;
  bool Drive = Name.size() >= 2 && Name[1] == ':' && std::isalpha(static_cast<unsigned char>(Name[0]));
  return Drive ? 2 : 0;
}

std::size_t ExtensionStart(std::string_view Name) {
  auto Dot = Name.find_last_of('.');
  return Dot == std::string_view::npos || Dot < DirectoryEnd(Name) ? Name.size() : Dot;
}

}  // namespace

std::string ExtractFilePath(std::string_view Name) { return std::string(Name.substr(0, DirectoryEnd(Name))); }

std::string ExtractFileExt(std::string_view Name) { return std::string(Name.substr(ExtensionStart(Name))); }

std::string ChangeFileExt(std::string_view Name, std::string_view Extension) {
  return std::string(Name.substr(0, ExtensionStart(Name))) + std::string(Extension);
}

std::string LocalFileName(std::string_view Name) {
  std::string Local(Name);
  std::replace(Local.begin(), Local.end(), '\\', '/');
  return Local;
}

std::filesystem::path AbsoluteName(std::string_view Name) {
  std::error_code Error;
  std::filesystem::path Local = LocalFileName(Name);
  std::filesystem::path Absolute = std::filesystem::absolute(Local, Error);
  return (Error ? Local : Absolute).lexically_normal();
}

}  // namespace korvid
