#include "app/UserBisectionTerminal.h"

#include <functional>
#include <iostream>
#include <string>

#include "source/Text.h"

namespace korvid {

namespace {

constexpr std::array<std::string_view, 3> kOptionWords = {"new", "failed", "passed"};

void WriteRemaining(std::ostream& out, int tests) { out << kSpecialDebugRemainingLabel << ' ' << tests << '\n'; }

// The estimate changes with the block size, as the dialog's spin refreshes it.
void WriteRemainingIfResized(std::ostream& out, const TSpecialDebugView& view, std::int32_t blockSize) {
  if (blockSize != view.BlockSize) WriteRemaining(out, view.TestsRemaining(blockSize));
}

// Asks until an answer reads; none at the end of input.
template <class T>
std::optional<T> Ask(std::istream& in, std::ostream& out, const std::string& prompt, std::string_view retry,
                     const std::function<std::optional<T>(std::string_view)>& read) {
  for (;;) {
    out << prompt << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
      out << '\n';
      return std::nullopt;
    }
    if (std::optional<T> value = read(Trim(answer))) return value;
    out << retry << '\n';
  }
}

}  // namespace

std::optional<TSpecialDebugOption> ReadSpecialDebugOption(std::string_view text) {
  text = Trim(text);
  for (std::size_t i = 0; i < kOptionWords.size(); ++i)
    if (EqualsNoCase(text, kOptionWords[i]) || text == std::to_string(i + 1))
      return static_cast<TSpecialDebugOption>(i);
  return std::nullopt;
}

std::optional<std::int32_t> ReadSpecialDebugBlockSize(std::string_view text) {
  std::optional<std::int32_t> size = ReadDecimal(Trim(text));
  if (!size || !IsValidBlockSize(*size)) return std::nullopt;
  return size;
}

void WriteSpecialDebugView(std::ostream& out, const TSpecialDebugView& view) {
  out << '\n' << kSpecialDebugCaption << '\n';
  switch (view.Kind) {
    case TSpecialDebugViewKind::FirstTime:
      out << kSpecialDebugFirstTimeText << '\n';
      break;
    case TSpecialDebugViewKind::Complete:
      out << kSpecialDebugCompleteText << '\n';
      break;
    case TSpecialDebugViewKind::Options:
      if (!view.ResultText.empty()) out << view.ResultText << '\n';
      out << kSpecialDebugOptionsCaption << '\n';
      for (std::size_t i = 0; i < kSpecialDebugOptionTexts.size(); ++i)
        out << "  " << i + 1 << "  " << kSpecialDebugOptionTexts[i] << '\n';
      out << kSpecialDebugBlockSizeLabel << ' ' << view.BlockSize << '\n';
      WriteRemaining(out, view.TestsRemaining(view.BlockSize));
      break;
  }
  out << std::flush;
}

void TTerminalDebugUser::Show(const TSpecialDebugView& view) { WriteSpecialDebugView(Out, view); }

std::optional<TSpecialDebugChoice> TTerminalDebugUser::Choose(const TSpecialDebugView& view) {
  WriteSpecialDebugView(Out, view);
  std::optional<TSpecialDebugOption> option = Ask<TSpecialDebugOption>(
      In, Out, "Choice (1-3): ", "Please answer 1, 2 or 3.", ReadSpecialDebugOption);
  if (!option) return std::nullopt;
  std::string keep = std::to_string(view.BlockSize);
  std::optional<std::int32_t> size = Ask<std::int32_t>(
      In, Out, std::string(kSpecialDebugBlockSizeLabel) + " (1, 2, 4, 8 or 16; Enter keeps " + keep + "): ",
      "Please answer 1, 2, 4, 8 or 16.", [&keep](std::string_view text) {
        return ReadSpecialDebugBlockSize(text.empty() ? std::string_view(keep) : text);
      });
  if (!size) return std::nullopt;
  WriteRemainingIfResized(Out, view, *size);
  return TSpecialDebugChoice{*option, *size};
}

void TFixedDebugUser::Show(const TSpecialDebugView& view) { WriteSpecialDebugView(Out, view); }

std::optional<TSpecialDebugChoice> TFixedDebugUser::Choose(const TSpecialDebugView& view) {
  WriteSpecialDebugView(Out, view);
  TSpecialDebugChoice choice{Option, BlockSize.value_or(view.BlockSize)};
  Out << "Answered on the command line: " << kSpecialDebugOptionTexts[static_cast<std::size_t>(choice.Option)] << ", " << kSpecialDebugBlockSizeLabel << ' '
      << choice.BlockSize << '\n';
  WriteRemainingIfResized(Out, view, choice.BlockSize);
  return choice;
}

}  // namespace korvid
