// Optimiser directives: ".OPTI KEYWORD" lines through which the program's source
// switches single optimisations and checks off or on for the whole run.
#pragma once
#include <bitset>
#include <string>
#include <string_view>

namespace korvid {

class TLineList;
class TFunction;
struct TLine;

// One flag per directive, named by it.
enum class TDirective {
  SPECIAL_DEBUG, OPTI_SYSTEM, NO_OPTI_INTERRUPT_REGS, NO_OPTI_BOOL_CHECK, NO_CHECK_REDUNDANT_LOAD,
  NO_CHECK_REDUNDANT_FRAME_LOAD, IGNORE_DUPLICATE_LOAD_LDD, IGNORE_DUPLICATE_LOAD_LDI, IGNORE_DUPLICATE_LOAD_LDS,
  IGNORE_DUPLICATE_LOAD_MOV, IGNORE_DUPLICATE_LOAD_MOVW, IGNORE_DUPLICATE_LOAD, IGNORE_DUPLICATE_SAVE,
  NO_CHECK_REDUNDANT_SAVE, NO_CHECK_MOV, NO_CHECK_RETURN_REGS, NO_LOOP_OPT, NO_BRANCH_OPT, NO_BITTEST_OPT,
  NO_BITTEST8, NO_REDUNDANT_FRAME_USAGE_OPT, NO_CSE_OPT, SPEED_ALL, SPEED, SHORT_CIRCUIT_TESTS,
  No_Remove_Code_Islands, No_Phase_4, No_Phase_3, No_Phase_2_OR_3, No_Phase_1_2_OR_3, No_Opt_Final_MOV, NO_COM_OPT,
  NO_OPT_TST, NO_OPT_CPI, NO_OPT_LOCAL_VARS, NO_OPT_LOCAL_VARS2, NO_OPT_LOCAL_VARS3, NO_OPT_LOOP_LOADS,
  NO_OPT_OFFSET_LOADS, NO_OPT_LDS_STS, NO_OPT_LDS_MOV, NO_CALL_FRAME_OPT, NO_OPTI_PTR, IGNORE_BREAK,
  LIST_USER_FUNCTIONS, SMARTLINK_ONLY, INTERRUPT_REGS, Count
};

class TDirectiveFlags {
 public:
  TDirectiveFlags() { Set(TDirective::NO_BITTEST_OPT); }
  bool operator[](TDirective d) const { return Flags[static_cast<std::size_t>(d)]; }
  void Set(TDirective d, bool on = true) { Flags[static_cast<std::size_t>(d)] = on; }

  bool Phase1Off() const { return (*this)[TDirective::No_Phase_1_2_OR_3]; }
  bool Phase2Off() const { return Phase1Off() || (*this)[TDirective::No_Phase_2_OR_3]; }
  bool Phase3Off() const { return Phase2Off() || (*this)[TDirective::No_Phase_3]; }

 private:
  std::bitset<static_cast<std::size_t>(TDirective::Count)> Flags;
};

// Applies the directive keyword of an optimiser directive line; an unknown
// keyword is warned about at the directive's source position.
void ApplyDirective(TLineList& lines, const std::string& sourceFile, int sourceLine, TLine& line,
                    TFunction* routine, std::string_view keyword);

}  // namespace korvid
