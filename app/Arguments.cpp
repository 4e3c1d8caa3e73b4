#include "app/Arguments.h"

#include <array>
#include <utility>
#include <vector>

#include "app/UserBisectionTerminal.h"
#include "passes/Rules.h"
#include "source/Text.h"

namespace korvid {

namespace {

constexpr std::array<std::string_view, 5> kModes = {"-F", "-H", "-FH", "-S", "-SH"};

bool IsMode(const std::string& word) {
  std::string upper = UpperCase(word);
  for (std::string_view mode : kModes)
    if (upper == mode) return true;
  return false;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace

std::optional<std::uint64_t> ReadWholeNumber(std::string_view text, std::uint64_t min, std::uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::string ReadWholeNumber(std::string_view option, std::string_view text, std::uint64_t min, std::uint64_t max,
                            std::uint64_t& value) {
  if (std::optional<std::uint64_t> read = ReadWholeNumber(text, min, max)) {
    value = *read;
    return "";
  }
  return std::string(option) + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
         ", not " + Quoted(text);
}

bool TArgumentReader::Next() {
  Inline.reset();
  if (++Index >= Argc) return false;
  Current = Argv[Index];
  if (!OptionsEnded && Current == "--") {
    OptionsEnded = true;
    return Next();
  }
  // A lone "-" is an operand, as standard input is for other tools.
  Option = !OptionsEnded && Current.size() > 1 && Current[0] == '-';
  if (std::size_t equals = Current.find('='); Option && Current.rfind("--", 0) == 0 && equals != std::string::npos) {
    Inline = Current.substr(equals + 1);
    Current.resize(equals);
  }
  return true;
}

std::optional<std::string> TArgumentReader::Value() {
  if (Inline) return std::exchange(Inline, std::nullopt);
  if (Index + 1 >= Argc) return std::nullopt;
  return std::string(Argv[++Index]);
}

namespace {

std::vector<std::string> SplitRuleNames(std::string_view text) {
  std::vector<std::string> names;
  while (!text.empty()) {
    std::size_t comma = text.find(',');
    std::string_view name = Trim(text.substr(0, comma));
    if (!name.empty()) names.emplace_back(name);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
  }
  return names;
}

}  // namespace

std::string ReadCommandLine(int argc, char** argv, TCommandLine& line) {
  TArgumentReader words(argc, argv);
  while (words.Next()) {
    const std::string& word = words.Word();
    if (!words.IsOption()) {
      if (!line.File.empty()) return "one file at a time: " + Quoted(line.File) + " and " + Quoted(word);
      line.File = word;
    } else if (word == "--help" || word == "-?") {
      line.Help = true;
    } else if (word == "--version") {
      line.Version = true;
    } else if (word == "--verify") {
      line.Verify = true;
    } else if (word == "--stats") {
      line.Stats = true;
    } else if (word == "--only" || word == "--enable") {
      std::set<std::string, std::less<>>& rules = word == "--only" ? line.Only : line.Enable;
      std::string value = words.Value().value_or("");
      for (const std::string& name : SplitRuleNames(value)) {
        const TRule* rule = FindRule(name);
        if (rule == nullptr) return word + " takes rule names as --stats lists them, not " + Quoted(name);
        rules.insert(std::string(rule->Name));
      }
      if (rules.empty()) return word + " takes one or more rule names, separated by commas";
    } else if (word == "--debug-result") {
      std::string value = words.Value().value_or("");
      line.Debug.Result = ReadSpecialDebugOption(value);
      if (!line.Debug.Result) return word + " takes new, failed or passed, not " + Quoted(value);
    } else if (word == "--debug-block-size") {
      std::string value = words.Value().value_or("");
      line.Debug.BlockSize = ReadSpecialDebugBlockSize(value);
      if (!line.Debug.BlockSize) return word + " takes 1, 2, 4, 8 or 16, not " + Quoted(value);
    } else if (IsMode(word)) {
      if (!line.Mode.empty() && !EqualsNoCase(line.Mode, word))
        return "the modes " + line.Mode + " and " + word + " exclude each other: give one of -f, -h, -fh, -s, -sh";
      line.Mode = word;
    } else {
      return "unknown option " + Quoted(word);
    }
    if (words.HasInlineValue()) return word + " takes no value";
  }
  if (line.Help || line.Version) return "";
  // The interactive run asks for its files and always shows its progress.
  if (line.File.empty() && !line.Mode.empty()) return "the mode " + line.Mode + " needs a FILE";
  if (line.File.empty() && line.Verify) return "--verify needs a FILE";
  if (line.File.empty() && (line.Stats || !line.Only.empty() || !line.Enable.empty()))
    return "--stats, --only and --enable need a FILE";
  if (line.Debug.BlockSize && !line.Debug.Result) return "--debug-block-size needs --debug-result";
  return "";
}

}  // namespace korvid
