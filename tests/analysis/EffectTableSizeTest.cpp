// Sizes of the effect table against what the GNU assembler encodes.
#include <gtest/gtest.h>

#include <set>

#include "analysis/EffectTable.h"
#include "tests/analysis/AvrAssembler.h"
#include "tests/analysis/InstructionSamples.h"

namespace korvid {
namespace {

using test::InstructionSamples;
using test::TSample;

const TInstrEffect* EntryOf(const TSample& s) { return FindEffectByMnemonic(s.Mnemonic, test::HasOperands(s)); }

TEST(EffectTableSize, EveryInstructionTypeHasASample) {
  std::set<int> sampled;
  for (const TSample& s : InstructionSamples()) {
    const TInstrEffect* e = EntryOf(s);
    ASSERT_NE(e, nullptr) << s.Mnemonic;
    sampled.insert(e->Type);
  }
  // ESPM is no AVR instruction: nothing encodes it.
  for (int t = 1; t <= 111; ++t) {
    EXPECT_TRUE(t == lt::ESPM || sampled.contains(t)) << "line type " << t << " has no sample";
  }
  EXPECT_TRUE(sampled.contains(lt::BREAK));
  EXPECT_TRUE(sampled.contains(lt::Unknown)) << "the untyped mnemonics";
}

TEST(EffectTableSize, MatchesAssembler) {
  std::string error;
  const auto& code = test::AssembledSamples(error);
  if (!code) GTEST_SKIP() << error;
  const auto samples = InstructionSamples();
  for (std::size_t i = 0; i < samples.size(); ++i)
    EXPECT_EQ(EntryOf(samples[i])->Size, (*code)[i].size()) << samples[i].Asm;
}

}  // namespace
}  // namespace korvid
