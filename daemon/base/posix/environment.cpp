#include "daemon/base/environment.h"

#include <cstdlib>

namespace korvane::server {

long NumberFromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : fallback;
}

}  // namespace korvane::server
