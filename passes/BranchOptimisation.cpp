#include "passes/BranchOptimisation.h"

#include <algorithm>

#include "analysis/Analysis.h"
#include "analysis/EffectTable.h"
#include "analysis/LineGraph.h"
#include "analysis/LineKinds.h"
#include "passes/BranchWalk.h"
#include "source/Expressions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "Branch";

// In the order the pass tries them on a line.
constexpr TRule kRules[] = {
    {"ori-to-ser", kPass, D::NO_BITTEST_OPT, "ORI Rd,0FFh leaves Rd as SER does; only its flags differ, and none is read"},
    {"ori-after-logic", kPass, D::NO_BITTEST_OPT,
     "ORI Rd,0 after a logic instruction on Rd changes neither Rd nor the flags that set"},
    {"com-before-test", kPass, D::NO_BITTEST_OPT,
     "testing a boolean's complement is testing the boolean the other way round, where neither it nor the flags "
     "are read after"},
    {"constant-test-never", kPass, std::nullopt,
     "a branch on TST of a register just cleared or set that can never be taken goes"},
    {"constant-test-always", kPass, std::nullopt,
     "a branch on TST of a register just cleared or set that is always taken becomes a jump"},
    {"bool-copy", kPass, D::NO_OPTI_BOOL_CHECK, "a compare and two loads that give a boolean its own value go"},
    {"bool-negate", kPass, D::NO_OPTI_BOOL_CHECK,
     "a compare and two loads that give a boolean the opposite value are one COM"},
    {"short-circuit", kPass, std::nullopt,
     "the right operand of AND (OR) of booleans is evaluated only when the left one is true (false)",
     D::SHORT_CIRCUIT_TESTS},
    {"bool-retarget", kPass, std::nullopt,
     "the branches that made a boolean go where testing it would have gone, where nobody reads it"},
    {"bool-invert", kPass, std::nullopt,
     "the last branch that made a boolean goes, the other way round, where testing it would have gone"},
    {"bool-invert-skip", kPass, std::nullopt, "the opposite skip jumps over the exit where testing the boolean did"},
    {"bool-swap-constants", kPass, std::nullopt,
     "loading a boolean's opposite constants saves the COM that turned it round"},
    {"bool-t-direct", kPass, std::nullopt, "T gets the boolean's value on each path instead of from a test"},
    {"bool-t-inverted", kPass, std::nullopt, "T gets the boolean's opposite on each path instead of from a test"},
};
}  // namespace

namespace branchrules {
const TRule& OriToSer = kRules[0];
const TRule& OriAfterLogic = kRules[1];
const TRule& ComBeforeTest = kRules[2];
const TRule& ConstantTestNever = kRules[3];
const TRule& ConstantTestAlways = kRules[4];
const TRule& BoolCopy = kRules[5];
const TRule& BoolNegate = kRules[6];
const TRule& ShortCircuit = kRules[7];
const TRule& Retarget = kRules[8];
const TRule& Invert = kRules[9];
const TRule& InvertSkip = kRules[10];
const TRule& SwapConstants = kRules[11];
const TRule& TDirect = kRules[12];
const TRule& TInverted = kRules[13];
}  // namespace branchrules

namespace {

// Lines a start's head walks before it gives up; a tail's lines before its test.
constexpr int kMaxHead = 64;
constexpr int kMaxTail = 16;
// Rounds of the boolean rules on one start: a constant test or a swap runs them again.
constexpr int kMaxRounds = 8;

bool IsSkipType(TLineType type) {
  return type == lt::SBRC || type == lt::SBRS || type == lt::SBIC || type == lt::SBIS || type == lt::CPSE;
}

}  // namespace

TBranchWalk::TBranchWalk(const TAnalysis& facts)
    : Facts(facts), Lines(facts.Lines()), Shared(facts.SharedRegisters()) {}

bool TBranchWalk::Fire(const TRule& rule, const std::function<bool(TEditBatch&)>& stage) {
  if (!FireRule(Facts, rule, stage)) return false;
  Changed = true;
  return true;
}

