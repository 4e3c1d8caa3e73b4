#include "app/About.h"

#include <gtest/gtest.h>

namespace korvid {
namespace {

TEST(AboutTest, VersionTextsFromTheFileVersion) {
  TVersionInfo info = ParseFileVersion("1.5.0.12");
  EXPECT_EQ(info.Label, "Version 1.5.0.12");
  EXPECT_EQ(info.RevisionText, "0105h");
  EXPECT_EQ(info.BuildText, "000Ch");

  TVersionInfo none = ParseFileVersion("");
  EXPECT_EQ(none.Label, "");
  EXPECT_EQ(none.RevisionText, "0000h");
  EXPECT_EQ(none.BuildText, "0000h");

  EXPECT_EQ(ParseFileVersion("2.1").BuildText, "0000h");
  EXPECT_EQ(ParseFileVersion("2.1.3.4.9").BuildText, "0304h");
  EXPECT_EQ(ProgramVersion().Label.rfind("Version ", 0), 0u);
}

}  // namespace
}  // namespace korvid
