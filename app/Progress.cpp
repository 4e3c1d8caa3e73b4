#include "app/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <vector>

#include "app/Signals.h"
#include "source/LineList.h"

namespace korvid {

namespace {

constexpr auto kRefreshInterval = std::chrono::milliseconds(500);
constexpr int kBarWidth = 20;
constexpr int kDefaultWidth = 80;
constexpr const char* kClearLine = "\r\033[K";

std::string Percent(std::int32_t saved, std::int32_t original) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", original > 0 ? 100.0 * saved / original : 0.0);
  return text;
}

std::string Bar(std::int32_t saved, std::int32_t original) {
  long long filled = original > 0 ? static_cast<long long>(saved) * kBarWidth / original : 0;
  filled = std::clamp<long long>(filled, 0, kBarWidth);
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "]";
}

// The line's forms from the widest to the narrowest.
std::vector<std::string> Forms(const TProgressState& s) {
  const std::string analysed = std::to_string(s.Analysed);
  if (!s.SizesKnown) return {"Analysed " + analysed};
  const std::string iteration = std::to_string(s.Iteration), saved = std::to_string(s.Saved),
                    original = std::to_string(s.Original), percent = Percent(s.Saved, s.Original);
  const std::string full = "Analysed " + analysed + " | Iteration " + iteration + " | Bytes Saved " + saved +
                           " | Original Size " + original + " | Saved " + percent;
  return {full + " " + Bar(s.Saved, s.Original), full,
          "Iteration " + iteration + " | Saved " + saved + "/" + original + " bytes (" + percent + ")",
          "It " + iteration + " | " + saved + "/" + original + " B " + percent};
}

std::string Cut(const std::string& text, std::size_t room) {
  if (text.size() <= room) return text;
  return room >= 4 ? text.substr(0, room - 3) + "..." : text.substr(0, room);
}

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    int width = std::atoi(columns);
    if (width > 0) return width;
  }
  return kDefaultWidth;
}

}  // namespace

TProgressState ProgressState(const TLineList& lines) {
  TProgressState state;
  state.Analysed = lines.Run.ProgressIndex;
  // Until loading has measured the program, its savings mean nothing.
  state.SizesKnown = lines.OriginalSize > 0;
  state.Iteration = lines.Run.Iteration;
  state.Saved = lines.BytesSaved();
  state.Original = lines.OriginalSize - lines.DataBytes;
  state.Status = lines.Run.StatusText;
  return state;
}

std::string FormatProgress(const TProgressState& state, int width) {
  const std::size_t room = static_cast<std::size_t>(std::max(width - 1, 0));
  const std::string status = state.Status.empty() ? "" : " | " + state.Status;
  std::vector<std::string> forms = Forms(state);
  for (const std::string& form : forms)
    if (form.size() + status.size() <= room) return form + status;
  const std::string& narrowest = forms.back();
  if (narrowest.size() >= room) return Cut(narrowest, room);
  return narrowest + Cut(status, room - narrowest.size());
}

class TProgressDisplay::TClearingBuffer : public std::streambuf {
 public:
  TClearingBuffer(TProgressDisplay& owner, std::streambuf* target) : Owner(owner), Target(target) {}
  std::streambuf* TargetBuffer() const { return Target; }

 protected:
  int_type overflow(int_type c) override {
    Owner.Clear();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return Target->sputc(traits_type::to_char_type(c));
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    Owner.Clear();
    return Target->sputn(text, count);
  }
  int sync() override { return Target->pubsync(); }

 private:
  TProgressDisplay& Owner;
  std::streambuf* Target;
};

TProgressDisplay::TProgressDisplay(TLineList& lines, bool windowVisible)
    : Lines(lines), Visible(windowVisible && isatty(STDERR_FILENO)) {
  Lines.Run.OnProcessMessages = [this] { OnProcessMessages(); };
  if (Visible) {
    CerrBuffer = std::make_unique<TClearingBuffer>(*this, std::cerr.rdbuf());
    std::cerr.rdbuf(CerrBuffer.get());
  }
}

TProgressDisplay::~TProgressDisplay() {
  Lines.Run.OnProcessMessages = nullptr;
  Clear();
  if (CerrBuffer) std::cerr.rdbuf(CerrBuffer->TargetBuffer());
}

void TProgressDisplay::Clear() {
  if (!Shown) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
  Shown = false;
  SetProgressLineShown(false);
}

void TProgressDisplay::OnProcessMessages() {
  if (HaltRequested() && Lines.Run.OptimiseEnabled) {
    Lines.Run.OptimiseEnabled = false;
    Lines.Run.DisplayChanged = true;
  }
  if (!Visible || !Lines.Run.DisplayChanged) return;
  auto now = std::chrono::steady_clock::now();
  if (Shown && now - LastRefresh < kRefreshInterval) return;
  LastRefresh = now;
  Lines.Run.DisplayChanged = false;
  std::fprintf(stderr, "%s%s", kClearLine, FormatProgress(ProgressState(Lines), TerminalWidth()).c_str());
  std::fflush(stderr);
  Shown = true;
  SetProgressLineShown(true);
}

}  // namespace korvid
