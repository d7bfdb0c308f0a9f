#include "daemon/platform/calendar_time.h"

namespace korvane::server {

std::tm LocalTime(std::time_t when) {
  std::tm parts{};
  localtime_s(&parts, &when);
  return parts;
}

std::tm UniversalTime(std::time_t when) {
  std::tm parts{};
  gmtime_s(&parts, &when);
  return parts;
}

}  // namespace korvane::server
