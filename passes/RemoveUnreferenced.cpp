#include "passes/RemoveUnreferenced.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/Analysis.h"
#include "passes/EditBatch.h"
#include "source/Functions.h"
#include "source/Labels.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr std::string_view kPass = "Phase3";

// In the order the walk tries them.
constexpr TRule kRules[] = {
    {"uncalled-routine", kPass, std::nullopt,
     "no line outside the routine names a label of it, and no code runs or falls into it"},
    {"generated-label", kPass, std::nullopt, "nothing names the label the optimiser made; a label emits nothing"},
    {"unreferenced-label", kPass, std::nullopt, "nothing names the label, and a label emits nothing"},
};
const TRule& UncalledRoutineRule = kRules[0];
const TRule& GeneratedLabelRule = kRules[1];
const TRule& UnreferencedLabelRule = kRules[2];

// The bit mask table a routine may carry: one byte per bit.
constexpr std::string_view kBitMaskTable = "SYSTEM.BitMaskTab";
constexpr int kBitMaskBytes = 8;

using TTypeSet = std::array<bool, lt::Count>;

constexpr TTypeSet MakeTypeSet(std::initializer_list<int> types) {
  TTypeSet set{};
  for (int type : types) set[static_cast<std::size_t>(type)] = true;
  return set;
}

// What may stand between a routine's header and its entry label: directives
// that emit nothing and mark no entry.
constexpr TTypeSet kBetweenHeaderAndEntry =
    MakeTypeSet({lt::ENTRYMAIN, lt::ENTRYBOOT, 116, lt::END, lt::ENTRYUNIT, lt::XDATASTART, lt::OPT_RET, lt::LOOP,
                 lt::ENDLOOP, lt::OtherText, lt::UNIT, 135, 136, lt::OPTI_QUICK, lt::ANALYSIS, lt::FRAME,
                 lt::STARTCODE, lt::BLOCK, lt::ENDBLOCK, lt::LINE, lt::XLINE, lt::BRANCH, lt::FILE, lt::INLINE,
                 lt::NOSINLINE, lt::Blank});

// Lines a removed routine leaves standing: entry points, the vector table's
// directives, addresses, symbols, data and comments, which other code may rely on.
constexpr TTypeSet kKeptInRemovedRoutine =
    MakeTypeSet({lt::ENTRY, lt::XDATASTART, lt::ENDCODE, lt::VECTTAB, lt::VECTTABE, lt::VECTTAB_B, lt::VECTTABE_B,
                 lt::ORG, lt::PHASE, lt::DEPHASE, lt::DEB, lt::Comment, lt::EQU, lt::BYTE, lt::WORD, lt::ADDR});

// What an unreferenced label stands for.
struct TLabelKind {
  enum { Label, Generated, Valid, RoutineEntry } Kind = Label;
  int Header = -1;  // the routine's ".FUNC" line
};

class TUnreferencedWalk {
 public:
  explicit TUnreferencedWalk(const TAnalysis& facts) : Facts(facts), Lines(facts.Lines()) {
    for (std::size_t r = 0; r < std::size(kRules); ++r) Enabled[r] = RuleEnabled(Lines, kRules[r]);
  }

  bool Run() {
    for (int i = 0; i < Lines.Count() && !Lines.Run.Aborted; ++i) {
      const TLine& line = *Lines.Line(i);
      if (!line.IsLabelLine() || line.InMarkedRegion) continue;
      const TASMLabel* label = Lines.Labels.Find(line.LabelName);
      if (label == nullptr || label->RefCount != 0) continue;
      const TLabelKind kind = Classify(i);
      switch (kind.Kind) {
        case TLabelKind::Valid:
          break;
        case TLabelKind::RoutineEntry:
          // Past the routine, whether it went or stays.
          if (int end = RoutineEnd(kind.Header); end >= 0) {
            Try(UncalledRoutineRule, [&](TEditBatch& batch) { return UncalledRoutine(kind.Header, end, batch); });
            i = end;
          }
          break;
        case TLabelKind::Generated:
          Try(GeneratedLabelRule, [&](TEditBatch& batch) { return UnneededLabel(i, batch); });
          break;
        case TLabelKind::Label:
          Try(UnreferencedLabelRule, [&](TEditBatch& batch) { return UnneededLabel(i, batch); });
          break;
      }
    }
    return Changed;
  }

  // Whether it removed more than label lines.
  bool RemovedRoutine() const { return RoutineRemoved; }

 private:
  template <class TMatch>
  void Try(const TRule& rule, TMatch match) {
    if (!Enabled[static_cast<std::size_t>(&rule - kRules)]) return;
    TEditBatch batch(Facts, rule);
    if (!match(batch) || !batch.Apply()) return;
    Changed = true;
    RoutineRemoved = RoutineRemoved || &rule == &UncalledRoutineRule;
  }

