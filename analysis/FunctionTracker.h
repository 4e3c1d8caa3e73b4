// Finds the routines while the line analysis walks the program once: creates
// them at ".FUNC", hands them their lines, follows the frame-pointer watch and
// ends them at ".ENDFUNC" or ".ENDCODE". Broken routine structure is warned
// about and leaves every line in at most one routine.
#pragma once
#include <cstdint>
#include <string>

namespace korvid {

class TFunction;
class TLineList;
struct TLine;

class TFunctionTracker {
 public:
  explicit TFunctionTracker(TLineList& lines) : Lines(lines) {}

  // Call for every line in order, after AnalyseLine and after the line got its
  // source file and line number.
  void AfterLine(int index);
  // Call after the last line: warns about a routine left open.
  void Finish();

  TFunction* Current() const { return CurrentFunc; }
  // The frame-pointer watch (stored in a RET line's Value).
  bool FrameWatchOn() const { return FrameWatch; }
  // A RET while return-register checking is off.
  void StopFrameWatch() { FrameWatch = false; }
  // ".RETURNS" while NO_CHECK_RETURN_REGS is not in force.
  void SetReturns(const TLine& line);

 private:
  void StartFunction(TLine& line, int index);
  void Warn(const std::string& message, const TLine& line, int index);

  TLineList& Lines;
  TFunction* CurrentFunc = nullptr;
  int CurrentHeader = -1;
  bool FrameWatch = false;
  std::string SourceFile;
};

}  // namespace korvid
