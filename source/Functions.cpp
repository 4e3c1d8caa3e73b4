#include "source/Functions.h"

#include <algorithm>

#include "source/UsageSets.h"
#include "source/Variables.h"
#include "source/Line.h"
#include "source/Text.h"
#include "source/TextFile.h"

namespace korvid {

namespace {

constexpr int kFramePointer = 28;
constexpr std::size_t kMaxCalleeLength = 255;

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, part.size()), part)) return true;
  return false;
}

int RegisterNumber(const TVar* var) {
  if (var == nullptr || !tVarList::IsRegister(*var)) return -1;
  return static_cast<int>(var->Address);
}

}  // namespace

std::string FunctionHeaderName(std::string_view operands) {
  return std::string(Trim(operands.substr(0, operands.find(','))));
}

const TParmOrLocalVar* TParmAndLocalVarList::Find(std::int32_t location) const {
  int i = IndexOf(location);
  return i < 0 ? nullptr : &Items[static_cast<std::size_t>(i)];
}

TParmOrLocalVar* TParmAndLocalVarList::Find(std::int32_t location) {
  int i = IndexOf(location);
  return i < 0 ? nullptr : &Items[static_cast<std::size_t>(i)];
}

int TParmAndLocalVarList::IndexOf(std::int32_t location) const {
  for (std::size_t i = 0; i < Items.size(); ++i)
    if (Items[i].Location == location) return static_cast<int>(i);
  return -1;
}

TFunction::TFunction(std::string name, std::string sourceFile, std::int32_t startLine)
    : StartLine(startLine), Name(std::move(name)), SourceFile(std::move(sourceFile)) {}

void TFunction::AddLine(TLine& line, int index) {
  line.Func = this;
  if (line.Size >= 1) {
    ++InstrCount;
    SizeBefore += line.Size;
    SizeAfter += line.Size;
    if (line.LineType == lt::RET) ++ReturnCount;
  }
  // An instruction written after its label marks the place as well as a label line.
  if (EntryLabel.empty() && !line.LabelName.empty()) EntryLabel = line.LabelName;
  if (Incomplete) return;
  switch (line.LineType) {
    case lt::RCALL:
    case lt::CALL:
      AddCallee(line.Op1);
      break;
    case lt::SBIW:
      if (EffectsOf(line).RegsWritten.test(kFramePointer)) {
        if (LocalBytes == -1) {
          SetLocalBytes(line.Value);
        } else {
          Push(line.Value);
        }
      }
      break;
    case lt::RJMP:
    case lt::IJMP:
    case lt::EIJMP:
    case lt::JMP:
      ForgetFrame();
      break;
    case lt::FRAME:
      SetFrameDepth(line.Value);
      break;
    case lt::ST:
    case lt::STD:
    case lt::LD:
    case lt::LDD:
      if (line.PtrReg == kFramePointer) {
        AccountFrameAccess(line, index);
        break;
      }
      [[fallthrough]];
    default:
      if (TouchesRegister(line, kFramePointer)) Incomplete = true;
      break;
  }
}

void TFunction::AccountFrameAccess(const TLine& line, int index) {
  if (line.PtrMode == 0) {
    Push(1);
  } else if (line.PtrMode == 1) {
    Pop(1);
  } else {
    bool store = line.LineType == lt::ST || line.LineType == lt::STD;
    int reg = RegisterNumber(store ? line.SrcVar : line.DestVar);
    // A register that cannot be named makes the record meaningless.
    if (reg < 0) {
      Incomplete = true;
      return;
    }
    // Only 0..63 encode; anything else is a damaged line, not a frame slot.
    if (!line.ValueKnown || line.Value < 0 || line.Value > 63) {
      Incomplete = true;
      return;
    }
    auto displacement = static_cast<std::int32_t>(line.Value);
    if (store) {
      RecordStore(displacement, reg, index);
    } else {
      RecordLoad(displacement, reg, index);
    }
  }
}

