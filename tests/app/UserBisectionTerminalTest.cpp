#include "app/UserBisectionTerminal.h"

#include <gtest/gtest.h>

#include <sstream>

namespace korvid {
namespace {

// The options view of a test whose estimate is the block size itself, so a refresh is visible.
TSpecialDebugView OptionsView() {
  TSpecialDebugView view;
  view.Kind = TSpecialDebugViewKind::Options;
  view.ResultText = "Result For test of lines 0 - 49";
  view.TestsRemaining = [](std::int32_t blockSize) { return blockSize; };
  return view;
}

TEST(SpecialDebugTerminalTest, OptionsViewShowsTheDialogsTexts) {
  std::ostringstream out;
  WriteSpecialDebugView(out, OptionsView());
  EXPECT_EQ(out.str(),
            "\nSpecial Debug Mode\n"
            "Result For test of lines 0 - 49\n"
            "Please Choose from the following options\n"
            "  1  This is a new test (resets parameters)\n"
            "  2  The last test failed\n"
            "  3  The last test passed\n"
            "Test Block Size 16\n"
            "Estimated Tests Remaining : 16\n");

  TSpecialDebugView first;
  std::ostringstream firstOut;
  WriteSpecialDebugView(firstOut, first);
  EXPECT_EQ(firstOut.str(),
            "\nSpecial Debug Mode\nYou have entered special debug mode. Please test the result, then compile again "
            "and report \nwhether the last compile succeeded or failed.\n");
  first.Kind = TSpecialDebugViewKind::Complete;
  std::ostringstream completeOut;
  WriteSpecialDebugView(completeOut, first);
  EXPECT_EQ(completeOut.str(),
            "\nSpecial Debug Mode\nThe test is complete. Please zip and submit the KORVID_DEBUG subdirectory to "
            "Korvid.\n");
}

TEST(SpecialDebugTerminalTest, TerminalAsksAgainUntilTheAnswerReadsAndEndOfInputCancels) {
  auto choose = [](const std::string& input, std::string* shown = nullptr) {
    std::istringstream in(input);
    std::ostringstream out;
    TTerminalDebugUser user(in, out);
    std::optional<TSpecialDebugChoice> choice = user.Choose(OptionsView());
    if (shown != nullptr) *shown = out.str();
    return choice;
  };
  std::string shown;
  std::optional<TSpecialDebugChoice> choice = choose("maybe\n2\n12\n4\n", &shown);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->Option, TSpecialDebugOption::LastFailed);
  EXPECT_EQ(choice->BlockSize, 4);
  EXPECT_NE(shown.find("Please answer 1, 2 or 3.\n"), std::string::npos);
  EXPECT_NE(shown.find("Please answer 1, 2, 4, 8 or 16.\n"), std::string::npos);
  EXPECT_NE(shown.find("Estimated Tests Remaining : 4\n"), std::string::npos) << "refreshed for the new size";

  choice = choose("Passed\n\n");
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->Option, TSpecialDebugOption::LastPassed);
  EXPECT_EQ(choice->BlockSize, 16) << "Enter keeps the size";

  EXPECT_FALSE(choose(""));
  EXPECT_FALSE(choose("3\n")) << "no block size before the end of input";
  EXPECT_FALSE(choose("x\ny\n"));
}

TEST(SpecialDebugTerminalTest, FixedAnswerIsShownWithTheView) {
  std::ostringstream out;
  TFixedDebugUser user(TSpecialDebugOption::NewTest, 2, out);
  std::optional<TSpecialDebugChoice> choice = user.Choose(OptionsView());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->Option, TSpecialDebugOption::NewTest);
  EXPECT_EQ(choice->BlockSize, 2);
  EXPECT_NE(out.str().find("Answered on the command line: This is a new test (resets parameters), Test Block Size 2\n"
                           "Estimated Tests Remaining : 2\n"),
            std::string::npos)
      << out.str();
  EXPECT_EQ(TFixedDebugUser(TSpecialDebugOption::LastFailed, std::nullopt, out).Choose(OptionsView())->BlockSize, 16);
}

TEST(SpecialDebugTerminalTest, AnswersReadByWordOrNumber) {
  EXPECT_EQ(ReadSpecialDebugOption("new"), TSpecialDebugOption::NewTest);
  EXPECT_EQ(ReadSpecialDebugOption(" FAILED "), TSpecialDebugOption::LastFailed);
  EXPECT_EQ(ReadSpecialDebugOption("3"), TSpecialDebugOption::LastPassed);
  for (const char* text : {"", "fail", "4", "0", "passed!"}) EXPECT_FALSE(ReadSpecialDebugOption(text)) << text;
  EXPECT_EQ(ReadSpecialDebugBlockSize("8"), 8);
  for (const char* text : {"", "0", "3", "32", "-1", "8x"}) EXPECT_FALSE(ReadSpecialDebugBlockSize(text)) << text;
}

}  // namespace
}  // namespace korvid
