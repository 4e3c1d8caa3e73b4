// korvid FILE [-f|-h|-fh|-s|-sh]: optimises one assembly file written by the compiler.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/About.h"
#include "app/RunFlow.h"
#include "app/Signals.h"
#include "app/UserBisectionTerminal.h"
#include "verify/Bisect.h"
#include "verify/Verify.h"

namespace {

void PrintUsage() {
  std::cout << "Usage: korvid [FILE [MODE]]\n"
               "Optimises the AVR assembly FILE (.asm, .dsm, or a .ppro project) in place,\n"
               "keeping the input as FILE.DSM.\n"
               "\n"
               "MODE:\n"
               "  -f    quick optimisation, progress shown\n"
               "  -h    full optimisation, no progress display\n"
               "  -fh   quick optimisation, no progress display\n"
               "  -s    smart linking only, progress shown\n"
               "  -sh   smart linking only, no progress display\n"
               "  (none) full optimisation, progress shown\n"
               "\n"
               "Without FILE, asks for the input and output files.\n"
               "Ctrl-C once stops optimising and writes what was reached; twice quits at once.\n"
               "\n"
               "  --verify   check by simulation that the optimised program behaves like\n"
               "             the input before replacing it (needs simavr and binutils-avr)\n"
               "\n"
               "Special debug mode (the program holds .OPTI SPECIAL_DEBUG): each run asks how\n"
               "the last build did in your test; without a terminal, answer here:\n"
               "  --debug-result new|failed|passed   new test, or the last test failed or passed\n"
               "  --debug-block-size N               stop at blocks of N lines (1, 2, 4, 8, 16)\n"
               "\n"
               "korvid verify ORIGINAL OPTIMISED [--mcu NAME] [--budget CYCLES]\n"
               "  checks two programs by simulation: exit 0 same, 1 different, 2 could not check\n"
               "korvid bisect FILE [--mcu NAME] [--budget CYCLES]\n"
               "  finds by simulation the lines whose optimisation breaks FILE and keeps the\n"
               "  special debug folder beside it: exit 0 correct, 1 fault found, 2 could not check\n"
               "\n"
               "  --help     this text\n"
               "  --version  the program's version\n"
               "\n"
               "Exit status: 0 success (also after Ctrl-C), 1 optimisation aborted, 2 failure.\n";
}

bool CheckBySimulation(const std::string& original, const std::string& optimised, std::string& message) {
  korvid::verify::VerifyResult result = korvid::verify::VerifyPrograms(original, optimised, {});
  message = result.message;
  return result.verdict == korvid::verify::VerifyResult::Verdict::Same;
}

// Sorts the arguments into file names and switches; the problem with a bad switch, or empty.
std::string ReadArguments(int argc, char** argv, std::vector<std::string>& files, korvid::TRunOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--verify") {
      options.Check = CheckBySimulation;
    } else if (arg == "--debug-result") {
      std::string value = i + 1 < argc ? argv[++i] : "";
      options.Debug.Result = korvid::ReadSpecialDebugOption(value);
      if (!options.Debug.Result) return arg + " takes new, failed or passed, not \"" + value + "\"";
    } else if (arg == "--debug-block-size") {
      std::string value = i + 1 < argc ? argv[++i] : "";
      options.Debug.BlockSize = korvid::ReadSpecialDebugBlockSize(value);
      if (!options.Debug.BlockSize) return arg + " takes 1, 2, 4, 8 or 16, not \"" + value + "\"";
    } else {
      files.push_back(arg);
    }
  }
  if (options.Debug.BlockSize && !options.Debug.Result) return "--debug-block-size needs --debug-result";
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-?") {
    PrintUsage();
    return korvid::kExitSuccess;
  }
  if (first == "--version") {
    std::cout << "Korvid Optimiser " << korvid::ProgramVersion().Label << '\n';
    return korvid::kExitSuccess;
  }
  if (first == "verify") return korvid::verify::RunVerifyCommand(argc - 1, argv + 1);
  if (first == "bisect") return korvid::verify::RunBisectCommand(argc - 1, argv + 1);
  korvid::InstallHaltHandler();
  std::vector<std::string> files;
  korvid::TRunOptions options;
  if (std::string problem = ReadArguments(argc, argv, files, options); !problem.empty()) {
    std::cerr << "korvid: " << problem << " (see korvid --help); nothing written\n";
    return korvid::kExitFailed;
  }
  if (files.empty()) return korvid::RunInteractive(std::cin, std::cerr, options.Debug);
  if (isatty(STDIN_FILENO)) options.Debug.Terminal = &std::cin;
  return korvid::RunCommandLine(files.front(), files.size() > 1 ? files.back() : "", options);
}
