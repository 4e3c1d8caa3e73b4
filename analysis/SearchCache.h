// The answers the path searches share between questions: the line graph and,
// for every line, which registers and flags are live there, which reach a
// return unread, and which may be written before the path returns. Built in
// one pass when first asked and rebuilt whenever the line list's Generation
// has moved on, so no answer outlives the program it was computed for.
#pragma once
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "analysis/LineGraph.h"

namespace korvid {

class TLineList;
struct TVar;

struct TMemoryAnswer {
  bool Answer = false;
  bool Detail = false;  // reachedReturn, or viaCall
};

class TSearchCache {
 public:
  std::uint64_t Generation = 0;
  int Count = -1;
  TLineGraph Graph;
  // Per line, before it executes.
  std::vector<TRegFlagSet> LiveIn;
  std::vector<TRegFlagSet> ReachesReturn;  // unread and unwritten up to a RET
  std::vector<TRegFlagSet> ModifiedIn;     // may be written before the path returns; kCallBit: a call lies ahead
  // Per routine: what the code its RETs go back to may read.
  std::vector<TRegFlagSet> ReturnLive;
  // Per call line: what the called routine reads of the caller's values.
  std::vector<TRegFlagSet> CallReads;

  // Open-ended answers for memory variables, by (variable, line).
  std::map<std::pair<const TVar*, int>, TMemoryAnswer> MemoryUses;
  std::map<std::pair<const TVar*, int>, TMemoryAnswer> MemoryWrites;

  // Scratch of the forward searches: a line's bits count as seen only under the current stamp.
  std::vector<std::uint32_t> SeenStamp;
  std::vector<TRegFlagSet> SeenBits;
  std::uint32_t Stamp = 0;
  std::vector<std::pair<int, TRegFlagSet>> Work;

  // What may be read after the RET on line k: its own reads and its return sites'.
  TRegFlagSet ReturnUse(int k) const;
  // What line k reads, a called routine's reads included.
  TLineBits NodeBits(int k) const;

  // Line k no longer reads or writes anything: it was removed because no path
  // reads what it wrote. Liveness before it, and before the straight-line code
  // that falls into it down to line `floor`, only shrinks and is brought down.
  // Returns the first line whose liveness changed (k + 1 when none did).
  int ForgetDeadLine(int k, int floor, const TLineList& lines);

  // Starts a forward search; returns the bits of `bits` not yet seen at line k and marks them.
  void NewSearch();
  TRegFlagSet See(int k, TRegFlagSet bits);
};

// The cache for the program as it is now.
TSearchCache& CurrentSearchCache(TLineList& lines);

}  // namespace korvid
