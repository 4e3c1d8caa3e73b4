#include "app/Progress.h"

#include <unistd.h>

#include <cstdio>

#include "app/Signals.h"
#include "source/LineList.h"

namespace korvid {

namespace {

constexpr auto kRefreshInterval = std::chrono::milliseconds(500);
constexpr int kBarWidth = 20;

}  // namespace

std::string FormatProgress(const TLineList& lines) {
  std::string text = "Analysed " + std::to_string(lines.ProgressIndex);
  std::int32_t saved = lines.BytesSaved();
  std::int32_t original = lines.OriginalSize - lines.DataBytes;
  if (saved >= 0) {
    text += " | Iteration " + std::to_string(lines.Iteration) + " | Bytes Saved " + std::to_string(saved) +
            " | Original Size " + std::to_string(original);
    int filled = original > 0 ? static_cast<int>(static_cast<long long>(saved) * kBarWidth / original) : 0;
    filled = std::min(filled, kBarWidth);
    text += " | Saved % [" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "]";
  } else {
    text += " | Iteration | Bytes Saved | Original Size | Saved % [" + std::string(kBarWidth, ' ') + "]";
  }
  if (!lines.StatusText.empty()) text += " | " + lines.StatusText;
  return text;
}

TProgressDisplay::TProgressDisplay(TLineList& lines, bool windowVisible)
    : Lines(lines), Visible(windowVisible && isatty(STDERR_FILENO)) {
  Lines.OnProcessMessages = [this] { OnProcessMessages(); };
}

TProgressDisplay::~TProgressDisplay() {
  Lines.OnProcessMessages = nullptr;
  if (Shown) std::fputs("\n", stderr);
}

void TProgressDisplay::OnProcessMessages() {
  if (HaltRequested() && Lines.OptimiseEnabled) {
    Lines.OptimiseEnabled = false;
    Lines.DisplayChanged = true;
  }
  if (!Visible || !Lines.DisplayChanged) return;
  auto now = std::chrono::steady_clock::now();
  if (Shown && now - LastRefresh < kRefreshInterval) return;
  LastRefresh = now;
  Lines.DisplayChanged = false;
  std::fprintf(stderr, "\r\033[K%s", FormatProgress(Lines).c_str());
  std::fflush(stderr);
  Shown = true;
}

}  // namespace korvid
