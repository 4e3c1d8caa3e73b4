// What one run of the optimiser was asked to do and how far it has got: the
// mode, the directives in force, the progress the display shows, and whether
// the run has aborted. Passes read it; the driver and the shell change it.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "source/Directives.h"

namespace korvid {

class TSpecialDebugHook;

struct TRun {
  bool QuickOpt = false;
  bool OptimiseEnabled = true;
  bool AllowInline = true;
  bool Interactive = false;
  TDirectiveFlags Directives;
  std::chrono::system_clock::time_point LoadTime;

  std::int32_t Iteration = 0;
  std::string StatusText;
  bool DisplayChanged = false;
  std::int32_t ProgressIndex = 0;
  // Lets the shell refresh progress and notice the halt request.
  std::function<void()> OnProcessMessages;
  void ProcessMessages() {
    if (OnProcessMessages) OnProcessMessages();
  }

  // Read by the parse workers, so it is atomic; it only ever goes from false to true.
  std::atomic<bool> Aborted = false;

  // Asked by the driver when the program asks for the special debug mode;
  // none: the mode is not available and the whole program is optimised.
  TSpecialDebugHook* SpecialDebug = nullptr;

  // Faults the mutation test puts into the analysis on purpose, to show that the random
  // programs and the simulation check catch them; never set in a run.
  struct TInjectedFaults {
    bool CallsKeepFlags = false;           // a call no longer counts the flags its routine writes
    bool CallsKeepAddressTaken = false;    // nor the registers it may write through a pointer
    bool LongBranchesAlwaysReach = false;  // RJMP/RCALL reach is never checked
  } InjectedFaults;
};

}  // namespace korvid
