// Registry settings for one test: the user's and the machine's hive files in
// a temporary folder, found through XDG_CONFIG_HOME and XDG_CONFIG_DIRS (two
// folders, the first without a hive). The environment comes back afterwards.
//
// On Windows the hives are the real registry's keys SOFTWARE\Korvane and
// SOFTWARE\TortoiseSVN of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE: saved and
// emptied at the start, restored afterwards; User() and Machine() write only
// the export's sections below them. The registry is shared by every test
// process, so one ScopedSettings exists at a time across processes, made and
// ended on one thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class ScopedSettings {
 public:
  ScopedSettings();
  ~ScopedSettings();
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;

  // Replaces a hive with these bytes of a registry export.
  void User(const std::string& bytes) const;
  void Machine(const std::string& bytes) const;
  // Any file below the temporary folder (POSIX).
  void Write(const std::filesystem::path& relative, const std::string& bytes) const;

 private:
  std::filesystem::path root_;
  std::vector<std::optional<std::string>> saved_;
};

}  // namespace korvane::testing
