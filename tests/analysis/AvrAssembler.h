// Encodes AVR assembly lines with the installed GNU tool chain (avr-as, avr-ld).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvid::test {

// The machine code of each line, linked at address 0, or nullopt with the reason in
// `error` when the tools are missing or reject a line.
std::optional<std::vector<std::vector<std::uint8_t>>> AssembleLines(const std::vector<std::string_view>& lines,
                                                                   std::string& error);

// The sample lines, assembled once per test process.
const std::optional<std::vector<std::vector<std::uint8_t>>>& AssembledSamples(std::string& error);

}  // namespace korvid::test
