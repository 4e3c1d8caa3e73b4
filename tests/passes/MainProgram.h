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
    "vol                     .EQU    204h           ; var idata byte volatile\n"
    "PORTB                   .EQU    05h            ; var pdata byte volatile\n";

// A main routine with `body`, then `routines`; main returns R17:R16.
inline std::string Program(const std::string& body, const std::string& routines = "") {
  return std::string(kHeader) + ".ENTRYMAIN $\n.FUNC main\n.RETURNS 2\nmain:\n" + body + " RET\n.ENDFUNC\n" +
         routines + ".ENTRY\n.END\n";
}

// Main calls f, whose body is `body`, stores what f returns and clears the
// scratch registers and the arithmetic flags: R17:R16 are live at f's end,
// R0 to R3, R18 to R27, Z and the flags but T and I dead.
inline std::string CalledRoutine(const std::string& body) {
  std::string main = " RCALL f\n STS v,R16\n STS u,R17\n SUB R0,R0\n";
  for (int r : {0, 1, 2, 3, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 30, 31}) main += " CLR R" + std::to_string(r) + "\n";
  return Program(main, ".FUNC f\n.RETURNS 2\nf:\n LDI R17,7\n" + body + " RET\n.ENDFUNC\n");
}

}  // namespace korvid::testing
