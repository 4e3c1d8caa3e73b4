#include "app/ProjectFile.h"

#include <filesystem>

#include "source/FileNames.h"
#include "app/IniFile.h"
#include "source/Text.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

std::string ProjectAssemblyName(const std::string& ProjectName, const std::string& MainFile) {
  std::string Main = LocalFileName(ChangeFileExt(MainFile, ".asm"));
  std::string Name = fs::path(Main).is_absolute() ? Main : LocalFileName(ExtractFilePath(ProjectName)) + Main;
  return AbsoluteName(Name).string();
}

}  // namespace

std::string SetupFiles(const std::string& InputName, TErrorFile& Errors) {
  const std::string Extension = ExtractFileExt(InputName);
  std::string AssemblyName;
  if (EqualsNoCase(Extension, ".ppro")) {
    TIniFile Project(LocalFileName(InputName));
    Errors.NLeftDelim = Project.ReadString("Error_File", "NLeftDelim", DefaultNLeftDelim);
    Errors.TLeftDelim = Project.ReadString("Error_File", "TLeftDelim", DefaultTLeftDelim);
    AssemblyName = ProjectAssemblyName(InputName, Project.ReadString("MainParams", "MainFile", ""));
  } else if (EqualsNoCase(Extension, ".asm") || EqualsNoCase(Extension, ".dsm")) {
    Errors.NLeftDelim = std::string(DefaultNLeftDelim);
    Errors.TLeftDelim = std::string(DefaultTLeftDelim);
    AssemblyName = InputName;
  }
  Errors.ErrFile = AssemblyName.empty() ? std::string() : ChangeFileExt(AssemblyName, ".err");
  return AssemblyName;
}

}  // namespace korvid
