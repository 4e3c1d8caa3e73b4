// The label table: for every label name, where it stands and how many operands
// refer to it. A label whose count has fallen to 0 is unreferenced.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <string>
#include <string_view>
#include <vector>

namespace korvid {

class TLineList;

struct TASMLabel {
  std::int32_t RefCount = 0;
  // Index of the label's line when the program was analysed; -1 when not known.
  std::int32_t LineIndex = -1;
  // For a label inserted by a pass: the analysis-time index of the line after it.
  std::int32_t NearLine = 0;
};

struct TNoCaseLess {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};
// For hashed containers of names compared without regard to case.
struct TNoCaseHash {
  std::size_t operator()(std::string_view text) const;
  using is_transparent = void;
};
struct TNoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};

class TASMLabelList {
 public:
  TASMLabel& FindOrAdd(std::string_view name);
  TASMLabel& Define(std::string_view name) { return FindOrAdd(name); }
  const TASMLabel* Find(std::string_view name) const;
  // Counts a reference of an operand such as "lab", "buf+2" or "buf AND 0FFh";
  // numbers are no references.
  void AddRef(std::string_view operand);
  // Withdraws exactly what AddRef counted for the same operand.
  void ReleaseRef(std::string_view operand);
  std::int32_t RefCountOf(std::string_view name);
  void Remove(std::string_view name);
  bool IsLabelRef(std::string_view operand) const;
  // The analysis-time line of the label; `nearby` when only the line after an
  // inserted label is known. -1 for an unknown name.
  std::int32_t LineOf(std::string_view name, bool& nearby) const;
  std::size_t Count() const { return Labels.size(); }

 private:
  std::unordered_map<std::string, TASMLabel, TNoCaseHash, TNoCaseEqual> Labels;
};

// The label part of an operand that may refer to a label, or empty when the
// operand is a number or names nothing.
std::string LabelSymbolOf(std::string_view operand);
// The operand is a label alone, not "lab+2", a number or an expression.
bool IsPlainLabel(std::string_view operand);

// The name-like words of operand text ("v+4 AND 0FFh" -> "v", "AND", "0FFh"),
// found one after another as a loop asks for them: the analysis asks this of
// every line after every edit, so nothing is copied or allocated.
class TSymbols {
 public:
  class iterator {
   public:
    iterator(std::string_view text, std::size_t from) : Text(text), End(from) { Next(); }
    std::string_view operator*() const { return Text.substr(Start, End - Start); }
    iterator& operator++() {
      Next();
      return *this;
    }
    bool operator!=(const iterator& other) const { return Start != other.Start; }

   private:
    void Next();
    std::string_view Text;
    std::size_t Start = 0, End = 0;
  };
  explicit TSymbols(std::string_view text) : Text(text) {}
  iterator begin() const { return {Text, 0}; }
  iterator end() const { return {Text, Text.size()}; }

 private:
  std::string_view Text;
};
inline TSymbols SymbolsOf(std::string_view text) { return TSymbols(text); }

// A name for a label a pass makes: "_CSE" and the line list's next number,
// one that no label has yet.
std::string NewGeneratedLabel(TLineList& lines);

// The current index of the label's line, or -1.
int FindLabelLine(const TLineList& lines, std::string_view name);
// Inserts the label line "name:" at `at`, remembering the line after it.
void InsertLabel(TLineList& lines, int at, std::string_view name);

}  // namespace korvid
