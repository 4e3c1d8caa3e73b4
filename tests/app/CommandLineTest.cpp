// The command line and the files of a run, through the real executables.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/Arguments.h"
#include "tests/app/TempDirectory.h"

namespace korvid {
namespace {

namespace fs = std::filesystem;
using testing::TTempDirectory;

const std::string kProgram = "main:\n  LDI R16,5\n  RET\n";
const std::string kGen = (fs::path(KORVID_EXE).parent_path() / "korvid-gen").string();

struct TRun {
  int Status;
  std::string Out, Err;
};

TRun Shell(const TTempDirectory& dir, const std::string& command) {
  std::string line = "cd '" + dir / "" + "' && " + command + " > .out 2> .err < /dev/null";
  int status = std::system(line.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, TTempDirectory::Read(dir / ".out"),
          TTempDirectory::Read(dir / ".err")};
}

TRun Korvid(const TTempDirectory& dir, const std::string& args) {
  return Shell(dir, std::string("'") + KORVID_EXE + "' " + args);
}

bool Optimised(const TTempDirectory& dir, const std::string& name) {
  return fs::exists(dir / (name + ".DSM")) && TTempDirectory::Read(dir / (name + ".asm")) != kProgram;
}

TEST(CommandLineTest, WordsAreReadAsGnuToolsReadThem) {
  struct TCase {
    const char* Args;
    int Status;
    const char* Said;       // on stderr, or on stdout for help
    const char* Optimised;  // the program optimised, if any
  };
  const TCase cases[] = {
      {"a.asm b.asm", 2, "one file at a time: \"a.asm\" and \"b.asm\" (try korvid --help)", nullptr},
      {"a.asm --frobnicate", 2, "unknown option \"--frobnicate\"", nullptr},
      {"a.asm -x", 2, "unknown option \"-x\"", nullptr},
      {"a.asm -s -h", 2, "the modes -s and -h exclude each other", nullptr},
      {"-f a.asm -FH", 2, "exclude each other", nullptr},
      {"a.asm --verify=yes", 2, "--verify takes no value", nullptr},
      {"a.asm -h --debug-block-size 4", 2, "--debug-block-size needs --debug-result", nullptr},
      {"-h", 2, "the mode -h needs a FILE", nullptr},
      {"a.asm --enable andi-zero,frobnicate", 2, "--enable takes rule names as --stats lists them, not \"frobnicate\"",
       nullptr},
      {"a.asm --enable ,", 2, "--enable takes one or more rule names", nullptr},
      {"--enable andi-zero", 2, "--stats, --only and --enable need a FILE", nullptr},
      {"-h a.asm", 0, "", "a"},
      {"-Sh a.asm -sH", 0, "", "a"},
      {"a.asm -h --debug-result=new", 0, "", "a"},
      {"-h -- -x.asm", 0, "", "-x"},
      {"--help", 0, "Exit status:", nullptr},
      {"a.asm --help", 0, "Usage: korvid", nullptr},
      {"verify --budget -5 a.asm a.asm", 2, "--budget takes a whole number from 1 to", nullptr},
      {"verify --budget 1e3 a.asm a.asm", 2, "not \"1e3\"", nullptr},
      {"verify --budget 99999999999999999999 a.asm a.asm", 2, "--budget takes a whole number", nullptr},
      {"verify a.asm", 2, "two files are needed", nullptr},
      {"verify --help", 0, "Usage: korvid verify", nullptr},
      {"bisect a.asm b.asm", 2, "one FILE at a time", nullptr},
      {"bisect --budget 0 a.asm", 2, "--budget takes a whole number from 1", nullptr},
  };
  for (const TCase& c : cases) {
    TTempDirectory dir;
    dir.Write("a.asm", kProgram);
    dir.Write("-x.asm", kProgram);
    TRun run = Korvid(dir, c.Args);
    EXPECT_EQ(run.Status, c.Status) << c.Args << "\n" << run.Err;
    const std::string& said = run.Status == 0 && c.Optimised == nullptr ? run.Out : run.Err;
    EXPECT_NE(said.find(c.Said), std::string::npos) << c.Args << "\n" << said;
    if (c.Status == 2) {
      // Exactly one line, and nothing written.
      EXPECT_EQ(run.Err.find('\n'), run.Err.size() - 1) << c.Args << "\n" << run.Err;
      EXPECT_FALSE(fs::exists(dir / "a.DSM")) << c.Args;
    }
    for (const char* name : {"a", "-x"})
      EXPECT_EQ(Optimised(dir, name), c.Optimised != nullptr && c.Optimised == std::string(name)) << c.Args;
  }

  TTempDirectory dir;
  for (auto [args, status, said] : {std::tuple{"--lines abc 1", 2, "--lines takes a whole number from 0 to"},
                                    {"1 --blocks -3", 2, "not \"-3\""},
                                    {"x", 2, "SEED takes a whole number"},
                                    {"1 2", 2, "one SEED at a time"},
                                    {"--help", 0, "Usage: korvid-gen"}}) {
    TRun run = Shell(dir, "'" + kGen + "' " + args);
    EXPECT_EQ(run.Status, status) << args;
    EXPECT_NE((status == 0 ? run.Out : run.Err).find(said), std::string::npos) << args << "\n" << run.Err;
  }
}

// NO_BITTEST_OPT is in force from the start: its rules run only when asked
// for, and a directive in the program switches them off again.
TEST(CommandLineTest, EnableRunsRulesADirectiveSwitchesOffFromTheStart) {
  const std::string program = "main:\n  LDI R16,5\n  ANDI R16,0\n  RET\n";
  for (auto [args, directive, fired] : {std::tuple{"", "", false},
                                        {" --enable andi-zero", "", true},
                                        {" --enable=ANDI-ZERO", "", true},
                                        {" --enable andi-bit-branch", "", true},
                                        {" --enable andi-zero", ".OPTI NO_BITTEST_OPT\n", false}}) {
    TTempDirectory dir;
    dir.Write("a.asm", directive + program);
    TRun run = Korvid(dir, std::string("a.asm -h --stats") + args);
    EXPECT_EQ(run.Status, 0) << args << "\n" << run.Err;
    const std::size_t row = run.Out.find("andi-zero");
    ASSERT_NE(row, std::string::npos) << run.Out;
    const std::string counts = run.Out.substr(row, run.Out.find('\n', row) - row);
    EXPECT_EQ(counts.find(" 1 fired") != std::string::npos, fired) << args << directive << "\n" << counts;
    EXPECT_EQ(TTempDirectory::Read(dir / "a.asm").find("ANDI") == std::string::npos, fired) << args << directive;
  }
}

TEST(CommandLineTest, WholeNumbersAreDigitsWithinTheirRange) {
  for (auto [text, value] : {std::pair{"0", 0ull}, {"007", 7ull}, {"18446744073709551615", ~0ull}})
    EXPECT_EQ(ReadWholeNumber(text, 0, ~0ull), value) << text;
  for (const char* text : {"", "-1", "+1", " 1", "1 ", "1.0", "0x10", "18446744073709551616", "99999999999999999999"})
    EXPECT_FALSE(ReadWholeNumber(text, 0, ~0ull)) << text;
  EXPECT_FALSE(ReadWholeNumber("0", 1, 5));
  EXPECT_FALSE(ReadWholeNumber("6", 1, 5));
}

TEST(CommandLineTest, WarningsAppearOnStderrUnlessTheWindowIsHidden) {
  for (auto [mode, shown] : {std::pair{"-f", true}, {"", true}, {"-fh", false}, {"-SH", false}}) {
    TTempDirectory dir;
    dir.Write("a.asm", ".OPTI FROBNICATE\n" + kProgram);
    TRun run = Korvid(dir, std::string("a.asm ") + mode);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err.find("warning: Optimiser directive \"FROBNICATE\" not recognised.") != std::string::npos, shown)
        << mode << "\n" << run.Err;
    EXPECT_NE(TTempDirectory::Read(dir / "a.err").find("Warning: Optimiser directive"), std::string::npos);
  }
}

TEST(CommandLineTest, ReplacedFilesKeepTheirAttributesAndLinksTheirTargets) {
  TTempDirectory dir;
  const std::string real = dir.Write("real/prog.asm", kProgram);
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  // Another group this user may give the file: any as root, else a supplementary one.
  gid_t groups[64];
  int count = getgroups(64, groups);
  gid_t group = geteuid() == 0 ? 12 : getegid();
  for (int i = 0; i < count; ++i)
    if (groups[i] != getegid()) group = groups[i];
  ASSERT_EQ(chown(real.c_str(), static_cast<uid_t>(-1), group), 0);
  fs::create_symlink("real/prog.asm", dir / "prog.asm");

  TRun run = Korvid(dir, "prog.asm -h");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::is_symlink(dir / "prog.asm"));
  EXPECT_NE(TTempDirectory::Read(real), kProgram);
  EXPECT_EQ(TTempDirectory::Read(dir / "prog.DSM"), kProgram);
  struct stat info {};
  ASSERT_EQ(stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_gid, group);
  for (const auto& entry : fs::recursive_directory_iterator(dir / ""))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(CommandLineTest, ReadOnlyInputsAreRefusedAndFailedWritesSayWhatIsInPlace) {
  TTempDirectory dir;
  const std::string input = dir.Write("ro.asm", kProgram);
  ASSERT_EQ(chmod(input.c_str(), 0444), 0);
  TRun refused = Korvid(dir, "ro.asm -h");
  EXPECT_EQ(refused.Status, 2);
  EXPECT_NE(refused.Err.find("\"ro.asm\" is read-only"), std::string::npos) << refused.Err;
  EXPECT_EQ(TTempDirectory::Read(input), kProgram);
  EXPECT_FALSE(fs::exists(dir / "ro.DSM"));

  // A report that cannot be written after the program was.
  dir.Write("p.asm", kProgram);
  fs::create_directory(dir / "p.opt");
  TRun partial = Korvid(dir, "p.asm -h");
  EXPECT_EQ(partial.Status, 2);
  EXPECT_NE(partial.Err.find("cannot write \"p.opt\""), std::string::npos) << partial.Err;
  EXPECT_NE(partial.Err.find("written: p.DSM (the input), p.asm (optimised); not written: p.opt, p.fas"),
            std::string::npos)
      << partial.Err;
  EXPECT_TRUE(Optimised(dir, "p"));
}

}  // namespace
}  // namespace korvid
