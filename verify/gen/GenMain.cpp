// korvid-gen SEED [--blocks N] [--lines N]: writes a random program in the compiler's dialect.
#include <cstdint>
#include <iostream>
#include <string>

#include "app/Arguments.h"
#include "verify/gen/Generator.h"

namespace {

constexpr const char* kUsage =
    "Usage: korvid-gen SEED [--blocks N] [--lines N]\n"
    "Writes to standard output a random program in the compiler's dialect; the same\n"
    "SEED (a whole number) always gives the same program.\n"
    "  --blocks N   idioms in the main routine, 1 to 100000 (default 36)\n"
    "  --lines N    more idioms until the program has at least N lines, 0 to 10000000\n"
    "Exit status: 0 written, 2 a command line not understood.\n";

constexpr std::uint64_t kMaxBlocks = 100'000;
constexpr std::uint64_t kMaxLines = 10'000'000;

int Refuse(const std::string& problem) {
  std::cerr << "korvid-gen: " << problem << " (try korvid-gen --help)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  korvid::verify::gen::GenOptions options;
  std::string seed;
  korvid::TArgumentReader words(argc, argv);
  while (words.Next()) {
    const std::string& word = words.Word();
    if (!words.IsOption()) {
      if (!seed.empty()) return Refuse("one SEED at a time: \"" + seed + "\" and \"" + word + "\"");
      seed = word;
    } else if (word == "--blocks" || word == "--lines") {
      const bool blocks = word == "--blocks";
      const std::uint64_t min = blocks ? 1 : 0, max = blocks ? kMaxBlocks : kMaxLines;
      std::string value = words.Value().value_or("");
      std::uint64_t number = 0;
      if (std::string problem = korvid::ReadWholeNumber(word, value, min, max, number); !problem.empty())
        return Refuse(problem);
      (blocks ? options.blocks : options.lines) = static_cast<int>(number);
    } else if (word == "--help" || word == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      return Refuse("unknown option \"" + word + "\"");
    }
  }
  if (seed.empty()) return Refuse("SEED is missing");
  std::uint64_t number = 0;
  if (std::string problem = korvid::ReadWholeNumber("SEED", seed, 0, UINT64_MAX, number); !problem.empty())
    return Refuse(problem);
  std::cout << korvid::verify::gen::GenerateProgram(number, options);
  return 0;
}
