#include "support/scoped_settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace korvane::testing {
namespace {

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void Restore(const char* name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

}  // namespace

ScopedSettings::ScopedSettings() : previousHome_(Variable("XDG_CONFIG_HOME")), previousDirs_(Variable("XDG_CONFIG_DIRS")) {
  char pattern[] = "/tmp/korvane-settings-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a settings folder");
  folder_ = pattern;
  std::filesystem::create_directories(folder_ + "/user/korvane");
  std::filesystem::create_directories(folder_ + "/machine/korvane");
  ::setenv("XDG_CONFIG_HOME", (folder_ + "/user").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", (folder_ + "/machine").c_str(), 1);
}

ScopedSettings::~ScopedSettings() {
  Restore("XDG_CONFIG_HOME", previousHome_);
  Restore("XDG_CONFIG_DIRS", previousDirs_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void ScopedSettings::User(const std::string& text) const { std::ofstream(folder_ + "/user/korvane/user.reg") << text; }

void ScopedSettings::Machine(const std::string& text) const {
  std::ofstream(folder_ + "/machine/korvane/machine.reg") << text;
}

}  // namespace korvane::testing
