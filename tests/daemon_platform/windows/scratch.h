// What the daemon platform tests share: a scratch folder of their own under
// the system's temporary folder, files in it read and written through the
// wide calls, and the test program started again as a helper process.
#pragma once

#include <windows.h>

#include <string>

namespace korvane::server::testing {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, UTF-8 with '\' separators.
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// The whole file, or nothing when it cannot be opened.
std::string ReadFile(const std::string& path, bool* opened = nullptr);
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);

// This test program started again with arguments; the handle of its process.
HANDLE StartHelper(const std::wstring& arguments);

// Waits at most limitMs for path to exist.
bool AwaitFile(const std::string& path, DWORD limitMs);

}  // namespace korvane::server::testing
