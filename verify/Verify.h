// The check: does an optimised program behave like its original? Both are lowered,
// assembled and simulated on the same MCU; their I/O writes, final RAM outside the
// runtime area and the registers the main routine returns are compared.
#pragma once
#include <cstdint>
#include <string>

namespace korvid {
class TArgumentReader;
}

namespace korvid::verify {

// Cycle budgets beyond this would run for hours.
inline constexpr std::uint64_t kMaxBudget = 1'000'000'000'000;

struct VerifyOptions {
  std::string mcu = "atmega2560";
  std::uint64_t budget = 20'000'000;  // cycles
};

struct VerifyResult {
  enum class Verdict { Same, Different, CouldNotCheck };
  Verdict verdict = Verdict::CouldNotCheck;
  std::string message;  // the first difference, or why the check was not possible
  std::uint64_t originalCycles = 0, optimisedCycles = 0;
};

// Exit code of `korvid verify`: 0 same, 1 different, 2 could not check.
int ExitCode(const VerifyResult& result);

VerifyResult VerifyPrograms(const std::string& originalText, const std::string& optimisedText,
                            const VerifyOptions& options);
VerifyResult VerifyProgramFiles(const std::string& originalFile, const std::string& optimisedFile,
                                const VerifyOptions& options);

// `korvid verify ORIGINAL OPTIMISED [--mcu NAME] [--budget CYCLES]`, or
// `korvid verify --lower PROGRAM [--mcu NAME]`, which writes the avr-as source; argv[0] is the
// first word after the program name ("verify" or the executable's own name).
int RunVerifyCommand(int argc, char** argv);

// "--mcu NAME" and "--budget CYCLES", which korvid verify and korvid bisect share: false
// when the current word is neither; otherwise empty, or what is wrong with the value.
bool ReadSimulationOption(TArgumentReader& words, VerifyOptions& options, std::string& problem);

}  // namespace korvid::verify
