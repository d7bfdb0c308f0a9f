// What the daemon platform tests share: a scratch folder under the system's
// temporary folder, files read and written through the wide calls, and this
// test program started again as a helper process.
#pragma once

#include "daemon/base/windows/system_text.h"

#include <string>

namespace korvane::server::testing {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // UTF-8, with '\' separators.
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // empty when it cannot be read
void WriteFile(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);

// This program started again with arguments: its process, or null.
HANDLE StartHelper(const std::wstring& arguments);

}  // namespace korvane::server::testing
