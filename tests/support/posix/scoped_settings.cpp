#include "support/scoped_settings.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace korvane::testing {
namespace {
constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "HOME"};
}

ScopedSettings::ScopedSettings() {
  std::string name = (std::filesystem::temp_directory_path() / "korvane-settings-XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make a settings folder");
  root_ = name;
  for (const char* variable : kVariables) {
    const char* value = std::getenv(variable);
    saved_.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  ::setenv("XDG_CONFIG_HOME", (root_ / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", ((root_ / "none").string() + ":" + (root_ / "machine").string()).c_str(), 1);
}

ScopedSettings::~ScopedSettings() {
  for (std::size_t i = 0; i < std::size(kVariables); ++i) {
    if (saved_[i]) {
      ::setenv(kVariables[i], saved_[i]->c_str(), 1);
    } else {
      ::unsetenv(kVariables[i]);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void ScopedSettings::User(const std::string& bytes) const { Write("home/korvane/user.reg", bytes); }

void ScopedSettings::Machine(const std::string& bytes) const { Write("machine/korvane/machine.reg", bytes); }

void ScopedSettings::Write(const std::filesystem::path& relative, const std::string& bytes) const {
  std::filesystem::create_directories((root_ / relative).parent_path());
  std::ofstream(root_ / relative, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace korvane::testing
