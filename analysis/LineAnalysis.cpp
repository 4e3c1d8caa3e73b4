#include "analysis/LineAnalysis.h"

#include <thread>

#include "analysis/FunctionTracker.h"
#include "analysis/Functions.h"
#include "source/LineList.h"

namespace korvid {

namespace {
constexpr int kProgressStride = 1024;
}

void AnalyseAll(TLineList& lines) {
  lines.StatusText = "Analysing...";
  lines.DisplayChanged = true;
  lines.StartParse();
  TFunctionTracker routines(lines);
  for (int i = 0; i < lines.Count(); ++i) {
    while (!lines.IsParsed(i)) {
      if (lines.Aborted) {
        lines.FinishParse();
        return;
      }
      std::this_thread::yield();
    }
    AnalyseLine(lines, i);
    TLine& line = *lines.Line(i);
    line.LineIndex = i;
    if (!line.LabelName.empty()) lines.Labels.Define(line.LabelName).LineIndex = i;
    routines.AfterLine(i);
    lines.ProgressIndex = i;
    if (i % kProgressStride == 0) {
      lines.DisplayChanged = true;
      lines.ProcessMessages();
    }
  }
  routines.Finish();
  lines.FinishParse();
}

void AnalyseLine(TLineList& lines, int index) {
  TLine& line = *lines.Line(index);
  line.Op1 = line.Operands;
  if (line.IsLabelLine()) lines.Labels.Define(line.LabelName);
  lines.CodeSize += line.Size;
  lines.DataBytes += line.DataSize;
}

void UnlinkLine(TLineList& lines, int index) {
  TLine& line = *lines.Line(index);
  if (line.IsLabelLine()) lines.Labels.Remove(line.LabelName);
  if (line.Func != nullptr) line.Func->SubSizeAfter(line.Size);
  lines.CodeSize -= line.Size;
  lines.DataBytes -= line.DataSize;
}

}  // namespace korvid
