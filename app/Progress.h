// The progress window as one line on stderr: Analysed, Iteration, Bytes Saved,
// Original Size, a "Saved %" bar and the status text, at most every 500 ms.
#pragma once
#include <chrono>
#include <string>

namespace korvid {

class TLineList;

// Formats the progress line; empty numbers while the savings are negative.
std::string FormatProgress(const TLineList& lines);

class TProgressDisplay {
 public:
  // Shown only when the mode shows the window and stderr is a terminal.
  TProgressDisplay(TLineList& lines, bool windowVisible);
  ~TProgressDisplay();
  TProgressDisplay(const TProgressDisplay&) = delete;
  TProgressDisplay& operator=(const TProgressDisplay&) = delete;

 private:
  void OnProcessMessages();

  TLineList& Lines;
  bool Visible;
  bool Shown = false;
  std::chrono::steady_clock::time_point LastRefresh;
};

}  // namespace korvid
