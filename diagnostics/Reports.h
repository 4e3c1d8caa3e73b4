// The reports made from the routine table after optimisation: the ".opt"
// size table, the ".fas" function call analysis and the before/after table
// appended to the program. Each appends text lines to a list.
#pragma once
#include <string>
#include <vector>

namespace korvid {

class TFunction;
class TFunctionList;
struct TParmAndLocalVarList;

using TReportLines = std::vector<std::string>;

void WriteOptReport(const TFunctionList& functions, TReportLines& lines);
// Resolves the call graph first, so it changes IsCalled and the callee lists.
void WriteCallAnalysis(TFunctionList& functions, TReportLines& lines);
void WriteSizeTable(const TFunctionList& functions, TReportLines& lines);
void WriteFunctionBlock(TFunction& function, TReportLines& lines);
void WriteParameterUsage(const TParmAndLocalVarList& parms, TReportLines& lines);

// Replaces the file atomically; every line ends in CR LF.
void SaveReport(const std::string& fileName, const TReportLines& lines);

}  // namespace korvid
