#include "tests/analysis/AvrAssembler.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "tests/analysis/InstructionSamples.h"

namespace korvid::test {
namespace {

namespace fs = std::filesystem;

// Runs a command inside `dir`, collecting its messages in errors.txt there.
bool Run(const fs::path& dir, const std::string& command, std::string& error) {
  if (std::system(("cd '" + dir.string() + "' && " + command + " 2>>errors.txt").c_str()) == 0) return true;
  error = "failed: " + command;
  return false;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TScratchDir {
  fs::path Dir = fs::temp_directory_path() / ("korvid-avr-" + std::to_string(::getpid()));
  TScratchDir() { fs::create_directories(Dir); }
  ~TScratchDir() {
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
};

}  // namespace

std::optional<std::vector<std::vector<std::uint8_t>>> AssembleLines(const std::vector<std::string_view>& lines,
                                                                   std::string& error) {
  if (std::system("command -v avr-as >/dev/null && command -v avr-ld >/dev/null") != 0) {
    error = "avr-as/avr-ld not installed";
    return std::nullopt;
  }
  const TScratchDir scratch;
  const fs::path& dir = scratch.Dir;
  {
    std::ofstream src(dir / "lines.s");
    src << ".text\n";
    for (std::size_t i = 0; i < lines.size(); ++i) src << "i_" << i << ": " << lines[i] << "\n";
    src << "i_end:\n";
  }
  // atxmega128a1u accepts every instruction; the mega encodings are the same.
  if (!Run(dir, "avr-as -mmcu=atxmega128a1u lines.s -o lines.o", error) ||
      !Run(dir, "avr-ld -mavrxmega7 -Ttext=0 lines.o -o lines.elf", error) ||
      !Run(dir, "avr-objcopy -O binary -j .text lines.elf lines.bin", error) ||
      !Run(dir, "avr-nm lines.elf > lines.sym", error)) {
    error += "\n" + ReadFile(dir / "errors.txt");
    return std::nullopt;
  }
  std::map<std::string, unsigned long> address;
  std::istringstream symbols(ReadFile(dir / "lines.sym"));
  for (std::string line; std::getline(symbols, line);) {
    std::istringstream fields(line);
    std::string value, type, name;
    if (fields >> value >> type >> name) address[name] = std::stoul(value, nullptr, 16);
  }
  const std::string code = ReadFile(dir / "lines.bin");
  std::vector<std::vector<std::uint8_t>> result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto from = address.at("i_" + std::to_string(i));
    const auto to = address.at(i + 1 < lines.size() ? "i_" + std::to_string(i + 1) : "i_end");
    result.emplace_back(code.begin() + static_cast<long>(from), code.begin() + static_cast<long>(to));
  }
  return result;
}

const std::optional<std::vector<std::vector<std::uint8_t>>>& AssembledSamples(std::string& error) {
  static std::string why;
  static const auto code = [] {
    std::vector<std::string_view> lines;
    for (const TSample& s : InstructionSamples()) lines.push_back(s.Asm);
    return AssembleLines(lines, why);
  }();
  error = why;
  return code;
}

}  // namespace korvid::test
