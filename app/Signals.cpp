#include "app/Signals.h"

#include <unistd.h>

#include <csignal>

namespace korvid {

namespace {

volatile std::sig_atomic_t haltCount = 0;

extern "C" void OnInterrupt(int) {
  if (haltCount > 0) {
    static const char message[] = "\nkorvid: stopped; the input file is untouched\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(130);
  }
  haltCount = 1;
}

}  // namespace

void InstallHaltHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool HaltRequested() { return haltCount > 0; }

}  // namespace korvid