bool TBranchWalk::Run() {
  for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
    const TLine* line = Lines.Line(i);
    if (line == nullptr) continue;
    // The code after ".ENTRY" is the run-time library's.
    if (line->LineType == lt::ENTRY) break;
    if (line->Size == 0 || line->InMarkedRegion || !Lines.MayChange(i)) continue;
    switch (line->LineType) {
      case lt::ORI:
        OriRules(i);
        break;
      case lt::COM:
        ComBeforeTest(i);
        break;
      case lt::CLR:
      case lt::SER:
      case lt::LDI:
        BooleanRules(i);
        break;
      default:
        break;
    }
  }
  return Changed;
}

// --- small questions

int TBranchWalk::Reg(int i) const { return Facts.NamedRegister(i, 1); }

bool TBranchWalk::IsJoin(int i) const { return Lines.Line(i)->IsJoin(); }

bool TBranchWalk::Touches(int i, TRegFlagSet set) const {
  const TLine& line = *Lines.Line(i);
  if (line.UnknownEffect) return true;
  const TLineBits bits = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
  return ((bits.Use | bits.Def | bits.Kill) & set) != 0;
}

std::optional<bool> TBranchWalk::ConstantLoaded(int i, int r) const {
  const TLine& line = *Lines.Line(i);
  if (Reg(i) != r) return std::nullopt;
  if (line.LineType == lt::CLR) return false;
  if (line.LineType == lt::SER) return true;
  if (line.LineType == lt::LDI && line.ValueKnown) {
    if ((line.Value & 0xFF) == 0) return false;
    if ((line.Value & 0xFF) == 0xFF) return true;
  }
  return std::nullopt;
}

int TBranchWalk::NextNonPassive(int i) const {
  for (int k = i + 1; k < Lines.Count(); ++k) {
    const TLine* line = Lines.Line(k);
    if (line == nullptr) return -1;
    if (line->Size > 0 || !IsPassiveMarker(line->LineType)) return k;
  }
  return -1;
}

bool TBranchWalk::ReferencedOnly(const std::string& name, int count) const {
  const TASMLabel* label = Lines.Labels.Find(name);
  return label != nullptr && label->RefCount == count && !TLineList::IsSystemLabel(name) &&
         !Facts.IsAddressTaken(name) && Lines.DataLabels.Find(name) == nullptr;
}

void TBranchWalk::ReportUnexpected(int line, const char* code) const {
  const TLine* at = Lines.Line(line);
  Lines.Errors.WriteError(std::string("unexpected line. Optimisation aborted (ERR code ") + code + ")",
                          at != nullptr ? at->SrcFile : "", at != nullptr ? DecimalOr(at->SrcLineNo, 1) : 1, 1);
}

// --- the boolean rules

std::optional<TBranchWalk::TStart> TBranchWalk::StartAt(int i) const {
  const TLine* line = Lines.Line(i);
  if (line == nullptr || line->Size == 0) return std::nullopt;
  const int r = Reg(i);
  // A start a skip may jump over holds its constant on one path only.
  if (r < 0 || (Shared & RegisterBit(r)) || Facts.MayBeSkipped(i)) return std::nullopt;
  const std::optional<bool> value = ConstantLoaded(i, r);
  if (!value) return std::nullopt;
  return TStart{i, r, *value};
}

void TBranchWalk::BooleanRules(int i) {
  for (int round = 0; round < kMaxRounds; ++round) {
    const std::optional<TStart> start = StartAt(i);
    if (!start) return;
    if (ConstantTest(*start)) continue;
    TBoolean b;
    const TMatch match = MatchBoolean(*start, b);
    if (match == TMatch::Restart) continue;
    if (match == TMatch::None) return;
    const TAction action = ChooseAction(b);
    // A swap leaves a boolean of the other constant, which the rules take again.
    if (!Rewrite(action, b) || action != TAction::Swap) return;
  }
}

TBranchWalk::TMatch TBranchWalk::MatchBoolean(const TStart& start, TBoolean& b) {
  b.Start = start;
  if (!MatchHead(b) || !MatchLabel(b)) return TMatch::None;
  const TMatch tail = MatchTail(b);
  if (tail != TMatch::Boolean) return tail;
  return MatchDecision(b) ? TMatch::Boolean : TMatch::None;
}

