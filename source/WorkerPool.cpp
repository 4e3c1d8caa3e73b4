#include "source/WorkerPool.h"

#include <algorithm>

namespace korvid {

int TParallel::DefaultThreadCount() { return 1; }

TParallel::TParallel(int threadCount) : Count(std::max(1, threadCount)) {}

TParallel::~TParallel() { Wait(); }

void TParallel::Run(TTask task, int first, int last) {
  Wait();
  for (int k = 0; k < Count; ++k) {
    // Threads whose share is empty are not started at all.
    if (first + k > last) break;
    Threads.emplace_back([task, start = first + k, last, stride = Count] {
      for (long long index = start; index <= last; index += stride) task(static_cast<int>(index));
    });
  }
}

void TParallel::Wait() {
  for (auto& thread : Threads)
    if (thread.joinable()) thread.join();
  Threads.clear();
}

}  // namespace korvid
