// What a line does on the machine (size, control flow, the registers, flags and
// memory it touches) is worked out by the analysis, in analysis/LineAnalysis.cpp.
// The line list asks for it on loading and after every edit, so the facts of
// every line always fit its text; it knows the analysis only by these calls.
#pragma once

namespace korvid {

class TLineList;

// Runs once after loading: consumes the parsed lines in order.
void AnalyseAll(TLineList& lines);
// Computes one line's facts; called again by every edit of the line.
void AnalyseLine(TLineList& lines, int index);
// The exact inverse of the totals and references AnalyseLine added for the line.
void UnlinkLine(TLineList& lines, int index);

}  // namespace korvid
