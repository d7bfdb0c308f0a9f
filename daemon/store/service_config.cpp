#include "daemon/store/service_config.h"

#include "daemon/platform/host_names.h"

#include "platform/posix/user_folders.h"

#include <cstdlib>
#include <fstream>

namespace korvane::server {

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

long NumberFromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : fallback;
}

std::string ServiceConfigFile() {
  std::optional<std::string> folder = posix::ProductFolder(posix::UserFolder::Config);
  return folder ? *folder + "/daemon.conf" : std::string();
}

ServiceConfig ReadServiceConfig(const std::string& file, std::string& problems) {
  ServiceConfig config;
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string key = equals == std::string::npos ? "" : Trimmed(line.substr(0, equals));
    const std::string value = equals == std::string::npos ? "" : Trimmed(line.substr(equals + 1));
    if (key == "service") {
      config.url = value;
      while (!config.url.empty() && config.url.back() == '/') config.url.pop_back();
    } else if (key == "subversion-config") {
      config.subversionConfig = value;
    } else if (key == "user") {
      config.user = value;
    } else {
      problems += file + ":" + std::to_string(number) + ": not used: " + line + "\n";
    }
  }
  if (config.user.empty()) config.user = UserName();
  return config;
}

}  // namespace korvane::server
