#include "app/RunFlow.h"

#include <filesystem>
#include <iostream>

#include "app/FileNames.h"
#include "app/Progress.h"
#include "app/ProjectFile.h"
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
  if (mode.QuickOpt) lines.QuickOpt = true;
  if (mode.SmartlinkOnly) lines.Directives.Set(TDirective::SMARTLINK_ONLY);
}

// The ".opt" and ".fas" reports beside the program, the ".opt" first.
void WriteReports(TLineList& lines, const std::string& programName) {
  TReportLines report;
  WriteOptReport(lines.Functions, report);
  SaveReport(ChangeFileExt(programName, ".opt"), report);
  report.clear();
  WriteCallAnalysis(lines.Functions, report);
  SaveReport(ChangeFileExt(programName, ".fas"), report);
}

int ReportAborted() {
  Fail("optimisation aborted (see the error file); the input file is unchanged");
  return kExitAborted;
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
  TRunMode mode = ModeFromSwitch(modeSwitch);
  lines.Interactive = false;
  TProgressDisplay progress(lines, mode.WindowVisible);
  ApplyMode(lines, mode);
  if (!Load(lines, asmName)) return kExitFailed;
  TSpecialDebugSession session;
  if (!session.Attach(lines, options.Debug, std::cerr)) {
    Fail("the program asks for the special debug mode (SPECIAL_DEBUG), but standard input is not a terminal: "
         "give the last test's result with --debug-result new|failed|passed; nothing written");
    return kExitFailed;
  }

  // The input kept as loaded; an input that is itself the .DSM copy is not
  // overwritten, and the optimised program then goes to the .asm name.
  std::string dsmName = ChangeFileExt(asmName, ".DSM");
  std::string outputName = asmName;
  std::string original = lines.SaveToText();
  try {
    if (EqualsNoCase(asmName, dsmName)) {
      outputName = ChangeFileExt(asmName, ".asm");
    } else {
      lines.SaveToFile(dsmName);
    }
    Optimise(lines, ExtractFilePath(asmName));
  } catch (const std::exception& error) {
    Fail(std::string(error.what()) + "; \"" + outputName + "\" is unchanged");
    return kExitFailed;
  }
  try {
    // An aborted run leaves the program, and so the companion file that
    // describes it, as they were; the reports are written either way.
    if (!lines.Aborted) {
      std::string optimised = lines.SaveToText();
      std::string message;
      if (options.Check && !options.Check(original, optimised, message)) {
        Fail("the optimised program was not written: " + message);
        return kExitAborted;
      }
      WriteFileAtomically(outputName, optimised);
      lines.Functions.SaveCompanionFile();
      session.Keep(lines, asmName, original, optimised);
    }
    WriteReports(lines, asmName);
  } catch (const std::exception& error) {
    Fail(error.what());
    return kExitFailed;
  }
  return lines.Aborted ? ReportAborted() : kExitSuccess;
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
  lines.Interactive = true;
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
  if (lines.Aborted) {
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
  try {
    std::string optimised = lines.SaveToText();
    WriteFileAtomically(outputPath.string(), optimised);
    lines.Functions.SaveCompanionFile(ChangeFileExt(outputPath.string(), ".unuV"));
    session.Keep(lines, outputPath.string(), original, optimised);
    WriteReports(lines, outputPath.string());
  } catch (const std::exception& error) {
    Fail(error.what());
    return kExitFailed;
  }
  return kExitSuccess;
}

}  // namespace korvid
