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
  for (const char* mode : {"-h", "-H", "-fh", "-FH", "-sh", "-Sh", "-f", "-s", ""}) {
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

// 40 lines asking for the special debug mode.
std::string DebugProgram() {
  std::string program = ".OPTI SPECIAL_DEBUG\n";
  for (int i = 0; i < 38; ++i) program += "  NOP\n";
  return program + "  RET\n";
}

TEST_F(RunFlowTest, SpecialDebugWithoutATerminalNeedsTheResultOnTheCommandLine) {
  Write("prog.asm", DebugProgram());
  const std::set<std::string> before = Files();
  EXPECT_EQ(Run("prog.asm -h"), 2);
  EXPECT_NE(errors.find("standard input is not a terminal: give the last test's result with --debug-result"),
            std::string::npos)
      << errors;
  EXPECT_EQ(Files(), before);
  for (const char* args : {"--debug-result maybe", "--debug-result", "--debug-result new --debug-block-size 3",
                           "--debug-block-size 4"}) {
    EXPECT_EQ(Run(std::string("prog.asm -h ") + args), 2) << args;
    EXPECT_NE(errors.find("--debug-"), std::string::npos) << errors;
    EXPECT_EQ(Files(), before) << args;
  }
  // A program without the directive needs no answer.
  Write("plain.asm", kProgram);
  EXPECT_EQ(Run("plain.asm -h"), 0) << errors;
}

TEST_F(RunFlowTest, SpecialDebugKeepsEveryTestsProgramsUntilTheTestIsComplete) {
  const std::string program = DebugProgram();
  Write("prog.asm", program);
  EXPECT_EQ(Run("prog.asm -h --debug-result new --debug-block-size 8"), 0) << errors;
  EXPECT_NE(errors.find("You have entered special debug mode."), std::string::npos) << errors;
  EXPECT_EQ(Read("KORVID_DEBUG/Korvid.dbg"), "0,8,40,FAIL\n1,0,19,FAIL\n");
  EXPECT_EQ(Read("KORVID_DEBUG/prog.asm"), program);
  const std::string firstBuild = Read("prog.asm");
  EXPECT_EQ(Read("KORVID_DEBUG/prog.asm1"), firstBuild);

  // The compiler writes the program afresh for every build.
  Write("prog.asm", program);
  EXPECT_EQ(Run("prog.asm -h --debug-result passed"), 0) << errors;
  EXPECT_NE(errors.find("Result For test of lines 0 - 19"), std::string::npos) << errors;
  EXPECT_EQ(Read("KORVID_DEBUG/prog.asmP"), firstBuild);
  EXPECT_FALSE(fs::exists(dir / "KORVID_DEBUG/prog.asmF"));
  EXPECT_EQ(Read("KORVID_DEBUG/Korvid.dbg"), "0,8,40,FAIL\n1,0,19,PASS\n1,20,39,FAIL\n");

  for (const char* expected : {"2,20,29,FAIL\n", "3,20,24,FAIL\n"}) {
    Write("prog.asm", program);
    EXPECT_EQ(Run("prog.asm -h --debug-result failed"), 0) << errors;
    EXPECT_TRUE(fs::exists(dir / "KORVID_DEBUG/prog.asmF"));
    std::string state = Read("KORVID_DEBUG/Korvid.dbg");
    EXPECT_EQ(state.substr(state.size() - std::string(expected).size()), expected);
  }

  // Five failing lines are fewer than the block size: the whole program is optimised, nothing more is kept.
  const std::string lastTest = Read("KORVID_DEBUG/prog.asm1");
  Write("prog.asm", program);
  EXPECT_EQ(Run("prog.asm -h --debug-result failed"), 0) << errors;
  EXPECT_NE(errors.find("The test is complete. Please zip and submit the KORVID_DEBUG subdirectory to Korvid."),
            std::string::npos);
  EXPECT_EQ(Read("KORVID_DEBUG/prog.asm1"), lastTest);
  EXPECT_EQ(Read("KORVID_DEBUG/Korvid.dbg"), "0,8,40,FAIL\n1,0,19,PASS\n1,20,39,FAIL\n2,20,29,FAIL\n3,20,24,FAIL\n");
}

TEST_F(RunFlowTest, HelpAndVersion) {
  EXPECT_EQ(Run("--help > .out"), 0);
  EXPECT_NE(Read(".out").find("Usage: korvid"), std::string::npos);
  EXPECT_EQ(Run("--version > .out"), 0);
  EXPECT_NE(Read(".out").find("Korvid Optimiser Version "), std::string::npos);
}

}  // namespace
