// Registry settings for one test: the user's and the machine's hive files in
// a temporary folder, found through XDG_CONFIG_HOME and XDG_CONFIG_DIRS.
#pragma once

#include <optional>
#include <string>

namespace korvane::testing {

class ScopedSettings {
 public:
  ScopedSettings();  // both hives empty
  ~ScopedSettings();
  ScopedSettings(const ScopedSettings&) = delete;
  ScopedSettings& operator=(const ScopedSettings&) = delete;

  // Replaces a hive file with this text of a registry export.
  void User(const std::string& text) const;
  void Machine(const std::string& text) const;

 private:
  std::string folder_;
  std::optional<std::string> previousHome_;
  std::optional<std::string> previousDirs_;
};

}  // namespace korvane::testing
