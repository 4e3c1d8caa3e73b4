// Every input the fuzzers once broke the optimiser with, run the way the fuzzers run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fuzz/Harness.h"

namespace korvid {
namespace {

TEST(FuzzCorpus, EveryReproducerIsLoadedAndOptimisedOrCleanlyRejected) {
  const std::filesystem::path folder = std::filesystem::path(KORVID_SOURCE_DIR) / "tests" / "fuzz-corpus";
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NO_THROW(fuzz::OptimiseText(text.str()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0) << "no reproducers in " << folder;
}

}  // namespace
}  // namespace korvid
