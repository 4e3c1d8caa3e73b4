// The input name resolved to the assembly file, and the compiler's error file beside it.
#pragma once
#include <string>

#include "source/ErrorFile.h"

namespace korvid {

// Resolves ".ppro", ".asm" and ".dsm" inputs to the assembly file name (empty for any other
// extension) and names the error file beside it. Throws KorvidError for an unreadable or
// malformed project file, leaving Errors as it was.
std::string SetupFiles(const std::string& InputName, TErrorFile& Errors);

}  // namespace korvid
