// Ctrl-C as the halt button: the first one asks the run to stop iterating and
// finish its closing steps; the second ends the process at once, before any
// file is replaced.
#pragma once

namespace korvid {

void InstallHaltHandler();
bool HaltRequested();

}  // namespace korvid
