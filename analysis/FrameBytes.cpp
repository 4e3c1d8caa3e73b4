// The life of one byte of the Y frame after a store to it, for the question
// whether the store is still read. A frame byte is known only by its
// displacement from Y, so the byte is followed only while Y stays as it was:
// whatever moves Y, or copies it where the path search cannot follow the
// copy, ends the search as a read.
#include "analysis/Analysis.h"
#include "analysis/ForwardSearch.h"
#include "analysis/SearchCache.h"
#include "source/LineList.h"

namespace korvid {

namespace {

constexpr TRegFlagSet kY = RegisterBit(28) | RegisterBit(29);

// The byte as bit 0 of the path search.
class TFrameByteEffects final : public TQueryEffects {
 public:
  TFrameByteEffects(const TAnalysis& facts, std::int64_t q, bool followTransfers)
      : Facts(facts), Byte{.Kind = TMemoryAccess::TKind::Frame, .Start = q, .Size = 1}, Follow(followTransfers) {}

  TLineBits Bits(int k) const override {
    const TLine& line = *Facts.Lines().Line(k);
    if (line.Size == 0) return {};
    constexpr TLineBits kRead{.Use = 1};
    if (!Follow && (line.IsSkip() || (line.IsTransfer() && !(line.FlowKind & fkCall)))) return kRead;
    if (Facts.MayReadBytes(k, Byte)) return kRead;
    const TMemoryAccess access = Facts.MemoryAccessOf(k);
    const bool displaced =
        (line.LineType == lt::LDD || line.LineType == lt::STD) && access.Kind == TMemoryAccess::TKind::Frame;
    const TLineBits registers = LineRegisterBits(line, Facts.AddressTakenRegisters(), 0);
    if ((registers.Def & kY) || ((registers.Use & kY) && !displaced)) return kRead;
    if (line.LineType == lt::STD && displaced && access.SameBytes(Byte)) return {.Kill = 1};
    return {};
  }

  // The caller's frame: Y is the same there, so the byte may be its.
  TRegFlagSet ReturnUse(int) const override { return 1; }

 private:
  const TAnalysis& Facts;
  const TMemoryAccess Byte;
  const bool Follow;
};

}  // namespace

bool TAnalysis::FrameByteReadLater(int from, std::int64_t q, bool followTransfers) const {
  TSearchCache& cache = CurrentSearchCache(Program);
  return SearchUses(cache, TFrameByteEffects(*this, q, followTransfers), from, -1, 1, true).Used;
}

}  // namespace korvid
