// korvid [FILE] [MODE] [OPTION]...: optimises one assembly file written by the compiler.
#include <unistd.h>

#include <iostream>
#include <string>

#include "app/About.h"
#include "app/Arguments.h"
#include "app/FileReplace.h"
#include "app/RunFlow.h"
#include "app/Signals.h"
#include "verify/Bisect.h"
#include "verify/Verify.h"

namespace {

void PrintUsage() {
  std::cout << "Usage: korvid [FILE] [MODE] [OPTION]...\n"
               "  or:  korvid verify ORIGINAL OPTIMISED [--mcu NAME] [--budget CYCLES]\n"
               "  or:  korvid bisect FILE [--mcu NAME] [--budget CYCLES]\n"
               "Optimises the AVR assembly FILE (.asm, .dsm, or a .ppro project) in place,\n"
               "keeping the input as FILE.DSM. Without FILE, asks for the input and output files.\n"
               "\n"
               "Modes (at most one, before or after FILE, in either case; without one, full\n"
               "optimisation with progress shown):\n"
               "  -f     quick optimisation, progress shown\n"
               "  -h     full optimisation, no progress display\n"
               "  -fh    quick optimisation, no progress display\n"
               "  -s     smart linking only, progress shown\n"
               "  -sh    smart linking only, no progress display\n"
               "Where progress is shown, warnings and errors also appear on standard error\n"
               "as FILE:LINE: warning: TEXT; the compiler's error file gets them either way.\n"
               "\n"
               "Options:\n"
               "  --verify   check by simulation that the optimised program behaves like\n"
               "             the input before replacing it (needs simavr and binutils-avr)\n"
               "  --stats    print, per rewrite rule, how often it fired and the bytes it\n"
               "             saved (one rule a line, most bytes first)\n"
               "  --only RULE[,RULE]\n"
               "             run only the named rules (as --stats names them)\n"
               "  --enable RULE[,RULE]\n"
               "             run the named rules although a directive in force from the\n"
               "             start switches them off (NO_BITTEST_OPT: the andi-* rules,\n"
               "             ori-to-ser, ori-after-logic, com-before-test); the rules that\n"
               "             directive switches off run too, and a directive in the\n"
               "             program switches them off again; short-circuit runs as if\n"
               "             the program held .OPTI SHORT_CIRCUIT_TESTS\n"
               "  --debug-result new|failed|passed\n"
               "             special debug mode (the program holds .OPTI SPECIAL_DEBUG):\n"
               "             the last test's result, where no terminal can be asked\n"
               "  --debug-block-size N\n"
               "             stop at blocks of N lines (1, 2, 4, 8, 16)\n"
               "  --help     this text\n"
               "  --version  the program's version\n"
               "\n"
               "  korvid verify checks two programs by simulation; korvid bisect finds by\n"
               "  simulation the lines whose optimisation breaks FILE and keeps the special\n"
               "  debug folder beside it. Each takes --help.\n"
               "\n"
               "Ctrl-C once stops optimising and writes what was reached; twice quits at once\n"
               "without replacing the input.\n"
               "\n"
               "Exit status:\n"
               "  0    success: the program written (also after one Ctrl-C), or the\n"
               "       interactive run cancelled\n"
               "  1    optimisation aborted, or --verify found the result different or could\n"
               "       not check it: the input is unchanged\n"
               "  2    failure: a command line not understood, an input that cannot be used\n"
               "       or is read-only, a file that could not be written (the message says\n"
               "       which files were written and which not)\n"
               "  130  Ctrl-C twice: ended without replacing the input (128 + the signal:\n"
               "       129 hang-up, 143 terminated); temporary files are removed\n"
               "  korvid verify: 0 same, 1 different, 2 could not check.\n"
               "  korvid bisect: 0 correct, 1 fault found, 2 could not check.\n";
}

bool CheckBySimulation(const std::string& original, const std::string& optimised, std::string& message) {
  korvid::verify::VerifyResult result = korvid::verify::VerifyPrograms(original, optimised, {});
  message = result.message;
  return result.verdict == korvid::verify::VerifyResult::Verdict::Same;
}

}  // namespace

int main(int argc, char** argv) {
  korvid::UseFaithfulReplace();
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "verify" || first == "bisect") {
    korvid::InstallCleanupHandler();
    return first == "verify" ? korvid::verify::RunVerifyCommand(argc - 1, argv + 1)
                             : korvid::verify::RunBisectCommand(argc - 1, argv + 1);
  }
  korvid::TCommandLine line;
  if (std::string problem = korvid::ReadCommandLine(argc, argv, line); !problem.empty()) {
    std::cerr << "korvid: " << problem << " (try korvid --help); nothing written\n";
    return korvid::kExitFailed;
  }
  if (line.Help) {
    PrintUsage();
    return korvid::kExitSuccess;
  }
  if (line.Version) {
    std::cout << "Korvid Optimiser " << korvid::ProgramVersion().Label << '\n';
    return korvid::kExitSuccess;
  }
  korvid::InstallHaltHandler();
  korvid::TRunOptions options;
  if (line.Verify) options.Check = CheckBySimulation;
  options.Debug = line.Debug;
  options.Stats = line.Stats;
  options.OnlyRules = line.Only;
  options.EnabledRules = line.Enable;
  if (line.File.empty()) return korvid::RunInteractive(std::cin, std::cerr, options.Debug);
  if (isatty(STDIN_FILENO)) options.Debug.Terminal = &std::cin;
  return korvid::RunCommandLine(line.File, line.Mode, options);
}