// From the start: conditional branches to one label and lines that leave R
// alone, up to the setter; or a skip right after the start and the setter in
// its shadow. The setter loads R's other constant or complements it.
bool TBranchWalk::MatchHead(TBoolean& b) const {
  const int r = b.Start.Register;
  auto isSetter = [&](int k) {
    if (Lines.Line(k)->LineType == lt::COM) return Reg(k) == r;
    const std::optional<bool> value = ConstantLoaded(k, r);
    return value && *value != b.Start.True;
  };
  bool first = true;
  for (int k = Facts.AdjacentInstruction(b.Start.Line, 1), steps = 0; k >= 0 && steps < kMaxHead;
       k = Facts.AdjacentInstruction(k, 1), ++steps, first = false) {
    const TLine& line = *Lines.Line(k);
    if (line.IsJoin() || line.UnknownEffect || line.InMarkedRegion || Facts.MayBeSkipped(k)) return false;
    const TLineType type = line.LineType;
    if (IsBranchType(type) && type != lt::BRBS && type != lt::BRBC) {
      const std::string target(Trim(line.Op1));
      if (!IsPlainLabel(target) || (!b.Target.empty() && !EqualsNoCase(b.Target, target))) return false;
      b.Target = target;
      b.Branches.push_back(k);
      b.Head.push_back(k);
      continue;
    }
    if (IsSkipType(type)) {
      const int setter = Facts.AdjacentInstruction(k, 1);
      if (!first || Touches(k, RegisterBit(r)) || setter < 0 || IsJoin(setter) || !isSetter(setter)) return false;
      b.Skip = k;
      b.Head.push_back(k);
      b.Setter = setter;
      return true;
    }
    if (isSetter(k)) {
      b.Setter = k;
      return !b.Branches.empty();
    }
    // A COM, CLR or SER of another register is no setter, and the walk ends there.
    if (type == lt::COM || type == lt::CLR || type == lt::SER) return false;
    if (line.IsTransfer() || line.IsSkip() || !IsInstructionType(type) || Touches(k, RegisterBit(r))) return false;
    b.Head.push_back(k);
  }
  return false;
}

// Branch form: the label the head branches name follows the setter, and only
// they enter there. Skip form: a label there is entered by nothing.
bool TBranchWalk::MatchLabel(TBoolean& b) const {
  const int j = NextNonPassive(b.Setter);
  if (j < 0) return false;
  const TLine& line = *Lines.Line(j);
  if (line.IsJoin()) {
    if (b.Skip < 0 ? !EqualsNoCase(line.LabelName, b.Target) ||
                         !ReferencedOnly(line.LabelName, static_cast<int>(b.Branches.size()))
                   : Facts.LabelNeeded(j))
      return false;
    b.Label = j;
    b.FirstTail = line.IsLabelLine() ? Facts.AdjacentInstruction(j, 1) : j;
  } else {
    if (b.Skip < 0) return false;
    b.FirstTail = IsInstructionType(line.LineType) && line.Size > 0 ? j : -1;
  }
  return b.FirstTail >= 0;
}

// After the label: a COM of R, a CLT or SET, the copies of R that a compare
// makes, the left operand of a short-circuit AND/OR; then TST R. R holds 0 or
// 0FFh all the way, so a COM met here may be taken by the COM rule later.
TBranchWalk::TMatch TBranchWalk::MatchTail(TBoolean& b) {
  const int r = b.Start.Register;
  for (int t = b.FirstTail, steps = 0; steps < kMaxTail; t = Facts.AdjacentInstruction(t, 1), ++steps) {
    if (t < 0 || (t != b.Label && IsJoin(t))) return TMatch::None;
    const TLine& line = *Lines.Line(t);
    switch (line.LineType) {
      case lt::COM:
        if (Reg(t) != r || b.Com >= 0) return TMatch::None;
        b.Com = t;
        BooleanComs.insert(&line);
        continue;
      case lt::CLT:
      case lt::SET:
        if (b.TLine >= 0) return TMatch::None;
        b.TLine = t;
        b.TSets = line.LineType == lt::SET;
        continue;
      case lt::CPI:
        if (Reg(t) == r && TailCopy(t, r)) return TMatch::Restart;
        return TMatch::None;
      case lt::PUSH:
        if (Reg(t) == r && ShortCircuit(t, r)) return TMatch::Restart;
        return TMatch::None;
      case lt::TST:
        if (Reg(t) != r) return TMatch::None;
        b.Test = t;
        return TMatch::Boolean;
      default:
        return TMatch::None;
    }
  }
  return TMatch::None;
}

