// The one object every pass asks: what the program's lines do, where values
// are still read, which bytes a line touches, whether a rewrite's instruction
// can be encoded and whether transfers reach. Each question of the rewrite
// contract is answered here once. The answers share the caches the line list
// carries for the analysis, so asking costs no rebuild until the program changes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/CallEffects.h"
#include "analysis/Encoding.h"
#include "analysis/PathSearch.h"
#include "source/UsageSets.h"
#include "source/LineTypes.h"

namespace korvid {

class TLineList;
class TRoutineSummaries;
struct TLine;
struct TVar;

// The data bytes one line reads or writes besides registers, I/O and the stack.
struct TMemoryAccess {
  enum class TKind : std::uint8_t {
    None,     // no data memory
    Data,     // Start is a data address
    Frame,    // Start is a displacement from Y; the same bytes only while Y is unchanged
    Unknown,  // may be any byte
  };
  TKind Kind = TKind::None;
  std::int64_t Start = 0;
  std::int64_t Size = 0;
  bool Reads = false;
  bool Writes = false;

  bool SameBytes(const TMemoryAccess& other) const {
    return Kind == other.Kind && (Kind == TKind::Data || Kind == TKind::Frame) && Start == other.Start &&
           Size == other.Size;
  }
};

// The lines control may come from into a line.
struct TPredecessors {
  std::vector<int> Lines;
  // Also entered in ways no transfer shows: a call, an address taken, data, a vector row.
  bool Entered = false;
};

class TAnalysis {
 public:
  explicit TAnalysis(TLineList& lines);

  TLineList& Lines() const { return Program; }

  // While a freeze lasts, every answer is for the program as it was when the
  // outermost freeze began. Only for passes whose edits never make a dead
  // value live (removing dead results and unreachable code, shortening jumps):
  // the old answers then still err towards "used". Freezes nest.
  class TFreeze {
   public:
    explicit TFreeze(const TAnalysis& facts);
    ~TFreeze();
    TFreeze(const TFreeze&) = delete;
    TFreeze& operator=(const TFreeze&) = delete;

   private:
    const TLineList& Program;
  };
  [[nodiscard]] TFreeze Freeze() const { return TFreeze(*this); }
  // For a rewrite made under a freeze that may make a value live only at the
  // points inside lines first..last (before lines first+1 to last): renaming
  // registers there, or reading a register instead of memory. Until the freeze
  // ends, questions from those points answer "used"; answers from other points
  // stay sound, as the lines are entered only at `first` and leave every value
  // as live as before at both ends.
  void MarkLivenessChanged(int first, int last) const;
  // For a line removed under a freeze because no path reads the registers
  // and flags it wrote, or because another store covers the memory it wrote:
  // what it read is no longer read there, so the answers before it, back to
  // the first join or to line `floor`, are brought down, and lines made dead
  // by its removal are seen to be. Returns the first line whose answers
  // changed (i + 1 when none did).
  int DeadLineRemoved(int i, int floor) const;
  // For a pass whose only edits under a freeze removed label lines that
  // nothing names, or lines whose results no path read or that no path
  // reached (brought in through DeadLineRemoved where they read anything):
  // every answer made when the freeze began holds for the program as it is
  // now, or errs towards "used" and "modified", and is kept after the freeze
  // ends rather than made again.
  void AnswersStillHold() const;

  // --- registers and flags
  bool IsUsedLater(const TUseQuery& query) const;
  // Whether any register or flag of `set` may be read on a path from line
  // `from` before it is written; implicit operands and calls included.
  bool AnyLive(TRegFlagSet set, int from) const;
  // The registers and flags line i may write, its implicit operands included.
  TRegFlagSet Writes(int i) const;
  // The lowest register of `candidates` that no line of first..last reads or
  // writes and that is dead from first up to the line after last: free for
  // use as a scratch register over those lines.
  std::optional<int> FreeRegister(int first, int last, TRegFlagSet candidates) const;
  // The line's only effect is the registers and flags it writes: once they are
  // dead it may go. Never true for memory, I/O, the stack, transfers, the
  // interrupt flag, or variables a pointer or an interrupt may see.
  bool IsRemovableIfDead(int i) const;
  // Registers an interrupt or a pointer may see besides the code that names
  // them: their address is taken, or a volatile variable lives in them. A
  // rewrite may not move or drop their writes even where they look dead.
  TRegFlagSet SharedRegisters() const;
  // The register line i names as a single register in its first (1) or
  // second (2) operand; -1 when that operand names none.
  int NamedRegister(int i, int operand) const;
  // Whether line i reads and writes the registers of `regs` only through the
  // single-register operands it names: no implicit operand, pair or pointer
  // reaches them, so renaming such an operand moves every access with it.
  bool AccessesOnlyByName(int i, TRegFlagSet regs) const;

