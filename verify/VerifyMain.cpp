#include "verify/Verify.h"

int main(int argc, char** argv) { return korvid::verify::RunVerifyCommand(argc, argv); }
