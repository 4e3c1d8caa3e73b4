// Gives every line its machine-level meaning: size, control flow, and the
// registers, flags and memory it touches.
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
