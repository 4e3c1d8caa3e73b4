#include "source/LineList.h"

#include <algorithm>
#include <array>

#include "source/LineFacts.h"
#include "source/FileNames.h"
#include "source/Classifier.h"
#include "source/Errors.h"
#include "source/Text.h"
#include "source/WorkerPool.h"
#include "source/TextFile.h"

namespace korvid {

namespace {

constexpr std::size_t kLabelColumns = 24;
constexpr std::size_t kMnemonicColumns = 10;

// Labels that the run-time system needs whatever the passes think.
constexpr std::array<std::string_view, 3> kSystemLabels = {"SYSTEM.ENDCODE", "SYSTEM.VectTab", "SYSTEM.ENDPROG"};

using TTypeSet = std::array<bool, lt::Count>;

constexpr TTypeSet MakeTypeSet(std::initializer_list<int> types) {
  TTypeSet set{};
  for (int type : types) set[type] = true;
  return set;
}

// Lines that emit nothing, stepped over by the forward and backward walks.
constexpr TTypeSet kSkippedForward = MakeTypeSet(
    {114, 115, 116, 117, 123, 126, 127, 131, 132, 135, 136, 137, 139, 140, 142, 145, 146, 147, 148, 150, 156, 171});
constexpr TTypeSet kSkippedBackward =
    MakeTypeSet({114, 115, 116, 117, 123, 126, 127, 128, 129, 131, 132, 135, 136, 137,
                 139, 141, 142, 143, 144, 145, 147, 148, 149, 150, 151, 156, 171});

void Pad(std::string& text, std::size_t width, std::size_t fieldLength) {
  if (fieldLength < width) text.append(width - fieldLength, ' ');
}

}  // namespace

std::string FormatLine(std::string_view labelName, std::string_view mnemonic, std::string_view operands) {
  std::string text(labelName);
  Pad(text, kLabelColumns, labelName.size());
  text += mnemonic;
  Pad(text, kMnemonicColumns, mnemonic.size());
  text += operands;
  return text;
}

TLineList::TLineList(int parseThreads)
    : Parallel(std::make_unique<TParallel>(parseThreads < 0 ? TParallel::DefaultThreadCount() : parseThreads)) {}

void TLineList::FinishParse() { Parallel->Wait(); }

TLineList::~TLineList() {
  Run.Aborted = true;
  Parallel->Wait();
}

bool TLineList::IsParsed(int index) const {
  const TLine* line = Line(index);
  return line != nullptr && line->IsParsed();
}

void TLineList::LoadFromFile(const std::string& fileName) {
  Load(ReadTextFile(fileName), fileName, ChangeFileExt(fileName, ".unuV"));
}

void TLineList::LoadFromText(const std::string& text, const std::string& fileName) {
  Load(SplitText(text), fileName, "");
}

void TLineList::Load(TTextFile file, const std::string& fileName, const std::string& companionFile) {
  // A new program: nothing remembered about the old one may answer for it.
  ++Generation;
  Entries.clear();
  Functions.Clear();
  if (!companionFile.empty()) Functions.LoadCompanionFile(companionFile);
  Entries.reserve(file.Lines.size());
  for (auto& line : file.Lines) Entries.push_back({std::move(line.Text), nullptr, line.CrLf});
  FinalBreak = file.FinalBreak;
  CrLfDominant = file.CrLfDominant;
  FileName = fileName;
  Run.LoadTime = std::chrono::system_clock::now();
  AnalyseAll(*this);
  OriginalSize = CodeSize;
}

std::string TLineList::SaveToText() const {
  TTextFile file;
  file.FinalBreak = FinalBreak;
  file.Lines.reserve(Entries.size());
  for (const auto& entry : Entries) file.Lines.push_back({entry.Text, entry.CrLf});
  return JoinTextFile(file);
}

void TLineList::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, SaveToText()); }

void TLineList::StartParse() {
  for (auto& entry : Entries) entry.Object = std::make_unique<TLine>();
  Parallel->Run([this](int index) { ParseOne(index); }, 0, Count() - 1);
}

void TLineList::ParseOne(int index) {
  if (Run.Aborted) return;
  TLine& line = *Entries[index].Object;
  try {
    TParsedLine parts = ParseLine(Entries[index].Text);
    InitialiseLine(line, parts.LineType, parts.LabelName, parts.Mnemonic, parts.Operands);
    line.Comment = std::move(parts.Comment);
  } catch (...) {
    // A line that cannot be split stays unknown, which every pass leaves alone.
    line.LineType = lt::Unknown;
  }
  line.Parsed.store(true, std::memory_order_release);
}

