#include "passes/CallFrame.h"

#include <optional>
#include <string>
#include <vector>

#include "analysis/Analysis.h"
#include "analysis/FrameEffect.h"
#include "analysis/LineKinds.h"
#include "passes/EditBatch.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

using D = TDirective;
constexpr std::string_view kPass = "CallFrame";

// In the order they are tried on a save whose Y movement is known.
constexpr TRule kRules[] = {
    {"frame-save-drop", kPass, D::NO_CALL_FRAME_OPT,
     "Y comes back to the value saved by itself: the PUSH and POP of R28 and R29 restore nothing"},
    {"frame-save-merge", kPass, D::NO_CALL_FRAME_OPT,
     "the ADIW right after the restore moves Y up by the bytes left on the frame as well"},
    {"frame-save-adiw", kPass, D::NO_CALL_FRAME_OPT,
     "Y ends a known number of bytes below the value saved: one ADIW brings it back"},
};
const TRule& DropRule = kRules[0];
const TRule& MergeRule = kRules[1];
const TRule& AdiwRule = kRules[2];

constexpr int kY = 28;
constexpr int kMaxAdiw = 63;

// A save of Y whose restore brings Y up by Net bytes.
struct TSave {
  int PushLo, PushHi, PopHi, PopLo;
  int Net;
};

class TCallFrameWalk {
 public:
  explicit TCallFrameWalk(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()), Effects(facts) {
    FramePointer = tVarList::RegisterNumber(Lines.Vars.Find("_FRAMEPTR")) == kY ? "_FRAMEPTR" : "R28";
  }