  // --- flags
  // Flags (SREG bit order) that differ at the point after `old` when it is
  // replaced by an instruction of type `replacement`, or removed (lt::Unknown):
  // every flag either one writes, since their values need not agree.
  static std::uint8_t FlagsChangedBy(const TLine& old, TLineType replacement);
  // Whether a flag of `mask` as it is before line `from` may be read on some path.
  bool FlagsReadAfter(std::uint8_t mask, int from) const;

  // --- skip shadows
  // The code line before line i is a skip: line i is skipped as a whole, and
  // it is neither removed nor resized unless the skip changes with it.
  bool IsInSkipShadow(int i) const;
  // A skip stands before line i now, or stood there when the line was analysed.
  bool MayBeSkipped(int i) const;
  // The code line before line i; -1 when none.
  int PreviousCodeLine(int i) const;
  // The line after line i that carries the label `name`, with only labels and
  // passive markers between: a transfer from i to it goes where falling
  // through goes. -1 when code or anything else comes first.
  int LabelFollowing(int i, std::string_view name) const;
  // The instruction before (step -1) or after (step 1) line i with only
  // passive markers between; -1 when anything else stands there (a label line:
  // another path enters). The instruction found may carry a label itself.
  int AdjacentInstruction(int i, int step) const;

  // --- memory
  TMemoryAccess MemoryAccessOf(int i) const;
  // Whether line k may read (write) a byte of `bytes`: named, through a pointer, or by a call.
  bool MayReadBytes(int k, const TMemoryAccess& bytes) const;
  bool MayWriteBytes(int k, const TMemoryAccess& bytes) const;
  // Whether the frame byte at displacement q from Y, as Y is before line
  // `from`, may be read on a path from there before a store through the same
  // Y gives it a new value. A return, any change of Y and any read of Y but as
  // the base of a displacement count as reads (a copy of Y reaches the byte
  // unseen); so does every transfer unless `followTransfers`.
  bool FrameByteReadLater(int from, std::int64_t q, bool followTransfers) const;

  // --- encodings and reach
  // Empty when the instruction, as a pass would write it, is encodable on the
  // program's device; otherwise why not ("displacement 64 out of 0..63").
  std::string EncodingFault(TLineType type, std::string_view op1, std::string_view op2) const;
  TDeviceFeatures Device() const;
  // The size in bytes of an instruction of `type` as written; 0 when unknown.
  static int InstructionSize(TLineType type);
  // Whether the transfer on line i (branch, RJMP, RCALL) reaches its label; JMP
  // and CALL always do, and so does any other line.
  bool Reaches(int i) const;

  // --- stack
  // Bytes pushed since the routine's entry before line i runs, the same on
  // every path there; none when not known (SP written, paths disagree, outside routines).
  std::optional<int> StackDepth(int i) const;
  // Whether SP may be read on a path from line `from` up to, not including, `to` (-1: until it returns).
  bool ReadsStackPointerBetween(int from, int to) const;
  // Whether line i moves SP or sees where it points (PUSH, POP, calls,
  // returns, SPL and SPH): it does otherwise when run at another depth.
  bool TouchesStack(int i) const;

  // --- control flow
  // Whether the label on line i must stay: other lines name it, data or an
  // entry directive use it, it is a system label, the program or a routine
  // begins there (before any code; the first label after ".FUNC", with only
  // lines that emit nothing between).
  bool LabelNeeded(int i) const;
  TPredecessors Predecessors(int i) const;
  // Whether control may come into lines first..last from anywhere else: a line
  // outside them names one of their labels (a transfer, an address in any
  // expression, data, an entry directive), a label there is a system label, a
  // vector row or an interrupt routine is among them, or code before them runs
  // or falls into them. References the lines make to their own labels do not count.
  bool EnteredFromOutside(int first, int last) const;

  // --- routines and layout
  const TRoutineSummaries& Summaries() const;
  // The label is named by a line other than a direct transfer: code may be entered there unseen.
  bool IsAddressTaken(std::string_view label) const;
  // Some code depends on where instructions land (transfers by offset, code addresses in arithmetic).
  bool HasPositionDependentCode() const;
  // Registers whose address is taken: a pointer access may reach them.
  TRegFlagSet AddressTakenRegisters() const;

 private:
  TLineList& Program;
  // The line graph turned round, for the generation the search cache answers for.
  struct TReverseGraph {
    std::uint64_t Generation = 0;
    int Count = -1;
    std::vector<std::vector<int>> Lines;
    std::vector<bool> CallEntered;
  };
  mutable TReverseGraph Reverse;

  bool MayTouchBytes(int k, const TMemoryAccess& bytes, bool writes) const;
  // Whether control may arrive at line `from`, outside lines first..last:
  // walks back over the lines that emit nothing to code or an entry.
  bool ReachedOutside(int from, int first, int last) const;
};

}  // namespace korvid
