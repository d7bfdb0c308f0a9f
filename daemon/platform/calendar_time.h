#pragma once

#include <ctime>

namespace korvane::server {

// The broken-down local time of when, from any thread.
std::tm LocalTime(std::time_t when);

// The broken-down UTC time of when, from any thread.
std::tm UniversalTime(std::time_t when);

}  // namespace korvane::server
