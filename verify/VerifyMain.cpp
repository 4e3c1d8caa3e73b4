#include "app/FileReplace.h"
#include "app/Signals.h"
#include "verify/Verify.h"

int main(int argc, char** argv) {
  korvid::UseFaithfulReplace();
  korvid::InstallCleanupHandler();
  return korvid::verify::RunVerifyCommand(argc, argv);
}
