// Signals that end or interrupt the process. Ctrl-C is the halt button during an
// optimisation run: the first one asks the run to stop iterating and finish its
// closing steps; the second ends the process at once. Whatever ends the process
// by a signal first removes the temporary files registered here.
#pragma once
#include <string>

namespace korvid {

// Removes registered files on SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGABRT, then
// dies of the signal (the shell sees 128 + its number: 130 for Ctrl-C).
void InstallCleanupHandler();
// As InstallCleanupHandler, but the first Ctrl-C only asks the run to halt.
void InstallHaltHandler();
bool HaltRequested();

// Tells the handler that a progress line stands on the terminal, so its
// messages start on a cleared line.
void SetProgressLineShown(bool shown);
// Once the program file is replaced, a second Ctrl-C no longer says "untouched".
void NoteProgramReplaced();

// A temporary file or folder that a signal must not leave behind, registered
// for as long as this object lives. Folders go after files, so a folder whose
// files are registered too ends up removed. Removing it on the ordinary way out
// stays the owner's job.
class TRemoveOnSignal {
 public:
  TRemoveOnSignal() = default;
  explicit TRemoveOnSignal(const std::string& path, bool folder = false);
  ~TRemoveOnSignal();
  TRemoveOnSignal(const TRemoveOnSignal&) = delete;
  TRemoveOnSignal& operator=(const TRemoveOnSignal&) = delete;

 private:
  int Slot = -1;
};

}  // namespace korvid
