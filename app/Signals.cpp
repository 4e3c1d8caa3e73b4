#include "app/Signals.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace korvid {

namespace {

// The handler may neither allocate nor lock, so paths live in fixed slots.
enum : int { kFree, kFilling, kArmed };
struct TSlot {
  std::atomic<int> State{kFree};
  bool Folder = false;
  char Path[PATH_MAX];
};
constexpr int kSlotCount = 32;
TSlot slots[kSlotCount];

volatile std::sig_atomic_t haltCount = 0;
volatile std::sig_atomic_t haltMode = 0;
volatile std::sig_atomic_t progressShown = 0;
volatile std::sig_atomic_t programReplaced = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT};

void Say(const char* text) {
  if (progressShown) {
    static const char clear[] = "\r\033[K";
    (void)!write(STDERR_FILENO, clear, sizeof clear - 1);
  }
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  (void)!write(STDERR_FILENO, text, length);
}

void RemoveRegistered() {
  for (bool folders : {false, true})
    for (TSlot& slot : slots)
      if (slot.State.load() == kArmed && slot.Folder == folders) {
        if (folders)
          rmdir(slot.Path);
        else
          unlink(slot.Path);
      }
}

extern "C" void OnSignal(int signal) {
  if (signal == SIGINT && haltMode && haltCount == 0) {
    haltCount = 1;
    Say("korvid: stopping after this step; Ctrl-C again quits without writing\n");
    return;
  }
  RemoveRegistered();
  if (signal == SIGINT && haltMode)
    Say(programReplaced ? "korvid: stopped; the optimised program was already written, reports may be missing\n"
                        : "korvid: stopped; the input file is untouched\n");
  // Dying of the signal itself lets the caller (a shell loop, make) see why.
  std::signal(signal, SIG_DFL);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal);
  pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
  std::raise(signal);
  _exit(128 + signal);
}

}  // namespace

void InstallCleanupHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // One handler at a time: a cleanup is never cut short by the next signal.
  for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
}

void InstallHaltHandler() {
  haltMode = 1;
  InstallCleanupHandler();
}

bool HaltRequested() { return haltCount > 0; }

void SetProgressLineShown(bool shown) { progressShown = shown ? 1 : 0; }

void NoteProgramReplaced() { programReplaced = 1; }

TRemoveOnSignal::TRemoveOnSignal(const std::string& path, bool folder) {
  if (path.size() >= PATH_MAX) return;
  for (int i = 0; i < kSlotCount; ++i) {
    int expected = kFree;
    if (!slots[i].State.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].Path, path.c_str(), path.size() + 1);
    slots[i].Folder = folder;
    slots[i].State.store(kArmed);
    Slot = i;
    return;
  }
}

TRemoveOnSignal::~TRemoveOnSignal() {
  if (Slot >= 0) slots[Slot].State.store(kFree);
}

}  // namespace korvid
