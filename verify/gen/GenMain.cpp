// korvid-gen SEED [--blocks N] [--lines N]: writes a random program in the compiler's dialect.
#include <iostream>
#include <string>

#include "verify/gen/Generator.h"

int main(int argc, char** argv) {
  korvid::verify::gen::GenOptions options;
  std::string seed;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--blocks" && i + 1 < argc) {
      options.blocks = std::stoi(argv[++i]);
    } else if (arg == "--lines" && i + 1 < argc) {
      options.lines = std::stoi(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && seed.empty()) {
      seed = arg;
    } else {
      std::cerr << "usage: korvid-gen SEED [--blocks N] [--lines N]\n";
      return 2;
    }
  }
  if (seed.empty()) {
    std::cerr << "usage: korvid-gen SEED [--blocks N] [--lines N]\n";
    return 2;
  }
  try {
    std::cout << korvid::verify::gen::GenerateProgram(std::stoull(seed), options);
  } catch (const std::exception&) {
    std::cerr << "bad seed " << seed << "\n";
    return 2;
  }
  return 0;
}
