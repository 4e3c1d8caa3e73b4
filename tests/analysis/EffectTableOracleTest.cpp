// The effect table against the instructions as simavr executes them: the table may
// claim more than the chip does, never less, and every write it claims must show.
#include <gtest/gtest.h>

#include <bitset>
#include <sstream>

#include "analysis/EffectTable.h"
#include "tests/analysis/AvrAssembler.h"
#include "tests/analysis/AvrOracle.h"
#include "tests/analysis/InstructionSamples.h"

namespace korvid {
namespace {

using test::TObservation;
using test::TSample;

constexpr int kTrials = 64;

bool Reads(TUsageSet use) { return use & (uRead | uModify); }
bool Writes(TUsageSet use) { return use & (uWrite | uModify); }

// What the line analysis makes of the entry for this line, in the oracle's terms.
TObservation Expected(const TInstrEffect& e, const TSample& s) {
  TObservation x;
  x.RegsRead = e.RegsRead;
  x.RegsWritten = e.RegsWritten;
  x.FlagsRead = e.FlagsRead;
  x.FlagsWritten = e.FlagsWritten;
  x.IoRead = e.IoRead;
  x.IoWritten = e.IoWritten;
  x.MemRead = e.Memory & mem::AnyDataRead;
  x.MemWritten = e.Memory & mem::AnyDataWrite;
  auto addOperand = [&](TOperandRole role, std::optional<std::int64_t> value) {
    if (!value) return;
    const int r = static_cast<int>(*value);
    std::uint32_t regs = 0;
    TUsageSet use = role.Use;
    if (role.Kind == OperandKind::Register) regs = RegBit(r);
    if (role.Kind == OperandKind::RegPair) regs = RegPairBits(r);
    if (role.Kind == OperandKind::Pointer) {
      regs = RegPairBits(r);
      use = s.Steps && (use & uModify) ? uModify : uRead;
    }
    if (Reads(use)) x.RegsRead |= regs;
    if (Writes(use)) x.RegsWritten |= regs;
  };
  addOperand(e.Op1, s.Op1);
  addOperand(e.Op2, s.Op2);
  return x;
}

template <typename T>
std::string Bits(T mask) {
  return std::bitset<sizeof(T) * 8>(static_cast<unsigned long long>(mask)).to_string();
}

// Bits in `observed` the table lacks, or bits the table has that never showed.
template <typename T>
void ExpectSubset(T inner, T outer, const char* what, const TSample& s) {
  EXPECT_EQ(inner & ~outer, T{0}) << s.Asm << ": " << what << "\n  missing " << Bits(T(inner & ~outer));
}

std::string FlowText(const TObservation& o) {
  std::ostringstream text;
  text << "fell through " << o.FellThrough << ", skipped " << o.Skipped << ", transferred " << o.Transferred;
  return text.str();
}

void CheckFlow(const TInstrEffect& e, const TObservation& o, const TSample& s) {
  const bool always = e.FlowKind & (flow::Jump | flow::Call);
  const bool conditional = e.FlowKind & flow::Conditional;
  const bool skip = e.FlowKind & flow::Skip;
  EXPECT_EQ(o.FellThrough, !always) << s.Asm << ": " << FlowText(o);
  EXPECT_EQ(o.Skipped, skip) << s.Asm << ": " << FlowText(o);
  EXPECT_EQ(o.Transferred, always || (conditional && !skip)) << s.Asm << ": " << FlowText(o);
}

TEST(EffectTableOracle, MatchesSimulatedInstructions) {
  test::TAvrOracle* oracle = test::TAvrOracle::Get();
  if (!oracle) GTEST_SKIP() << "simavr is not available";
  std::string error;
  const auto& code = test::AssembledSamples(error);
  if (!code) GTEST_SKIP() << error;
  const auto samples = test::InstructionSamples();
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const TSample& s = samples[i];
    if (!s.Simulated) continue;
    const TInstrEffect e = ResolveOperands(*FindEffectByMnemonic(s.Mnemonic, test::HasOperands(s)), s.Op1, s.Op2);
    const TObservation x = Expected(e, s);
    const TObservation o = oracle->Observe((*code)[i], kTrials, static_cast<unsigned>(i + 1));
    ExpectSubset(o.RegsWritten, x.RegsWritten, "register written", s);
    ExpectSubset(o.FlagsWritten, x.FlagsWritten, "flag written", s);
    ExpectSubset(o.IoWritten, x.IoWritten, "I/O written", s);
    EXPECT_TRUE(!o.MemWritten || x.MemWritten) << s.Asm << ": memory written";
    ExpectSubset(o.RegsRead, x.RegsRead, "register read", s);
    ExpectSubset(o.FlagsRead, x.FlagsRead, "flag read", s);
    ExpectSubset(o.IoRead, x.IoRead, "I/O read", s);
    EXPECT_TRUE(!o.MemRead || x.MemRead) << s.Asm << ": memory read";
    if (!e.SideEffect) {
      ExpectSubset(x.RegsWritten, o.RegsWritten, "register write never seen", s);
      ExpectSubset(x.FlagsWritten, o.FlagsWritten, "flag write never seen", s);
    }
    CheckFlow(e, o, s);
  }
}

}  // namespace
}  // namespace korvid
