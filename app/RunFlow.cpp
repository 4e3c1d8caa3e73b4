#include "app/RunFlow.h"

#include <filesystem>
#include <functional>
#include <vector>
#include <iostream>

#include "source/FileNames.h"
#include "passes/Rules.h"
#include "app/FileReplace.h"
#include "app/Progress.h"
#include "app/ProjectFile.h"
#include "app/Signals.h"
#include "diagnostics/Reports.h"
#include "passes/Driver.h"
#include "source/Errors.h"
#include "source/LineList.h"
#include "source/Text.h"
#include "source/TextFile.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

void Fail(const std::string& message) { std::cerr << "korvid: " << message << '\n'; }

// Resolves the input to its assembly file; empty when it cannot be used.
std::string ResolveInput(const std::string& input, TErrorFile& errors) {
  std::string asmName;
  try {
    asmName = SetupFiles(input, errors);
  } catch (const std::exception& error) {
    Fail(std::string(error.what()) + "; nothing written");
    return "";
  }
  if (asmName.empty()) {
    Fail("\"" + input + "\" is not an assembly (.asm, .dsm) or project (.ppro) file; nothing written");
    return "";
  }
  std::error_code ec;
  if (!fs::exists(asmName, ec)) {
    Fail("\"" + asmName + "\" does not exist; nothing written");
    return "";
  }
  return asmName;
}

bool Load(TLineList& lines, const std::string& asmName) {
  try {
    lines.LoadFromFile(asmName);
    return true;
  } catch (const std::exception& error) {
    Fail(std::string(error.what()) + "; nothing written");
    return false;
  }
}

void ApplyMode(TLineList& lines, const TRunMode& mode) {
  if (mode.QuickOpt) lines.Run.QuickOpt = true;
  if (mode.SmartlinkOnly) lines.Run.Directives.Set(TDirective::SMARTLINK_ONLY);
}

// One file a run writes; Write returns false when there was nothing to write.
struct TOutput {
  std::string Name;
  std::function<bool()> Write;
};

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "nothing" : text;
}

// Writes the outputs in order; a failure names the files already in place
// (`written` on entry lists those of earlier steps) and those not written.
bool WriteOutputs(const std::vector<TOutput>& outputs, std::vector<std::string>& written) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    try {
      if (outputs[i].Write()) written.push_back(outputs[i].Name);
    } catch (const std::exception& error) {
      std::vector<std::string> missing;
      for (std::size_t j = i; j < outputs.size(); ++j) missing.push_back(outputs[j].Name);
      Fail(std::string(error.what()) + "; written: " + JoinNames(written) + "; not written: " + JoinNames(missing));
      return false;
    }
  }
  return true;
}

// The ".opt" and ".fas" reports beside the program, the ".opt" first.
void AddReports(std::vector<TOutput>& outputs, TLineList& lines, const std::string& programName) {
  for (bool callAnalysis : {false, true}) {
    std::string name = ChangeFileExt(programName, callAnalysis ? ".fas" : ".opt");
    outputs.push_back({name, [&lines, name, callAnalysis] {
                         TReportLines report;
                         if (callAnalysis)
                           WriteCallAnalysis(lines.Functions, report);
                         else
                           WriteOptReport(lines.Functions, report);
                         SaveReport(name, report);
                         return true;
                       }});
  }
}

// The program file itself is never replaced behind a read-only mark.
bool RefuseReadOnly(const std::string& outputName) {
  if (!IsReadOnly(outputName)) return false;
  Fail("\"" + outputName + "\" is read-only, so it is not replaced (make it writable to optimise it); nothing written");
  return true;
}

// What a finished run writes besides the reports: the optimised program, the companion
// file without the removed routines, and the special debug files kept for `debugName`.
void AddProgramOutputs(std::vector<TOutput>& outputs, TLineList& lines, const TSpecialDebugSession& session,
                       const std::string& outputName, const std::string& companionName,
                       const std::string& debugName, const std::string& original, const std::string& optimised) {
  outputs.push_back({outputName + " (optimised)", [&outputName, &optimised] {
                       WriteFileAtomically(outputName, optimised);
                       NoteProgramReplaced();
                       return true;
                     }});
  if (lines.Functions.CompanionModified)
    outputs.push_back({companionName, [&lines, &companionName] {
                         return lines.Functions.SaveCompanionFile(companionName);
                       }});
  if (session.Attached())
    outputs.push_back({"the special debug files", [&] {
                         session.Keep(lines, debugName, original, optimised);
                         return true;
                       }});
}

int ReportAborted() {
  Fail("optimisation aborted (see the error file); the input file is unchanged");
  return kExitAborted;
}

void EchoMessages(TLineList& lines) {
  lines.Errors.Echo = [](const std::string& line) { std::cerr << line << '\n'; };
}

}  // namespace

TRunMode ModeFromSwitch(std::string_view modeSwitch) {
  TRunMode mode;
  std::string upper = UpperCase(modeSwitch);
  if (upper == "-F") {
    mode.QuickOpt = true;
  } else if (upper == "-H") {
    mode.WindowVisible = false;
  } else if (upper == "-FH") {
    mode.QuickOpt = true;
    mode.WindowVisible = false;
  } else if (upper == "-S") {
    mode.SmartlinkOnly = true;
  } else if (upper == "-SH") {
    mode.SmartlinkOnly = true;
    mode.WindowVisible = false;
  }
  return mode;
}

