# Turns the runtime source into a C++ function, so the tools need no file at run time.
file(READ ${INPUT} content)
file(WRITE ${OUTPUT} "// Generated from verify/runtime/system.asm.\n#include \"verify/Lowering.h\"\n\nnamespace korvid::verify {\nconst char* RuntimeSource() {\n  return R\"KORVIDRT(${content})KORVIDRT\";\n}\n}  // namespace korvid::verify\n")
