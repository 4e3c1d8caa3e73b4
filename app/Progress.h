// The progress window as one line on stderr: lines analysed, iteration, bytes
// saved of the original size and the status text, fitted to the terminal's
// width and refreshed at most every 500 ms.
#pragma once
#include <chrono>
#include <memory>
#include <string>

namespace korvid {

class TLineList;

struct TProgressState {
  std::int32_t Analysed = 0;
  bool SizesKnown = false;  // false while loading: no savings to show yet
  std::int32_t Iteration = 0;
  std::int32_t Saved = 0;
  std::int32_t Original = 0;
  std::string Status;
};

TProgressState ProgressState(const TLineList& lines);
// The line in at most width - 1 characters, so the terminal never wraps it:
// the labels shorten and the bar goes first, then the status is cut.
std::string FormatProgress(const TProgressState& state, int width);

class TProgressDisplay {
 public:
  // Shown only when the mode shows the window and stderr is a terminal.
  TProgressDisplay(TLineList& lines, bool windowVisible);
  // Clears the line, so the shell's prompt or the next message starts clean.
  ~TProgressDisplay();
  TProgressDisplay(const TProgressDisplay&) = delete;
  TProgressDisplay& operator=(const TProgressDisplay&) = delete;

 private:
  class TClearingBuffer;

  void OnProcessMessages();
  void Clear();

  TLineList& Lines;
  bool Visible;
  bool Shown = false;
  std::chrono::steady_clock::time_point LastRefresh;
  // Stands in for std::cerr's buffer while the line is visible.
  std::unique_ptr<TClearingBuffer> CerrBuffer;
};

}  // namespace korvid
