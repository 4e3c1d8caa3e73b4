#include "source/TextFile.h"


#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sstream>

#include "source/Errors.h"

namespace korvid {

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const std::string& fileName) {
  std::error_code ec;
  if (fs::is_directory(fileName, ec)) throw KorvidError("\"" + fileName + "\" is a directory, not a program file");
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw KorvidError("cannot read \"" + fileName + "\": " + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw KorvidError("cannot read \"" + fileName + "\"");
  return std::move(bytes).str();
}

}  // namespace

TTextFile SplitText(const std::string& bytes) {
  TTextFile file;
  std::size_t start = 0, crlfCount = 0;
  file.FinalBreak = false;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    bool last = end == std::string::npos;
    if (last) end = bytes.size();
    TTextLine line;
    std::size_t textEnd = end;
    if (!last && textEnd > start && bytes[textEnd - 1] == '\r') {
      line.CrLf = true;
      --textEnd;
      ++crlfCount;
    }
    line.Text = bytes.substr(start, textEnd - start);
    file.Lines.push_back(std::move(line));
    file.FinalBreak = !last;
    start = end + 1;
  }
  file.CrLfDominant = 2 * crlfCount > file.Lines.size();
  return file;
}

TTextFile ReadTextFile(const std::string& fileName) {
  std::string bytes = ReadBytes(fileName);
  if (bytes.empty()) throw KorvidError("\"" + fileName + "\" is empty");
  if (bytes.find('\0') != std::string::npos)
    throw KorvidError("\"" + fileName + "\" holds a NUL byte: it is not an assembly text file");
  TTextFile file = SplitText(bytes);
  for (std::size_t i = 0; i < file.Lines.size(); ++i)
    if (file.Lines[i].Text.size() > kMaxLineLength)
      throw KorvidError("\"" + fileName + "\" line " + std::to_string(i + 1) + " is longer than " +
                        std::to_string(kMaxLineLength) + " characters");
  return file;
}

std::string JoinTextFile(const TTextFile& file) {
  std::string out;
  for (std::size_t i = 0; i < file.Lines.size(); ++i) {
    out += file.Lines[i].Text;
    if (i + 1 < file.Lines.size() || file.FinalBreak) out += file.Lines[i].CrLf ? "\r\n" : "\n";
  }
  return out;
}

namespace {
TFileReplacer replacer = nullptr;
}  // namespace

void SetFileReplacer(TFileReplacer newReplacer) { replacer = newReplacer; }

void WriteFileAtomically(const std::string& fileName, const std::string& content) {
  if (replacer != nullptr) return replacer(fileName, content);
  fs::path target(fileName);
  fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device seed;
  fs::path temp = dir / ("." + target.filename().string() + ".tmp" + std::to_string(seed()));
  auto fail = [&](const std::string& why) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw KorvidError("cannot write \"" + fileName + "\": " + why);
  };
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) fail(std::strerror(errno));
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) fail("write failed (disk full?)");
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) fail(ec.message());
}

}  // namespace korvid
