#include "daemon/platform/host_names.h"

#include <unistd.h>

namespace korvane::server {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
  std::string host = name;
  return host.substr(0, host.find('.'));
}

}  // namespace korvane::server
