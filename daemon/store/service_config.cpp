#include "daemon/store/service_config.h"

#include "daemon/platform/daemon_paths.h"
#include "daemon/platform/host_names.h"

#include <fstream>

namespace korvane::server {

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string ServiceConfigFile() {
  const std::optional<std::string> folder = FindConfigFolder();
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
