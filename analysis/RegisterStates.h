// What each register is known to hold during one forward walk over the lines:
// the line that last loaded it (and from where), and the place its value was
// last stored to. The redundant-load walk compares a new load or store with
// these records; a record is kept only while nothing can have changed it.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "source/LineTypes.h"

namespace korvid {

class TLineList;
struct TVar;

struct TRegisterState {
  bool Valid = false;
  TVar* LoadSource = nullptr;
  TVar* StoreTarget = nullptr;
  TLineType LoadType = 0;
  std::int32_t LoadValue = 0;
  bool LoadValueKnown = false;
  std::string LoadOperand;
  std::int32_t LoadPtrReg = 0;
  TLineType StoreType = 0;
  std::int32_t StoreValue = 0;
  bool StoreValueKnown = false;
  std::string StoreOperand;
  std::int32_t StorePtrReg = 0;
  std::int32_t LoadLine = 0;
  std::int32_t StoreLine = 0;

  void ClearLoad();
  void ClearStore();
  void Clear();
};

struct TRegistersStates {
  std::array<TRegisterState, 32> Regs;

  void ClearAll();
  // Pointer pair p (26, 28, 30) changed: what was loaded or stored through it is stale.
  void InvalidatePointer(int p);
};

// The records as line `index` finds them: where other paths join, nothing is
// known, and that holds for the instruction on a labelled line too. Called
// once per line, in order, before the walk examines the line.
void EnterRegisterStates(const TLineList& lines, int index, TRegistersStates& states);
// Applies line `index` to the records; called once per line, in order, after
// the walk has examined the line.
void UpdateRegisterStates(const TLineList& lines, int index, TRegistersStates& states);

}  // namespace korvid
