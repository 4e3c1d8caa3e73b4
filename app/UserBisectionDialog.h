// The special debug mode's dialog as the run sees it: which view it shows,
// with which texts, and what the user's answer does to the test. Showing the
// views and reading the answers is left to a TSpecialDebugUser.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "diagnostics/UserBisection.h"

namespace korvid {

class TErrorFile;

inline constexpr std::string_view kSpecialDebugCaption = "Special Debug Mode";
inline constexpr std::string_view kSpecialDebugOptionsCaption = "Please Choose from the following options";
inline constexpr std::array<std::string_view, 3> kSpecialDebugOptionTexts = {
    "This is a new test (resets parameters)", "The last test failed", "The last test passed"};
inline constexpr std::string_view kSpecialDebugFirstTimeText =
    "You have entered special debug mode. Please test the result, then compile again and report \n"
    "whether the last compile succeeded or failed.";
inline constexpr std::string_view kSpecialDebugCompleteText =
    "The test is complete. Please zip and submit the KORVID_DEBUG subdirectory to Korvid.";
inline constexpr std::string_view kSpecialDebugBlockSizeLabel = "Test Block Size";
inline constexpr std::string_view kSpecialDebugRemainingLabel = "Estimated Tests Remaining :";

// The options, in the order the dialog lists them.
enum class TSpecialDebugOption { NewTest, LastFailed, LastPassed };

enum class TSpecialDebugViewKind { FirstTime, Options, Complete };

struct TSpecialDebugView {
  TSpecialDebugViewKind Kind = TSpecialDebugViewKind::FirstTime;
  // The options view's result label; empty in the other views.
  std::string ResultText;
  std::int32_t BlockSize = kDefaultBlockSize;
  // The options view's estimate, for the block size the user is choosing.
  std::function<int(std::int32_t blockSize)> TestsRemaining;
};

struct TSpecialDebugChoice {
  TSpecialDebugOption Option = TSpecialDebugOption::NewTest;
  std::int32_t BlockSize = kDefaultBlockSize;  // one IsValidBlockSize accepts
};

class TSpecialDebugUser {
 public:
  virtual ~TSpecialDebugUser() = default;
  // The first-time and the completion view, which ask nothing.
  virtual void Show(const TSpecialDebugView& view) = 0;
  // The options view; none when the user cancels.
  virtual std::optional<TSpecialDebugChoice> Choose(const TSpecialDebugView& view) = 0;
  // A block size given before any question, taken when a test starts unasked.
  virtual std::optional<std::int32_t> PresetBlockSize() const { return std::nullopt; }
};

class TFormSpecialDebugMode : public TSpecialDebugHook {
 public:
  // A damaged state file is reported to errors as a warning.
  TFormSpecialDebugMode(TSpecialDebugUser& user, TErrorFile& errors) : User(user), Errors(errors) {}

  // Throws KorvidError when the user cancels: the run must not go on without an answer.
  TSpecialDebugResult RunSpecialDebug(const std::string& directory, std::int32_t lineCount) override;
  bool IsLineEnabled(std::int32_t lineIndex) const override { return Debug.IsLineEnabled(lineIndex); }

  bool HasRun() const { return Ran; }
  const std::string& DebugDir() const { return Debug.DebugDir(); }
  bool LastTestFailed() const { return Result == TSpecialDebugResult::LastFailed; }
  bool LastTestPassed() const { return Result == TSpecialDebugResult::LastPassed; }
  // Nothing is written unless the test was run.
  void SaveState() const;

 private:
  TSpecialDebugResult AskAboutLastTest();

  TSpecialDebugUser& User;
  TErrorFile& Errors;
  TSpecialDebug Debug;
  TSpecialDebugResult Result = TSpecialDebugResult::NewTest;
  bool Ran = false;
};

}  // namespace korvid
