// What a call can do and where a return goes back to, per routine, closed over
// the call graph: data for the register state and the liveness searches. Every
// answer errs towards "may write", "may read", "returns anywhere" when the code
// cannot be followed (indirect jumps or calls, targets outside any routine,
// addresses taken, falling off a routine's end).
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "source/UsageSets.h"

namespace korvid {

class TFunction;
class TLabelIndex;
struct TLine;
class TLineList;
struct TVar;

struct TRoutineEffects {
  // Registers and flags some path through the routine or its callees may read or write.
  TRegisterSet RegsRead, RegsWritten;
  TFlagSet FlagsRead, FlagsWritten;
  // Memory and I/O variables stored by name (STS, OUT, ...).
  std::set<const TVar*> VarsWritten;
  // ST, STD, XCH, LAC, LAS, LAT: any data memory, frame slots included.
  bool StoresThroughPointer = false;
  bool CallsIndirect = false;
  // Control may reach code no summary covers: assume it does everything.
  bool Unknown = false;

  bool MayRead(int reg) const { return Unknown || RegsRead.test(static_cast<std::size_t>(reg)); }
  bool MayWrite(int reg) const { return Unknown || RegsWritten.test(static_cast<std::size_t>(reg)); }
  bool MayWriteFlag(int bit) const { return Unknown || FlagsWritten.test(static_cast<std::size_t>(bit)); }
  bool MayStoreAnything() const { return Unknown || StoresThroughPointer || !VarsWritten.empty(); }
  // Compares addresses, so another name for overlapping memory counts too.
  bool MayStore(const TVar& var) const;
  // Adds other's effects; true when something was new.
  bool Merge(const TRoutineEffects& other);

  static const TRoutineEffects& Everything();
};

// Where the RETs of a routine hand control back to.
struct TReturnSites {
  // The lines after the calls of the routine.
  std::vector<int> Lines;
  // Routines that jump into this one: it returns to their sites as well.
  std::vector<int> Via;
  // Entered in ways no call shows: any code may follow its RETs.
  bool Everything = false;
};

class TRoutineSummaries {
 public:
  // Reads the analysed lines; rebuild after edits (see Generation).
  explicit TRoutineSummaries(const TLineList& lines);

  // Everything() for no routine.
  const TRoutineEffects& Of(const TFunction* function) const;
  // The effects of the call on line index: its callee's, or Everything() when
  // the target is not a routine's code or the call is indirect.
  const TRoutineEffects& AtCall(int index) const;
  // Routines are numbered 0 .. RoutineCount()-1.
  int RoutineCount() const { return static_cast<int>(Functions.size()); }
  // The routine a line belongs to; -1 for none.
  int RoutineOfLine(int index) const { return NodeAt[static_cast<std::size_t>(index)]; }
  const std::vector<TReturnSites>& ReturnSites() const { return Sites; }
  // The label is named by a line other than a direct jump, branch or call (an
  // address load, a data word): code may be entered there in ways no transfer shows.
  bool IsAddressTaken(std::string_view label) const;
  // The line a direct call on line index enters at; -1 when it cannot be known.
  int CallTargetLine(int index) const;
  // The routine a line belongs to: its Func, or the ".FUNC" block around it.
  TFunction* OwnerOf(int index) const { return Owner[static_cast<std::size_t>(index)]; }

  // The line list's Generation and size when this was built.
  std::uint64_t Generation = 0;
  int LineCount = 0;

 private:
  struct TEdge {
    int To;
    bool IsCall;
    int Line;
  };

  void FindOwners();
  void CollectDirectEffects();
  void CloseEffects();
  void CollectReturnSites();
  int NodeOf(const TFunction* function) const;
  // The line a transfer's target label is on; -1 when it cannot be known.
  int TransferTargetLine(int index) const;
  // The routine owning the target of a transfer line; -1 when it cannot be known.
  int TargetNode(int index) const;
  // The first line defining the label; -1 when none.
  int LabelLine(std::string_view label) const;
  void MarkAddressesTaken(const TLine& line);

  const TLineList& Lines;
  std::vector<TFunction*> Owner;
  std::vector<TFunction*> Functions;
  std::unordered_map<const TFunction*, int> Nodes;
  std::vector<TRoutineEffects> Effects;
  std::vector<TReturnSites> Sites;
  std::vector<bool> UnknownCallers;
  std::vector<std::vector<TEdge>> Out;
  // Calls from code outside every routine.
  std::vector<TEdge> OutsideCalls;
  // Per line, the routine it belongs to; -1 for none.
  std::vector<int> NodeAt;
  std::shared_ptr<const TLabelIndex> Labels;
  // Per label line: an operand other than a direct transfer's names the label.
  std::vector<bool> AddressTaken;
};

// Registers a RET hands back by the return size code; all when unknown.
TRegisterSet ReturnRegisters(const TFunction& function);

}  // namespace korvid
