#pragma once
#include <string>

namespace korvid {

class TErrorFile {
 public:
  std::string ErrFile;
  std::string NLeftDelim = "(";
  std::string TLeftDelim = ") :";
  void WriteError(const std::string&, const std::string&, int, int) {}
  void WriteWarning(const std::string&, const std::string&, int, int) {}
};

std::string SetupFiles(const std::string& inputName, TErrorFile& errors);

}  // namespace korvid
