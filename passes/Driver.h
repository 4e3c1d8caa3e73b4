// Runs the passes over the loaded program in their order.
#pragma once
#include <string>

namespace korvid {

class TLineList;

// Directory is the directory part of the program's file name.
void Optimise(TLineList& lines, const std::string& directory);

}  // namespace korvid
