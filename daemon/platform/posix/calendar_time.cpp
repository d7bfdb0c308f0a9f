#include "daemon/platform/calendar_time.h"

namespace korvane::server {

std::tm LocalTime(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  return parts;
}

std::tm UniversalTime(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  return parts;
}

}  // namespace korvane::server