void TFunction::AddCallee(std::string_view operandText) {
  std::string_view name = Trim(operandText);
  if (std::size_t dot = name.find('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
  name = name.substr(0, kMaxCalleeLength);
  if (!CalleeList.contains(name)) CalleeList.emplace(std::string(name), false);
}

void TFunction::SetFrameDepth(std::int64_t n) {
  FrameKnown = true;
  MoveFrame(n);
}

void TFunction::SetLocalBytes(std::int64_t n) {
  if (!FitsDataSpace(n)) {
    Incomplete = true;
    return;
  }
  LocalBytes = static_cast<std::int32_t>(n);
  MoveFrame(FrameDepth + n);
}

void TFunction::Push(std::int64_t n) {
  if (!FrameKnown) {
    Incomplete = true;
    return;
  }
  MoveFrame(FrameDepth + n);
}

void TFunction::Pop(std::int64_t n) {
  if (!FrameKnown) {
    Incomplete = true;
    return;
  }
  MoveFrame(FrameDepth - n);
}

bool TFunction::FitsDataSpace(std::int64_t bytes) { return bytes >= -kDataSpaceBytes && bytes <= kDataSpaceBytes; }

void TFunction::MoveFrame(std::int64_t depth) {
  // A frame larger than the data space comes from a damaged program: its records are not to be trusted.
  if (!FitsDataSpace(depth)) {
    Incomplete = true;
    return;
  }
  FrameDepth = static_cast<std::int32_t>(depth);
  MaxFrameDepth = std::max(MaxFrameDepth, FrameDepth);
}

void TFunction::RecordStore(std::int32_t displacement, std::int32_t reg, std::int32_t line) {
  Record(pkStored, displacement, reg, line);
}

void TFunction::RecordLoad(std::int32_t displacement, std::int32_t reg, std::int32_t line) {
  Record(pkLoaded, displacement, reg, line);
}

void TFunction::Record(std::uint8_t kind, std::int32_t displacement, std::int32_t reg, std::int32_t line) {
  if (!FrameKnown) {
    Incomplete = true;
    return;
  }
  std::int32_t location = FrameDepth - displacement;
  if (location > LocalBytes) return;
  if (!Parms) Parms.emplace();
  TParmOrLocalVar* entry = Parms->Find(location);
  if (entry == nullptr) entry = &Parms->Items.emplace_back(TParmOrLocalVar{location, {}});
  Parms->MinLocation = std::min(Parms->MinLocation, location);
  for (TParmAssignment& assignment : entry->Assignments) {
    if (assignment.Kind == kind && assignment.Reg == reg) {
      ++assignment.Count;
      return;
    }
  }
  entry->Assignments.push_back({kind, reg, 1, line});
}

void TFunction::BuildFuncOpts() {
  Opts.clear();
  if (Incomplete || !Parms || Parms->MinLocation > 0) return;
  for (std::int32_t location = Parms->MinLocation; location <= 0; ++location) {
    const TParmOrLocalVar* entry = Parms->Find(location);
    if (entry == nullptr) {
      Opts.push_back({okRemoveParameter, -1, location, -1});
    } else if (entry->Assignments.size() == 1 && entry->Assignments.front().Kind == pkLoaded) {
      const TParmAssignment& load = entry->Assignments.front();
      Opts.push_back({okUseRegister, load.Reg, location, load.Line});
    }
  }
  // Among parameters naming the same register, the one touched first keeps it.
  for (std::size_t a = 0; a < Opts.size(); ++a) {
    for (std::size_t b = 0; b < a && Opts[a].Kind == okUseRegister; ++b) {
      if (Opts[b].Kind != okUseRegister || Opts[b].Reg != Opts[a].Reg) continue;
      if (Parms->IndexOf(Opts[a].Location) < Parms->IndexOf(Opts[b].Location)) {
        Opts[b].Kind = okUseUnusedRegister;
      } else {
        Opts[a].Kind = okUseUnusedRegister;
      }
    }
  }
}

std::string TFunction::SystemEntryName() const {
  std::size_t dot = EntryLabel.find('.');
  if (dot == std::string::npos) return "";
  return "SYSTEM.$" + EntryLabel.substr(dot + 1);
}

void TFunction::SetReturns(std::string_view op1, std::int64_t value, bool valueKnown) {
  if (EqualsNoCase(Trim(op1), "Z")) {
    ReturnSize = kReturnPointer;
  } else if (valueKnown) {
    ReturnSize = static_cast<std::int32_t>(value);
  } else {
    // A size that cannot be read says nothing about the return registers.
    return;
  }
  ReturnKnown = true;
}

TFunction& TFunctionList::AddFunction(std::string_view name, std::string_view sourceFile, std::int32_t line) {
  MaxNameLen = std::max(MaxNameLen, static_cast<std::int32_t>(name.size()));
  auto record = std::make_unique<TFunction>(std::string(name), std::string(sourceFile), line);
  TFunction& result = *record;
  if (name.empty() || Table.contains(name)) {
    Unlisted.push_back(std::move(record));
  } else {
    Table.emplace(std::string(name), std::move(record));
  }
  return result;
}

TFunction* TFunctionList::FindByName(std::string_view name) const {
  auto it = Table.find(name);
  return it == Table.end() ? nullptr : it->second.get();
}

TFunction* TFunctionList::FindByEntryLabel(std::string_view label) const {
  for (const auto& [name, function] : Table)
    if (EqualsNoCase(function->EntryLabel, label)) return function.get();
  return nullptr;
}

void TFunctionList::ResolveCalls() {
  for (const auto& [name, caller] : Table) {
    for (auto& [calleeName, resolved] : caller->CalleeList) {
      TFunction* callee = FindByName(calleeName);
      if (callee == nullptr || callee == caller.get()) continue;
      resolved = true;
      callee->IsCalled = true;
    }
  }
  for (const auto& [name, function] : Table) std::erase_if(function->CalleeList, [](const auto& entry) { return !entry.second; });
}

void TFunctionList::MarkRemoved(std::string_view name, TFunction* owner) {
  if (owner != nullptr && !IsListed(*owner)) {
    owner->Removed = true;
    return;
  }
  if (TFunction* function = FindByName(name)) function->Removed = true;
  std::string quoted = "\"" + std::string(name) + "\"";
  std::size_t before = CompanionLines.size();
  std::erase_if(CompanionLines, [&](const std::string& line) { return ContainsNoCase(line, quoted); });
  if (CompanionLines.size() != before) CompanionModified = true;
}

void TFunctionList::LoadCompanionFile(const std::string& path) {
  CompanionFileName = path;
  CompanionLines.clear();
  CompanionModified = false;
  TTextFile file;
  try {
    file = ReadTextFile(path);
  } catch (const std::exception&) {
    // Missing, empty or not text: nothing to prune, so it is never rewritten.
    return;
  }
  for (TTextLine& line : file.Lines) CompanionLines.push_back(std::move(line.Text));
  CompanionCrLf = file.CrLfDominant;
  CompanionFinalBreak = file.FinalBreak;
}

bool TFunctionList::SaveCompanionFile(const std::string& fileName) {
  if (!CompanionModified) return false;
  TTextFile file;
  file.FinalBreak = CompanionFinalBreak;
  for (const std::string& line : CompanionLines) file.Lines.push_back({line, CompanionCrLf});
  WriteFileAtomically(fileName.empty() ? CompanionFileName : fileName, JoinTextFile(file));
  return true;
}

std::vector<TFunction*> TFunctionList::All() const {
  std::vector<TFunction*> result;
  result.reserve(Table.size());
  for (const auto& [name, function] : Table) result.push_back(function.get());
  return result;
}

void TFunctionList::Clear() {
  Table.clear();
  Unlisted.clear();
  MaxNameLen = 8;
  CompanionLines.clear();
  CompanionFileName.clear();
  CompanionModified = false;
  AnyIndirectCall = false;
}

}  // namespace korvid
