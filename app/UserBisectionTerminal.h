// The special debug dialog in text: on a terminal the user types the answer;
// in a run without one (the IDE's) the answer comes from the command line.
#pragma once
#include <iosfwd>
#include <optional>
#include <string_view>

#include "app/UserBisectionDialog.h"

namespace korvid {

// "new", "failed" or "passed" (or the option's number, 1 to 3), without regard to case.
std::optional<TSpecialDebugOption> ReadSpecialDebugOption(std::string_view text);
// A block size the user can choose.
std::optional<std::int32_t> ReadSpecialDebugBlockSize(std::string_view text);

void WriteSpecialDebugView(std::ostream& out, const TSpecialDebugView& view);

// Asks on in, showing the views on out; the end of input cancels.
class TTerminalDebugUser : public TSpecialDebugUser {
 public:
  TTerminalDebugUser(std::istream& in, std::ostream& out) : In(in), Out(out) {}
  void Show(const TSpecialDebugView& view) override;
  std::optional<TSpecialDebugChoice> Choose(const TSpecialDebugView& view) override;

 private:
  std::istream& In;
  std::ostream& Out;
};

// Gives the answer fixed on the command line, showing the views and the answer on out.
class TFixedDebugUser : public TSpecialDebugUser {
 public:
  // Without a block size the one shown is kept.
  TFixedDebugUser(TSpecialDebugOption option, std::optional<std::int32_t> blockSize, std::ostream& out)
      : Option(option), BlockSize(blockSize), Out(out) {}
  void Show(const TSpecialDebugView& view) override;
  std::optional<TSpecialDebugChoice> Choose(const TSpecialDebugView& view) override;
  std::optional<std::int32_t> PresetBlockSize() const override { return BlockSize; }

 private:
  TSpecialDebugOption Option;
  std::optional<std::int32_t> BlockSize;
  std::ostream& Out;
};

}  // namespace korvid
