// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tavo_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      path_ = pattern;
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Creates or replaces the file with the bytes given.
  void Write(std::string_view name, std::string_view content) const {
    std::ofstream(File(name), std::ios::binary | std::ios::trunc)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  void Write(std::string_view name, const std::vector<uint8_t>& bytes) const {
    Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  std::string Read(std::string_view name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<uint8_t> ReadBytes(std::string_view name) const {
    const std::string text = Read(name);
    return std::vector<uint8_t>(text.begin(), text.end());
  }
  // The names in the directory; hidden ones (a leading '.') only when asked.
  std::set<std::string> Names(bool withHidden = false) const {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
      const std::string name = entry.path().filename().string();
      if (withHidden || name[0] != '.') {
        names.insert(name);
      }
    }
    return names;
  }

 private:
  std::string path_;
};

}  // namespace tavo::test
