// Each fold with the program where it fires and the near misses where it must
// not; every case is also simulated.
#include "passes/AddressConstantFolding.h"

#include <gtest/gtest.h>

#include <string>

#include "../passes/MainProgram.h"
#include "../passes/PassCases.h"

namespace korvid {
namespace {

using testing::Program;
using testing::TCase;

// Loads `low` and `high` into Z, adjusts it, stores 9 where it points and sets every flag again.
std::string ThroughZ(const std::string& low, const std::string& high, const std::string& adjust) {
  return Program(" LDI R30," + low + "\n LDI R31," + high + "\n" + adjust + " LDI R16,9\n ST Z,R16\n CP R16,R17\n");
}

void ExpectCases(const std::vector<TCase>& cases) { testing::ExpectCases(FoldAddressConstants, cases); }

TEST(AddressConstantFolding, AdiwAndSbiwFoldIntoTheLoads) {
  ExpectCases({
      {"ADIW", ThroughZ("w AND 0FFh", "w SHRB 8", " ADIW R30,1\n"), {" ADIW R30,1"},
       {" LDI R30, w + 1 AND 0FFh", " LDI R31, w + 1 SHRB 8"}},
      {"SBIW back to the bare symbol", ThroughZ("w+2 AND 0FFh", "w+2 SHRB 8", " SBIW R30,2\n"), {" SBIW R30,2"},
       {" LDI R30, w AND 0FFh", " LDI R31, w SHRB 8"}},
      {"high byte first, offset in hex", Program(" LDI R27,w+10h SHRB 8\n LDI R26,w+10h AND 0FFh\n SBIW R26,1\n"
                                                 " LDI R16,9\n ST X,R16\n CP R16,R17\n"),
       {" SBIW R26,1"}, {" LDI R26, w + 15 AND 0FFh"}},
      {"label before the adjustment", ThroughZ("w AND 0FFh", "w SHRB 8", "L:\n ADIW R30,1\n"), {}, {" ADIW R30,1"}},
      {"carry read after", ThroughZ("w AND 0FFh", "w SHRB 8", " ADIW R30,1\n BRCS c\n INC R17\nc:\n"), {},
       {" ADIW R30,1"}},
      {"different offsets", ThroughZ("w AND 0FFh", "w+1 SHRB 8", " ADIW R30,1\n"), {}, {" ADIW R30,1"}},
      {"offset that is no number", ThroughZ("w+u AND 0FFh", "w+u SHRB 8", " ADIW R30,1\n"), {}, {" ADIW R30,1"}},
      {"skipped load", Program(" SBRC R17,0\n LDI R30,w AND 0FFh\n LDI R31,w SHRB 8\n ADIW R30,1\n LDI R16,9\n"
                               " ST Z,R16\n CP R16,R17\n"),
       {}, {" ADIW R30,1"}},
      {"switched off", Program(".OPTI NO_OPT_OFFSET_LOADS\n LDI R30,w AND 0FFh\n LDI R31,w SHRB 8\n ADIW R30,1\n"
                               " LDI R16,9\n ST Z,R16\n CP R16,R17\n"),
       {}, {" ADIW R30,1"}},
  });
}

TEST(AddressConstantFolding, SubiSbciFoldIntoTheLoads) {
  auto throughX = [](const std::string& low, const std::string& high) {
    return Program(" LDI R26,w AND 0FFh\n LDI R27,w SHRB 8\n SUBI R26," + low + "\n SBCI R27," + high +
                   "\n LDI R16,9\n ST X,R16\n CP R16,R17\n");
  };
  ExpectCases({
      {"negative constant", throughX("-1 AND 0FFh", "-1 SHRB 8"), {" SUBI R26,-1 AND 0FFh"},
       {" LDI R26, w + 1 AND 0FFh", " LDI R27, w + 1 SHRB 8"}},
      {"positive constant", throughX("2 AND 0FFh", "2 SHRB 8"), {" SBCI R27,2 SHRB 8"}, {" LDI R26, w - 2 AND 0FFh"}},
      {"mask other than 0FFh", throughX("1 AND 07Fh", "1 SHRB 8"), {}, {" SUBI R26,1 AND 07Fh"}},
      {"different constants", throughX("1 AND 0FFh", "2 SHRB 8"), {}, {" SUBI R26,1 AND 0FFh"}},
  });
}

}  // namespace
}  // namespace korvid
