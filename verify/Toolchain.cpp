#include "verify/Toolchain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "app/Signals.h"
#include "verify/Expression.h"
#include "verify/Text.h"

#if KORVID_HAVE_SIMAVR
#include <gelf.h>
#include <libelf.h>
#endif

namespace korvid::verify {
namespace {

std::string FindInPath(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + tool;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Runs a command and returns its exit code; its output goes to `output`.
int RunCommand(const std::string& command, std::string& output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
  int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Its files and then itself are removed should a signal end the process.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvid-verify-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    folder_.emplace(pattern, true);
    path_ = pattern;
    for (std::size_t i = 0; i < std::size(kFiles); ++i) files_[i].emplace(File(kFiles[i]));
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  static constexpr const char* kFiles[] = {"p.s", "p.o", "p.elf"};

 private:
  std::string path_;
  std::optional<TRemoveOnSignal> folder_;
  std::optional<TRemoveOnSignal> files_[std::size(kFiles)];
};

// The first complaint, naming the program's line, and how many more there are: a
// program with a thousand far calls should not bury the one line that says why.
std::string OneLine(const std::vector<std::string>& complaints, const std::string& raw) {
  if (complaints.empty()) return raw;
  std::string line = complaints.front();
  if (complaints.size() > 1) line += " (and " + std::to_string(complaints.size() - 1) + " more)";
  return line;
}

// avr-as names lines of the lowered file; say which dialect line each one came from.
std::string MapAssemblerMessages(const std::string& messages, const LoweredProgram& program) {
  // Lines look like "/tmp/.../p.s:12: Error: constant out of 8-bit range: 1000".
  std::vector<std::string> result;
  std::stringstream in(messages);
  std::string line;
  while (std::getline(in, line)) {
    size_t file = line.find(".s:");
    if (file == std::string::npos) continue;
    size_t number = file + 3, end = line.find(':', number);
    if (end == std::string::npos || end == number ||
        line.substr(number, end - number).find_first_not_of("0123456789") != std::string::npos)
      continue;
    size_t lowered = std::stoul(line.substr(number, end - number)) - 1;
    std::string text = Trim(line.substr(end + 1));
    for (const char* kind : {"Error: ", "Warning: "})
      if (text.rfind(kind, 0) == 0) text = text.substr(std::string(kind).size());
    int index = lowered < program.loweredToDialect.size() ? program.loweredToDialect[lowered] : -1;
    result.push_back(DescribeLine(program, index) + ": " + text);
  }
  return OneLine(result, messages);
}

// avr-ld names the symbol before the failing instruction, which is the instruction's own
// line symbol, and the fault on the next line:
//   p.o: In function `__kl_1957':
//   (.text+0x10fa): relocation truncated to fit: R_AVR_13_PCREL against `no symbol'
std::string MapLinkerMessages(const std::string& messages, const LoweredProgram& program) {
  std::vector<std::string> result;
  std::stringstream in(messages);
  std::string line;
  int index = -1;
  while (std::getline(in, line)) {
    if (size_t f = line.find("In function `"); f != std::string::npos) {
      size_t start = f + 13, end = line.find('\'', start);
      if (end == std::string::npos || !ParseLineSymbol(line.substr(start, end - start), index)) index = -1;
      continue;
    }
    size_t fault = line.find("): ");
    if (fault == std::string::npos || index < 0) continue;
    std::string text = Trim(line.substr(fault + 3));
    if (text.rfind("relocation truncated to fit", 0) == 0) text = "the target is out of reach (" + text + ")";
    result.push_back(DescribeLine(program, index) + ": " + text);
  }
  return OneLine(result, messages);
}

void ReadElf(const std::string& file, Image& image) {
#if !KORVID_HAVE_SIMAVR
  (void)file;
  (void)image;
  throw MissingToolError("libelf is not installed: install the package libelf-dev");
#else
  if (elf_version(EV_CURRENT) == EV_NONE) throw std::runtime_error("libelf is not usable");
  int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + file);
  Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
  size_t names = 0;
  elf_getshdrstrndx(elf, &names);
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr sh;
    gelf_getshdr(scn, &sh);
    const char* name = elf_strptr(elf, names, sh.sh_name);
    Elf_Data* data = elf_getdata(scn, nullptr);
    if (!data) continue;
    if (name && std::string(name) == ".text" && data->d_buf) {
      auto* bytes = static_cast<const std::uint8_t*>(data->d_buf);
      image.flash.assign(bytes, bytes + data->d_size);
    } else if (sh.sh_type == SHT_SYMTAB) {
      size_t count = sh.sh_entsize ? sh.sh_size / sh.sh_entsize : 0;
      for (size_t i = 0; i < count; ++i) {
        GElf_Sym sym;
        gelf_getsym(data, static_cast<int>(i), &sym);
        const char* s = elf_strptr(elf, sh.sh_link, sym.st_name);
        int line = 0;
        if (s && ParseLineSymbol(s, line)) image.addressToLine[static_cast<std::uint32_t>(sym.st_value)] = line;
      }
    }
  }
  elf_end(elf);
  ::close(fd);
#endif
}

}  // namespace

int Image::LineAt(std::uint32_t pc) const {
  auto it = addressToLine.upper_bound(pc);
  if (it == addressToLine.begin()) return -1;
  return std::prev(it)->second;
}

void RequireToolchain() {
  if (FindInPath("avr-as").empty() || FindInPath("avr-ld").empty())
    throw MissingToolError("the AVR assembler is not installed: install the package binutils-avr");
}

Image Assemble(const LoweredProgram& program, const Mcu& mcu) {
  RequireToolchain();
  TempDir dir;
  {
    std::ofstream out(dir.File("p.s"));
    out << program.assembly;
  }
  std::string output;
  if (RunCommand("avr-as -mmcu=" + mcu.name + " -o " + dir.File("p.o") + " " + dir.File("p.s"), output) != 0)
    throw LoweringError("the assembler rejects the program: " + MapAssemblerMessages(output, program));
  output.clear();
  if (RunCommand("avr-ld -m " + mcu.ldEmulation + " -o " + dir.File("p.elf") + " " + dir.File("p.o"), output) != 0)
    throw LoweringError("the linker rejects the program: " + MapLinkerMessages(output, program));
  Image image;
  ReadElf(dir.File("p.elf"), image);
  if (image.flash.empty()) throw LoweringError("the program assembles to no code");
  return image;
}

}  // namespace korvid::verify
