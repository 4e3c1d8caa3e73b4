#include "passes/LoopOptimisation.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/FrameEffect.h"
#include "analysis/FrameSyncPoints.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "analysis/RoutineSummary.h"
#include "passes/AddressOperands.h"
#include "passes/EditBatch.h"
#include "source/Errors.h"
#include "source/Expressions.h"
#include "source/LineList.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Loop";

constexpr TRule kRules[] = {
    {"loop-frame-copy", kPass, D::NO_LOOP_OPT,
     "the loop reaches through Y, past the two bytes no longer pushed, what it reached through the copy of Y in Z"},
};
const TRule& LoopRule = kRules[0];

constexpr int kY = 28, kZ = 30;
constexpr TRegFlagSet kYBits = RegisterBit(kY) | RegisterBit(kY + 1);
constexpr int kMaxDisplacement = 63;

// .LOOP / MOVW R30,R28 / [ADIW R30,k] / ST -Y,R31 / ST -Y,R30
struct THeader {
  int Loop = -1, Movw = -1, Adiw = -1, StoreHi = -1, StoreLo = -1;
  int K = 0;
};

enum class TOutcome { Going, Done, Abandon, Abort };

TPointerMode ModeOf(const TLine& line) { return static_cast<TPointerMode>(line.PtrMode); }
bool IsLoad(TLineType t) { return t == lt::LD || t == lt::LDD; }
bool IsPointerAccess(TLineType t) { return IsLoad(t) || t == lt::ST || t == lt::STD; }

// A byte of a SUBI/SBCI constant: "0FEh".
std::string ByteText(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0%02Xh", static_cast<unsigned>(value) & 0xFF);
  return text;
}

// The header a ".LOOP" line starts, when it is the copy of Y pushed.
std::optional<THeader> MatchHeader(const TAnalysis& facts, int loop) {
  const TLineList& lines = facts.Lines();
  auto next = [&](int k) {
    const int n = facts.AdjacentInstruction(k, 1);
    return n >= 0 && !lines.Line(n)->IsJoin() && !facts.MayBeSkipped(n) ? n : -1;
  };
  THeader header;
  header.Loop = loop;
  header.Movw = next(loop);
  if (header.Movw < 0) return std::nullopt;
  const TLine& movw = *lines.Line(header.Movw);
  if (movw.LineType != lt::MOVW || tVarList::RegisterNumber(movw.DestVar) != kZ ||
      tVarList::RegisterNumber(movw.SrcVar) != kY)
    return std::nullopt;
  int k = next(header.Movw);
  if (k >= 0 && lines.Line(k)->LineType == lt::ADIW && tVarList::RegisterNumber(lines.Line(k)->DestVar) == kZ) {
    if (!lines.Line(k)->ValueKnown) return std::nullopt;
    header.Adiw = k;
    header.K = static_cast<int>(lines.Line(k)->Value);
    k = next(k);
  }
  auto pushes = [&](int line, int reg) {
    const TLine* l = line >= 0 ? lines.Line(line) : nullptr;
    return l != nullptr && l->LineType == lt::ST && l->PtrReg == kY && ModeOf(*l) == TPointerMode::PreDecrement &&
           facts.NamedRegister(line, 2) == reg;
  };
  header.StoreHi = k;
  header.StoreLo = k >= 0 ? next(k) : -1;
  if (!pushes(header.StoreHi, kZ + 1) || !pushes(header.StoreLo, kZ)) return std::nullopt;
  return header;
}

class TLoopWalk {
 public:
  TLoopWalk(const TAnalysis& facts, TFrameEffects& effects, TEditBatch& batch, const THeader& header)
      : Facts(facts), Lines(facts.Lines()), Effects(effects), Batch(batch), Header(header) {
    State.ZStack.SetCopyInZ(true);
  }

  TOutcome Run() {
    if (!DropHeader()) return TOutcome::Abandon;
    for (int j = Header.StoreLo + 1; j < Lines.Count(); ++j) {
      if (j <= Consumed) continue;
      const TOutcome outcome = Step(j);
      if (outcome == TOutcome::Done) return Finish(j);
      if (outcome != TOutcome::Going) return outcome;
    }
    return TOutcome::Abandon;
  }

  int End() const { return EndLine; }

 private:
  bool DropHeader() {
    for (int line : {Header.Movw, Header.Adiw, Header.StoreHi, Header.StoreLo})
      if (line >= 0) Batch.Remove(line);
    return Header.Adiw < 0 || !FlagsChangeRead(Header.Adiw, lt::Unknown);
  }

