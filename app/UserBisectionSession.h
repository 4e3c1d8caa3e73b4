// The special debug mode within one run: who answers its questions, and the
// files it keeps in the debug directory once the run has written its program.
#pragma once
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "app/UserBisectionDialog.h"

namespace korvid {

class TLineList;

// Where the answers come from: the command line when it gives a result,
// otherwise the terminal, if there is one.
struct TSpecialDebugInput {
  std::optional<TSpecialDebugOption> Result;  // --debug-result
  std::optional<std::int32_t> BlockSize;      // --debug-block-size
  std::istream* Terminal = nullptr;
};

class TSpecialDebugSession {
 public:
  // Attaches the mode when the program asks for it (SPECIAL_DEBUG), with the
  // views shown on out; false when it does but nobody can answer.
  bool Attach(TLineList& lines, const TSpecialDebugInput& input, std::ostream& out);
  // After a run that wrote its program under programName: saves the state of
  // the test, then keeps the program as loaded (original) and as optimised,
  // and files the last test's program by its result. An aborted or failed run
  // calls nothing, so the user is asked about the same test again.
  void Keep(const TLineList& lines, const std::string& programName, const std::string& original,
            const std::string& optimised) const;
  bool Attached() const { return Form != nullptr; }

 private:
  std::unique_ptr<TSpecialDebugUser> User;
  std::unique_ptr<TFormSpecialDebugMode> Form;
};

}  // namespace korvid
