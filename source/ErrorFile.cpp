#include "source/ErrorFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "source/FileNames.h"

namespace korvid {

namespace {

// The IDE finds the source by this name, so it is relative to where the error file lies.
std::string RelativeName(std::string_view SourceFile, std::string_view ErrFile) {
  if (SourceFile.empty()) return {};
  std::filesystem::path Source = AbsoluteName(SourceFile);
  std::filesystem::path Relative = Source.lexically_relative(AbsoluteName(ErrFile).parent_path());
  return (Relative.empty() ? Source : Relative).generic_string();
}

// A message with a line break would split into lines the IDE cannot read.
std::string OneLine(std::string_view Text) {
  std::string Line(Text);
  std::replace_if(Line.begin(), Line.end(), [](char C) { return C == '\n' || C == '\r'; }, ' ');
  return Line;
}

}  // namespace

void TErrorFile::WriteWarning(std::string_view Message, std::string_view SourceFile, int Line, int Column) {
  WriteMessage("Warning", Message, SourceFile, Line, Column);
}

void TErrorFile::WriteError(std::string_view Message, std::string_view SourceFile, int Line, int Column) {
  WriteMessage("Error", Message, SourceFile, Line, Column);
}

void TErrorFile::WriteMessage(std::string_view Kind, std::string_view Message, std::string_view SourceFile,
                              int Line, int Column) {
  if (Echo) {
    std::string Where = SourceFile.empty() ? "korvid" : LocalFileName(SourceFile) + ":" + std::to_string(Line);
    std::string Lower(Kind);
    std::transform(Lower.begin(), Lower.end(), Lower.begin(), [](unsigned char C) { return std::tolower(C); });
    Echo(Where + ": " + Lower + ": " + OneLine(Message));
  }
  if (ErrFile.empty()) return;
  const std::string Text = RelativeName(SourceFile, ErrFile) + " " + NLeftDelim + std::to_string(Line) + "," +
                           std::to_string(Column) + TLeftDelim + " " + std::string(Kind) + ": " +
                           OneLine(Message) + "\n";
  std::ofstream Out(LocalFileName(ErrFile), std::ios::app | std::ios::binary);
  if (Out && Out << Text && Out.flush()) return;
  if (!Echo) *Fallback << Text << std::flush;
}

}  // namespace korvid