// TST R / D: BREQ|BRNE Z / E / Z:, where E is the exit jump or a T line.
bool TBranchWalk::MatchDecision(TBoolean& b) const {
  b.Decision = Facts.AdjacentInstruction(b.Test, 1);
  if (b.Decision < 0 || IsJoin(b.Decision)) return false;
  b.Exit = Facts.AdjacentInstruction(b.Decision, 1);
  if (b.Exit < 0 || IsJoin(b.Exit)) return false;
  b.Follow = NextNonPassive(b.Exit);
  if (b.Follow < 0 || !IsJoin(b.Follow)) return false;
  const TLine& decision = *Lines.Line(b.Decision);
  if (decision.LineType != lt::BREQ && decision.LineType != lt::BRNE) return false;
  // The rewrites send the decided way to the follow label: D must go there.
  if (!EqualsNoCase(Trim(decision.Op1), Lines.Line(b.Follow)->LabelName)) return false;
  b.OnEqual = decision.LineType == lt::BREQ;
  // With a T line, the exit must be the opposite T line; the T-flag rewrites
  // check that themselves and report where it is a jump.
  const TLineType exit = Lines.Line(b.Exit)->LineType;
  if (exit == lt::RJMP || exit == lt::JMP) return true;
  return b.TLine >= 0 && exit == (b.TSets ? lt::CLT : lt::SET);
}

// Which rewrite, by start, COM after the label, T line and decision. Where a
// row has none, the rewrite that would fit is left out on purpose.
TBranchWalk::TAction TBranchWalk::ChooseAction(const TBoolean& b) {
  const bool com = b.Com >= 0;
  if (b.TLine < 0) {
    // R is 0 exactly when a head branch was taken (start CLR); a COM or a SER start
    // turns that round. When the decision branches that way, the head branches go there.
    const bool takenOnEqual = b.Start.True == com;
    if (b.OnEqual == takenOnEqual) return TAction::Retarget;
    return com ? TAction::Swap : TAction::Invert;
  }
  if (!b.OnEqual) return TAction::None;
  if (!b.Start.True) {
    if (!com) return b.TSets ? TAction::None : TAction::TDirect;
    return b.TSets ? TAction::TDirect : TAction::TInverted;
  }
  if (com || b.TSets) return TAction::None;
  return TAction::TDirect;
}

bool TBranchWalk::Rewrite(TAction action, const TBoolean& b) {
  switch (action) {
    case TAction::Retarget: return Retarget(b);
    case TAction::Invert: return Invert(b);
    case TAction::Swap: return SwapConstants(b);
    case TAction::TDirect: return TFlagRewrite(b, false);
    case TAction::TInverted: return TFlagRewrite(b, true);
    case TAction::None: break;
  }
  return false;
}

bool TBranchWalk::DeadAtExits(const TBoolean& b, std::uint8_t flags, bool registerToo) const {
  const TRegFlagSet set = FlagBits(flags) | (registerToo ? RegisterBit(b.Start.Register) : 0);
  return !Facts.AnyLive(set, b.Exit) && !Facts.AnyLive(set, b.Follow);
}

bool TBranchWalk::StartFlagsUnread(const TBoolean& b, TLineType replacement) const {
  return !Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(*Lines.Line(b.Start.Line), replacement), b.Start.Line + 1);
}