  // Whether replacing line k by `type` (lt::Unknown: removing it) changes
  // flags that some path reads before they are set again.
  bool FlagsChangeRead(int k, TLineType type) const {
    return Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(*Lines.Line(k), type), k + 1);
  }

  TOutcome Abort(int k, const char* code) {
    Lines.ReportAbort(k, std::string("Major optimiser failure in loop optimisation - Error LOOP") + code +
                             ". Please contact Korvid,");
    return TOutcome::Abort;
  }

  // Y is needed to rebase something: the copy is still on the frame, or Z holds it.
  bool DepthNeeded() const { return State.Removed != 0 || State.ZStack.CopyInZ(); }
  // Bits of Z whose byte holds the copy, where the code as written has it and the loop will not.
  TRegFlagSet CopyBytes() const {
    return (State.ZStack.Holds(kZ) ? RegisterBit(kZ) : 0) | (State.ZStack.Holds(kZ + 1) ? RegisterBit(kZ + 1) : 0);
  }

  TOutcome Step(int j) {
    const TLine* line = Lines.Line(j);
    if (line == nullptr) return TOutcome::Abandon;
    switch (line->LineType) {
      case lt::ENDFUNC:
      case lt::ENTRY:
        return TOutcome::Abandon;
      case lt::LOOP:
        // An inner loop of the same shape is rewritten on its own.
        if (MatchHeader(Facts, j)) return TOutcome::Abandon;
        ++Nesting;
        return TOutcome::Going;
      case lt::ENDLOOP:
        return --Nesting == 0 ? TOutcome::Done : TOutcome::Going;
      default:
        break;
    }
    if (line->IsJoin()) {
      if (!Sync.Arrive(line->LabelName, State, FlowEnded)) return TOutcome::Abandon;
      FlowEnded = false;
      LabelLines.push_back(j);
    }
    if (line->Size == 0 || !IsInstructionType(line->LineType)) return TOutcome::Going;
    if (line->UnknownEffect || !SkippedSafely(j)) return TOutcome::Abandon;
    return Instruction(j, *line);
  }

  // A skipped line runs on one path only: it may not change what the walk follows.
  bool SkippedSafely(int j) const {
    if (!Facts.MayBeSkipped(j)) return true;
    const TLine& line = *Lines.Line(j);
    return !(Facts.Writes(j) & (kYBits | RegisterBit(kZ) | RegisterBit(kZ + 1))) && !line.IsTransfer() &&
           line.LineType != lt::PUSH && line.LineType != lt::POP;
  }

  TOutcome Instruction(int j, const TLine& line) {
    const TLineType type = line.LineType;
    if (IsPointerAccess(type) && line.PtrReg == kY) return YAccess(j, line);
    if (IsPointerAccess(type) && line.PtrReg == kZ && State.ZStack.CopyInZ()) return ZAccess(j, line);
    if (IsDirectTransferType(type) && !IsDirectCallType(type)) return Transfer(line);
    if (EndsFlow(type)) return TOutcome::Abandon;
    if (line.FlowKind & fkCall) return Call(j, line);
    if (type == lt::PUSH || type == lt::POP) return StackLine(j, line);
    const int dest = tVarList::RegisterNumber(line.DestVar);
    if ((type == lt::MOVW || type == lt::MOV) && tVarList::RegisterNumber(line.SrcVar) == kY && dest != kY)
      return CopyOfY(j, dest);
    if (Facts.Writes(j) & kYBits) return YMove(j, line);
    return Generic(j, line);
  }

  // Any other line: it may not read Y while Y is not what the code as written
  // has, nor a byte of Z that holds the copy; what it writes of Z is no copy.
  TOutcome Generic(int j, const TLine& line) {
    const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
    if ((State.Removed != 0 && (bits.Use & kYBits)) || (bits.Use & CopyBytes())) return TOutcome::Abandon;
    Written(Facts.Writes(j));
    return TOutcome::Going;
  }

  void Written(TRegFlagSet writes) {
    if (writes & RegisterBit(kZ)) State.ZStack.Written(kZ);
    if (writes & RegisterBit(kZ + 1)) State.ZStack.Written(kZ + 1);
  }

  // LD, LDD, ST, STD through Y. A displacement past the copy loses its two
  // bytes; one into the copy is only a reload of it into Z, which goes.
  TOutcome YAccess(int j, const TLine& line) {
    const bool load = IsLoad(line.LineType);
    const TPointerMode mode = ModeOf(line);
    if (DepthNeeded() && !State.DepthKnown)
      return Abort(j, mode != TPointerMode::Plain ? (load ? "010" : "006") : (load ? "012" : "008"));
    const int data = Facts.NamedRegister(j, load ? 1 : 2);
    if (data < 0 || (RegisterBit(data) & kYBits) || (!load && (RegisterBit(data) & CopyBytes())))
      return TOutcome::Abandon;
    if (mode != TPointerMode::Plain) {
      // Y+ reads the byte at Y and -Y writes below it; only the first may be the copy.
      if (State.Removed != 0 && mode == TPointerMode::PostIncrement && State.Extra <= 0) return TOutcome::Abandon;
      State.Extra += mode == TPointerMode::PreDecrement ? 1 : -1;
      if (load) Written(RegisterBit(data));
      return TOutcome::Going;
    }
    const bool displaced = line.LineType == lt::LDD || line.LineType == lt::STD;
    if (displaced && !line.ValueKnown) return TOutcome::Abandon;
    const std::int64_t q = displaced ? line.Value : 0;
    if (load) Written(RegisterBit(data));
    if (State.Removed == 0 || q < State.Extra) return TOutcome::Going;
    if (q >= State.Extra + State.Removed) {
      if (load) Batch.Replace(j, lt::LDD, "LDD", line.Op1, YDisplacement(q - State.Removed));
      else Batch.Replace(j, lt::STD, "STD", YDisplacement(q - State.Removed), line.Op2);
      return TOutcome::Going;
    }
    // LDD R30,Y+e / LDD R31,Y+e+1 loads the copy back: Z holds it again.
    const int reg = kZ + static_cast<int>(q - State.Extra);
    if (!load || data != reg) return TOutcome::Abandon;
    Batch.Remove(j);
    State.ZStack.Restored(reg);
    return TOutcome::Going;
  }

  // LD, LDD, ST, STD through Z while Z holds the copy: Y with the distance
  // from Y to where the copy points.
  TOutcome ZAccess(int j, const TLine& line) {
    const bool load = IsLoad(line.LineType);
    const TPointerMode mode = ModeOf(line);
    if (!State.DepthKnown) return TOutcome::Abandon;
    if (!load && mode != TPointerMode::Plain) return Abort(j, "007");
    const int data = Facts.NamedRegister(j, load ? 1 : 2);
    if (data < 0 || (RegisterBit(data) & kYBits) || (!load && (RegisterBit(data) & CopyBytes())))
      return TOutcome::Abandon;
    std::int64_t d = State.Extra + Header.K;
    if (line.LineType == lt::LDD || line.LineType == lt::STD) {
      if (!line.ValueKnown) return TOutcome::Abandon;
      d += line.Value;
    }
    if (mode == TPointerMode::PreDecrement) --d;
    if (d < 0 || d > kMaxDisplacement) return TOutcome::Abandon;
    if (mode != TPointerMode::Plain) {
      // The code as written moves Z on; nothing may read it after.
      if (Facts.AnyLive(RegisterBit(kZ), j + 1))
        throw KorvidError("Major optimiser failure in loop optimisation in line " + std::to_string(line.LineIndex) +
                          "./n " + Lines.Text(j) + "/nPlease contact Korvid.");
      if (Facts.AnyLive(RegisterBit(kZ + 1), j + 1)) return Abort(j, "011");
      Written(RegisterBit(kZ) | RegisterBit(kZ + 1));
    }
    if (load) {
      Batch.Replace(j, lt::LDD, "LDD", line.Op1, YDisplacement(d));
      Written(RegisterBit(data));
    } else {
      Batch.Replace(j, lt::STD, "STD", YDisplacement(d), line.Op2);
    }
    return TOutcome::Going;
  }

  TOutcome Transfer(const TLine& line) {
    if (!FlowEnded && !Sync.Store(line.TargetOperand(), State)) return TOutcome::Abandon;
    FlowEnded = line.IsUnconditionalTransfer();
    return TOutcome::Going;
  }

  TOutcome Call(int j, const TLine& line) {
    const TRoutineEffects& callee = Facts.Summaries().AtCall(j);
    const TRegFlagSet copy = CopyBytes();
    // ICALL reads Z for its target; a routine may read Z or Y as the code as written has them.
    if (((copy & RegisterBit(kZ)) && callee.MayRead(kZ)) || ((copy & RegisterBit(kZ + 1)) && callee.MayRead(kZ + 1)) ||
        (copy != 0 && !IsDirectCallType(line.LineType)))
      return TOutcome::Abandon;
    if (State.Removed != 0 && (callee.MayRead(kY) || callee.MayRead(kY + 1))) return TOutcome::Abandon;
    const std::optional<int> effect = Effects.Step(j);
    if (!effect) {
      State.DepthKnown = false;
    } else if (State.DepthKnown) {
      if (State.Removed != 0 && *effect < 0 && -*effect > State.Extra) return TOutcome::Abandon;
      State.Extra += *effect;
    }
    for (int r : {kZ, kZ + 1})
      if (callee.MayWrite(r)) State.ZStack.Written(r);
    return TOutcome::Going;
  }

  TOutcome StackLine(int j, const TLine& line) {
    const int reg = Facts.NamedRegister(j, 1);
    // A save of Y would bring back the Y of this loop, not the one the code as written has.
    if (reg < 0 || (RegisterBit(reg) & kYBits)) return TOutcome::Abandon;
    if (line.LineType == lt::PUSH) {
      State.ZStack.Push(reg);
      return TOutcome::Going;
    }
    const std::optional<tZStack::tZStackEntry> popped = State.ZStack.Pop(reg);
    if (!popped) return Abort(j, "025");
    // A byte of the copy popped into another register would be read as a value.
    if (popped->Value && popped->Reg != reg) return TOutcome::Abandon;
    return TOutcome::Going;
  }

  // MOVW Rp,R28 then ADIW Rp,n or SUBI Rp,lo / SBCI Rp+1,hi: Rp is Y+n, and n
  // past the copy loses its two bytes.
  TOutcome CopyOfY(int j, int p) {
    Written(Facts.Writes(j));
    if (State.Removed == 0) return TOutcome::Going;
    if (!State.DepthKnown) return TOutcome::Abandon;
    const int next = Facts.AdjacentInstruction(j, 1);
    const TLine* step = next >= 0 ? Lines.Line(next) : nullptr;
    if (Lines.Line(j)->LineType != lt::MOVW || step == nullptr || step->IsJoin() ||
        tVarList::RegisterNumber(step->DestVar) != p)
      return CopyNotFollowed(j, p, step);
    if (step->LineType == lt::ADIW && step->ValueKnown) {
      const std::optional<int> moved = Moved(static_cast<int>(step->Value));
      if (!moved) return TOutcome::Abandon;
      Consumed = next;
      if (*moved == step->Value) return TOutcome::Going;
      if (FlagsChangeRead(next, lt::ADIW)) return TOutcome::Abandon;
      if (*moved == 0) Batch.Remove(next);
      else Batch.Replace(next, lt::ADIW, "ADIW", step->Op1, std::to_string(*moved));
      return TOutcome::Going;
    }
    if (step->LineType != lt::SUBI) return TOutcome::Abandon;
    const int high = Facts.AdjacentInstruction(next, 1);
    const bool z = p == kZ;
    if (high < 0 || Lines.Line(high)->LineType != lt::SBCI) return Abort(next, z ? "017" : "020");
    const TLine& sbci = *Lines.Line(high);
    if (tVarList::RegisterNumber(sbci.DestVar) != p + 1 || sbci.IsJoin()) return Abort(high, z ? "016" : "019");
    if (!step->ValueKnown || !sbci.ValueKnown) return TOutcome::Abandon;
    const int n = -[&] {
      const int v = static_cast<int>(((sbci.Value & 0xFF) << 8) | (step->Value & 0xFF));
      return v >= 0x8000 ? v - 0x10000 : v;
    }();
    const std::optional<int> moved = Moved(n);
    if (!moved) return TOutcome::Abandon;
    Consumed = high;
    if (*moved == n) return TOutcome::Going;
    if (FlagsChangeRead(high, lt::SBCI)) return TOutcome::Abandon;
    Batch.Replace(next, lt::SUBI, "SUBI", step->Op1, ByteText(-*moved));
    Batch.Replace(high, lt::SBCI, "SBCI", sbci.Op1, ByteText(-*moved >> 8));
    return TOutcome::Going;
  }

  // A copy of Y not adjusted right after: SUBI on another register is a
  // pattern the compiler should not write; anything else leaves the copy as Y.
  TOutcome CopyNotFollowed(int j, int p, const TLine* step) {
    if (step != nullptr && step->LineType == lt::SUBI && Lines.Line(j)->LineType == lt::MOVW)
      return Abort(Facts.AdjacentInstruction(j, 1), p == kZ ? "018" : "021");
    return TOutcome::Abandon;
  }

  // Y+n as the code as written has it, as a distance from the loop's Y; none
  // when it points into the copy.
  std::optional<int> Moved(int n) const {
    if (n < State.Extra) return n;
    if (n >= State.Extra + State.Removed) return n - State.Removed;
    return std::nullopt;
  }

  // SBIW, ADIW, SUBI/SBCI and the like on Y. A release past the bytes pushed
  // in the loop releases the copy too: it loses its two bytes.
  TOutcome YMove(int j, const TLine& line) {
    const std::optional<int> step = Effects.Step(j);
    if (!State.DepthKnown && DepthNeeded()) {
      if (line.LineType == lt::SBIW) return Abort(j, "013");
      if (line.LineType == lt::ADIW) return Abort(j, "014");
      if (line.LineType == lt::SUB) return Abort(j, "023");
      if (line.LineType == lt::ADD) return Abort(j, "022");
    }
    if (!step) {
      if (State.Removed != 0) return TOutcome::Abandon;
      State.DepthKnown = false;
      return TOutcome::Going;
    }
    const int n = -*step;
    if (State.Removed == 0 || n <= State.Extra) {
      State.Extra -= n;
      return TOutcome::Going;
    }
    if (n < State.Extra + State.Removed) return line.LineType == lt::ADIW ? Abort(j, "015") : TOutcome::Abandon;
    const int left = n - State.Removed;
    if (line.LineType == lt::ADIW) {
      if (FlagsChangeRead(j, lt::ADIW)) return TOutcome::Abandon;
      if (left == 0) Batch.Remove(j);
      else Batch.Replace(j, lt::ADIW, "ADIW", line.Op1, std::to_string(left));
    } else if (line.LineType == lt::SUBI) {
      const int high = Facts.AdjacentInstruction(j, 1);
      if (FlagsChangeRead(high, lt::SBCI)) return TOutcome::Abandon;
      Batch.Replace(j, lt::SUBI, "SUBI", line.Op1, ByteText(-left));
      Batch.Replace(high, lt::SBCI, "SBCI", Lines.Line(high)->Op1, ByteText(-left >> 8));
    } else {
      return TOutcome::Abandon;
    }
    State.Extra -= left;
    State.Removed = 0;
    return TOutcome::Going;
  }

  // The loop ends: the copy must be gone from the frame, nothing after the
  // loop may read Z as the copy, every jump stayed inside the loop, and its
  // labels are entered from nowhere else.
  TOutcome Finish(int end) {
    EndLine = end;
    if (State.Removed != 0 || !Sync.AllArrived()) return TOutcome::Abandon;
    if (const TRegFlagSet copy = CopyBytes(); copy != 0 && Facts.AnyLive(copy, end)) return TOutcome::Abandon;
    for (int label : LabelLines) {
      const TPredecessors from = Facts.Predecessors(label);
      if (from.Entered) return TOutcome::Abandon;
      for (int k : from.Lines)
        if (k < Header.Loop || k > end) return TOutcome::Abandon;
    }
    return TOutcome::Done;
  }

 private:
  const TAnalysis& Facts;
  TLineList& Lines;
  TFrameEffects& Effects;
  TEditBatch& Batch;
  const THeader Header;
  TFrameState State;
  TFrameSyncPoints Sync;
  std::vector<int> LabelLines;
  int Nesting = 1;
  bool FlowEnded = false;
  // Lines up to here were taken with a pattern that began before them.
  int Consumed = -1;
  int EndLine = -1;
};

}  // namespace

std::span<const TRule> LoopOptimisationRules() { return kRules; }

bool LoopOptimisation(TLineList& lines, const TAnalysis& facts) {
  // Each loop's edits keep every value its code reads, and Z and the flags
  // are checked dead where an edit changes them: one frozen analysis serves.
  auto frozen = facts.Freeze();
  TFrameEffects effects(facts);
  bool changed = false, inFunction = false;
  for (int i = 0; i < lines.Count() && !lines.Run.Aborted; ++i) {
    const TLine* line = lines.Line(i);
    if (line == nullptr || line->LineType == lt::ENTRY) break;
    if (line->LineType == lt::FUNC || line->LineType == lt::ENDFUNC) inFunction = line->LineType == lt::FUNC;
    if (line->LineType != lt::LOOP || !inFunction) continue;
    int end = -1;
    const std::optional<THeader> header = MatchHeader(facts, i);
    if (!header) continue;
    const bool fired = FireRule(facts, LoopRule, [&](TEditBatch& batch) {
      TLoopWalk walk(facts, effects, batch, *header);
      const bool done = walk.Run() == TOutcome::Done;
      end = walk.End();
      return done;
    });
    if (fired) {
      changed = true;
      i = end;
    }
  }
  return changed;
}

}  // namespace korvid
