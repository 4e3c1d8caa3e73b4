// Code whose meaning depends on where instructions land: transfers by offset
// ("RJMP PC+2", "BREQ lab+4") and code labels in address arithmetic ("LDI
// R30,lab+4 AND 0FFh" before an IJMP). They land on lines no label marks, so
// a walk that trusts labels as the only joins would carry values into them;
// and removing any instruction could move their targets.
#pragma once

namespace korvid {

class TLineList;

// Asked by several analyses per edit, so the answer is kept for the generation.
bool HasPositionDependentCode(const TLineList& lines);

}  // namespace korvid
