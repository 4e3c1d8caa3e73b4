// Forward searches over the line graph for the questions the shared dataflow
// does not answer directly: those with an end line, a pointer exemption, or
// about a memory variable. An explicit work list with per-line seen bits keeps
// them iterative and ends loops; each line is taken at most once per bit.
#pragma once
#include <cstdint>

#include "analysis/LineGraph.h"

namespace korvid {

class TLineList;
class TSearchCache;
struct TVar;

// What the lines do for one question, in bits of the question.
class TQueryEffects {
 public:
  virtual ~TQueryEffects() = default;
  // A line that goes on to its successors (a call included).
  virtual TLineBits Bits(int k) const = 0;
  // What the caller may read after the RET on line k.
  virtual TRegFlagSet ReturnUse(int k) const = 0;
};

// Registers and flags as the graph has them; a pointer read through an exempt
// pointer pair reads no address-taken register.
class TRegisterEffects final : public TQueryEffects {
 public:
  TRegisterEffects(const TLineList& lines, const TSearchCache& cache, std::uint32_t exemptPointers);
  TLineBits Bits(int k) const override;
  // The RET's own reads and what its return sites may read.
  TRegFlagSet ReturnUse(int k) const override;

 private:
  const TLineList& Lines;
  const TSearchCache& Cache;
  std::uint32_t Exempt;
};

// One memory variable, as bit 0: accesses compare by the bytes they touch, a
// pointer access may touch it, a call may load and store it, and it outlives
// every return. Only a direct byte store of the variable itself ends its life.
class TMemoryEffects final : public TQueryEffects {
 public:
  TMemoryEffects(const TLineList& lines, const TLineGraph& graph, const TVar& var)
      : Lines(lines), Graph(graph), Var(var) {}
  TLineBits Bits(int k) const override;
  TRegFlagSet ReturnUse(int) const override { return 1; }

 private:
  const TLineList& Lines;
  const TLineGraph& Graph;
  const TVar& Var;
};

struct TUseAnswer {
  bool Used = false;
  bool ReachedReturn = false;
};

struct TWriteAnswer {
  bool Modified = false;
  bool ViaCall = false;
};

// Whether one of `bits` is read on a path from `from` before `to` (-1: none).
// With retResult a RET reads everything.
TUseAnswer SearchUses(TSearchCache& cache, const TQueryEffects& effects, int from, int to, TRegFlagSet bits,
                      bool retResult);

// Whether one of `bits` may be written on a path from `from` before `to` or a return.
TWriteAnswer SearchWrites(TSearchCache& cache, const TQueryEffects& effects, int from, int to, TRegFlagSet bits);

}  // namespace korvid
