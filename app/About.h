// The program's version, stamped into every optimised file: the summary line
// names it, and two header constants get the revision and build texts.
#pragma once
#include <string>
#include <string_view>

namespace korvid {

struct TVersionInfo {
  std::string Label;                 // "Version 1.5.0.12", or empty without a version
  std::string RevisionText = "0000h";  // major * 256 + minor, four hex digits
  std::string BuildText = "0000h";     // release * 256 + build
};

// Reads a dotted file version of up to four numbers; missing numbers count as 0.
TVersionInfo ParseFileVersion(std::string_view fileVersion);

// The version this program was built as.
const TVersionInfo& ProgramVersion();

}  // namespace korvid
