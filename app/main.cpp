// korvid FILE [-f|-h|-fh|-s|-sh]: optimises one assembly file written by the compiler.
#include <iostream>
#include <string>

#include "app/About.h"
#include "app/RunFlow.h"
#include "app/Signals.h"

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
               "  --help     this text\n"
               "  --version  the program's version\n"
               "\n"
               "Exit status: 0 success (also after Ctrl-C), 1 optimisation aborted, 2 failure.\n";
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
  korvid::InstallHaltHandler();
  if (first.empty()) return korvid::RunInteractive(std::cin, std::cerr);
  return korvid::RunCommandLine(first, argc > 2 ? argv[2] : "");
}
