#include "app/FileNames.h"

namespace korvid {

namespace {

std::size_t NameStart(std::string_view fileName) {
  std::size_t separator = fileName.find_last_of("/\\:");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

std::size_t ExtensionStart(std::string_view fileName) {
  std::size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos || dot < NameStart(fileName) ? fileName.size() : dot;
}

}  // namespace

std::string DirectoryPart(std::string_view fileName) { return std::string(fileName.substr(0, NameStart(fileName))); }

std::string NamePart(std::string_view fileName) { return std::string(fileName.substr(NameStart(fileName))); }

std::string ExtensionOf(std::string_view fileName) {
  return std::string(fileName.substr(ExtensionStart(fileName)));
}

std::string ChangeExtension(std::string_view fileName, std::string_view extension) {
  return std::string(fileName.substr(0, ExtensionStart(fileName))) + std::string(extension);
}

}  // namespace korvid
