#include "analysis/PointerRegisters.h"

namespace korvid {

namespace {

constexpr std::int32_t kMaxOffset = 63;

}  // namespace

void TPtrHelper::SetZl(std::int32_t slot) {
  Current.ZlSlot = slot;
  Current.ZlKnown = true;
  Current.ZlSlotStale = false;
  SetFresh(true);
}

void TPtrHelper::SetZh(std::int32_t slot) {
  Current.ZhSlot = slot;
  Current.ZhKnown = true;
  Current.ZhSlotStale = false;
  Fresh = true;
}

void TPtrHelper::SetFresh(bool fresh) {
  Fresh = fresh;
  Current.Offset = 0;
}

bool TPtrHelper::AddOffset(std::int32_t v) {
  const std::int32_t offset = (Fresh ? 0 : Current.Offset) + v;
  if (offset < 0 || offset > kMaxOffset) return false;
  Current.Offset = offset;
  Fresh = false;
  return true;
}

bool TPtrHelper::SubOffset(std::int32_t v) {
  // A fresh Z has nothing to go below.
  const std::int32_t offset = (Fresh ? 0 : Current.Offset) - v;
  if (offset < 0 || offset > kMaxOffset) return false;
  Current.Offset = offset;
  return true;
}

void TPtrHelper::Invalidate() {
  Current.ZlKnown = Current.ZhKnown = false;
  Current.Offset = 0;
  Current.ZUsed = false;
  Fresh = false;
}

void TPtrHelper::ShiftSlots(std::int32_t delta) {
  Current.ZlSlot += delta;
  Current.ZhSlot += delta;
}

void TPtrHelper::SlotWritten(std::int32_t reg) { (reg == 30 ? Current.ZlSlotStale : Current.ZhSlotStale) = true; }

bool TPtrHelper::HoldsSlot(std::int32_t reg, std::int32_t q) const {
  if (reg == 30) return Current.ZlKnown && !Current.ZlSlotStale && Current.ZlSlot == q;
  return reg == 31 && Current.ZhKnown && !Current.ZhSlotStale && Current.ZhSlot == q;
}

void tZStack::Push(std::int32_t reg) {
  const bool copy = (reg == 30 && Low) || (reg == 31 && High);
  Entries.push_back({reg, copy});
}

std::optional<tZStack::tZStackEntry> tZStack::Pop(std::int32_t reg) {
  if (Entries.empty()) return std::nullopt;
  const tZStackEntry top = Entries.back();
  Entries.pop_back();
  if (reg == 30 || reg == 31) (reg == 30 ? Low : High) = top.Reg == reg && top.Value;
  return top;
}

void tZStack::Written(std::int32_t reg) {
  if (reg == 30) Low = false;
  if (reg == 31) High = false;
}

}  // namespace korvid
