#include "daemon/platform/host_names.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace korvane::server {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
  std::string host = name;
  return host.substr(0, host.find('.'));
}

long ProcessId() { return static_cast<long>(getpid()); }

std::string UserName() {
  if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  const char* user = std::getenv("USER");
  return user != nullptr ? user : "";
}

}  // namespace korvane::server