void TLineList::InitialiseLine(TLine& line, TLineType type, std::string_view labelName, std::string_view mnemonic,
                               std::string_view operands) {
  line.LineType = type;
  line.LabelName = std::string(Trim(labelName));
  line.Mnemonic = std::string(mnemonic);
  line.Operands = std::string(operands);
  line.Op1 = line.Operands;
  line.Op2.clear();
  line.SymbolName.clear();
  line.Comment.clear();
  line.DestVar = nullptr;
  line.SrcVar = nullptr;
  line.Usages.Clear();
  line.FlowKind = 0;
  line.Value = -1;
  line.ValueKnown = false;
  line.Size = 0;
  line.DataSize = 0;
  line.PtrMode = 2;
  line.PtrReg = -1;
  line.Removed = false;
  line.BranchMark = false;
  line.CallMark = false;
  line.MaybeSkipped = false;
  line.DefinesDest = false;
  line.WordOp = false;
  line.IsStore = false;
  line.RetHasValue = false;
  line.Memory = 0;
  line.SideEffect = false;
  line.UnknownEffect = false;
  line.LabelRefs.clear();
}

void TLineList::LogChange(int index, const std::string& after) {
  const TEntry& entry = Entries[index];
  if (entry.Text == after) return;
  // A line being inserted has no object yet: it carries the index it was inserted for.
  std::int32_t lineIndex = entry.Object ? entry.Object->LineIndex : entry.InsertedFor;
  Pass.ChangeLog->push_back({lineIndex, std::string(Pass.Name), std::string(Pass.Rule), entry.Text, after});
}

void TLineList::ReplaceLine(int index, std::string text, TLineType type, std::string_view labelName,
                            std::string_view mnemonic, std::string_view operands, TFunction* func, bool copyFunc) {
  if (Pass.ChangeLog != nullptr && !Pass.Name.empty()) LogChange(index, text);
  TEntry& entry = Entries[index];
  entry.Text = std::move(text);
  ++Generation;
  if (entry.Object) {
    UnlinkLine(*this, index);
    InitialiseLine(*entry.Object, type, labelName, mnemonic, operands);
    AnalyseLine(*this, index);
    AccountRoutineSize(*entry.Object, func);
    return;
  }
  entry.Object = std::make_unique<TLine>();
  TLine& line = *entry.Object;
  line.Func = func;
  line.LineIndex = entry.InsertedFor;
  InitialiseLine(line, type, labelName, mnemonic, operands);
  line.Parsed.store(true, std::memory_order_release);
  if (index > 0 && Line(index - 1) != nullptr) {
    const TLine& previous = *Line(index - 1);
    line.SrcFile = previous.SrcFile;
    line.SrcLineNo = previous.SrcLineNo;
    // A line inserted into a vector table is part of its fixed layout.
    line.InMarkedRegion = previous.InMarkedRegion;
    if (copyFunc) line.Func = previous.Func;
  }
  AnalyseLine(*this, index);
  AccountRoutineSize(line, nullptr);
}

// The routine that UnlinkLine took the old size from gets the new one, so a
// routine's current size always equals the sizes of its lines.
void TLineList::AccountRoutineSize(TLine& line, TFunction* func) {
  if (func != nullptr) line.Func = func;
  if (line.Func != nullptr) line.Func->AddSizeAfter(line.Size);
}

bool TLineList::SetLine(int index, TLineType type, std::string_view labelName, std::string_view mnemonic,
                        std::string_view operands, TFunction* func) {
  std::string text = FormatLine(labelName, mnemonic, operands);
  bool changed = text != Entries[index].Text;
  ReplaceLine(index, std::move(text), type, labelName, mnemonic, operands, func, false);
  return changed;
}

bool TLineList::SetLineOps(int index, TLineType type, std::string_view labelName, std::string_view mnemonic,
                           std::string_view op1, std::string_view op2, TFunction* func) {
  std::string operands(op1);
  if (!op2.empty()) operands += ", " + std::string(op2);
  return SetLine(index, type, labelName, mnemonic, operands, func);
}

void TLineList::SetLabelLine(int index, std::string_view labelName) {
  ReplaceLine(index, std::string(labelName) + ":", lt::Label, labelName, "", "", nullptr, true);
}

bool TLineList::IsSystemLabel(std::string_view name) {
  return std::any_of(kSystemLabels.begin(), kSystemLabels.end(),
                     [&](std::string_view system) { return EqualsNoCase(name, system); });
}

bool TLineList::CanRemove(int index) const {
  const TLine& line = *Line(index);
  return !line.IsLabelLine() || !IsSystemLabel(line.LabelName);
}

int TLineList::PreviousSizedLine(int index) const {
  for (int i = index - 1; i >= 0; --i) {
    const TLine* line = Line(i);
    if (line != nullptr && line->Size > 0) return i;
  }
  return -1;
}

