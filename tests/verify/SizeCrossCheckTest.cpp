// The sizes the analysis gives every line must be what the real assembler makes
// of it: branch reach and every saving are computed from them.
#include <gtest/gtest.h>

#include "source/LineList.h"
#include "verify/Lowering.h"
#include "verify/Mcu.h"
#include "verify/Toolchain.h"
#include "verify/gen/Generator.h"

namespace korvid {
namespace {

// Bytes per program line as assembled: the distance to the next instruction's address.
std::map<int, int> AssembledSizes(const std::string& program) {
  const verify::Mcu& mcu = *verify::FindMcu("atmega2560");
  verify::LoweredProgram lowered = verify::Lower(program, mcu);
  verify::Image image = verify::Assemble(lowered, mcu);
  std::map<int, int> sizes;
  for (auto it = image.addressToLine.begin(); it != image.addressToLine.end(); ++it) {
    auto next = std::next(it);
    if (next == image.addressToLine.end()) break;
    const verify::SourceLine& line = lowered.lines[it->second];
    if (!line.runtime) sizes[line.number - 1] = static_cast<int>(next->first - it->first);
  }
  return sizes;
}

TEST(SizeCrossCheckTest, AnalysedSizesEqualAssembledSizes) {
  try {
    verify::RequireToolchain();
  } catch (const verify::MissingToolError& missing) {
    GTEST_SKIP() << missing.what();
  }
  for (std::uint64_t seed = 1; seed <= 15; ++seed) {
    std::string program = verify::gen::GenerateProgram(seed);
    TLineList lines;
    lines.LoadFromText(program);
    std::map<int, int> assembled = AssembledSizes(program);
    ASSERT_FALSE(assembled.empty());
    // Data lines have no address of their own: they count to the instruction before them.
    for (auto it = assembled.begin(); it != assembled.end(); ++it) {
      const int end = std::next(it) == assembled.end() ? lines.Count() : std::next(it)->first;
      int analysed = lines.Line(it->first)->Size;
      for (int k = it->first + 1; k < end; ++k) analysed += lines.Line(k)->DataSize > 0 ? lines.Line(k)->Size : 0;
      EXPECT_EQ(analysed, it->second) << "seed " << seed << ": " << lines.Text(it->first);
    }
    // And no line takes room that the assembler does not give it; the last
    // instruction has no address after it to be sized by.
    int last = lines.Count() - 1;
    while (last >= 0 && lines.Line(last)->Size == 0) --last;
    for (int i = 0; i < last; ++i) {
      if (lines.Line(i)->Size > 0 && lines.Line(i)->DataSize == 0) {
        EXPECT_TRUE(assembled.count(i)) << "seed " << seed << ": " << lines.Text(i);
      }
    }
  }
}

}  // namespace
}  // namespace korvid
