// korvid FILE [-f|-h|-fh|-s|-sh]: optimises one assembly file written by the compiler.
#include <iostream>
#include <string>

#include "app/About.h"
#include "app/RunFlow.h"
#include "app/Signals.h"
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
               "korvid verify ORIGINAL OPTIMISED [--mcu NAME] [--budget CYCLES]\n"
               "  checks two programs by simulation: exit 0 same, 1 different, 2 could not check\n"
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
  korvid::InstallHaltHandler();
  if (first.empty()) return korvid::RunInteractive(std::cin, std::cerr);
  std::string mode;
  korvid::TBehaviourCheck check;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--verify") {
      check = CheckBySimulation;
    } else {
      mode = argv[i];
    }
  }
  return korvid::RunCommandLine(first, mode, check);
}
