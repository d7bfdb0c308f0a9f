// GetTickCount and Sleep on the monotonic clock.
#include "win32_calls.h"

#include <cerrno>
#include <ctime>

DWORD GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  auto milliseconds = static_cast<unsigned long long>(now.tv_sec) * 1000ull + static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
  return static_cast<DWORD>(milliseconds);  // wraps every 49.7 days, as on Windows
}

void Sleep(DWORD milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
