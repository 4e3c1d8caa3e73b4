// A small pool of threads running one task over an index range, each thread
// taking every n-th index, so all threads work near the start of the range
// where the in-order consumer waits.
#pragma once
#include <functional>
#include <thread>
#include <vector>

namespace korvid {

class TParallel {
 public:
  using TTask = std::function<void(int)>;

  explicit TParallel(int threadCount = DefaultThreadCount());
  ~TParallel();
  TParallel(const TParallel&) = delete;
  TParallel& operator=(const TParallel&) = delete;

  // Starts the threads on first..last (inclusive) and returns at once. The
  // task must catch its own exceptions.
  void Run(TTask task, int first, int last);
  // Waits until the threads of the last Run are done.
  void Wait();
  int ThreadCount() const { return Count; }

  // The parse threads a load gains from: one. Parsing is about a tenth of a
  // load and the analysis consuming it in order the rest, so one thread beside
  // the main thread stays ahead of it; more only compete with the main thread
  // for the cores (eight were 0.81x of one on two cores).
  static int DefaultThreadCount();

 private:
  int Count;
  std::vector<std::thread> Threads;
};

}  // namespace korvid
