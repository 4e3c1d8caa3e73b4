// Keeps the path searches, routine summaries and pointer targets answering
// for the program as it was when a pass began, while that pass only removes
// lines whose results are dead, loads of values a register already holds,
// overwritten stores and unreachable code, or shortens jumps. Such edits never
// make a value live that was dead, so the old answers still err towards
// "used" and "modified"; and a
// walk over the whole program no longer rebuilds the analysis after each edit.
// Line counts must not change while frozen.
#pragma once

namespace korvid {

class TLineList;

class TFrozenAnalysis {
 public:
  explicit TFrozenAnalysis(TLineList& lines);
  ~TFrozenAnalysis();
  TFrozenAnalysis(const TFrozenAnalysis&) = delete;
  TFrozenAnalysis& operator=(const TFrozenAnalysis&) = delete;

 private:
  TLineList& Lines;
};

}  // namespace korvid
