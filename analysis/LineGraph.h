// The program as a graph of lines for the path searches: where control can go
// after each line, and which registers and flags each line reads, kills and
// may write. Anything the graph cannot follow is a node that reads and writes
// everything, so every answer built on it errs towards "used" and "modified".
#pragma once
#include <cstdint>
#include <vector>

#include "analysis/CallEffects.h"
#include "analysis/RoutineSummary.h"

namespace korvid {

class TLineList;
struct TLine;
struct TVar;

// Set in a node's Def when a call (or code that may call) is on the line.
inline constexpr TRegFlagSet kCallBit = TRegFlagSet{1} << 40;

enum class TNodeKind : std::uint8_t {
  Step,     // goes on to its successors
  Return,   // RET: Use holds what the caller reads whatever it does next; Routine's return sites the rest
  ReturnI,  // RETI: the interrupted code goes on and may read anything
  Unknown,  // indirect jump, unknown target or effect, data, end of program
};

struct TLineBits {
  TRegFlagSet Use = 0;   // the old value is read
  TRegFlagSet Kill = 0;  // given a new value without reading the old one
  TRegFlagSet Def = 0;   // may be written
};

struct TLineNode {
  std::int32_t Succ[2] = {-1, -1};
  TNodeKind Kind = TNodeKind::Step;
  bool IsCall = false;
  // For a RET of known return size: the routine whose return sites it goes back to.
  std::int32_t Routine = -1;
  // For a call of a summarised routine: the line it enters at, whose liveness
  // says what the routine reads of the caller's values.
  std::int32_t CallEntry = -1;
  TLineBits Bits;
};

struct TLineGraph {
  // One node per line, and a last one for running off the end of the program.
  std::vector<TLineNode> Nodes;
  // Registers whose address is taken: a pointer access may reach them.
  TRegFlagSet AddressTaken = 0;
  // Per routine, the lines its RETs go back to.
  std::vector<TReturnSites> Returns;
  int EndNode() const { return static_cast<int>(Nodes.size()) - 1; }
};

// The registers whose address is taken: a pointer access may reach them.
TRegFlagSet AddressTakenRegisters(const TLineList& lines);

// A call whose routine cannot be found is reported through ReportAbort.
// The graph is built in recycled's storage.
TLineGraph BuildLineGraph(TLineList& lines, TLineGraph recycled = {});

// The register and flag bits a variable occupies; 0 for any other variable.
TRegFlagSet VarBits(const TVar& var);

// What one line does to registers and flags by itself (a call's routine not
// included). A pointer read reads every address-taken register, except through
// the pointer pairs in exemptPointers (16, 32, 64, 128 for R24, X, Y, Z).
TLineBits LineRegisterBits(const TLine& line, TRegFlagSet addressTaken, std::uint32_t exemptPointers);

}  // namespace korvid
