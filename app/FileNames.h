// File-name texts as the compiler's tool chain writes them: directory parts end
// at the last "/", "\" or ":".
#pragma once
#include <string>
#include <string_view>

namespace korvid {

// The text up to and including the last directory separator; empty when none.
std::string DirectoryPart(std::string_view fileName);
std::string NamePart(std::string_view fileName);
// The extension with its dot, or empty.
std::string ExtensionOf(std::string_view fileName);
std::string ChangeExtension(std::string_view fileName, std::string_view extension);

}  // namespace korvid
