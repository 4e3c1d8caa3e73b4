// The frame load pass's walk, shared by the files that hold its rules: the
// frame stores and pointer copies (FrameLoads.cpp) and the boolean chains
// (BoolChain.cpp).
#pragma once
#include <optional>

#include "analysis/CallEffects.h"
#include "passes/EditBatch.h"
#include "passes/Rule.h"

namespace korvid {

class TAnalysis;
class TLineList;

class TFrameLoadWalk {
 public:
  explicit TFrameLoadWalk(const TAnalysis& facts);
  bool Run();

 private:
  using TMatch = bool (TFrameLoadWalk::*)(int i, TEditBatch& batch) const;
  bool Try(const TRule& rule, TMatch match, int i);
  void Step(int i);

  bool ForwardStore(int i, TEditBatch& batch) const;
  bool DeadStore(int i, TEditBatch& batch) const;
  bool PointerCopy(int i, TEditBatch& batch) const;
  bool BoolChain(int i, TEditBatch& batch) const;

  // STD Y+q,Rr through the frame pointer: q and Rr.
  struct TSlotStore {
    std::int64_t Displacement;
    int Register;
  };
  std::optional<TSlotStore> SlotStore(int i) const;
  bool IsSlotLoad(int k, std::int64_t q) const;
  // The next line after k that is no passive marker; -1 at the end.
  int NextLine(int k) const;
  // Whether the forwarding of a stored register ends at line k: Y, the
  // register or the byte may change, or Y is read to be copied.
  bool EndsForwarding(int k, const TSlotStore& store) const;

  // The label a chain branch names, on the first line after the chain's next
  // compare, entered only from the branch and by falling in; -1 when not so.
  int ChainLabel(int branch, int compare) const;

  const TAnalysis& Facts;
  TLineList& Lines;
  const TRegFlagSet Shared;  // registers interrupts or pointers may see
  bool Changed = false;
};

}  // namespace korvid
