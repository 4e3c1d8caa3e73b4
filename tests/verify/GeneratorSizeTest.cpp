#include <gtest/gtest.h>

#include <algorithm>

#include "verify/Lowering.h"
#include "verify/Mcu.h"
#include "verify/gen/Generator.h"

namespace korvid::verify::gen {
namespace {

// Large programs must stay well formed: unique labels, one main, a closing .END.
TEST(GeneratorSize, ProgramOfRequestedLinesStillLowers) {
  GenOptions options;
  options.lines = 20'000;
  const std::string text = GenerateProgram(3, options);
  EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 20'000);
  EXPECT_TRUE(text.ends_with(".END\n"));
  EXPECT_NO_THROW(Lower(text, *FindMcu("atmega2560")));
}

TEST(GeneratorSize, LineTargetDoesNotChangeSmallPrograms) {
  GenOptions small;
  small.lines = 10;
  EXPECT_EQ(GenerateProgram(5, small), GenerateProgram(5));
}

}  // namespace
}  // namespace korvid::verify::gen