// The head branches go to Z with their own conditions and the fall-through
// reaches the exit jump; start, setter, COM, test and decision go. In skip
// form the skip now jumps over the exit jump instead of the setter.
bool TBranchWalk::Retarget(const TBoolean& b) {
  return Fire(branchrules::Retarget, [&](TEditBatch& batch) {
    std::uint8_t flags = FlagsOf(*Lines.Line(b.Start.Line)) | FlagsOf(*Lines.Line(b.Setter)) |
                         FlagsOf(*Lines.Line(b.Test));
    if (b.Com >= 0) flags |= FlagsOf(*Lines.Line(b.Com));
    if (!StartFlagsUnread(b, lt::Unknown) || !DeadAtExits(b, flags, true)) return false;
    const std::string z = Lines.Line(b.Follow)->LabelName;
    batch.Remove(b.Start.Line);
    if (b.Skip >= 0) {
      const TLine& skip = *Lines.Line(b.Skip);
      batch.Replace(b.Skip, skip.LineType, skip.Mnemonic, skip.Op1, skip.Op2);
    }
    for (int k : b.Branches) {
      const TLine& branch = *Lines.Line(k);
      batch.Replace(k, branch.LineType, branch.Mnemonic, z);
      batch.ChangeBranchNote(k);
    }
    batch.Remove(b.Setter);
    if (b.Com >= 0) batch.Remove(b.Com);
    batch.Remove(b.Test);
    batch.Remove(b.Decision);
    batch.ChangeBranchNote(b.Decision);
    return true;
  });
}

// The last head branch, right before the setter, goes to Z on the opposite
// condition; the others still reach L, which now stands before the exit jump.
// At most one BREQ and one branch of another condition.
bool TBranchWalk::Invert(const TBoolean& b) {
  const std::uint8_t flags =
      FlagsOf(*Lines.Line(b.Start.Line)) | FlagsOf(*Lines.Line(b.Setter)) | FlagsOf(*Lines.Line(b.Test));
  auto removeAround = [&](TEditBatch& batch) {
    batch.Remove(b.Start.Line);
    batch.Remove(b.Setter);
    batch.Remove(b.Test);
    batch.Remove(b.Decision);
    batch.ChangeBranchNote(b.Decision);
  };
  if (b.Skip >= 0) {
    const TLine& skip = *Lines.Line(b.Skip);
    const TLineType reverse = ReverseLineType(skip.LineType);
    if (skip.LineType == lt::CPSE || reverse == lt::Unknown) return false;
    return Fire(branchrules::InvertSkip, [&](TEditBatch& batch) {
      if (!StartFlagsUnread(b, lt::Unknown) || !DeadAtExits(b, flags, true)) return false;
      batch.Replace(b.Skip, reverse, ReverseMnemonic(skip.LineType), skip.Op1, skip.Op2);
      removeAround(batch);
      return true;
    });
  }
  const auto equal = std::count_if(b.Branches.begin(), b.Branches.end(),
                                   [&](int k) { return Lines.Line(k)->LineType == lt::BREQ; });
  if (equal > 1 || static_cast<std::ptrdiff_t>(b.Branches.size()) - equal > 1) return false;
  const int last = b.Branches.back();
  const TLine& branch = *Lines.Line(last);
  const TLineType reverse = ReverseLineType(branch.LineType);
  if (reverse == lt::Unknown || Facts.AdjacentInstruction(last, 1) != b.Setter) return false;
  return Fire(branchrules::Invert, [&](TEditBatch& batch) {
    if (!StartFlagsUnread(b, lt::Unknown) || !DeadAtExits(b, flags, true)) return false;
    batch.Replace(last, reverse, ReverseMnemonic(branch.LineType), Lines.Line(b.Follow)->LabelName);
    batch.ChangeBranchNote(last);
    removeAround(batch);
    return true;
  });
}

