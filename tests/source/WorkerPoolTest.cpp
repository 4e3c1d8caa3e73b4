#include "source/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace korvid {
namespace {

TEST(WorkerPoolTest, EveryIndexIsHandledExactlyOnceByItsStrideThread) {
  for (auto [threads, first, last] : {std::tuple{8, 0, 19}, {8, 5, 7}, {3, 0, 999}, {4, 3, 2}}) {
    TParallel pool(threads);
    std::vector<std::atomic<int>> seen(1000);
    pool.Run([&](int index) { seen[index]++; }, first, last);
    pool.Wait();
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[i], i >= first && i <= last ? 1 : 0) << i;
  }
}

}  // namespace
}  // namespace korvid
