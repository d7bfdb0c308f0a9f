// What the daemon platform tests share: a scratch folder under the system's
// temporary folder, and files read and written through the wide calls.
#pragma once

#include "daemon/base/windows/system_text.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korvane::server::testing {

inline void MakeFolder(const std::string& path) { CreateDirectoryW(windows::SystemPath(path).c_str(), nullptr); }

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> made{0};
    path_ = windows::Narrow((std::filesystem::temp_directory_path() / L"korvane-seams-").wstring() +
                            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made));
    MakeFolder(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(windows::SystemPath(path_), ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // UTF-8, with '\' separators.
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream file(std::filesystem::path(windows::SystemPath(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(std::filesystem::path(windows::SystemPath(path)), std::ios::binary) << text;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesW(windows::SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace korvane::server::testing
