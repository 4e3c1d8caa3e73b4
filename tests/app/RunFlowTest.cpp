// Runs the real executable in a temporary directory.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = "main:\r\n  LDI R16,5 ; five\r\n  RET\r\n";

class RunFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("korvid-run-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(dir / name, std::ios::binary) << content;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
  }
  // Runs korvid with the arguments and standard input; returns the exit status.
  int Run(const std::string& args, const std::string& input = "") {
    Write(".stdin", input);
    std::string command = "cd '" + dir.string() + "' && '" KORVID_EXE "' " + args + " < .stdin 2> .stderr";
    int status = std::system(command.c_str());
    errors = Read(".stderr");
    fs::remove(dir / ".stdin");
    fs::remove(dir / ".stderr");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir;
  std::string errors;
};

TEST_F(RunFlowTest, EveryModeSwitchWritesTheProgramAndKeepsTheInputAsDsm) {
  for (const char* mode : {"-h", "-H", "-fh", "-FH", "-sh", "-Sh", "-f", "-s", "", "-x"}) {
    Write("prog.asm", kProgram);
    fs::remove(dir / "prog.DSM");
    EXPECT_EQ(Run(std::string("prog.asm ") + mode), 0) << mode << errors;
    EXPECT_EQ(Read("prog.DSM"), kProgram) << mode;
    EXPECT_TRUE(fs::exists(dir / "prog.asm")) << mode;
  }
}

TEST_F(RunFlowTest, UnusableInputsFailClearlyAndWriteNothing) {
  Write("notes.txt", kProgram);
  Write("empty.asm", "");
  Write("binary.asm", std::string("LDI R16,1\n\0\x01\x02", 13));
  fs::create_directories(dir / "folder.asm");
  const std::set<std::string> before = Files();
  for (const char* input : {"notes.txt", "missing.asm", "empty.asm", "binary.asm", "folder.asm"}) {
    EXPECT_EQ(Run(std::string(input) + " -h"), 2) << input;
    EXPECT_NE(errors.find(input), std::string::npos) << errors;
    EXPECT_EQ(Files(), before) << input;
  }
}

TEST_F(RunFlowTest, ProjectFileNamesTheProgram) {
  Write("prog.asm", kProgram);
  Write("demo.ppro", "[MainParams]\nMainFile=prog.pas\n");
  EXPECT_EQ(Run("demo.ppro -h"), 0) << errors;
  EXPECT_EQ(Read("prog.DSM"), kProgram);
  Write("broken.ppro", "this is not an ini file\n");
  EXPECT_EQ(Run("broken.ppro -h"), 2);
  EXPECT_NE(errors.find("broken.ppro"), std::string::npos) << errors;
}

TEST_F(RunFlowTest, DsmInputIsKeptAndTheResultGoesToTheAsmName) {
  Write("prog.dsm", kProgram);
  EXPECT_EQ(Run("prog.dsm -h"), 0) << errors;
  EXPECT_EQ(Read("prog.dsm"), kProgram);
  EXPECT_EQ(Read("prog.asm").rfind(kProgram, 0), 0u);
  EXPECT_NE(Read("prog.asm").find("; Korvid Optimiser Version "), std::string::npos);
}

TEST_F(RunFlowTest, InteractiveModeAsksForBothFilesAndCancelWritesNothing) {
  Write("prog.asm", kProgram);
  EXPECT_EQ(Run("", ""), 0);
  EXPECT_EQ(Run("", "prog.asm\n"), 0);
  EXPECT_EQ(Files(), std::set<std::string>{"prog.asm"});

  EXPECT_EQ(Run("", "prog.asm\nout.asm\n"), 0) << errors;
  EXPECT_NE(errors.find("Save optimised program as"), std::string::npos);
  EXPECT_EQ(Read("out.asm").rfind(kProgram, 0), 0u);
  EXPECT_TRUE(fs::exists(dir / "out.opt"));
  EXPECT_FALSE(fs::exists(dir / "prog.DSM"));
}

TEST_F(RunFlowTest, ReportsAreWrittenBesideTheProgramWithCrLf) {
  const std::string program = ".FUNC Main\n  main:\n  RET\n.ENDFUNC\n";
  Write("prog.asm", program);
  Write("prog.unuV", "\"Main\" is used\n");
  EXPECT_EQ(Run("prog.asm -h"), 0) << errors;
  EXPECT_EQ(Read("prog.opt").rfind("Main, ", 0), 0u);
  EXPECT_EQ(Read("prog.opt").back(), '\n');
  EXPECT_EQ(Read("prog.opt").find('\n'), Read("prog.opt").find('\r') + 1);
  EXPECT_EQ(Read("prog.fas").rfind("Functions (alphabetic listing)\r\n==============================\r\n", 0), 0u);
  EXPECT_EQ(Read("prog.unuV"), "\"Main\" is used\n");  // nothing removed: untouched

  // Interactive runs name the reports after the chosen output.
  EXPECT_EQ(Run("", "prog.asm\nout.asm\n"), 0) << errors;
  EXPECT_TRUE(fs::exists(dir / "out.opt"));
  EXPECT_TRUE(fs::exists(dir / "out.fas"));
  EXPECT_FALSE(fs::exists(dir / "out.unuV"));
}

TEST_F(RunFlowTest, HelpAndVersion) {
  EXPECT_EQ(Run("--help > .out"), 0);
  EXPECT_NE(Read(".out").find("Usage: korvid"), std::string::npos);
  EXPECT_EQ(Run("--version > .out"), 0);
  EXPECT_NE(Read(".out").find("Korvid Optimiser Version "), std::string::npos);
}

}  // namespace
