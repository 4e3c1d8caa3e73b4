#include "source/Labels.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "source/Expressions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

bool TNoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return UpperAscii(x) < UpperAscii(y); });
}

std::size_t TNoCaseHash::operator()(std::string_view text) const {
  std::size_t hash = 14695981039346656037ull;
  for (char c : text) hash = (hash ^ UpperAscii(c)) * 1099511628211ull;
  return hash;
}

bool TNoCaseEqual::operator()(std::string_view a, std::string_view b) const { return EqualsNoCase(a, b); }

std::string LabelSymbolOf(std::string_view operand) {
  if (Evaluate(operand).Known) return "";
  std::string symbol(Trim(SplitExpression(operand).Left));
  if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol.front()))) return "";
  return symbol;
}

namespace {

bool IsSymbolChar(char c) {
  // ASCII only, as the C locale's isalnum; without its call per character.
  bool alnum = (c >= '0' && c <= '9') || (UpperAscii(c) >= 'A' && UpperAscii(c) <= 'Z');
  return alnum || c == '_' || c == '.' || c == '$' || c == '%' || c == '@' ||
         c == '?';
}

}  // namespace

bool IsPlainLabel(std::string_view operand) {
  const std::string_view text = Trim(operand);
  // One name that no notation reads as a number, as nearly every jump names:
  // answered without evaluating it.
  const bool number = !text.empty() && (text.front() == '$' || (text.front() >= '0' && text.front() <= '9'));
  if (!text.empty() && !number && std::ranges::all_of(text, IsSymbolChar)) return true;
  std::string label = LabelSymbolOf(operand);
  return !label.empty() && EqualsNoCase(label, text);
}

void TSymbols::iterator::Next() {
  std::size_t at = End;
  while (at < Text.size() && !IsSymbolChar(Text[at])) ++at;
  Start = at;
  while (at < Text.size() && IsSymbolChar(Text[at])) ++at;
  End = at;
}

TASMLabel& TASMLabelList::FindOrAdd(std::string_view name) {
  auto found = Labels.find(name);
  if (found != Labels.end()) return found->second;
  return Labels.emplace(std::string(name), TASMLabel{}).first->second;
}

const TASMLabel* TASMLabelList::Find(std::string_view name) const {
  auto found = Labels.find(name);
  return found == Labels.end() ? nullptr : &found->second;
}

void TASMLabelList::AddRef(std::string_view operand) {
  std::string symbol = LabelSymbolOf(operand);
  if (!symbol.empty()) ++FindOrAdd(symbol).RefCount;
}

void TASMLabelList::ReleaseRef(std::string_view operand) {
  std::string symbol = LabelSymbolOf(operand);
  if (!symbol.empty()) --FindOrAdd(symbol).RefCount;
}

std::int32_t TASMLabelList::RefCountOf(std::string_view name) { return FindOrAdd(name).RefCount; }

void TASMLabelList::Remove(std::string_view name) {
  auto found = Labels.find(name);
  if (found != Labels.end()) Labels.erase(found);
}

bool TASMLabelList::IsLabelRef(std::string_view operand) const {
  std::string symbol(Trim(SplitExpression(operand).Left));
  return !symbol.empty() && !std::isdigit(static_cast<unsigned char>(symbol.front())) && Find(symbol) != nullptr;
}

std::int32_t TASMLabelList::LineOf(std::string_view name, bool& nearby) const {
  nearby = false;
  const TASMLabel* label = Find(name);
  if (label == nullptr) return -1;
  if (label->LineIndex >= 0) return label->LineIndex;
  nearby = label->NearLine >= 0;
  return label->NearLine;
}

namespace {

bool DefinesLabel(const TLineList& lines, int index, std::string_view name) {
  const TLine* line = lines.Line(index);
  return line != nullptr && line->LineType != lt::Comment && EqualsNoCase(line->LabelName, name);
}

// Finds the line whose analysis-time index is `stored`. Stored indices grow
// along the list, so the search jumps by the difference between wanted and
// found index; lines inserted later (index 0) are stepped over.
int LocateStoredIndex(const TLineList& lines, std::int32_t stored, int& lastProbe) {
  int lo = 0, hi = lines.Count() - 1;
  int pos = std::clamp(static_cast<int>(stored), lo, std::max(hi, 0));
  lastProbe = -1;
  auto storedAt = [&](int p) { return lines.Line(p) == nullptr ? 0 : lines.Line(p)->LineIndex; };
  while (lo <= hi) {
    int p = pos;
    while (p <= hi && storedAt(p) <= 0) ++p;
    if (p > hi) {
      p = pos;
      while (p >= lo && storedAt(p) <= 0) --p;
      if (p < lo) break;
    }
    lastProbe = p;
    std::int32_t found = storedAt(p);
    if (found == stored) return p;
    if (found < stored) {
      lo = p + 1;
    } else {
      hi = p - 1;
    }
    if (lo > hi) break;
    pos = std::clamp(static_cast<int>(p + (stored - found)), lo, hi);
  }
  return -1;
}

}  // namespace

std::string NewGeneratedLabel(TLineList& lines) {
  for (;;) {
    char name[24];
    std::snprintf(name, sizeof name, "_CSE%4.4d", static_cast<int>(lines.CSECounter++));
    if (lines.Labels.Find(name) == nullptr) return name;
  }
}

int FindLabelLine(const TLineList& lines, std::string_view name) {
  bool nearby = false;
  std::int32_t stored = lines.Labels.LineOf(name, nearby);
  if (stored >= 1) {
    int lastProbe = -1;
    int pos = LocateStoredIndex(lines, stored, lastProbe);
    if (pos < 0 && nearby) pos = lastProbe;
    if (pos >= 0 && !nearby) {
      // Lines put in by a pass carry the index of the line they were put before.
      auto same = [&](int i) { return lines.Line(i) != nullptr && lines.Line(i)->LineIndex == stored; };
      for (int i = pos; i >= 0 && (i == pos || same(i)); --i)
        if (DefinesLabel(lines, i, name)) return i;
      for (int i = pos + 1; i < lines.Count() && same(i); ++i)
        if (DefinesLabel(lines, i, name)) return i;
    }
    if (pos >= 0 && nearby) {
      for (int i = std::min(pos, lines.Count() - 1); i >= 1; --i)
        if (DefinesLabel(lines, i, name)) return i;
    }
  }
  // The stored position is gone or no longer holds the label: look everywhere.
  for (int i = 0; i < lines.Count(); ++i)
    if (DefinesLabel(lines, i, name)) return i;
  return -1;
}

void InsertLabel(TLineList& lines, int at, std::string_view name) {
  std::int32_t following = at < lines.Count() && lines.Line(at) != nullptr ? lines.Line(at)->LineIndex : 0;
  lines.InsertLine(at);
  lines.SetLabelLine(at, name);
  lines.Labels.FindOrAdd(name).NearLine = following;
}

}  // namespace korvid