// CLR R / ... / COM R / L: COM R  ->  LDI R,0FFh / ... / LDI R,0 / L:
// R ends with the same value on every path; LDI leaves the flags alone, and
// the test after the label sets S, V, N and Z again.
bool TBranchWalk::SwapConstants(const TBoolean& b) {
  return Fire(branchrules::SwapConstants, [&](TEditBatch& batch) {
    const TLine& start = *Lines.Line(b.Start.Line);
    const TLine& setter = *Lines.Line(b.Setter);
    const std::uint8_t flags = (TAnalysis::FlagsChangedBy(start, lt::LDI) | TAnalysis::FlagsChangedBy(setter, lt::LDI) |
                                FlagsOf(*Lines.Line(b.Com))) &
                               ~kTestFlags;
    if (!StartFlagsUnread(b, lt::LDI) || !DeadAtExits(b, flags, false)) return false;
    batch.Replace(b.Start.Line, lt::LDI, "LDI", start.Op1, b.Start.True ? "0" : "0FFh");
    batch.Replace(b.Setter, lt::LDI, "LDI", setter.Op1, b.Start.True ? "0FFh" : "0");
    batch.Remove(b.Com);
    return true;
  });
}

// CLR R / ... / SER R / L: CLT / TST R / BREQ Z / SET / Z:  ->  CLT / ... / SET / L: Z:
// T gets on each path the value the test would have given it. The positions
// of the lines that go are checked before anything changes: where one is not
// what the rewrite needs, an OBRT message goes to the error file and nothing
// changes.
bool TBranchWalk::TFlagRewrite(const TBoolean& b, bool inverted) {
  const TRule& rule = inverted ? branchrules::TInverted : branchrules::TDirect;
  if (!RuleEnabled(Lines, rule)) return false;
  const bool startSets = inverted ? !b.Start.True : b.Start.True;
  const TLineType startType = startSets ? lt::SET : lt::CLT;
  const TLineType setterType = startSets ? lt::CLT : lt::SET;
  // T now carries the result from the start: nothing between may read or write it.
  for (int k : b.Head)
    if (Touches(k, FlagBits(sreg::T))) return false;
  std::uint8_t flags =
      FlagsOf(*Lines.Line(b.Start.Line)) | FlagsOf(*Lines.Line(b.Setter)) | FlagsOf(*Lines.Line(b.Test));
  if (b.Com >= 0) flags |= FlagsOf(*Lines.Line(b.Com));
  flags &= static_cast<std::uint8_t>(~sreg::T);
  if (!StartFlagsUnread(b, startType) || !DeadAtExits(b, flags, true)) return false;
  const char* firstCode = inverted ? "OBRT003" : "OBRT004";
  const char* secondCode = inverted ? "OBRT001" : "OBRT005";
  int p = b.FirstTail;
  if (b.Com >= 0) {
    if (p != b.Com) {
      ReportUnexpected(p, firstCode);
      return false;
    }
    p = Facts.AdjacentInstruction(p, 1);
  }
  if (p != b.TLine || Facts.AdjacentInstruction(p, 1) != b.Test) {
    ReportUnexpected(p, firstCode);
    return false;
  }
  if (Lines.Line(b.Exit)->LineType != (b.TSets ? lt::CLT : lt::SET)) {
    ReportUnexpected(b.Exit, secondCode);
    return false;
  }
  const bool fired = Fire(rule, [&](TEditBatch& batch) {
    batch.Replace(b.Start.Line, startType, startSets ? "SET" : "CLT", "");
    batch.Replace(b.Setter, setterType, startSets ? "CLT" : "SET", "");
    if (b.Com >= 0) batch.Remove(b.Com);
    batch.Remove(b.TLine);
    batch.Remove(b.Test);
    batch.Remove(b.Decision);
    batch.ChangeBranchNote(b.Decision);
    batch.Remove(b.Exit);
    return true;
  });
  // T is live from the start now, where the analysis had it dead.
  if (fired) Facts.MarkLivenessChanged(b.Start.Line, b.Follow);
  return fired;
}

std::span<const TRule> BranchOptimisationRules() { return kRules; }

bool BranchOptimisation(TLineList& /*lines*/, const TAnalysis& facts) {
  // The rewrites remove paths and reads; the T-flag forms mark where they make
  // T live. One frozen analysis serves the whole pass.
  auto frozen = facts.Freeze();
  return TBranchWalk(facts).Run();
}

}  // namespace korvid
