// File-name parts as the compiler writes them: "\" and "/" separate directories, and a
// drive letter's ":" ends the directory part too.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace korvid {

// The directory part including its last separator; empty when there is none.
std::string ExtractFilePath(std::string_view Name);
// The extension with its dot; empty when the last part has no dot.
std::string ExtractFileExt(std::string_view Name);
std::string ChangeFileExt(std::string_view Name, std::string_view Extension);
// The name with "\" turned into "/", the separator of the file system here.
std::string LocalFileName(std::string_view Name);
// The local name made absolute and normal; as given when it cannot be.
std::filesystem::path AbsoluteName(std::string_view Name);

}  // namespace korvid