bool TLineList::RemoveLine(int index) {
  if (!CanRemove(index)) return false;
  TLine& line = *Line(index);
  if (line.IsLabelLine()) {
    if (index > 0 && Line(index - 1) != nullptr && Line(index - 1)->LineType == lt::FUNC) RemoveLine(index - 1);
  }
  if (line.LineType == lt::FUNC) {
    TFunction* owner = index + 1 < Count() && Line(index + 1) != nullptr ? Line(index + 1)->Func : nullptr;
    Functions.MarkRemoved(FunctionHeaderName(line.Op1), owner);
  }
  if (line.LinkedLine >= 1 && index - 1 >= 1) {
    for (int j = index - 1; j >= 1; --j) {
      if (Line(j) != nullptr && Line(j)->LineIndex == line.LinkedLine) {
        SetLine(j, lt::Comment, ";", "", "", nullptr);
        break;
      }
    }
  }
  Run.DisplayChanged = true;
  if (line.IsLabelledCode()) {
    // An instruction written after its label: the label goes on marking the
    // same place, so only the instruction disappears.
    SetLabelLine(index, std::string(line.LabelName));
    return true;
  }
  SetLine(index, lt::Comment, ";", "", "", nullptr);
  line.Removed = true;
  return true;
}

void TLineList::InsertLine(int index, std::int32_t analysisIndex) {
  Entries.insert(Entries.begin() + index, TEntry{"", nullptr, CrLfDominant, analysisIndex});
  ++Generation;
}

void TLineList::InsertLines(const std::vector<std::pair<int, std::int32_t>>& at) {
  if (at.empty()) return;
  std::vector<TEntry> merged;
  merged.reserve(Entries.size() + at.size());
  std::size_t next = 0;
  for (int i = 0; i <= Count(); ++i) {
    for (; next < at.size() && at[next].first == i; ++next)
      merged.push_back(TEntry{"", nullptr, CrLfDominant, at[next].second});
    if (i < Count()) merged.push_back(std::move(Entries[static_cast<std::size_t>(i)]));
  }
  Entries = std::move(merged);
  ++Generation;
}

void TLineList::DeleteRemovedLines() {
  // Nothing erased, nothing for the analysis to answer afresh.
  if (std::erase_if(Entries, [](const TEntry& entry) { return entry.Object && entry.Object->Removed; }) > 0)
    ++Generation;
}

void TLineList::ReportAbort(int index, const std::string& message) {
  if (Run.Aborted) return;
  Run.Aborted = true;
  const TLine* line = Line(index);
  std::string sourceFile = line != nullptr ? line->SrcFile : "";
  int sourceLine = line != nullptr ? DecimalOr(line->SrcLineNo, 1) : 1;
  Errors.WriteError(message, sourceFile, sourceLine, 1);
}

int TLineList::NextCodeLine(int index, bool passLabels, bool stopAtFrame, bool stopAtLoop, bool stopAtBlock) const {
  for (int i = index + 1; i < Count(); ++i) {
    const TLine* line = Line(i);
    if (line == nullptr) return Count();
    TLineType type = line->LineType;
    bool stepOver = kSkippedForward[type] || (type == lt::Label && passLabels) || (type == lt::FRAME && !stopAtFrame) ||
                    ((type == lt::LOOP || type == lt::ENDLOOP) && !stopAtLoop) ||
                    ((type == lt::BLOCK || type == lt::ENDBLOCK) && !stopAtBlock);
    if (!stepOver) return i;
  }
  return Count();
}

int TLineList::PrevCodeLine(int index, bool passLineMarks, bool passLabels) const {
  if (index - 1 < 1) return index - 1;
  int i = index - 1;
  for (; i > 0; --i) {
    const TLine* line = Line(i);
    if (line == nullptr) return i;
    TLineType type = line->LineType;
    bool stepOver =
        kSkippedBackward[type] || (type == lt::Label && passLabels) || (type == lt::LINE && passLineMarks);
    if (!stepOver) return i;
  }
  return 0;
}

bool TLineList::MayChange(int index) const {
  if (!Pass.LineFilter) return true;
  const TLine* line = Line(index);
  return line != nullptr && Pass.LineFilter(line->LineIndex);
}

bool TLineList::SameInstruction(int i, int j) const {
  const TLine& a = *Line(i);
  const TLine& b = *Line(j);
  return a.LineType == b.LineType && EqualsNoCase(a.Mnemonic, b.Mnemonic) && EqualsNoCase(a.Op1, b.Op1) &&
         EqualsNoCase(a.Op2, b.Op2);
}

void TLineList::ResetAllMarks() {
  for (auto& entry : Entries)
    if (entry.Object) entry.Object->Usages.ResetMarks();
}

void TLineList::ClearCallMarks() {
  for (auto& entry : Entries)
    if (entry.Object) entry.Object->CallMark = false;
}

}  // namespace korvid
