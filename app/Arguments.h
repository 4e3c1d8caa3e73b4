// Command lines read as users expect of their tools: "--name value" and
// "--name=value" alike, "--" ends the options, anything not understood is an
// error that says what it was, and numbers are whole and within their range.
#pragma once
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/UserBisectionSession.h"

namespace korvid {

// Digits only (no sign, blanks or fraction), from min to max.
std::optional<std::uint64_t> ReadWholeNumber(std::string_view text, std::uint64_t min, std::uint64_t max);
// Sets `value` and returns empty when the text is a whole number in range; otherwise
// `--budget takes a whole number from 1 to 1000, not "-5"`.
std::string ReadWholeNumber(std::string_view option, std::string_view text, std::uint64_t min, std::uint64_t max,
                            std::uint64_t& value);

class TArgumentReader {
 public:
  // Reads argv[first] onwards.
  TArgumentReader(int argc, char** argv, int first = 1) : Argc(argc), Argv(argv), Index(first - 1) {}

  // Moves to the next word; false after the last.
  bool Next();
  // The option's name (without "=value") or the operand.
  const std::string& Word() const { return Current; }
  bool IsOption() const { return Option; }
  // The option's value, after "=" or in the next word; none when missing. An
  // option that takes none but was given "=value" is the caller's to refuse.
  std::optional<std::string> Value();
  bool HasInlineValue() const { return Inline.has_value(); }

 private:
  int Argc;
  char** Argv;
  int Index;
  bool OptionsEnded = false;
  bool Option = false;
  std::string Current;
  std::optional<std::string> Inline;
};

// What `korvid [FILE] [MODE] [OPTIONS]` asks for.
struct TCommandLine {
  bool Help = false;
  bool Version = false;
  std::string File;
  std::string Mode;  // as given ("-FH"); empty for the full optimisation shown
  bool Verify = false;
  // Print, per rule, how often it fired and the bytes it saved.
  bool Stats = false;
  // Run only these rules (names as --stats lists them); empty: every rule.
  std::set<std::string, std::less<>> Only;
  // Run these rules although a directive in force from the start switches them off.
  std::set<std::string, std::less<>> Enable;
  TSpecialDebugInput Debug;
};

// Empty when the words make sense; otherwise what was not understood, in one line.
std::string ReadCommandLine(int argc, char** argv, TCommandLine& line);

}  // namespace korvid