  bool Run() {
    bool changed = false, inFunction = false, localOff = false;
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine* line = Lines.Line(i);
      if (line == nullptr || line->LineType == lt::ENTRY) break;
      switch (line->LineType) {
        case lt::OPTI:
          if (EqualsNoCase(Trim(line->Operands), "NO_CALL_FRAME_OPT_LOCAL")) localOff = true;
          if (EqualsNoCase(Trim(line->Operands), "CALL_FRAME_OPT_LOCAL")) localOff = false;
          break;
        case lt::FUNC:
          inFunction = true;
          break;
        case lt::ENDFUNC:
          inFunction = false;
          break;
        case lt::PUSH:
          if (!inFunction || localOff || Facts.NamedRegister(i, 1) != kY) break;
          if (std::optional<TSave> save = FindSave(i)) changed = Rewrite(*save) || changed;
          break;
        default:
          break;
      }
    }
    return changed;
  }

 private:
  // A value pushed on the hardware stack since the save: its register, and
  // which value R29 held then (a nested save of R28 alone restores Y only
  // while R29 still holds it).
  struct TPushed {
    int Reg;
    int R29Version;
  };

  // PUSH R28 / PUSH R29 / straight code / POP R29 / POP R28, with Y's net
  // movement over the straight code known. Nested saves of Y (PUSH R28 ...
  // POP R28) put Y back by themselves, so what lies between them is not counted.
  std::optional<TSave> FindSave(int pushLo) {
    if (Facts.MayBeSkipped(pushLo)) return std::nullopt;
    const int pushHi = Facts.AdjacentInstruction(pushLo, 1);
    if (pushHi < 0 || Lines.Line(pushHi)->LineType != lt::PUSH || Lines.Line(pushHi)->IsJoin() ||
        Facts.NamedRegister(pushHi, 1) != kY + 1)
      return std::nullopt;
    std::vector<TPushed> stack{{kY, 0}, {kY + 1, 0}};
    int nested = 0, net = 0, r29Version = 0, versions = 1, popHi = -1;
    for (int k = pushHi + 1; k < Lines.Count(); ++k) {
      const TLine* line = Lines.Line(k);
      if (line == nullptr || line->LineType == lt::ENTRY || line->LineType == lt::ENDFUNC) return std::nullopt;
      // Another path would come in with its own stack and Y.
      if (line->IsJoin() && Facts.LabelNeeded(k)) return std::nullopt;
      if (line->Size == 0 || IsPassiveMarker(line->LineType)) continue;
      if (line->UnknownEffect || !IsInstructionType(line->LineType) || !StraightCode(*line)) return std::nullopt;
      const int reg = Facts.NamedRegister(k, 1);
      if (line->LineType == lt::PUSH) {
        if (reg < 0) return std::nullopt;
        stack.push_back({reg, r29Version});
        if (reg == kY) ++nested;
        continue;
      }
      if (line->LineType == lt::POP) {
        const TPushed top = stack.back();
        stack.pop_back();
        if (stack.size() == 1) {
          // The restore: POP R29 right before POP R28.
          const int lo = Facts.AdjacentInstruction(k, 1);
          if (reg != kY + 1 || lo < 0 || Lines.Line(lo)->LineType != lt::POP || Lines.Line(lo)->IsJoin() ||
              Facts.NamedRegister(lo, 1) != kY)
            return std::nullopt;
          popHi = k;
          continue;
        }
        if (stack.empty()) return TSave{pushLo, pushHi, popHi, k, net};
        if (reg < 0 || (top.Reg == kY) != (reg == kY)) return std::nullopt;
        if (reg == kY) {
          if (top.R29Version != r29Version) return std::nullopt;
          --nested;
        }
        if (reg == kY + 1) r29Version = top.Reg == kY + 1 ? top.R29Version : versions++;
        continue;
      }
      // A routine that pops what its caller pushed would find other bytes.
      if (IsDirectCallType(line->LineType) && Effects.PopsCallersBytes(k)) return std::nullopt;
      if (nested == 0) {
        const std::optional<int> step = Effects.Step(k);
        if (!step) return std::nullopt;
        net += *step;
      } else if (Facts.Writes(k) & RegisterBit(kY + 1)) {
        r29Version = versions++;
      }
    }
    return std::nullopt;
  }

  // Code the stretch may hold: no transfer but calls, no skip, no return. A
  // branch to a second restore would pop the return address; a skipped line
  // would be counted although it may not run.
  static bool StraightCode(const TLine& line) {
    if (line.IsSkip() || EndsFlow(line.LineType) || line.LineType == lt::ICALL || line.LineType == lt::EICALL)
      return false;
    return !(line.FlowKind & (fkConditional | fkUnconditional)) || IsDirectCallType(line.LineType);
  }

  bool Rewrite(const TSave& save) {
    // Code that reads SP in the stretch would see other offsets without the save.
    if (save.Net < 0 || save.Net > kMaxAdiw || Facts.ReadsStackPointerBetween(save.PushLo, save.PopLo + 1))
      return false;
    auto dropSave = [&](TEditBatch& batch) {
      batch.Remove(save.PushLo);
      batch.Remove(save.PushHi);
      batch.Remove(save.PopHi);
    };
    if (save.Net == 0)
      return FireRule(Facts, DropRule, [&](TEditBatch& batch) {
        dropSave(batch);
        batch.Remove(save.PopLo);
        return true;
      });
    const int adiw = Facts.AdjacentInstruction(save.PopLo, 1);
    if (adiw >= 0 && Mergeable(adiw, save.Net) && FireRule(Facts, MergeRule, [&](TEditBatch& batch) {
          dropSave(batch);
          batch.Remove(save.PopLo);
          batch.Replace(adiw, lt::ADIW, "ADIW", FramePointer,
                        std::to_string(Lines.Line(adiw)->Value + save.Net));
          return true;
        }))
      return true;
    // ADIW sets flags the POP left alone.
    if (Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(*Lines.Line(save.PopLo), lt::ADIW), save.PopLo + 1))
      return false;
    return FireRule(Facts, AdiwRule, [&](TEditBatch& batch) {
      dropSave(batch);
      batch.Replace(save.PopLo, lt::ADIW, "ADIW", FramePointer, std::to_string(save.Net));
      return true;
    });
  }

  // ADIW R28,k right after the restore, entered from nowhere else, with room
  // for the bytes left and flags that nothing reads.
  bool Mergeable(int adiw, int net) const {
    const TLine& line = *Lines.Line(adiw);
    if (line.LineType != lt::ADIW || line.IsJoin() || tVarList::RegisterNumber(line.DestVar) != kY ||
        !line.ValueKnown || line.Value < 0 || line.Value + net > kMaxAdiw)
      return false;
    return !Facts.FlagsReadAfter(TAnalysis::FlagsChangedBy(line, lt::ADIW), adiw + 1);
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  TFrameEffects Effects;
  std::string FramePointer;
};

}  // namespace

std::span<const TRule> CallFrameRules() { return kRules; }

bool CallFrame(TLineList& /*lines*/, const TAnalysis& facts) {
  // The rewrites only drop saves and set flags nothing reads: no dead value
  // becomes live where a later question looks, so one frozen analysis serves.
  auto frozen = facts.Freeze();
  return TCallFrameWalk(facts).Run();
}

}  // namespace korvid
