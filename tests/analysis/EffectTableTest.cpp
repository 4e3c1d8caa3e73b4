// Lookups of the effect table and the operand-dependent effects.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/EffectTable.h"

namespace korvid {
namespace {

using std::nullopt;

TEST(EffectTable, LookupByTypeAndMnemonic) {
  for (int t = 1; t <= 111; ++t) {
    const TInstrEffect* e = FindEffect(static_cast<TLineType>(t));
    ASSERT_NE(e, nullptr) << t;
    EXPECT_EQ(e->Type, t);
    EXPECT_EQ(FindEffectByMnemonic(e->Mnemonic), e) << e->Mnemonic;
  }
  for (TLineType t : {lt::Unknown, lt::Label, lt::OtherText, lt::Comment, lt::Blank, TLineType{200}})
    EXPECT_EQ(FindEffect(t), nullptr) << int(t);

  EXPECT_EQ(FindEffect(lt::LPM, false)->RegsWritten, RegBit(0));
  EXPECT_EQ(FindEffect(lt::ELPM, false)->RegsWritten, RegBit(0));
  EXPECT_EQ(FindEffect(lt::LPM, true)->Op1.Kind, OperandKind::Register);

  EXPECT_EQ(FindEffectByMnemonic("brie")->Type, lt::BRIE);
  EXPECT_EQ(FindEffectByMnemonic("Cln")->FlagsWritten, sreg::N);
  EXPECT_EQ(FindEffectByMnemonic("SLEEP")->Size, 2);
  EXPECT_EQ(FindEffectByMnemonic("lpm", false), FindEffect(lt::LPM, false));
  EXPECT_EQ(FindEffectByMnemonic("FOO"), nullptr);
  EXPECT_EQ(FindEffectByMnemonic(".EQU"), nullptr);
}

TEST(EffectTable, UnknownReadsAndWritesEverything) {
  const TInstrEffect& e = UnknownEffect();
  EXPECT_TRUE(e.Unknown);
  EXPECT_EQ(e.Size, 2);
  EXPECT_EQ(e.FlagsRead & e.FlagsWritten, sreg::All);
  EXPECT_EQ(e.RegsRead & e.RegsWritten, AllRegisters);
  EXPECT_EQ(e.IoRead & e.IoWritten, io::All);
  EXPECT_EQ(e.Memory, mem::All);
}

TEST(EffectTable, OperandValues) {
  struct Case {
    const char* Mnemonic;
    std::optional<std::int64_t> Op1, Op2;
    std::uint8_t FlagsRead, FlagsWritten;
    std::uint32_t RegsRead = 0, RegsWritten = 0;
  };
  const Case cases[] = {
      {"IN", 16, 0x3F, sreg::All, 0},
      {"IN", 16, 0x1E, 0, 0},
      {"IN", 16, nullopt, sreg::All, 0},
      {"OUT", 0x3F, 16, 0, sreg::All},
      {"OUT", 0x3D, 16, 0, 0},
      {"OUT", nullopt, 16, sreg::All, sreg::All},  // may be SREG: not a kill
      {"LDS", 16, 0x5F, sreg::All, 0},
      {"LDS", 16, 0x05, 0, 0, RegBit(5)},
      {"LDS", 16, nullopt, 0, 0},
      {"STS", 0x5F, 16, 0, sreg::All},
      {"STS", 0x1F, 16, 0, 0, 0, RegBit(31)},
      {"BRBS", 1, nullopt, sreg::Z, 0},
      {"BRBC", nullopt, nullopt, sreg::All, 0},
      {"BSET", 6, nullopt, 0, sreg::T},
      {"BCLR", nullopt, nullopt, sreg::All, sreg::All},
      {"SBIS", nullopt, 3, 0, 0},  // bit-addressed I/O never reaches SREG
  };
  for (const Case& c : cases) {
    const TInstrEffect e = ResolveOperands(*FindEffectByMnemonic(c.Mnemonic), c.Op1, c.Op2);
    const std::string what = std::string(c.Mnemonic) + " " + std::to_string(c.Op1.value_or(-1)) + "," +
                             std::to_string(c.Op2.value_or(-1));
    EXPECT_EQ(e.FlagsRead, c.FlagsRead) << what;
    EXPECT_EQ(e.FlagsWritten, c.FlagsWritten) << what;
    EXPECT_EQ(e.RegsRead, c.RegsRead) << what;
    EXPECT_EQ(e.RegsWritten, c.RegsWritten) << what;
    EXPECT_EQ((e.FlowKind & flow::ReadsFlags) != 0, e.FlagsRead != 0) << what;
    EXPECT_EQ((e.FlowKind & flow::SetsFlags) != 0, e.FlagsWritten != 0) << what;
  }
}

// An entry looked up without operand values must cover every value an I/O or
// status-bit operand can take.
TEST(EffectTable, UnresolvedEntryCoversEveryValue) {
  std::vector<const TInstrEffect*> entries{FindEffectByMnemonic("BSET"), FindEffectByMnemonic("BCLR")};
  for (int t = 0; t < lt::Count; ++t)
    if (const TInstrEffect* e = FindEffect(static_cast<TLineType>(t))) entries.push_back(e);
  for (const TInstrEffect* raw : entries) {
    for (int v = 0; v < 64; ++v) {
      const auto value = [&](TOperandRole r) -> std::optional<std::int64_t> {
        return r.Kind == OperandKind::Io || r.Kind == OperandKind::StatusBit ? std::optional<std::int64_t>(v)
                                                                             : nullopt;
      };
      const TInstrEffect e = ResolveOperands(*raw, value(raw->Op1), value(raw->Op2));
      EXPECT_EQ(e.FlagsRead & ~raw->FlagsRead, 0) << raw->Mnemonic << " " << v;
      EXPECT_EQ(e.FlagsWritten & ~raw->FlagsWritten, 0) << raw->Mnemonic << " " << v;
      EXPECT_EQ(e.IoRead & ~raw->IoRead, 0u) << raw->Mnemonic << " " << v;
      EXPECT_EQ(e.IoWritten & ~raw->IoWritten, 0u) << raw->Mnemonic << " " << v;
    }
  }
}

}  // namespace
}  // namespace korvid
