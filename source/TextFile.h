// Whole text files in and out. Lines keep their own line breaks so that a file
// loaded and saved unchanged is byte-identical; files are replaced atomically.
#pragma once
#include <string>
#include <vector>

namespace korvid {

struct TTextLine {
  std::string Text;
  bool CrLf = false;  // the line ended in CR LF rather than LF alone
};

struct TTextFile {
  std::vector<TTextLine> Lines;
  bool FinalBreak = true;  // the last line ended in a line break
  bool CrLfDominant = false;
};

inline constexpr std::size_t kMaxLineLength = 1 << 20;

// Splits text at LF, remembering which lines ended in CR LF.
TTextFile SplitText(const std::string& bytes);

// Throws KorvidError naming the file when it cannot be read, is a directory,
// is empty, holds a NUL byte or has a line longer than kMaxLineLength.
TTextFile ReadTextFile(const std::string& fileName);

std::string JoinTextFile(const TTextFile& file);

// Writes a temporary file beside the target and renames it over the target,
// so a failed write never leaves the target missing or half written.
void WriteFileAtomically(const std::string& fileName, const std::string& content);

// The platform layer replaces files more faithfully (attributes, links) than
// the portable default; null restores the default.
using TFileReplacer = void (*)(const std::string& fileName, const std::string& content);
void SetFileReplacer(TFileReplacer replacer);

}  // namespace korvid