int RunCommandLine(const std::string& input, const std::string& modeSwitch, const TRunOptions& options) {
  TLineList lines;
  std::string asmName = ResolveInput(input, lines.Errors);
  if (asmName.empty()) return kExitFailed;
  // The input kept as loaded; an input that is itself the .DSM copy is not
  // overwritten, and the optimised program then goes to the .asm name.
  const std::string dsmName = ChangeFileExt(asmName, ".DSM");
  const bool inputIsCopy = EqualsNoCase(asmName, dsmName);
  const std::string outputName = inputIsCopy ? ChangeFileExt(asmName, ".asm") : asmName;
  if (RefuseReadOnly(outputName)) return kExitFailed;
  TRunMode mode = ModeFromSwitch(modeSwitch);
  if (mode.WindowVisible) EchoMessages(lines);
  lines.Run.Interactive = false;
  TProgressDisplay progress(lines, mode.WindowVisible);
  ApplyMode(lines, mode);
  // Before loading, so that a directive line in the program switches the rules off again.
  EnableRules(lines, options.EnabledRules);
  if (!Load(lines, asmName)) return kExitFailed;
  TSpecialDebugSession session;
  if (!session.Attach(lines, options.Debug, std::cerr)) {
    Fail("the program asks for the special debug mode (SPECIAL_DEBUG), but standard input is not a terminal: "
         "give the last test's result with --debug-result new|failed|passed; nothing written");
    return kExitFailed;
  }

  std::string original = lines.SaveToText();
  std::vector<std::string> written;
  lines.Pass.OnlyRules = options.OnlyRules;
  try {
    if (!inputIsCopy) {
      lines.SaveToFile(dsmName);
      written.push_back(dsmName + " (the input)");
    }
    Optimise(lines, ExtractFilePath(asmName));
  } catch (const std::exception& error) {
    Fail(std::string(error.what()) + "; \"" + outputName + "\" is unchanged");
    return kExitFailed;
  }
  // An aborted run leaves the program, and so the companion file that
  // describes it, as they were; the reports are written either way.
  std::vector<TOutput> outputs;
  std::string optimised;
  if (!lines.Run.Aborted) {
    optimised = lines.SaveToText();
    std::string message;
    if (options.Check && !options.Check(original, optimised, message)) {
      Fail("the optimised program was not written: " + message);
      return kExitAborted;
    }
    AddProgramOutputs(outputs, lines, session, outputName, lines.Functions.CompanionFileName, asmName, original,
                      optimised);
  }
  AddReports(outputs, lines, asmName);
  if (options.Stats)
    for (const std::string& row : RuleStatistics(lines.Pass)) std::cout << row << '\n';
  if (!WriteOutputs(outputs, written)) return kExitFailed;
  return lines.Run.Aborted ? ReportAborted() : kExitSuccess;
}

namespace {

// A prompt in place of a file dialog; end of input or an empty answer cancels.
bool Ask(std::istream& in, std::ostream& prompts, const std::string& question, std::string& answer) {
  prompts << question << std::flush;
  if (!std::getline(in, answer)) {
    prompts << '\n';
    return false;
  }
  answer = std::string(Trim(answer));
  return !answer.empty();
}

}  // namespace

int RunInteractive(std::istream& in, std::ostream& prompts, TSpecialDebugInput debug) {
  std::string input;
  if (!Ask(in, prompts, "Open assembly or project file (*.asm, *.dsm, *.ppro): ", input)) {
    prompts << "cancelled; nothing written\n";
    return kExitSuccess;
  }
  TLineList lines;
  std::string asmName = ResolveInput(input, lines.Errors);
  if (asmName.empty()) return kExitFailed;
  lines.Run.Interactive = true;
  EchoMessages(lines);
  TProgressDisplay progress(lines, true);
  if (!Load(lines, asmName)) return kExitFailed;
  // The whole conversation is on `in`, so there is always someone to answer.
  if (debug.Terminal == nullptr) debug.Terminal = &in;
  TSpecialDebugSession session;
  session.Attach(lines, debug, prompts);
  std::string original = lines.SaveToText();
  try {
    Optimise(lines, ExtractFilePath(asmName));
  } catch (const std::exception& error) {
    Fail(error.what());
    return kExitFailed;
  }
  if (lines.Run.Aborted) {
    Fail("Major failure");
    return kExitAborted;
  }
  std::string output;
  if (!Ask(in, prompts, "Save optimised program as (relative to " + ExtractFilePath(asmName) + "): ", output)) {
    prompts << "cancelled; nothing written\n";
    return kExitSuccess;
  }
  fs::path outputPath(output);
  if (outputPath.is_relative() && !ExtractFilePath(asmName).empty()) outputPath = fs::path(ExtractFilePath(asmName)) / output;
  const std::string outputName = outputPath.string();
  if (RefuseReadOnly(outputName)) return kExitFailed;
  const std::string optimised = lines.SaveToText();
  const std::string companion = ChangeFileExt(outputName, ".unuV");
  std::vector<TOutput> outputs;
  AddProgramOutputs(outputs, lines, session, outputName, companion, outputName, original, optimised);
  AddReports(outputs, lines, outputName);
  std::vector<std::string> written;
  return WriteOutputs(outputs, written) ? kExitSuccess : kExitFailed;
}

}  // namespace korvid
