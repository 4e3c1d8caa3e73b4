#include "app/ProjectFile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "source/Errors.h"
#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

using testing::TTempDirectory;

TEST(SetupFiles, AssemblyInputsUseDefaultDelimiters) {
  TTempDirectory Dir;
  for (const char* Name : {"prog.asm", "prog.DSM", "prog.Asm"}) {
    TErrorFile Errors;
    Errors.NLeftDelim = "stale";
    EXPECT_EQ(SetupFiles(Dir / Name, Errors), Dir / Name);
    EXPECT_EQ(Errors.ErrFile, Dir / "prog.err");
    EXPECT_EQ(Errors.NLeftDelim, "(");
    EXPECT_EQ(Errors.TLeftDelim, ") :");
  }
  TErrorFile Errors;
  Errors.WriteWarning("unused", Dir / "prog.pas", 12, 3);  // no error file yet: nothing happens
  SetupFiles(Dir / "prog.asm", Errors);
  Errors.WriteWarning("unknown directive", Dir / "prog.pas", 12, 3);
  EXPECT_EQ(TTempDirectory::Read(Dir / "prog.err"), "prog.pas (12,3) : Warning: unknown directive\n");
}

TEST(SetupFiles, OtherExtensionsGiveNoAssemblyAndNoErrorFile) {
  TTempDirectory Dir;
  for (const char* Name : {"prog.pas", "prog", "prog.asm.bak", "dir.asm/prog"}) {
    TErrorFile Errors;
    EXPECT_EQ(SetupFiles(Dir / Name, Errors), "") << Name;
    EXPECT_EQ(Errors.ErrFile, "") << Name;
    Errors.WriteError("lost", Dir / "prog.pas", 1, 1);
  }
  EXPECT_FALSE(std::filesystem::exists(Dir / "prog.err"));
}

TEST(SetupFiles, ProjectFileNamesAssemblyAndDelimiters) {
  TTempDirectory Dir;
  auto Project = Dir.Write("proj/Main.ppro",
                           "; written by the IDE\r\n"
                           "[MainParams]\r\n"
                           "MainFile = src\\Main.pas\r\n"
                           "mainfile = ignored.pas\r\n"
                           "\r\n"
                           "[error_file]\r\n"
                           "nleftdelim=\"[ \"\r\n"
                           "TLEFTDELIM=] -\r\n");
  Dir.Write("proj/src/Main.pas", "");
  TErrorFile Errors;
  EXPECT_EQ(SetupFiles(Project, Errors), Dir / "proj/src/Main.asm");
  EXPECT_EQ(Errors.ErrFile, Dir / "proj/src/Main.err");
  Errors.WriteError("Optimisation aborted", Dir / "proj/src/Main.pas", 7, 1);
  EXPECT_EQ(TTempDirectory::Read(Errors.ErrFile), "Main.pas [ 7,1] - Error: Optimisation aborted\n");
}

TEST(SetupFiles, ProjectFileDefaults) {
  TTempDirectory Dir;
  struct TCase {
    const char* Text;
    const char* Assembly;
  } const Cases[] = {
      {"[MainParams]\nMainFile=app.pas\n", "app.asm"},
      {"[MainParams]\nMainFile=../up/app.pas\n", "../up/app.asm"},
      {"[Other]\nKey=1\n", ".asm"},  // no MainFile: a name that does not exist, so the run ends
      {"", ".asm"},
      {"MainFile=outside.pas\n[MainParams]\n", ".asm"},
  };
  for (const auto& Case : Cases) {
    auto Project = Dir.Write("sub/p.PPRO", Case.Text);
    TErrorFile Errors;
    auto Expected = (std::filesystem::path(Dir / "sub") / Case.Assembly).lexically_normal().string();
    EXPECT_EQ(SetupFiles(Project, Errors), Expected) << Case.Text;
    EXPECT_EQ(Errors.NLeftDelim, "(");
    EXPECT_EQ(Errors.TLeftDelim, ") :");
  }
}

TEST(SetupFiles, UnreadableOrMalformedProjectFileIsAClearError) {
  TTempDirectory Dir;
  std::filesystem::create_directory(Dir / "folder.ppro");
  const std::string Names[] = {
      Dir / "missing.ppro",
      Dir / "folder.ppro",
      Dir.Write("binary.ppro", std::string("[MainParams]\nMainFile=a\0b\n", 26)),
      Dir.Write("text.ppro", "[MainParams]\nMainFile=a.pas\nthis is not a key\n"),
  };
  for (const auto& Name : Names) {
    TErrorFile Errors;
    try {
      SetupFiles(Name, Errors);
      ADD_FAILURE() << "no error for " << Name;
    } catch (const KorvidError& Error) {
      EXPECT_NE(std::string(Error.what()).find(Name), std::string::npos) << Error.what();
    }
    EXPECT_EQ(Errors.ErrFile, "");
  }
}

TEST(ErrorFile, NamesSourceFilesRelativeToTheErrorFile) {
  TTempDirectory Dir;
  TErrorFile Errors;
  Errors.ErrFile = Dir / "proj/prog.err";
  std::filesystem::create_directories(Dir / "proj");
  Errors.WriteWarning("a", Dir / "proj/units/io.pas", 1, 2);
  Errors.WriteWarning("b", Dir / "proj/units\\deep\\x.pas", 3, 4);
  Errors.WriteWarning("c", Dir / "lib/y.pas", 5, 6);
  Errors.WriteWarning("d", "", 7, 8);
  EXPECT_EQ(TTempDirectory::Read(Errors.ErrFile),
            "units/io.pas (1,2) : Warning: a\n"
            "units/deep/x.pas (3,4) : Warning: b\n"
            "../lib/y.pas (5,6) : Warning: c\n"
            " (7,8) : Warning: d\n");
}

TEST(ErrorFile, AppendsInOrderAfterExistingLines) {
  TTempDirectory Dir;
  auto ErrFile = Dir.Write("prog.err", "prog.pas (1,1) : Error: from the compiler\n");
  TErrorFile Errors;
  Errors.ErrFile = ErrFile;
  Errors.WriteWarning("first", Dir / "prog.pas", 10, 1);
  Errors.WriteError("second\nline", Dir / "prog.pas", 20, 2);
  EXPECT_EQ(TTempDirectory::Read(ErrFile),
            "prog.pas (1,1) : Error: from the compiler\n"
            "prog.pas (10,1) : Warning: first\n"
            "prog.pas (20,2) : Error: second line\n");
}

TEST(ErrorFile, MessagesGoToTheFallbackWhenTheFileCannotBeOpened) {
  TTempDirectory Dir;
  std::filesystem::create_directory(Dir / "isdir.err");
  struct TCase {
    std::string ErrFile;
    std::string Source;
  } const Cases[] = {{Dir / "isdir.err", "prog.pas"}, {Dir / "missing/prog.err", "../prog.pas"}};
  for (const auto& Case : Cases) {
    std::ostringstream Fallback;
    TErrorFile Errors(Fallback);
    Errors.ErrFile = Case.ErrFile;
    Errors.WriteWarning("kept", Dir / "prog.pas", 4, 2);
    Errors.WriteError("also kept", Dir / "prog.pas", 5, 1);
    EXPECT_EQ(Fallback.str(), Case.Source + " (4,2) : Warning: kept\n" + Case.Source + " (5,1) : Error: also kept\n");
  }
  EXPECT_FALSE(std::filesystem::exists(Dir / "missing"));
}

}  // namespace
}  // namespace korvid
