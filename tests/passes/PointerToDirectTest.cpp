// Direct access for a dead pointer: where it fires and the near misses where
// the pointer, its flags or its lines must stay; every case is simulated.
#include "passes/PointerToDirect.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::TCase;

// Main calls f, whose body is `body`, and loads X and Z afresh after it: only f's return
// registers (`returns`, none for an unknown return) are read of what f leaves.
std::string CallingF(const std::string& body, const std::string& returns = ".RETURNS 2\n") {
  return testing::Program(" RCALL f\n STS v,R16\n STS u,R17\n LDI R30,1\n LDI R31,2\n LDI R26,3\n LDI R27,4\n",
                          ".FUNC f\n" + returns + "f:\n LDI R17,7\n" + body + " RET\n.ENDFUNC\n");
}

const std::string kZ = " LDI R30,w AND 0FFh\n LDI R31,w SHRB 8\n";

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(PointerToDirect, cases); }

TEST(PointerToDirect, AccessesThroughADeadPointerBecomeDirect) {
  ExpectCases({
      {"displaced load and store", CallingF(kZ + " LDD R16,Z+2\n ST Z,R17\n"), {" LDI R30,w AND 0FFh"},
       {" LDS R16, w + 2", " STS w, R17"}},
      {"post-increment", CallingF(kZ + " LD R16,Z+\n LD R17,Z\n"), {" LD R16,Z+"},
       {" LDS R16, w", " LDS R17, w + 1"}},
      {"pre-decrement through X", CallingF(" LDI R26,w+2 AND 0FFh\n LDI R27,w+2 SHRB 8\n ST -X,R17\n"),
       {" ST -X,R17"}, {" STS w + 1, R17"}},
      {"ADIW between, its flags set again", CallingF(kZ + " LD R16,Z\n ADIW R30,1\n LD R17,Z\n CP R16,R17\n"),
       {" ADIW R30,1"}, {" LDS R16, w", " LDS R17, w + 1"}},
  });
}

TEST(PointerToDirect, ThePointerStaysWhereAnythingMaySeeIt) {
  ExpectCases({
      {"pointer read after", CallingF(kZ + " LD R16,Z\n MOVW R24,R30\n STS wlo,R24\n"), {}, {" LD R16,Z"}},
      {"return size unknown", CallingF(kZ + " LD R16,Z\n", ";\n"), {}, {" LD R16,Z"}},
      {"ADIW flags read", CallingF(kZ + " LD R16,Z\n ADIW R30,1\n LD R17,Z\n"), {}, {" ADIW R30,1"}},
      {"the pair stored through itself", CallingF(kZ + " ST Z,R30\n"), {}, {" ST Z,R30"}},
      {"LPM through Z", CallingF(kZ + " LD R16,Z\n LPM\n"), {}, {" LD R16,Z"}},
      {"growth: three accesses", CallingF(kZ + " LD R16,Z\n LDD R17,Z+1\n LDD R18,Z+2\n STS wlo,R18\n"), {},
       {" LD R16,Z"}},
      {"skipped load", CallingF(" SBRC R17,0\n" + kZ + " LD R16,Z\n"), {}, {" LD R16,Z"}},
      {"switched off", CallingF(".OPTI NO_OPT_LDS_STS\n" + kZ + " LD R16,Z\n"), {}, {" LD R16,Z"}},
  });
}

}  // namespace
}  // namespace korvid
