// Bookkeeping of the Z pointer (R30:R31) while a pass walks the code:
// TPtrHelper follows where Z was loaded from in the Y frame and how far it has
// moved since, for folding Z loads into displacements; tZStack follows whether
// Z holds the loop's copy of Y across PUSH and POP:
//   LDD ZL,Y+3 / LDD ZH,Y+4 / ADIW ZL,2   -> Z is the word at Y+3 plus 2
//   PUSH R30 / PUSH R31 / LDI R30,.. / POP R31 / POP R30   -> the copy is back in Z
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace korvid {

struct TPtrInfo {
  bool ZlKnown = false;
  std::int32_t ZlSlot = 0;
  bool ZhKnown = false;
  std::int32_t ZhSlot = 0;
  // The tracked Z is the loaded Z plus Offset, kept within 0..63.
  std::int32_t Offset = 0;
  // Z was used for a memory access since it was loaded.
  bool ZUsed = false;
  // A store may have changed the slot since the byte was loaded from it.
  bool ZlSlotStale = false, ZhSlotStale = false;
};

class TPtrHelper {
 public:
  void SetZl(std::int32_t slot);
  void SetZh(std::int32_t slot);
  bool IsValid() const { return Current.ZlKnown && Current.ZhKnown; }
  const TPtrInfo& State() const { return Current; }

  // False, changing nothing, when Offset would leave 0..63.
  bool AddOffset(std::int32_t v);
  bool SubOffset(std::int32_t v);
  void Invalidate();
  void SetZUsed(bool used) { Current.ZUsed = used; }
  // A pre-decrement access through Y moves the frame slots one byte up (delta
  // 1); a post-increment one moves them down (delta -1).
  void ShiftSlots(std::int32_t delta);
  // A store reached the slot byte `reg` (30 or 31) of Z was loaded from: Z is
  // still followed, but a load from the slot is a new value.
  void SlotWritten(std::int32_t reg);
  // Whether the frame byte at displacement q still holds byte `reg` of Z as loaded.
  bool HoldsSlot(std::int32_t reg, std::int32_t q) const;

 private:
  // Z was just loaded and no adjustment has set Offset yet.
  void SetFresh(bool fresh);

  TPtrInfo Current;
  bool Fresh = false;
};

// The hardware stack as PUSH and POP lines change it, and whether each byte
// of Z holds the copy of Y. A byte pushed from R30 or R31 carries whether it
// held the copy; only a POP into the same register brings that back.
class tZStack {
 public:
  struct tZStackEntry {
    std::int32_t Reg;
    bool Value;
    bool operator==(const tZStackEntry& other) const = default;
  };

  void Push(std::int32_t reg);
  // The entry popped into reg; none when the stack is empty.
  std::optional<tZStackEntry> Pop(std::int32_t reg);

  bool CopyInZ() const { return Low && High; }
  // Whether R30 or R31 holds its byte of the copy.
  bool Holds(std::int32_t reg) const { return reg == 30 ? Low : reg == 31 && High; }
  void SetCopyInZ(bool copy) { Low = High = copy; }
  // One byte of Z set again: the copy is no longer whole.
  void Written(std::int32_t reg);
  // A byte of the copy loaded back into its register.
  void Restored(std::int32_t reg) { (reg == 30 ? Low : High) = true; }

  bool operator==(const tZStack& other) const = default;

 private:
  std::vector<tZStackEntry> Entries;
  bool Low = false, High = false;
};

}  // namespace korvid
