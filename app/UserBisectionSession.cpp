#include "app/UserBisectionSession.h"

#include <filesystem>

#include "source/FileNames.h"
#include "app/UserBisectionTerminal.h"
#include "source/LineList.h"
#include "source/TextFile.h"

namespace korvid {

namespace fs = std::filesystem;

bool TSpecialDebugSession::Attach(TLineList& lines, const TSpecialDebugInput& input, std::ostream& out) {
  if (!lines.Run.Directives[TDirective::SPECIAL_DEBUG]) return true;
  if (input.Result) {
    User = std::make_unique<TFixedDebugUser>(*input.Result, input.BlockSize, out);
  } else if (input.Terminal != nullptr) {
    User = std::make_unique<TTerminalDebugUser>(*input.Terminal, out);
  } else {
    return false;
  }
  Form = std::make_unique<TFormSpecialDebugMode>(*User, lines.Errors);
  lines.Run.SpecialDebug = Form.get();
  return true;
}

void TSpecialDebugSession::Keep(const TLineList& lines, const std::string& programName, const std::string& original,
                                const std::string& optimised) const {
  if (!Form || !Form->HasRun()) return;
  Form->SaveState();
  // A complete test optimised the whole program: it is no test build to keep.
  if (!lines.Run.Directives[TDirective::SPECIAL_DEBUG]) return;
  const std::string kept = (fs::path(Form->DebugDir()) / fs::path(LocalFileName(programName)).filename()).string();
  WriteFileAtomically(kept, original);
  const std::string lastTest = kept + "1";
  std::error_code error;
  if (fs::exists(lastTest, error) && (Form->LastTestPassed() || Form->LastTestFailed()))
    WriteFileAtomically(kept + (Form->LastTestPassed() ? "P" : "F"), JoinTextFile(ReadTextFile(lastTest)));
  WriteFileAtomically(lastTest, optimised);
}

}  // namespace korvid
