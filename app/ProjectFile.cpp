#include "app/ProjectFile.h"

#include "source/Text.h"

namespace korvid {

std::string SetupFiles(const std::string& inputName, TErrorFile&) {
  if (EndsWithNoCase(inputName, ".asm") || EndsWithNoCase(inputName, ".dsm")) return inputName;
  return "";
}

}  // namespace korvid
