// Kinds of lines every analysis and pass tells apart by type alone.
#pragma once
#include "source/LineTypes.h"

namespace korvid {

// Lines that neither occupy memory nor change where code lands or how it is entered.
inline bool IsPassiveMarker(TLineType t) {
  return t == lt::Comment || t == lt::Blank || t == lt::LINE || t == lt::XLINE || t == lt::FILE || t == lt::DEB ||
         t == lt::BRANCH || t == lt::OPTI || t == lt::OPTI_QUICK;
}

// Code after these may be reached although the code before them cannot go on,
// or is no code at all: data, entry points, address changes.
inline bool EndsUnreachableCode(TLineType t) {
  return t == lt::ORG || t == lt::PHASE || t == lt::DEPHASE || t == lt::EQU || t == lt::BYTE || t == lt::WORD ||
         t == lt::ADDR || t == lt::WORDD || t == lt::ADDR32 || t == lt::ASCII || t == lt::ENTRY ||
         t == lt::ENTRYMAIN || t == lt::ENTRYBOOT || t == lt::ENTRYUNIT || t == lt::VECTTAB || t == lt::VECTTAB_B;
}

// Instructions after which control never falls through to the next line.
inline bool EndsFlow(TLineType t) {
  return t == lt::RET || t == lt::RETI || t == lt::RJMP || t == lt::JMP || t == lt::IJMP || t == lt::EIJMP;
}

// Lines whose operands name things without taking an address.
inline bool NamesNoAddress(TLineType t) {
  return t == lt::FUNC || t == lt::ENDFUNC || t == lt::FILE || t == lt::LINE || t == lt::XLINE || t == lt::Comment ||
         t == lt::Blank;
}

}  // namespace korvid
