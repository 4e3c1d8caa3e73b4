#include <gtest/gtest.h>

#include "verify/Lowering.h"
#include "verify/gen/Generator.h"

namespace korvid::verify {
namespace {

TEST(Generator, DeterministicLowerableAndCoversTheIdioms) {
  EXPECT_EQ(gen::GenerateProgram(42), gen::GenerateProgram(42));
  EXPECT_NE(gen::GenerateProgram(42), gen::GenerateProgram(43));

  // Patterns the passes must meet in every soak run of a few dozen seeds.
  const std::vector<std::string> patterns = {
      ".LOOP\n        MOVW    R30,R28\n        ST      -Y,R31",  // loop head with the frame copy
      "ADIW    R28,",          ".RETURNS 2",          "LDD     R17,Y+",   "ST      -Y,R18",
      "PUSH    R20",           "        RET\n",        "SBRC    R20,",     "CPSE",
      "SBIS    GPIOR0",        "STD     Y+2,R18",      "ST      Z,R18",    "IJMP",
      "JMP     case",          "SLEEP",               "IN      R16,SREG", "ROL     R24",
      "SBIW    R24,1",         "\n.DEB\n",            ".OPTI ",          "w1lo",
      " AND 0FFh",             " SHRB 8",             "LD      R16,X+",   "ST      -Z,",
      "LDD     R16,Z+1",       "POP     R30",         "INC     R30",      "BSET",
      "OUT     PORTB,R16",     "LDI     R29,w",     "STS     vol,",        ".FRAME 4",        "hand.",
  };
  std::vector<int> seen(patterns.size(), 0);
  const Mcu& mcu = *FindMcu("atmega2560");
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    std::string program = gen::GenerateProgram(seed);
    EXPECT_NO_THROW(Lower(program, mcu)) << "seed " << seed;
    for (size_t i = 0; i < patterns.size(); ++i) seen[i] += program.find(patterns[i]) != std::string::npos;
  }
  for (size_t i = 0; i < patterns.size(); ++i) EXPECT_GT(seen[i], 0) << "never generated: " << patterns[i];
}

}  // namespace
}  // namespace korvid::verify
