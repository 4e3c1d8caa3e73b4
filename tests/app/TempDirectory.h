// A fresh directory under the system's temporary directory, removed with its contents.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace korvid::testing {

class TTempDirectory {
 public:
  TTempDirectory() {
    std::random_device Random;
    for (;;) {
      Path = std::filesystem::temp_directory_path() / ("korvid-test-" + std::to_string(Random()));
      if (std::filesystem::create_directory(Path)) break;
    }
  }
  ~TTempDirectory() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
  TTempDirectory(const TTempDirectory&) = delete;
  TTempDirectory& operator=(const TTempDirectory&) = delete;

  std::string operator/(const std::string& Name) const { return (Path / Name).string(); }

  std::string Write(const std::string& Name, const std::string& Text) const {
    auto File = Path / Name;
    std::filesystem::create_directories(File.parent_path());
    std::ofstream(File, std::ios::binary) << Text;
    return File.string();
  }

  static std::string Read(const std::string& Name) {
    std::ifstream In(Name, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path Path;
};

}  // namespace korvid::testing
