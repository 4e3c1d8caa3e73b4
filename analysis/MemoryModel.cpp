#include "analysis/MemoryModel.h"

#include <algorithm>

#include "analysis/ByteRanges.h"
#include "analysis/PointerTargets.h"
#include "source/Variables.h"
#include "source/Labels.h"
#include "source/LineList.h"

namespace korvid {

namespace {

// The operand text that may carry an address: all of it, except the address
// an LDS or STS accesses directly.
std::string_view AddressOperands(const TLine& line) {
  if (line.LineType == lt::LDS) return line.Op1;
  if (line.LineType == lt::STS) return line.Op2;
  return line.Operands;
}

// LDI, and CLR and SER, which load 0 and 0FFh.
bool LoadsPointerHighByte(const TLine& line) {
  bool loads = line.LineType == lt::LDI || line.LineType == lt::CLR || line.LineType == lt::SER;
  if (!loads || line.DestVar == nullptr || !tVarList::IsRegister(*line.DestVar)) return false;
  std::int64_t r = line.DestVar->Address;
  return r == 27 || r == 29 || r == 31;
}

void ReachFrom(tVarList& vars, std::int64_t address) {
  vars.PointerReachFrom = std::min(vars.PointerReachFrom, address);
}

}  // namespace

void MarkAddressesTaken(TLineList& lines, const TLine& line) {
  if (line.LineType == lt::Comment || line.LineType == lt::Blank || IsDirectTransferType(line.LineType)) return;
  bool namesMemory = false;
  for (std::string_view symbol : SymbolsOf(AddressOperands(line))) {
    TVar* var = lines.Vars.Find(symbol);
    if (var == nullptr || !IsMemoryVariable(*var)) continue;
    TByteRange range = DataRangeOf(*var);
    ReachFrom(lines.Vars, range.Known ? range.Start : 0);
    namesMemory = true;
  }
  if (LoadsPointerHighByte(line) && !namesMemory) ReachFrom(lines.Vars, 0);
}

void MarkAddressesTaken(TLineList& lines) {
  for (int i = 0; i < lines.Count(); ++i)
    if (const TLine* line = lines.Line(i); line != nullptr) MarkAddressesTaken(lines, *line);
}

bool PointerMayReach(const TVar& var) {
  if (tVarList::IsRegister(var)) return var.AddressTaken;
  if (!IsMemoryVariable(var)) return false;
  TByteRange range = DataRangeOf(var);
  if (!range.Known || var.Owner == nullptr) return true;
  return range.Start + std::max<std::int64_t>(range.Size, 1) > var.Owner->PointerReachFrom;
}

bool PointerAccessMayTouch(const TLineList& lines, int index, const TVar& var) {
  std::int32_t target = CurrentPointerTargets(lines).TargetOf(index);
  if (target < 0) return PointerMayReach(var);
  return MayOverlap(TByteRange{.Known = true, .Start = target, .Size = 1}, DataRangeOf(var));
}

}  // namespace korvid
