// The compiler's error file, to which warnings and errors are appended in the
// line format the IDE reads.
#pragma once
#include <functional>
#include <iostream>
#include <string>
#include <string_view>

namespace korvid {

inline constexpr std::string_view DefaultNLeftDelim = "(";
inline constexpr std::string_view DefaultTLeftDelim = ") :";

class TErrorFile {
 public:
  // Fallback receives a message the error file cannot take, so none is lost.
  explicit TErrorFile(std::ostream& Fallback = std::cerr) : Fallback(&Fallback) {}

  std::string ErrFile;  // empty: no messages are written
  std::string NLeftDelim{DefaultNLeftDelim};
  std::string TLeftDelim{DefaultTLeftDelim};
  // Also shows each message as "FILE:LINE: warning: TEXT", the form terminals
  // and editors know; it then stands in for the fallback.
  std::function<void(const std::string& line)> Echo;

  void WriteWarning(std::string_view Message, std::string_view SourceFile, int Line, int Column);
  void WriteError(std::string_view Message, std::string_view SourceFile, int Line, int Column);
  // Opens and closes the file for every message, so lines already written survive a later failure.
  void WriteMessage(std::string_view Kind, std::string_view Message, std::string_view SourceFile, int Line,
                    int Column);

 private:
  std::ostream* Fallback;
};

}  // namespace korvid
