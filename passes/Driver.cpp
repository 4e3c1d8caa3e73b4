#include "passes/Driver.h"

#include "source/LineList.h"

namespace korvid {

void Optimise(TLineList& lines, const std::string& /*directory*/) {
  lines.Iteration = 1;
  lines.ProcessMessages();
}

}  // namespace korvid
