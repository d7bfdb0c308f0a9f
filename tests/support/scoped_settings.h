// Registry settings for one test: the user's and the machine's hive files in
// a temporary folder, found through XDG_CONFIG_HOME and XDG_CONFIG_DIRS (two
// folders, the first without a hive). The environment comes back afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

class ScopedSettings {
 public:
  ScopedSettings();  // both hives empty
  ~ScopedSettings();
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;

  // Replaces a hive file with these bytes of a registry export.
  void User(const std::string& bytes) const { Write("home/korvane/user.reg", bytes); }
  void Machine(const std::string& bytes) const { Write("machine/korvane/machine.reg", bytes); }
  // Any file below the temporary folder.
  void Write(const std::filesystem::path& relative, const std::string& bytes) const;
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::vector<std::optional<std::string>> saved_;
};

}  // namespace korvane::testing
