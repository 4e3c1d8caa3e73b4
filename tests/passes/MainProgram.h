// A program in the compiler's dialect: a header of variables and a main
// routine that returns R17:R16, so a simulation can compare its results.
#pragma once
#include <string>

namespace korvid::testing {

inline const char* const kHeader =
    "OPTIMISERREV            .EQU    0\n"
    "COMPILERREV             .EQU    1A4h\n"
    "_iDataStart             .EQU    200h\n"
    "v                       .EQU    200h           ; var idata byte\n"
    "u                       .EQU    201h           ; var idata byte\n"
    "w                       .EQU    202h           ; var idata word\n"
    "wlo                     .EQU    202h           ; var idata byte\n"
    "PORTB                   .EQU    05h            ; var pdata byte volatile\n";

// A main routine with `body`, then `routines`; main returns R17:R16.
inline std::string Program(const std::string& body, const std::string& routines = "") {
  return std::string(kHeader) + ".ENTRYMAIN $\n.FUNC main\n.RETURNS 2\nmain:\n" + body + " RET\n.ENDFUNC\n" +
         routines + ".ENTRY\n.END\n";
}

}  // namespace korvid::testing