  // A routine's entry is the label after its header whose last part names the
  // routine ("MAIN.Blink" for ".FUNC Blink"); ".VALID" before a label keeps it.
  TLabelKind Classify(int i) const {
    const std::string& name = Lines.Line(i)->LabelName;
    if (name.starts_with("_CSE")) return {TLabelKind::Generated};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot <= 2) return {TLabelKind::Label};
    const std::string_view shortName = std::string_view(name).substr(dot + 1);
    for (int k = i - 1; k >= 0; --k) {
      const TLine& before = *Lines.Line(k);
      if (kBetweenHeaderAndEntry[before.LineType]) continue;
      if (before.LineType == lt::VALID) return {TLabelKind::Valid};
      if (before.LineType == lt::FUNC && EqualsNoCase(FunctionHeaderName(before.Op1), shortName))
        return {TLabelKind::RoutineEntry, k};
      break;
    }
    return {TLabelKind::Label};
  }

  // The routine's ".ENDFUNC" line; -1 when another header or the end comes first.
  int RoutineEnd(int header) const {
    for (int k = header + 1; k < Lines.Count(); ++k) {
      const TLineType type = Lines.Line(k)->LineType;
      if (type == lt::ENDFUNC) return k;
      if (type == lt::FUNC) return -1;
    }
    return -1;
  }

  // A label alone emits nothing: once nothing names it and no routine begins
  // there, it goes without moving any code.
  bool UnneededLabel(int i, TEditBatch& batch) const {
    if (Facts.LabelNeeded(i)) return false;
    batch.Remove(i);
    return true;
  }

  bool UncalledRoutine(int header, int end, TEditBatch& batch) const {
    // Removing code moves every line after it, and such code lands by offset.
    if (Facts.HasPositionDependentCode()) return false;
    int fileLine = -1;
    const int first = RoutineStart(header, fileLine);
    if (Facts.EnteredFromOutside(first, end)) return false;
    for (int k = first; k <= end; ++k) {
      const TLine& line = *Lines.Line(k);
      if (!kKeptInRemovedRoutine[line.LineType]) batch.Remove(k);
      if (line.IsLabelLine() && EqualsNoCase(line.LabelName, kBitMaskTable)) RemoveBitMaskTable(k, end, batch);
    }
    if (fileLine >= 0 && FileNamedAgain(fileLine, end)) batch.Remove(fileLine);
    return true;
  }

  // The blank lines, ".LINE" markers and comments right above the header go
  // with the routine, up to the blank line highest above it. A ".FILE" line
  // there ends the walk and is handed back: it may name the file for nothing.
  int RoutineStart(int header, int& fileLine) const {
    int first = header;
    for (int k = header - 1; k >= 0; --k) {
      const TLineType type = Lines.Line(k)->LineType;
      if (type == lt::Blank) {
        first = k;
      } else if (type == lt::FILE) {
        fileLine = k;
        break;
      } else if (type != lt::LINE && type != lt::Comment) {
        break;
      }
    }
    return first;
  }

  // Only the data bytes right after the table's label, and no more than the table holds.
  void RemoveBitMaskTable(int label, int end, TEditBatch& batch) const {
    int bytes = 0;
    for (int k = label + 1; k < end; ++k) {
      const TLine& data = *Lines.Line(k);
      if (data.LineType != lt::BYTE) return;
      bytes += static_cast<int>(std::count(data.Operands.begin(), data.Operands.end(), ',')) + 1;
      if (bytes > kBitMaskBytes) return;
      batch.Remove(k);
    }
  }

  // With the routine gone, the ".FILE" line above it is redundant when the
  // next or the previous ".FILE" line, with only blanks and comments between,
  // names the same file.
  bool FileNamedAgain(int fileLine, int end) const {
    const std::string_view file = Trim(Lines.Text(fileLine));
    auto sameFileAt = [&](int from, int step) {
      for (int k = from; k >= 0 && k < Lines.Count(); k += step) {
        const TLine& line = *Lines.Line(k);
        if (line.LineType == lt::Blank || line.LineType == lt::Comment) continue;
        return line.LineType == lt::FILE && EqualsNoCase(Trim(Lines.Text(k)), file);
      }
      return false;
    };
    return sameFileAt(end + 1, 1) || sameFileAt(fileLine - 1, -1);
  }

  const TAnalysis& Facts;
  TLineList& Lines;
  // By rule, in kRules order: switched on for this run.
  std::array<bool, std::size(kRules)> Enabled{};
  bool Changed = false;
  bool RoutineRemoved = false;
};

}  // namespace

std::span<const TRule> RemoveUnreferencedRules() { return kRules; }

bool RemoveUnreferenced(TLineList& /*lines*/, const TAnalysis& facts) {
  // Removing labels and unreachable routines makes nothing live that was dead:
  // the answers for the program as it was err towards "needed".
  auto frozen = facts.Freeze();
  TUnreferencedWalk walk(facts);
  const bool changed = walk.Run();
  // A label nothing names was no join that any path took.
  if (changed && !walk.RemovedRoutine()) facts.AnswersStillHold();
  return changed;
}

}  // namespace korvid
