#include "analysis/ByteRanges.h"

#include "source/Variables.h"

namespace korvid {

TByteRange DataRangeOf(const TVar& var) {
  TByteRange range;
  if (tVarList::IsFlag(var) || var.Kind == vk::Constant || var.Kind == vk::AsmConstant) {
    range.Empty = true;
    return range;
  }
  if (var.Address < 0) return range;
  range.Known = true;
  range.Start = var.Address;
  range.Size = var.Size > 1 ? var.Size : 1;
  // I/O locations share their kind with a memory class: I/O address n is data
  // address n + 20h, so such a variable covers both readings of its address.
  if (var.Kind == vk::PData && var.Address < 0x40) range.Size += 0x20;
  return range;
}

bool MayOverlap(const TByteRange& ra, const TByteRange& rb) {
  if (ra.Empty || rb.Empty) return false;
  if (!ra.Known || !rb.Known) return true;
  return ra.Start < rb.Start + rb.Size && rb.Start < ra.Start + ra.Size;
}

bool MayOverlap(const TVar& a, const TVar& b) { return &a == &b || MayOverlap(DataRangeOf(a), DataRangeOf(b)); }

bool IsMemoryVariable(const TVar& var) {
  return !tVarList::IsRegister(var) && !tVarList::IsFlag(var) && !DataRangeOf(var).Empty;
}

}  // namespace korvid
