// The data address each pointer access (LD, LDD, ST, STD, XCH, LA*) reaches,
// where the straight-line code before it has loaded the pointer pair with
// known bytes:
//   LDI R30,v AND 0FFh / LDI R31,v SHRB 8 / LD R16,Z+ / LD R17,Z
// reaches v, then v+1. One forward sweep per analysis generation; a label,
// a line that may be skipped, a call that may change the pair or anything the
// sweep does not model leaves the pointer unknown; so does every pointer of a
// program with transfers by offset, whose targets no label marks.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace korvid {

class TLineList;
class tVarList;

class TPointerTargets {
 public:
  explicit TPointerTargets(const TLineList& lines);

  // The address the access on line `index` touches; -1 when it is not known
  // or the line accesses nothing through a pointer.
  std::int32_t TargetOf(int index) const;

  std::uint64_t Generation = 0;
  int LineCount = 0;

 private:
  std::vector<std::int32_t> Targets;
};

// The sweep for the program as it is now, rebuilt after edits.
const TPointerTargets& CurrentPointerTargets(const TLineList& lines);

// The byte an immediate operand loads: numbers, and addresses of memory
// variables with an offset, reduced by " AND mask" or " SHRB n" ("v+4 AND
// 0FFh"). Anything else, or a value that does not fit a byte, is unknown.
std::optional<std::int64_t> ImmediateByte(const tVarList& vars, std::string_view text);

}  // namespace korvid
