// Tests that simulate: skipped when the assembler or simulator is missing.
#pragma once
#include <gtest/gtest.h>

#include "verify/Toolchain.h"

namespace korvid::testing {

class TToolchainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    try {
      verify::RequireToolchain();
    } catch (const verify::MissingToolError& e) {
      GTEST_SKIP() << e.what();
    }
  }
};

}  // namespace korvid::testing
