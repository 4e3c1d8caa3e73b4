// Where each label of the program stands, found without regard to case and
// without building a string per question: the searches, the routine summaries
// and the position check all resolve jump targets through it once per
// generation of the program.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "source/Labels.h"

namespace korvid {

class TLineList;

class TLabelIndex {
 public:
  explicit TLabelIndex(const TLineList& lines);

  // The first line defining the label; -1 when none does.
  int LineOf(std::string_view name) const;
  // The line defining the label; -1 also when more than one does, so a jump
  // to it lands nowhere certain.
  int UniqueLineOf(std::string_view name) const;
  // Every defined label, once, with its first line.
  template <typename TVisit>
  void ForEach(TVisit visit) const {
    for (const auto& [name, entry] : Entries) visit(name, entry.Line);
  }

  // The line list's Generation and size when this was built.
  std::uint64_t Generation = 0;
  int LineCount = -1;

 private:
  struct TEntry {
    int Line;
    bool Ambiguous;
  };

  // The names, one after another; the keys below view into it.
  std::string Names;
  std::unordered_map<std::string_view, TEntry, TNoCaseHash, TNoCaseEqual> Entries;
};

// Shared, so an answer built on it may keep it.
const std::shared_ptr<const TLabelIndex>& CurrentLabelIndex(const TLineList& lines);

}  // namespace korvid
