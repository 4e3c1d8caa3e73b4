#include "source/Directives.h"

#include <array>

#include "source/Functions.h"
#include "source/LineList.h"
#include "source/Text.h"

namespace korvid {

namespace {

enum class TAction { Set, Clear, Accept, Special };

struct TEntry {
  std::string_view Keyword;
  TAction Action;
  TDirective Flag;
};

using D = TDirective;
constexpr TEntry Set(std::string_view k, D d) { return {k, TAction::Set, d}; }
constexpr TEntry Clear(std::string_view k, D d) { return {k, TAction::Clear, d}; }
constexpr TEntry Accept(std::string_view k) { return {k, TAction::Accept, D::Count}; }
constexpr TEntry Special(std::string_view k) { return {k, TAction::Special, D::Count}; }

// In the order they are tested; keywords are whole words without regard to case.
constexpr std::array kTable = {
    Set("SPECIAL_DEBUG", D::SPECIAL_DEBUG), Special("REGS"), Set("OPTI_SYSTEM", D::OPTI_SYSTEM),
    Set("NO_OPTI_INTERRUPT_REGS", D::NO_OPTI_INTERRUPT_REGS), Set("NO_OPTI_BOOL_CHECK", D::NO_OPTI_BOOL_CHECK),
    Set("NO_CHECK_REDUNDANT_LOAD", D::NO_CHECK_REDUNDANT_LOAD),
    Set("NO_CHECK_REDUNDANT_FRAME_LOAD", D::NO_CHECK_REDUNDANT_FRAME_LOAD),
    Set("IGNORE_DUPLICATE_LOAD_LDD", D::IGNORE_DUPLICATE_LOAD_LDD),
    Set("IGNORE_DUPLICATE_LOAD_LDI", D::IGNORE_DUPLICATE_LOAD_LDI),
    Set("IGNORE_DUPLICATE_LOAD_LDS", D::IGNORE_DUPLICATE_LOAD_LDS),
    Set("IGNORE_DUPLICATE_LOAD_MOV", D::IGNORE_DUPLICATE_LOAD_MOV),
    Set("IGNORE_DUPLICATE_LOAD_MOVW", D::IGNORE_DUPLICATE_LOAD_MOVW),
    Set("IGNORE_DUPLICATE_LOAD", D::IGNORE_DUPLICATE_LOAD), Set("IGNORE_DUPLICATE_SAVE", D::IGNORE_DUPLICATE_SAVE),
    Set("NO_CHECK_REDUNDANT_SAVE", D::NO_CHECK_REDUNDANT_SAVE), Set("NO_CHECK_MOV", D::NO_CHECK_MOV),
    Set("NO_CHECK_RETURN_REGS", D::NO_CHECK_RETURN_REGS), Clear("CHECK_RETURN_REGS", D::NO_CHECK_RETURN_REGS),
    Set("NO_LOOP_OPT", D::NO_LOOP_OPT), Set("NO_BRANCH_OPT", D::NO_BRANCH_OPT),
    Set("NO_BITTEST_OPT", D::NO_BITTEST_OPT), Set("NO_BITTEST8", D::NO_BITTEST8),
    Set("NO_REDUNDANT_FRAME_USAGE_OPT", D::NO_REDUNDANT_FRAME_USAGE_OPT), Set("NO_CSE_OPT", D::NO_CSE_OPT),
    Set("SPEED_ALL", D::SPEED_ALL), Set("SPEED", D::SPEED), Set("SHORT_CIRCUIT_TESTS", D::SHORT_CIRCUIT_TESTS),
    Set("No_Remove_Code_Islands", D::No_Remove_Code_Islands), Set("No_Phase_4", D::No_Phase_4),
    Set("No_Phase_3", D::No_Phase_3), Set("No_Phase_2_OR_3", D::No_Phase_2_OR_3),
    Set("No_Phase_1_2_OR_3", D::No_Phase_1_2_OR_3), Set("No_Opt_Final_MOV", D::No_Opt_Final_MOV),
    Set("NO_COM_OPT", D::NO_COM_OPT), Set("NO_OPT_TST", D::NO_OPT_TST), Set("NO_OPT_CPI", D::NO_OPT_CPI),
    Set("NO_OPT_LOCAL_VARS", D::NO_OPT_LOCAL_VARS), Set("NO_OPT_LOCAL_VARS2", D::NO_OPT_LOCAL_VARS2),
    Set("NO_OPT_LOCAL_VARS3", D::NO_OPT_LOCAL_VARS3), Set("NO_OPT_LOOP_LOADS", D::NO_OPT_LOOP_LOADS),
    Set("NO_OPT_OFFSET_LOADS", D::NO_OPT_OFFSET_LOADS), Set("NO_OPT_LDS_STS", D::NO_OPT_LDS_STS),
    Set("NO_OPT_LDS_MOV", D::NO_OPT_LDS_MOV), Accept("NO_ADVANCED_ANALYSIS"),
    Set("NO_CALL_FRAME_OPT", D::NO_CALL_FRAME_OPT), Set("NO_OPTI_PTR", D::NO_OPTI_PTR),
    Accept("NO_CALL_FRAME_OPT_LOCAL"), Accept("CALL_FRAME_OPT_LOCAL"), Clear("CALL_FRAME_OPT", D::NO_CALL_FRAME_OPT),
    Special("ALLOW_INLINE"), Special("NO_ALLOW_INLINE"), Set("IGNORE_BREAK", D::IGNORE_BREAK),
    Set("LIST_USER_FUNCTIONS", D::LIST_USER_FUNCTIONS), Special("SMARTLINK_ONLY"), Special("VOLATILE"),
    Special("VOLATILE_ON"), Special("NONVOLATILE"), Special("VOLATILE_OFF"), Special("NON_VOLATILE"),
    Special("VOLATILE_DEFAULT"), Special("VOLATILE_DFT"),
};

void ApplySpecial(TLineList& lines, const std::string& sourceFile, int sourceLine, TLine& line, TFunction* routine,
                  std::string_view keyword) {
  auto is = [keyword](std::string_view k) { return EqualsNoCase(keyword, k); };
  if (is("REGS")) {
    if (routine == nullptr) return;
    line.LineType = lt::REGS;
    routine->RegsDirective = true;
    lines.Run.Directives.Set(D::INTERRUPT_REGS);
  } else if (is("ALLOW_INLINE") || is("NO_ALLOW_INLINE")) {
    lines.Run.AllowInline = is("ALLOW_INLINE");
  } else if (is("SMARTLINK_ONLY")) {
    lines.Run.Directives.Set(D::SMARTLINK_ONLY);
    lines.Errors.WriteWarning("Optimiser directive SMARTLINK_ONLY used. This disabled all other optimisations",
                              sourceFile, sourceLine, 1);
  } else if (is("VOLATILE") || is("VOLATILE_ON")) {
    lines.Vars.VolatileDefault = volatility::Volatile;
  } else if (is("VOLATILE_DEFAULT") || is("VOLATILE_DFT")) {
    lines.Vars.VolatileDefault = volatility::Default;
  } else {
    lines.Vars.VolatileDefault = volatility::NonVolatile;
  }
}

}  // namespace

void ApplyDirective(TLineList& lines, const std::string& sourceFile, int sourceLine, TLine& line,
                    TFunction* routine, std::string_view keyword) {
  keyword = Trim(keyword);
  for (const TEntry& entry : kTable) {
    if (!EqualsNoCase(keyword, entry.Keyword)) continue;
    switch (entry.Action) {
      case TAction::Set:
        lines.Run.Directives.Set(entry.Flag);
        break;
      case TAction::Clear:
        lines.Run.Directives.Set(entry.Flag, false);
        break;
      case TAction::Accept:
        break;
      case TAction::Special:
        ApplySpecial(lines, sourceFile, sourceLine, line, routine, keyword);
        break;
    }
    return;
  }
  lines.Errors.WriteWarning("Optimiser directive \"" + std::string(keyword) + "\" not recognised.", sourceFile,
                            sourceLine, 1);
}

}  // namespace korvid
