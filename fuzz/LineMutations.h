// Mutations that keep a program looking like the compiler's output while making
// it wrong: odd operands, unknown mnemonics, huge numbers, missing directives,
// unbalanced .FUNC/.ENDFUNC.
#pragma once
#include <random>
#include <string>

namespace korvid::fuzz {

// Applies one to three line-level mutations to the program text.
std::string MutateProgram(const std::string& text, std::mt19937& rng);

}  // namespace korvid::fuzz
